// Several simulated sensors on one line: who answers which request, what the
// master receives when two answer at once, and the paced line's reply timing.

#include "sim/SimBus.h"
#include "SimTestUtil.h"

#include <QTest>
#include <memory>

using namespace simtest;

namespace {

QByteArray serialRead(quint8 address)
{
    return withCrc(char(address) + QByteArray::fromHex("0400050002"));
}

} // namespace

class TestSimBus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void requests_data();
    void requests();
    void wireTime_data();
    void wireTime();

private:
    std::unique_ptr<SimBus> m_bus;
};

void TestSimBus::init()
{
    m_bus = std::make_unique<SimBus>();
    m_bus->addSensor(1, 0x0012AB7F);
    m_bus->addSensor(5, 0x00ABCDEF);
    m_bus->addSensor(9, 0x01020304); // two sensors share address 9
    m_bus->addSensor(9, 0x0A0B0C0D);
}

void TestSimBus::requests_data()
{
    QTest::addColumn<QByteArray>("before"); // sent first, if any
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // empty: silence; "garbled": fails the CRC
    QTest::addColumn<QString>("after");    // the sensors' addresses afterwards
    QTest::addColumn<int>("stored");       // sensors whose word 0x20 took 0x12345678

    const QByteArray none, garbled("garbled");
    const QByteArray write = QByteArray::fromHex("10102000030612345678A55A");
    const QByteArray move17 = frame("001000000003060011 0A0B0C0D");
    auto row = [](const char *name, const QByteArray &before, const QByteArray &request, const QByteArray &reply,
                  const char *after = "1,5,9,9", int stored = 0) {
        QTest::newRow(name) << before << request << reply << QString::fromLatin1(after) << stored;
    };
    row("matching address", none, serialRead(5), frame("050404 00ABCDEF"));
    row("other address", none, serialRead(7), none);
    row("broadcast write", none, withCrc('\0' + write), none);
    row("address assignment by serial", none, frame("001000000003060011 00ABCDEF"), none, "1,17,9,9");
    row("collision: serial numbers", none, serialRead(9), garbled);
    row("collision: same echoes", none, frame("09080000AA55"), garbled);
    row("collision: write", none, withCrc('\t' + write), garbled, "1,5,9,9", 2);
    row("collision separated: stays", move17, serialRead(9), frame("090404 01020304"), "1,5,9,17");
    row("collision separated: moved", move17, serialRead(17), frame("110404 0A0B0C0D"), "1,5,9,17");
}

void TestSimBus::requests()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, after);
    QFETCH(int, stored);

    if (!before.isEmpty())
        QVERIFY(!m_bus->process(before));
    const std::optional<SimReply> got = m_bus->process(request);
    QStringList addresses;
    int took = 0;
    for (int i = 0; i < m_bus->size(); ++i) {
        const SimSensor &s = m_bus->sensor(i);
        QCOMPARE(s.requestCount(), before.isEmpty() ? 1 : 2); // every sensor hears every request
        addresses << QString::number(s.address());
        took += s.word(0x20) == 0x12345678u ? 1 : 0;
    }
    QCOMPARE(addresses.join(u','), after);
    QCOMPARE(took, stored);

    QCOMPARE(bool(got), !reply.isEmpty());
    if (reply == "garbled") // also when the sensors said the same
        QVERIFY2(Crc16(reinterpret_cast<const quint8 *>(got->frame.constData()), qint32(got->frame.size())) != 0,
                 got->frame.toHex(' ').constData());
    else if (got)
        QCOMPARE(got->frame.toHex(' '), reply.toHex(' '));
}

void TestSimBus::wireTime_data()
{
    // (request + reply bytes) * 11 bits, plus 3.5 characters of silence up to
    // 19200 bit/s and 1750 us above, rounded to the microsecond.
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("baud");
    QTest::addColumn<qint64>("wireUs");

    const QByteArray block = frame("0503 13C2 007C"); // 62 words: 253 reply bytes
    QTest::newRow("instant line") << serialRead(5) << 0 << qint64(0);
    QTest::newRow("8 + 9 bytes at 9600") << serialRead(5) << 9600 << qint64(23490);
    QTest::newRow("8 + 9 bytes at 19200") << serialRead(5) << 19200 << qint64(11745);
    QTest::newRow("8 + 9 bytes at 38400, fixed silence") << serialRead(5) << 38400 << qint64(6620);
    QTest::newRow("15 + 8 bytes at 9600") << frame("0510102000030612345678A55A") << 9600 << qint64(30365);
    QTest::newRow("8 + 253 bytes at 115200") << block << 115200 << qint64(26672);
}

void TestSimBus::wireTime()
{
    QFETCH(QByteArray, request);
    QFETCH(int, baud);
    QFETCH(qint64, wireUs);

    m_bus->setWireBaud(baud);
    const std::optional<SimReply> got = m_bus->process(request);
    QVERIFY(got);
    QCOMPARE(got->wireUs, wireUs);
    QCOMPARE(got->delayMs, 0); // the sensor's own delay stays apart
}

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_simbus.moc"
