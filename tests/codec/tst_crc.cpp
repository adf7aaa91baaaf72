#include "common/ModbusFrames.h"

#include "codec/FrameCodec.h"
#include "codec/Crc16.h"

#include <QRandomGenerator>
#include <QTest>

using namespace modbustest;

class TestCrc : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data();
    void knownValues();
    void matchesBitwiseCrc();
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
    QTest::newRow("bytes past the count do not take part")
        << hex("01 04 00 05 00 02 FF FF FF") << 6 << int(referenceCrc(hex("01 04 00 05 00 02")));
}

void TestCrc::knownValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, count);
    QFETCH(int, expected);
    QCOMPARE(int(Crc16(u8(data), count)), expected);
}

// Every single byte (one entry of each table), then random runs.
void TestCrc::matchesBitwiseCrc()
{
    for (int b = 0; b < 256; ++b) {
        const QByteArray one(1, char(b));
        QVERIFY2(Crc16(u8(one), 1) == referenceCrc(one), qPrintable(QString::number(b)));
    }
    QRandomGenerator rng(20240611);
    for (int run = 0; run < 500; ++run) {
        QByteArray bytes(int(rng.bounded(1, 300)), '\0');
        for (char &c : bytes)
            c = char(rng.bounded(256));
        QCOMPARE(Crc16(u8(bytes), qint32(bytes.size())), referenceCrc(bytes));
    }
}

void TestCrc::buildFrame_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("serial number read, CRC low byte first") << 1 << hex("04 00 05 00 02")
                                                            << hex("01 04 00 05 00 02 61 CA");
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

    QTest::newRow("upper case, extremes") << hex("ab cd ef 0a ff 00 80 7f") << QStringLiteral("AB CD EF 0A FF 00 80 7F");
    QTest::newRow("one byte") << hex("00") << QStringLiteral("00");
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
