#include "ModbusTestUtil.h"

#include "modbus/FrameCodec.h"
#include "modbus/UCrc.h"

#include <QRandomGenerator>
#include <QTest>

using namespace modbustest;

class TestCrc : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data();
    void knownValues();
    void everySingleByteMatchesBitwiseCrc();
    void randomRunsMatchBitwiseCrc();
    void frameWithItsCrcChecksToZero_data();
    void frameWithItsCrcChecksToZero();
    void countLimitsTheRun();
    void buildFrame_data();
    void buildFrame();
    void hexLine_data();
    void hexLine();
};

void TestCrc::knownValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("expected");

    QTest::newRow("check value 123456789") << QByteArray("123456789") << 9 << 0x4B37;
    QTest::newRow("empty run") << QByteArray() << 0 << 0xFFFF;
    QTest::newRow("negative count") << QByteArray("123") << -1 << 0xFFFF;
    QTest::newRow("large negative count") << QByteArray("123") << -100000 << 0xFFFF;
    // Request frames of the sensor's own traffic: address 1 and a PDU; the CRC
    // travels low byte first.
    QTest::newRow("01 04 00 05 00 02") << hex("01 04 00 05 00 02") << 6 << 0xCA61;
    QTest::newRow("01 03 00 00 00 02") << hex("01 03 00 00 00 02") << 6 << 0x0BC4;
    QTest::newRow("01 08 00 00 AA 55") << hex("01 08 00 00 AA 55") << 6 << 0x945E;
}

void TestCrc::knownValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, count);
    QFETCH(int, expected);
    QCOMPARE(int(Crc16(u8(data), count)), expected);
}

// Each single byte exercises one entry of both tables.
void TestCrc::everySingleByteMatchesBitwiseCrc()
{
    for (int b = 0; b < 256; ++b) {
        const QByteArray one(1, char(b));
        QVERIFY2(Crc16(u8(one), 1) == referenceCrc(one), qPrintable(QString::number(b)));
    }
}

void TestCrc::randomRunsMatchBitwiseCrc()
{
    QRandomGenerator rng(20240611);
    for (int run = 0; run < 500; ++run) {
        QByteArray bytes(int(rng.bounded(1, 300)), '\0');
        for (char &c : bytes)
            c = char(rng.bounded(256));
        QCOMPARE(Crc16(u8(bytes), qint32(bytes.size())), referenceCrc(bytes));
    }
}

void TestCrc::frameWithItsCrcChecksToZero_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read input registers") << withCrc("01 04 00 05 00 02");
    QTest::newRow("read holding registers") << withCrc("01 03 00 00 00 02");
    QTest::newRow("diagnostics echo") << withCrc("01 08 00 00 AA 55");
    QTest::newRow("reply with data") << withCrc("F7 04 04 DE AD BE EF");
    QTest::newRow("exception reply") << withCrc("01 83 02");
    QTest::newRow("broadcast write")
        << withCrc("00 10 00 10 00 03 06 00 01 00 02 00 03");
}

void TestCrc::frameWithItsCrcChecksToZero()
{
    QFETCH(QByteArray, frame);
    QCOMPARE(int(Crc16(u8(frame), qint32(frame.size()))), 0);
    // A single flipped bit anywhere breaks the check.
    for (int i = 0; i < frame.size(); ++i) {
        QByteArray damaged = frame;
        damaged[i] = char(damaged[i] ^ 0x10);
        QVERIFY(Crc16(u8(damaged), qint32(damaged.size())) != 0);
    }
}

void TestCrc::countLimitsTheRun()
{
    // Bytes past Count do not take part.
    const QByteArray bytes = hex("01 04 00 05 00 02 FF FF FF");
    QCOMPARE(Crc16(u8(bytes), 6), referenceCrc(bytes.left(6)));
}

void TestCrc::buildFrame_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("serial number read") << 1 << hex("04 00 05 00 02") << hex("01 04 00 05 00 02 61 CA");
    QTest::newRow("holding registers") << 1 << hex("03 00 00 00 02") << hex("01 03 00 00 00 02 C4 0B");
    QTest::newRow("echo probe") << 1 << hex("08 00 00 AA 55") << hex("01 08 00 00 AA 55 5E 94");
    QTest::newRow("address 5") << 5 << hex("04 00 05 00 02") << withCrc("05 04 00 05 00 02");
    QTest::newRow("broadcast") << 0 << hex("10 00 10 00 03 06 00 01 00 02 00 03")
                               << withCrc("00 10 00 10 00 03 06 00 01 00 02 00 03");
    QTest::newRow("empty pdu") << 7 << QByteArray() << withCrc("07");
}

void TestCrc::buildFrame()
{
    QFETCH(int, address);
    QFETCH(QByteArray, pdu);
    QFETCH(QByteArray, expected);
    QCOMPARE(BuildFrame(quint8(address), u8(pdu), qint32(pdu.size())), expected);
}

void TestCrc::hexLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("frame") << hex("01 04 00 05 00 02 61 CA") << QStringLiteral("01 04 00 05 00 02 61 CA");
    QTest::newRow("upper case digits") << hex("ab cd ef 0a") << QStringLiteral("AB CD EF 0A");
    QTest::newRow("one byte") << hex("00") << QStringLiteral("00");
    QTest::newRow("extremes") << hex("ff 00 80 7f") << QStringLiteral("FF 00 80 7F");
    QTest::newRow("nothing") << QByteArray() << QString();
}

void TestCrc::hexLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(HexLine(u8(bytes), qint32(bytes.size())), expected);
}

QTEST_APPLESS_MAIN(TestCrc)
#include "tst_crc.moc"
