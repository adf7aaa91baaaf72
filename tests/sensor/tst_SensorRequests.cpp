#include "common/NumberFormat.h"
#include "sensor/SensorRequests.h"
#include "common/ZartError.h"

#include <QStringDecoder>
#include <QTest>

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

const quint8 *u8(const QByteArray &b)
{
    return reinterpret_cast<const quint8 *>(b.constData());
}

// Device identification reply: header 2B 0E 01 01 00 00, count, then objects.
QByteArray devIdReply(int count, const QList<QPair<int, QByteArray>> &objects,
                      const QByteArray &header = hex("2B0E01010000"))
{
    QByteArray r = header;
    r.append(char(count));
    for (const auto &o : objects) {
        r.append(char(o.first));
        r.append(char(o.second.size()));
        r.append(o.second);
    }
    return r;
}

} // namespace

class TestSensorRequests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copyToRequestBuffer();
    void illuminationCode_data();
    void illuminationCode();

    void resultTexts_data();
    void resultTexts();
    void measurement_data();
    void measurement();
    void wordAndCrc();
    void shortRepliesAreRefused_data();
    void shortRepliesAreRefused();

    void deviceId_data();
    void deviceId();
    void windows1251MatchesSystemCodec();

    void versionLines_data();
    void versionLines();
};

void TestSensorRequests::copyToRequestBuffer()
{
    std::array<quint8, 1024> buf;
    buf.fill(0xEE);
    const RequestPdu pdu = RequestWriteFlashWord(0x1005, 0x12345678);
    const qint32 len = pdu.copyTo(buf.data());
    QCOMPARE(len, 12);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buf.data()), len), pdu.toByteArray());
    QCOMPARE(buf[12], quint8(0xEE)); // nothing written past the PDU
}

void TestSensorRequests::illuminationCode_data()
{
    QTest::addColumn<bool>("xDown");
    QTest::addColumn<bool>("yDown");
    QTest::addColumn<int>("code");
    QTest::newRow("both up") << false << false << 0;
    QTest::newRow("X down") << true << false << 1;
    QTest::newRow("Y down") << false << true << 2;
    QTest::newRow("X wins") << true << true << 1;
}

void TestSensorRequests::illuminationCode()
{
    QFETCH(bool, xDown);
    QFETCH(bool, yDown);
    QFETCH(int, code);
    QCOMPARE(int(IlluminationCode(xDown, yDown)), code);
}

void TestSensorRequests::resultTexts_data()
{
    QTest::addColumn<int>("kind"); // 0 serial, 1 echo, 2 restart
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::newRow("serial 0000000A") << 0 << hex("0404 0000000A") << "0000000A";
    QTest::newRow("serial FFFFFFFF") << 0 << hex("0404 FFFFFFFF") << "FFFFFFFF";
    QTest::newRow("echo") << 1 << hex("080000AA55") << "Ok";
    QTest::newRow("echo AA 54") << 1 << hex("080000AA54") << "Ошибка";
    QTest::newRow("echo one byte more") << 1 << hex("080000AA5500") << "Ошибка";
    QTest::newRow("echo one byte less") << 1 << hex("080000AA") << "Ошибка";
    // Function code and sub-function are the engine's business, not compared here.
    QTest::newRow("echo sub-function not compared") << 1 << hex("080001AA55") << "Ok";
    QTest::newRow("restart FF 00") << 2 << hex("080001FF00") << "Ok";
    QTest::newRow("restart 00 00") << 2 << hex("0800010000") << "Ok";
    QTest::newRow("restart 01 00") << 2 << hex("0800010100") << "Ошибка";
    QTest::newRow("restart FF 01") << 2 << hex("080001FF01") << "Ошибка";
}

void TestSensorRequests::resultTexts()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    const qint32 len = qint32(reply.size());
    const QString actual = kind == 0 ? SerialText(DecodeSerial(u8(reply), len))
        : kind == 1                  ? ResultText(DecodePing(u8(reply), len))
                                     : ResultText(DecodeReset(u8(reply), len));
    QCOMPARE(actual, text);
}

void TestSensorRequests::measurement_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("form"); // 0 coordinates, 1 real pixels, 2 integer pixels
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("coordinates 10, -3.2")
        << hex("040A 41200000 C04CCCCD 01 00") << 0 << QStringList{"10", "-3.2", "ok", "?"};
    QTest::newRow("coordinates max single, -INF")
        << hex("040A 7F7FFFFF FF800000 02 03") << 0
        << QStringList{"3.40282346638529E38", "-INF", "%", "?%"};
    QTest::newRow("coordinates NAN, 2^59, odd codes")
        << hex("040A FFFFFFFF 5D000000 04 FF") << 0
        << QStringList{"-NAN", "576460752303423488", "", ""};
    QTest::newRow("integer pixels 300, 65535")
        << hex("0406 012C FFFF 01 01") << 2 << QStringList{"300", "65535", "ok", "ok"};
}

void TestSensorRequests::measurement()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, form);
    QFETCH(QStringList, fields);
    const MeasurementTexts m = form == 0
        ? DecodeCoordinates(u8(reply), qint32(reply.size()))
        : DecodePixels(u8(reply), qint32(reply.size()), form == 1);
    QCOMPARE(QStringList({m.x, m.y, m.xStatus, m.yStatus}), fields);
}

void TestSensorRequests::wordAndCrc()
{
    const QByteArray word = hex("0304 0000000F");
    QCOMPARE(WordText(DecodeWord(u8(word), 6)), QStringLiteral("0000000F"));
    const QByteArray big = hex("0304 DEADBEEF");
    QCOMPARE(DecodeWord(u8(big), 6), 0xDEADBEEFu);
    // A block: N words from address A, two registers each, high word first.
    QCOMPARE(RequestReadFlashBlock(0x1007, 7).toByteArray(), hex("031007000E"));
    QCOMPARE(RequestReadFlashBlock(0x13C2, MaxBlockWords).toByteArray(), hex("0313C2007C"));
    const QByteArray block = hex("0308 DEADBEEF 0000000F");
    std::array<quint32, 2> words{};
    DecodeWords(u8(block), 10, words.data(), 2);
    QCOMPARE(words, (std::array<quint32, 2>{0xDEADBEEFu, 0x0000000Fu}));
    const QByteArray crc = hex("0402 120A");
    QCOMPARE(DecodeCrc(u8(crc), 4), QStringLiteral("120A"));
}

void TestSensorRequests::shortRepliesAreRefused_data()
{
    // A reply whose byte count is consistent with its length but too small for the
    // data the command reads: the decoder must not read stale buffer bytes.
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("kind");
    QTest::newRow("serial with 2 data bytes") << hex("0402 0012") << 0;
    QTest::newRow("coordinates with 8 data bytes") << hex("0408 41200000C04CCCCD") << 1;
    QTest::newRow("integer pixels with 4 data bytes") << hex("0404 012CFFFF") << 2;
    QTest::newRow("word with 2 data bytes") << hex("0302 000F") << 3;
    QTest::newRow("crc with 1 data byte") << hex("0401 12") << 4;
    QTest::newRow("block of 3 with 8 data bytes") << hex("0308 0000000F 00000010") << 5;
}

void TestSensorRequests::shortRepliesAreRefused()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, kind);
    // The stale bytes after the reply would decode without complaint.
    QByteArray buf = reply + QByteArray(16, char(0x11));
    const qint32 len = qint32(reply.size());
    try {
        switch (kind) {
        case 0: DecodeSerial(u8(buf), len); break;
        case 1: DecodeCoordinates(u8(buf), len); break;
        case 2: DecodePixels(u8(buf), len, false); break;
        case 3: DecodeWord(u8(buf), len); break;
        case 5: {
            std::array<quint32, 3> words{};
            DecodeWords(u8(buf), len, words.data(), 3);
            break;
        }
        default: DecodeCrc(u8(buf), len); break;
        }
        QFAIL("a short reply was decoded");
    } catch (const ZartError &e) {
        QCOMPARE(e.text(), QStringLiteral("Неверная длина данных"));
    }
}

void TestSensorRequests::deviceId_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("lines");

    const QStringList three{"VendorName: Vendor", "ProductCode: P7", "MajorMinorRevision: 2.1"};
    QTest::newRow("three objects")
        << devIdReply(3, {{0, "Vendor"}, {1, "P7"}, {2, "2.1"}}) << three;
    QTest::newRow("objects in another order")
        << devIdReply(2, {{2, "2.1"}, {0, "V"}})
        << QStringList{"MajorMinorRevision: 2.1", "VendorName: V"};
    QTest::newRow("CR LF and other control bytes dropped")
        << devIdReply(1, {{0, "Ven\r\ndor\x01\x1F"}}) << QStringList{"VendorName: Vendor"};
    QTest::newRow("id 5 skipped, next still read")
        << devIdReply(2, {{5, "xyz"}, {1, "P7"}}) << QStringList{"ProductCode: P7"};
    QTest::newRow("empty value") << devIdReply(1, {{1, ""}}) << QStringList{"ProductCode: "};
    QTest::newRow("Windows-1251 text")
        << devIdReply(1, {{0, "\xC0\xE1\xE2 \xA8\xB8 \xB9" "5"}})
        << QStringList{QStringLiteral("VendorName: Абв Ёё №5")};
    QTest::newRow("fewer objects than counted")
        << devIdReply(3, {{0, "Vendor"}, {1, "P7"}})
        << QStringList{"VendorName: Vendor", "ProductCode: P7"};
    QTest::newRow("count 0 reads nothing") << devIdReply(0, {{0, "Vendor"}}) << QStringList{};

    // The last object claims more bytes than the reply holds: dropped.
    QByteArray pastEnd = devIdReply(2, {{0, "Vendor"}});
    pastEnd.append(char(1));
    pastEnd.append(char(10));
    pastEnd.append("P7x");
    QTest::newRow("object past the end dropped") << pastEnd << QStringList{"VendorName: Vendor"};
    QByteArray lengthCut = devIdReply(2, {{0, "Vendor"}});
    lengthCut.append(char(1)); // id without its length byte
    QTest::newRow("object header cut") << lengthCut << QStringList{"VendorName: Vendor"};

    QTest::newRow("conformity 0x02") << devIdReply(1, {{0, "V"}}, hex("2B0E01020000"))
                                     << QStringList{};
    QTest::newRow("more follows") << devIdReply(1, {{0, "V"}}, hex("2B0E0101FF00"))
                                  << QStringList{};
    QTest::newRow("next object 1") << devIdReply(1, {{0, "V"}}, hex("2B0E01010001"))
                                   << QStringList{};
    QTest::newRow("code 2") << devIdReply(1, {{0, "V"}}, hex("2B0E02010000")) << QStringList{};
    QTest::newRow("header only, no count") << hex("2B0E01010000") << QStringList{};
}

void TestSensorRequests::deviceId()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, lines);
    // Stale bytes behind the reply must never be read as object data.
    QByteArray buf = reply + QByteArray("STALE-STALE");
    QCOMPARE(DecodeDeviceId(u8(buf), qint32(reply.size())), lines);
}

void TestSensorRequests::windows1251MatchesSystemCodec()
{
    QStringDecoder codec("windows-1251");
    if (!codec.isValid())
        QSKIP("this Qt has no Windows-1251 codec to compare with");
    QByteArray all;
    for (int b = 0x20; b <= 0xFF; ++b)
        all.append(char(b));
    const QString expected = codec.decode(all);
    QCOMPARE(FromWindows1251(u8(all), qint32(all.size())), expected);
}

void TestSensorRequests::versionLines_data()
{
    QTest::addColumn<quint32>("version");
    QTest::addColumn<quint32>("dimension");
    QTest::addColumn<quint32>("cpu");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("14, 40, 2") << 14u << 40u << 2u
        << QStringList{"Версия прошивки: 0x0E (шаг сетки 2.05 мм, 5.05 мм)",
                       "Размерность прибора: 40", "Версия CPU: 0x02 (ADuC841)"};
    QTest::newRow("11, 100, 1") << 11u << 100u << 1u
        << QStringList{"Версия прошивки: 0x0B (шаг сетки 2 мм, 5 мм)",
                       "Размерность прибора: 100", "Версия CPU: 0x01 (ADuC831)"};
    QTest::newRow("12") << 12u << 40u << 0u
        << QStringList{"Версия прошивки: 0x0C (шаг сетки 2.05 мм, 5 мм)",
                       "Размерность прибора: 40", "Версия CPU: 0x00"};
    QTest::newRow("16 no note, cpu 3 no name") << 16u << 40u << 3u
        << QStringList{"Версия прошивки: 0x10", "Размерность прибора: 40", "Версия CPU: 0x03"};
    QTest::newRow("only low bytes count") << 0xABCDEF0Eu << 0x12345628u << 0xFFFFFF02u
        << QStringList{"Версия прошивки: 0x0E (шаг сетки 2.05 мм, 5.05 мм)",
                       "Размерность прибора: 40", "Версия CPU: 0x02 (ADuC841)"};
    QTest::newRow("erased words") << 0xFFFFFFFFu << 0xFFFFFFFFu << 0xFFFFFFFFu
        << QStringList{"Версия прошивки: 0xFF", "Размерность прибора: 255", "Версия CPU: 0xFF"};
}

void TestSensorRequests::versionLines()
{
    QFETCH(quint32, version);
    QFETCH(quint32, dimension);
    QFETCH(quint32, cpu);
    QFETCH(QStringList, lines);
    QCOMPARE(VersionLines(version, dimension, cpu), lines);
}

QTEST_GUILESS_MAIN(TestSensorRequests)
#include "tst_SensorRequests.moc"
