// Several simulated sensors on one line: who answers which request, what the
// master receives when two answer at once, the paced line's reply timing, and
// the list of sensors the simulator is started with.

#include "sim/SimBus.h"
#include "SimTestUtil.h"

#include <QTest>
#include <memory>

using namespace simtest;

namespace {

bool crcOk(const QByteArray &f)
{
    return f.size() >= 4 && Crc16(reinterpret_cast<const quint8 *>(f.constData()), qint32(f.size())) == 0;
}

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
    void addressAssignmentSeparatesACollision();
    void wireTime_data();
    void wireTime();
    void parseMembers_data();
    void parseMembers();

private:
    QString addresses() const;

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

QString TestSimBus::addresses() const
{
    QStringList list;
    for (int i = 0; i < m_bus->size(); ++i)
        list << QString::number(m_bus->sensor(i).address());
    return list.join(u',');
}

void TestSimBus::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // empty: silence
    QTest::addColumn<int>("answered");     // sensors that sent a reply
    QTest::addColumn<QString>("after");    // the sensors' addresses afterwards
    QTest::addColumn<int>("stored");       // sensors whose word 0x20 took 0x12345678

    const QByteArray none;
    const QByteArray garbled("garbled");
    QTest::newRow("first sensor") << serialRead(1) << frame("010404 0012AB7F") << 1 << "1,5,9,9" << 0;
    QTest::newRow("matching address") << serialRead(5) << frame("050404 00ABCDEF") << 1 << "1,5,9,9" << 0;
    QTest::newRow("other address") << serialRead(7) << none << 0 << "1,5,9,9" << 0;
    QTest::newRow("broadcast read") << serialRead(0) << none << 0 << "1,5,9,9" << 0;
    QTest::newRow("broadcast write") << frame("0010102000030612345678A55A") << none << 0 << "1,5,9,9" << 0;
    QTest::newRow("address assignment by serial")
        << frame("001000000003060011 00ABCDEF") << none << 0 << "1,17,9,9" << 0;
    QTest::newRow("address assignment, serial of a shared address")
        << frame("001000000003060002 01020304") << none << 0 << "1,5,2,9" << 0;
    QTest::newRow("address assignment, unknown serial")
        << frame("001000000003060011 00ABCDEE") << none << 0 << "1,5,9,9" << 0;
    QTest::newRow("collision: serial numbers") << serialRead(9) << garbled << 2 << "1,5,9,9" << 0;
    QTest::newRow("collision: same echoes") << frame("09080000AA55") << garbled << 2 << "1,5,9,9" << 0;
    QTest::newRow("collision: write") << frame("0910102000030612345678A55A") << garbled << 2 << "1,5,9,9"
                                      << 2;
    QTest::newRow("collision: device id") << frame("092B0E0100") << garbled << 2 << "1,5,9,9" << 0;
}

void TestSimBus::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, answered);
    QFETCH(QString, after);
    QFETCH(int, stored);

    const std::optional<SimReply> got = m_bus->process(request);
    int longest = 0;
    int sent = 0;
    int took = 0;
    for (int i = 0; i < m_bus->size(); ++i) {
        const SimSensor &s = m_bus->sensor(i);
        QCOMPARE(s.requestCount(), 1); // every sensor hears every request
        const QByteArray own = s.requestLog().constFirst().reply;
        sent += own.isEmpty() ? 0 : 1;
        longest = qMax(longest, int(own.size()));
        took += s.word(0x20) == 0x12345678u ? 1 : 0;
    }
    QCOMPARE(sent, answered);
    QCOMPARE(addresses(), after);
    QCOMPARE(took, stored);

    if (reply.isEmpty()) {
        QVERIFY2(!got, got ? got->frame.toHex(' ').constData() : "");
    } else if (reply == "garbled") {
        // The master receives bytes that fail the CRC, also when the sensors
        // said the same.
        QVERIFY(got);
        QVERIFY(got->frame.size() >= longest / 2);
        QVERIFY2(!crcOk(got->frame), got->frame.toHex(' ').constData());
        QCOMPARE(got->firstBurst, 0);
    } else {
        QVERIFY(got);
        QCOMPARE(got->frame.toHex(' '), reply.toHex(' '));
    }
}

void TestSimBus::addressAssignmentSeparatesACollision()
{
    const std::optional<SimReply> before = m_bus->process(serialRead(9));
    QVERIFY(before && !crcOk(before->frame));

    QVERIFY(!m_bus->process(frame("001000000003060011 0A0B0C0D")));
    const std::optional<SimReply> stayed = m_bus->process(serialRead(9));
    const std::optional<SimReply> moved = m_bus->process(serialRead(17));
    QVERIFY(stayed && moved);
    QCOMPARE(stayed->frame.toHex(' '), frame("090404 01020304").toHex(' '));
    QCOMPARE(moved->frame.toHex(' '), frame("110404 0A0B0C0D").toHex(' '));
}

void TestSimBus::wireTime_data()
{
    // (request + reply bytes) * 11 bits, plus 3.5 characters of silence up to
    // 19200 bit/s and 1750 us above, rounded to the microsecond.
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("replyBytes");
    QTest::addColumn<qint64>("wireUs");

    const QByteArray block = frame("0503 13C2 007C");   // 62 words
    const QByteArray write = frame("0510102000030612345678A55A");
    QTest::newRow("instant line") << serialRead(5) << 0 << 9 << qint64(0);
    QTest::newRow("8 + 9 bytes at 9600") << serialRead(5) << 9600 << 9 << qint64(23490);
    QTest::newRow("8 + 9 bytes at 19200") << serialRead(5) << 19200 << 9 << qint64(11745);
    QTest::newRow("8 + 9 bytes at 38400, fixed silence") << serialRead(5) << 38400 << 9 << qint64(6620);
    QTest::newRow("8 + 9 bytes at 115200") << serialRead(5) << 115200 << 9 << qint64(3373);
    QTest::newRow("15 + 8 bytes at 9600") << write << 9600 << 8 << qint64(30365);
    QTest::newRow("8 + 253 bytes at 9600") << block << 9600 << 253 << qint64(303073);
    QTest::newRow("8 + 253 bytes at 115200") << block << 115200 << 253 << qint64(26672);
}

void TestSimBus::wireTime()
{
    QFETCH(QByteArray, request);
    QFETCH(int, baud);
    QFETCH(int, replyBytes);
    QFETCH(qint64, wireUs);

    m_bus->setWireBaud(baud);
    const std::optional<SimReply> got = m_bus->process(request);
    QVERIFY(got);
    QCOMPARE(int(got->frame.size()), replyBytes);
    QCOMPARE(got->wireUs, wireUs);
    QCOMPARE(got->delayMs, 0); // the sensor's own delay stays apart
}

void TestSimBus::parseMembers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("members"); // address:serial as parsed; empty: refused

    QTest::newRow("three") << "1:0012AB7F,5:00ABCDEF,9:01020304" << "1:0012AB7F,5:00ABCDEF,9:01020304";
    QTest::newRow("shared address") << "1:1,1:2" << "1:00000001,1:00000002";
    QTest::newRow("lower case, 0x, spaces") << "247:0x00abcdef, 3:FFFFFFFF" << "247:00ABCDEF,3:FFFFFFFF";
    QTest::newRow("address 0") << "0:0012AB7F" << "";
    QTest::newRow("address 248") << "248:0012AB7F" << "";
    QTest::newRow("nine digits") << "1:100000000" << "";
    QTest::newRow("not hex") << "1:0012AB7G" << "";
    QTest::newRow("no serial") << "1" << "";
    QTest::newRow("empty serial") << "1:" << "";
    QTest::newRow("empty item") << "1:1,,2:2" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("three parts") << "1:2:3" << "";
}

void TestSimBus::parseMembers()
{
    QFETCH(QString, text);
    QFETCH(QString, members);

    QString error;
    const std::optional<QList<SimBus::Member>> got = SimBus::parseMembers(text, &error);
    QCOMPARE(bool(got), !members.isEmpty());
    if (!got) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QStringList seen;
    for (const SimBus::Member &m : *got)
        seen << QStringLiteral("%1:%2").arg(m.address).arg(m.serial, 8, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(seen.join(u','), members);
}

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_simbus.moc"
