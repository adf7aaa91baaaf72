#include "common/ModbusFrames.h"

#include "codec/FrameCodec.h"

#include <QTest>

#include <cstring>
#include <memory>

using namespace modbustest;

namespace {

// A read-device-identification reply: the 8-byte header (address 1, function 2B,
// MEI type, code, conformity, more-follows, next id, object count), the objects
// with the given value lengths, then the CRC.
QByteArray deviceIdReply(const QList<int> &lengths, quint8 meiType = 0x0E)
{
    QByteArray reply = hex("01 2B");
    reply.append(char(meiType));
    reply.append(hex("01 01 00 00"));
    reply.append(char(lengths.size()));
    for (int i = 0; i < lengths.size(); ++i) {
        reply.append(char(i));
        reply.append(char(lengths[i]));
        reply.append(QByteArray(lengths[i], 'x'));
    }
    return withCrc(reply);
}

} // namespace

class TestFrameComplete : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void completeness_data();
    void completeness();
    void readsNothingPastCount();
    void frameLength_data();
    void frameLength();
};

void TestFrameComplete::completeness_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<bool>("complete");

    QTest::newRow("nothing") << QByteArray() << false;

    // Functions 3 and 4: byte count, data, CRC.
    const QByteArray read3 = withCrc("01 03 04 00 00 00 01");
    QTest::newRow("fn3 whole, 9 bytes") << read3 << true;
    QTest::newRow("fn3 last byte missing") << read3.left(8) << false;
    QTest::newRow("fn3 surplus byte") << read3 + hex("00") << true;
    QTest::newRow("fn3 byte count 0, long") << hex("01 03 00 12 34 56 78 9A") << false;
    QTest::newRow("fn4 byte count 255") << withCrc(hex("01 04 FF") + QByteArray(255, '\x11')) << true;
    QTest::newRow("fn4 byte count 255, one short") << withCrc(hex("01 04 FF") + QByteArray(255, '\x11')).chopped(1)
                                                   << false;

    // Function 8: by sub-function.
    QTest::newRow("fn8 three bytes") << hex("01 08 00") << false;
    QTest::newRow("fn8 sub 0, 6 bytes") << hex("01 08 00 00 AA 55") << true;
    QTest::newRow("fn8 sub 0, 5 bytes") << hex("01 08 00 00 AA") << false;
    QTest::newRow("fn8 sub 1, 8 bytes") << hex("01 08 00 01 00 00 12 34") << true;
    QTest::newRow("fn8 sub 1, 7 bytes") << hex("01 08 00 01 00 00 12") << false;
    QTest::newRow("fn8 sub 2, long") << withCrc("01 08 00 02 00 00 00 00 00 00 00 00") << false;
    QTest::newRow("fn8 sub 0x100") << withCrc("01 08 01 00 AA 55") << false;

    // Function 16: 8 bytes.
    QTest::newRow("fn16 8 bytes") << withCrc("01 10 00 10 00 03") << true;
    QTest::newRow("fn16 7 bytes") << withCrc("01 10 00 10 00 03").left(7) << false;

    // Function 43 / MEI 14: walk of the objects (every shorter cut: readsNothingPastCount).
    QTest::newRow("fn43 K=3 lengths 5 6 4, 31 bytes") << deviceIdReply({5, 6, 4}) << true;
    QTest::newRow("fn43 K=1 empty object") << deviceIdReply({0}) << true;
    QTest::newRow("fn43 K=0") << deviceIdReply({}) + QByteArray(20, '\0') << false;
    QTest::newRow("fn43 MEI type 0x0D") << deviceIdReply({5, 6, 4}, 0x0D) << false;
    // The sum of the object lengths is kept in one byte: 200 + 100 counts as 44,
    // so 2*2 + 10 + 44 = 58 bytes are enough once the second length byte (offset 211) is in.
    const QByteArray wrapping = deviceIdReply({200, 100});
    QTest::newRow("fn43 lengths wrap past 255, cut after length 2") << wrapping.left(212) << true;
    QTest::newRow("fn43 lengths wrap past 255, length 2 not yet received") << wrapping.left(211) << false;

    // Exception replies: 5 bytes.
    for (const char *code : {"83", "84", "88", "90", "AB"}) {
        const QByteArray exc = withCrc(QByteArray::fromHex(QByteArray("01 ") + code + " 02"));
        QTest::addRow("exception %s, 5 bytes", code) << exc << true;
        QTest::addRow("exception %s, 4 bytes", code) << exc.left(4) << false;
    }

    // Codes the tool never asks for.
    QTest::newRow("fn6 echo") << withCrc("01 06 00 10 00 03") << false;
    QTest::newRow("exception of fn6") << withCrc("01 86 02") << false;
}

void TestFrameComplete::completeness()
{
    QFETCH(QByteArray, rx);
    QFETCH(bool, complete);
    QCOMPARE(IsFrameComplete(u8(rx), qint32(rx.size())), complete);
}

// The rule looks only at the first n bytes, whatever follows in the buffer.
void TestFrameComplete::readsNothingPastCount()
{
    const QByteArray devId = deviceIdReply({5, 6, 4});
    for (int n = 0; n < devId.size(); ++n) {
        // A buffer of exactly n bytes on the heap: reading past it is caught by
        // sanitizers, and the bytes past n would otherwise complete the frame.
        std::unique_ptr<quint8[]> exact(new quint8[size_t(std::max(n, 1))]);
        std::memcpy(exact.get(), devId.constData(), size_t(n));
        QVERIFY2(!IsFrameComplete(exact.get(), n), qPrintable(QString::number(n)));
    }
    QVERIFY(IsFrameComplete(u8(devId), qint32(devId.size())));
    QVERIFY(!IsFrameComplete(nullptr, 0));
}

// The length at which the fast reply end stops: the whole frame, told by no
// prefix as anything shorter, and whole by the completeness rule as well.
void TestFrameComplete::frameLength_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("requestLen");
    QTest::addColumn<int>("length"); // 0: never told

    QTest::newRow("fn3 two registers") << withCrc("01 03 04 00 00 00 01") << 8 << 9;
    QTest::newRow("fn4 byte count 255") << withCrc(hex("01 04 FF") + QByteArray(255, '\x11')) << 8 << 260;
    QTest::newRow("fn8 echo of AA 55") << withCrc("01 08 00 00 AA 55") << 8 << 8;
    QTest::newRow("fn8 echo, request shorter than 6") << hex("01 08 00 00 AA 55") << 4 << 6;
    QTest::newRow("fn8 sub 1") << withCrc("01 08 00 01 00 00") << 8 << 8;
    QTest::newRow("fn8 sub 2") << withCrc("01 08 00 02 00 00") << 8 << 0;
    QTest::newRow("fn16") << withCrc("01 10 00 10 00 03") << 13 << 8;
    QTest::newRow("fn43 K=3 lengths 5 6 4") << deviceIdReply({5, 6, 4}) << 7 << 31;
    QTest::newRow("fn43 K=0") << deviceIdReply({}) << 7 << 0;
    // The wrapped sum tells 58 bytes, short of the second length byte at 212.
    QTest::newRow("fn43 lengths wrap past 255") << deviceIdReply({200, 100}) << 7 << 0;
    QTest::newRow("exception 84") << withCrc("01 84 02") << 8 << 5;
    QTest::newRow("fn6") << withCrc("01 06 00 10 00 03") << 8 << 0;
}

void TestFrameComplete::frameLength()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, requestLen);
    QFETCH(int, length);
    const QByteArray received = frame + hex("00 00 00"); // trailing bytes change nothing
    QCOMPARE(ReplyFrameLength(u8(received), qint32(received.size()), requestLen), length);
    for (int n = 0; n < frame.size(); ++n) {
        const qint32 told = ReplyFrameLength(u8(frame), n, requestLen);
        QVERIFY2(told == 0 || told == length, qPrintable(QStringLiteral("%1 bytes: %2").arg(n).arg(told)));
    }
    if (length > 0)
        QVERIFY(IsFrameComplete(u8(frame), length));
}

QTEST_APPLESS_MAIN(TestFrameComplete)
#include "tst_framecomplete.moc"
