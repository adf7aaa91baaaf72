// The transaction engine end to end: a real link on a pseudo-terminal, the simulated
// sensor on the far side, and a host that records what the engine shows to the user.

#include "common/FakeSerialDevice.h"
#include "common/ModbusFrames.h"

#include "codec/FrameCodec.h"
#include "common/RecordingBusHost.h"
#include "modbus/ModbusMaster.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLink.h"

#include "common/SensorOnPty.h"

#include <QTest>

#include <memory>

using namespace modbustest;
using namespace testhost;

namespace {

// Generous bound for an exchange that is expected to succeed.
constexpr int kReplyTimeoutMs = 1000;

const QList<bool> kBusyOnOff{true, false};

QString sentLine(const QByteArray &frame)
{
    return QStringLiteral("Послано: ") + HexLine(u8(frame), qint32(frame.size()));
}

QString receivedLine(const QByteArray &frame)
{
    return QStringLiteral("Принято: ") + HexLine(u8(frame), qint32(frame.size()));
}

} // namespace

Q_DECLARE_METATYPE(SimFault)
Q_DECLARE_METATYPE(LogLines)
Q_DECLARE_METATYPE(ISerialDevice::WriteResult)
Q_DECLARE_METATYPE(ExchangeOutcome)

class TestTransact : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void exchange_data();
    void exchange();
    void noReplyBroadcast();
    void broadcastWriteFails_data();
    void broadcastWriteFails();
    void missingPort();
    void checkReplyOnReceivedBytes_data();
    void checkReplyOnReceivedBytes();
    void sensorsSharingALine_data();
    void sensorsSharingALine();

private:
    // A fault that sends its bytes after the engine gave up: waits (bounded) for
    // them on the link, so that they cannot spill into the next exchange.
    void drainLateBytes(const SimFault &fault, qint32 timeoutMs);
    // Runs Transact on a PDU from outside RequestBuf, which holds a stale request: the
    // reply must be judged against pdu. Returns the failure text, if any.
    std::optional<QString> transact(const QByteArray &pdu, qint32 timeoutMs, bool noReply, bool logTraffic);
    void useRequest(const QByteArray &pdu);

    testsim::SensorOnPty m_sim;
    SimSensor &m_sensor = m_sim.sensor;
    std::unique_ptr<SerialLink> &m_port = m_sim.port;
    RecordingHost &m_host = m_sim.host;
    std::unique_ptr<ModbusMaster> &m_engine = m_sim.engine;
};

void TestTransact::initTestCase()
{
    QVERIFY2(m_sim.startWithEngine(false), qPrintable(m_sim.errorString()));
}

void TestTransact::init()
{
    m_sim.reset();
    m_host = RecordingHost();
}

void TestTransact::cleanupTestCase()
{
    m_sim.stop();
}

void TestTransact::drainLateBytes(const SimFault &fault, qint32 timeoutMs)
{
    const bool late = fault.kind == SimFault::Kind::Delay ? fault.value > timeoutMs
                                                          : fault.kind == SimFault::Kind::SplitReply
                                                                && fault.gapMs > SerialLink::SilenceMs;
    if (!late)
        return;
    m_port->ReplyTimeout = 2000;
    m_port->Receive();
    QVERIFY2(m_port->RxCount > 0, "the late bytes of the reply never came");
}

void TestTransact::useRequest(const QByteArray &pdu)
{
    std::copy(pdu.cbegin(), pdu.cend(), m_engine->RequestBuf.begin());
}

std::optional<QString> TestTransact::transact(const QByteArray &pdu, qint32 timeoutMs, bool noReply,
                                              bool logTraffic)
{
    useRequest(hex("04 00 00 00 03")); // stale: three registers from 0 is no block
    try {
        m_engine->Transact(u8(pdu), qint32(pdu.size()), timeoutMs, noReply, logTraffic);
    } catch (const ZartError &e) {
        return e.text();
    }
    return std::nullopt;
}

void TestTransact::exchange_data()
{
    QTest::addColumn<bool>("fast");         // the link ends a reply by the frame's length
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("logTraffic");
    QTest::addColumn<QString>("failure");   // empty: the exchange succeeds
    QTest::addColumn<int>("receivedBytes"); // bytes of the sensor's reply the log shows; 0 all, -1 none
    QTest::addColumn<bool>("ruleBroken");   // logged once by CheckReply, once by Transact
    QTest::addColumn<ExchangeOutcome>("outcome"); // as the line statistics count it

    const QByteArray serial = hex("04 00 05 00 02");
    const QByteArray flashWord = hex("03 10 04 00 02");
    const SimFault none = SimFault::delay(0);
    const int t = kReplyTimeoutMs;
    const QString exception2 = QStringLiteral("Ошибка - Недопустимый адрес [код ошибки 2]");
    const QString timeout = QStringLiteral("Таймаут");
    const QString unrecognised = QStringLiteral("Пакет не распознан");

    // Every row runs in both reply modes; a fault gives the same outcome in
    // both, but for the bytes that trail a whole frame, which the fast end
    // does not wait for.
    struct Row
    {
        const char *name;
        int address;
        QByteArray pdu;
        SimFault fault;
        int timeoutMs;
        bool logTraffic;
        QString failure;
        int receivedBytes;
        bool ruleBroken;
        ExchangeOutcome outcome;
        QString fastFailure;
        int fastReceivedBytes;
        bool fastRuleBroken;
        ExchangeOutcome fastOutcome;
    };
    const auto same = [](const char *name, int address, const QByteArray &pdu, const SimFault &fault,
                         int timeoutMs, bool logTraffic, const QString &failure, int receivedBytes,
                         bool ruleBroken, ExchangeOutcome outcome) {
        return Row{name, address, pdu, fault, timeoutMs, logTraffic, failure, receivedBytes, ruleBroken,
                   outcome, failure, receivedBytes, ruleBroken, outcome};
    };
    using O = ExchangeOutcome;
    const QList<Row> rows{
        same("serial number at 5, logged", 5, serial, none, t, true, {}, 0, false, O::Success),
        same("serial number at 5, quiet", 5, serial, none, t, false, {}, -1, false, O::Success),
        same("echo at 247", 247, hex("08 00 00 AA 55"), none, t, true, {}, 0, false, O::Success),
        same("flash word write", 1, hex("10 10 04 00 03 06 00 00 00 2A A5 5A"), none, t, true, {}, 0, false, O::Success),
        same("device identification", 1, hex("2B 0E 01 00"), none, t, true, {}, 0, false, O::Success),
        same("silent sensor, logged", 1, serial, SimFault::noReply(), 150, true, timeout, -1, false, O::Timeout),
        same("silent sensor, quiet", 1, serial, SimFault::noReply(), 150, false, timeout, -1, false, O::Timeout),
        same("reply just after the timeout", 1, serial, SimFault::delay(170), 150, true, timeout, -1, false, O::Timeout),
        same("reply in two bursts 5 ms apart", 1, serial, SimFault::splitReply(3, 5), t, true, {}, 0, false, O::Success),
        // A whole frame by its length only once the promised bytes are in.
        // The pauses inside a reply stay well short of the 40 ms silence, and
        // those that end one well beyond it, so that the simulated sensor's
        // thread may wait for a core on a loaded machine without moving a
        // pause across the silence.
        same("word read cut after 5 bytes, 10 ms", 1, flashWord, SimFault::splitReply(5, 10), t, true, {}, 0,
             false, O::Success),
        same("reply in two bursts 150 ms apart, logged", 1, serial, SimFault::splitReply(3, 150), t, true,
             unrecognised, 3, false, O::Incomplete),
        same("reply in two bursts 150 ms apart, quiet: still shown", 1, serial, SimFault::splitReply(3, 150), t,
             false, unrecognised, 3, false, O::Incomplete),
        same("exception 2, logged", 1, serial, SimFault::exception(2), t, true, exception2, 0, true, O::Exception),
        same("exception 2, quiet", 1, serial, SimFault::exception(2), t, false, exception2, -1, true, O::Exception),
        same("reply from another address", 1, serial, SimFault::wrongAddress(2), t, true,
             QStringLiteral("Неверный адрес устройства"), 0, true, O::Other),
        same("damaged CRC", 1, serial, SimFault::badCrc(), t, true, QStringLiteral("Ошибка CRC"), 0, true, O::Crc),
        Row{"bytes after the reply", 1, serial, SimFault::trailingBytes(hex("00 00")).onFunction(4), t, true,
            QStringLiteral("Неверная длина пакета"), 0, true, O::Length, {}, 9, false, O::Success},
    };
    for (const bool fast : {false, true}) {
        for (const Row &r : rows) {
            QTest::addRow("%s, %s", fast ? "fast" : "40 ms", r.name)
                << fast << r.address << r.pdu << r.fault << r.timeoutMs << r.logTraffic
                << (fast ? r.fastFailure : r.failure) << (fast ? r.fastReceivedBytes : r.receivedBytes)
                << (fast ? r.fastRuleBroken : r.ruleBroken) << (fast ? r.fastOutcome : r.outcome);
        }
    }
}

void TestTransact::exchange()
{
    QFETCH(bool, fast);
    QFETCH(int, address);
    QFETCH(QByteArray, pdu);
    QFETCH(SimFault, fault);
    QFETCH(int, timeoutMs);
    QFETCH(bool, logTraffic);
    QFETCH(QString, failure);
    QFETCH(int, receivedBytes);
    QFETCH(bool, ruleBroken);
    QFETCH(ExchangeOutcome, outcome);

    m_port->FastReply = fast;
    LineStatistics stats;
    m_engine->setStatistics(&stats);
    const auto countedOnce = [&] {
        QCOMPARE(stats.exchanges(), qint64(1));
        QCOMPARE(stats.count(outcome), qint64(1));
        // A reply that came in time is timed; a whole frame to its last byte.
        const bool replied = outcome != ExchangeOutcome::Timeout;
        const bool whole = replied && outcome != ExchangeOutcome::Incomplete;
        QCOMPARE(stats.firstByte().count(), qint64(replied));
        QCOMPARE(stats.frame().count(), qint64(whole));
        if (whole)
            QVERIFY(stats.frame().summary()->maxMs >= stats.firstByte().summary()->maxMs);
        if (replied)
            QVERIFY(stats.firstByte().summary()->maxMs >= 0);
        stats.reset();
    };
    m_sensor.setAddress(quint8(address));
    m_sensor.addFault(fault);
    m_host.address = address;
    m_engine->ReplyLen = 77; // what a previous exchange left

    const std::optional<QString> result = transact(pdu, timeoutMs, false, logTraffic);
    QCOMPARE(result.value_or(QString()), failure);
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
    QCOMPARE(m_engine->RequestLen, qint32(pdu.size()));
    QCOMPARE(m_port->ReplyTimeout, timeoutMs);
    countedOnce();
    if (QTest::currentTestFailed())
        return;
    drainLateBytes(fault, timeoutMs);

    // The sensor saw exactly the frame the tool is meant to send.
    QVERIFY(m_sensor.waitForRequests(1, 2000));
    const QList<SimRequestRecord> seen = m_sensor.requestLog();
    QCOMPARE(seen.size(), 1);
    const QByteArray expectedFrame = withCrc(QByteArray(1, char(address)) + pdu);
    QCOMPARE(seen.first().request, expectedFrame);
    const QByteArray reply = seen.first().reply;
    const QByteArray replyShown = receivedBytes > 0 ? reply.left(receivedBytes) : reply;

    // On success ReplyBuf holds the reply without address and CRC.
    const QByteArray replyPdu = failure.isEmpty() ? replyShown.mid(1, replyShown.size() - 3) : QByteArray();
    QVERIFY(!failure.isEmpty() || replyPdu.size() >= 2);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(m_engine->ReplyBuf.data()), m_engine->ReplyLen), replyPdu);

    LogLines expected;
    if (logTraffic)
        expected.append({sentLine(expectedFrame), LogSent});
    if (receivedBytes >= 0)
        expected.append({receivedLine(replyShown), LogReceived});
    for (int i = failure.isEmpty() ? 0 : ruleBroken ? 2 : 1; i > 0; --i)
        expected.append({failure, LogError});
    QCOMPARE(m_host.lines, expected);

    // The same exchange as the bus search probes it: nothing raised, the cursor
    // left alone, only a broken rule logged.
    m_sensor.clearRequestLog();
    m_sensor.addFault(fault);
    m_host = RecordingHost();
    m_host.address = address;
    m_engine->ReplyLen = 77;
    useRequest(pdu);
    QVERIFY(!m_engine->Probe(m_engine->RequestBuf.data(), qint32(pdu.size()), timeoutMs)); // no port failure
    countedOnce();
    m_engine->setStatistics(nullptr);
    drainLateBytes(fault, timeoutMs);
    QVERIFY(m_sensor.waitForRequests(1, 2000));
    QCOMPARE(m_sensor.requestLog().first().request, expectedFrame);
    QCOMPARE(m_engine->RequestLen, qint32(pdu.size()));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(m_engine->ReplyBuf.data()), m_engine->ReplyLen), replyPdu);
    QCOMPARE(m_host.lines, ruleBroken ? LogLines({{failure, LogError}}) : LogLines());
    QVERIFY(m_host.busyCalls.isEmpty());
}

void TestTransact::noReplyBroadcast()
{
    // Address assignment by serial number: the one request the tool broadcasts.
    const quint32 serial = m_sensor.serial();
    QByteArray pdu = hex("10 00 00 00 03 06 00 09");
    pdu.append(char(serial >> 24)).append(char(serial >> 16)).append(char(serial >> 8)).append(char(serial));
    m_host.address = 1;
    m_engine->ReplyLen = 42;
    m_engine->ReplyBuf[0] = 0x99;

    const std::optional<QString> failure = transact(pdu, kReplyTimeoutMs, true, true);
    QVERIFY2(!failure, qPrintable(failure.value_or(QString())));

    QVERIFY(m_sensor.waitForRequests(1, 2000));
    const QByteArray expectedFrame = withCrc(QByteArray(1, '\0') + pdu);
    QCOMPARE(m_sensor.requestLog().first().request, expectedFrame);
    QCOMPARE(int(m_sensor.address()), 9); // the sensor took the frame as intact
    QCOMPARE(m_host.lines, LogLines({{sentLine(expectedFrame), LogSent}}));
    QCOMPARE(m_engine->ReplyLen, 42);
    QCOMPARE(m_engine->ReplyBuf[0], quint8(0x99));
    QCOMPARE(m_engine->RequestLen, qint32(pdu.size()));
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

// A broadcast gets no reply, so a write that does not go out is its failure.
void TestTransact::broadcastWriteFails_data()
{
    QTest::addColumn<ISerialDevice::WriteResult>("result");
    QTest::addColumn<QString>("failure");

    QTest::newRow("cannot start") << ISerialDevice::WriteResult::NotStarted << QStringLiteral("Ошибка передачи");
    QTest::newRow("wait ran out") << ISerialDevice::WriteResult::TimedOut << QStringLiteral("Таймаут");
}

void TestTransact::broadcastWriteFails()
{
    QFETCH(ISerialDevice::WriteResult, result);
    QFETCH(QString, failure);

    auto device = std::make_shared<FakeSerialDevice::State>();
    device->writeResult = result;
    SerialLink port(std::make_unique<FakeSerialDevice>(device));
    ModbusMaster engine(port, m_host);
    const QByteArray pdu = hex("10 00 00 00 03 06 00 09 00 12 AB 7F");
    std::copy(pdu.cbegin(), pdu.cend(), engine.RequestBuf.begin());
    engine.ReplyLen = 42;

    try {
        engine.Transact(engine.RequestBuf.data(), qint32(pdu.size()), kReplyTimeoutMs, true, true);
        QFAIL("a broadcast that did not go out counted as sent");
    } catch (const ZartError &e) {
        QCOMPARE(e.text(), failure);
    }
    const QByteArray frame = withCrc(QByteArray(1, '\0') + pdu);
    QVERIFY(device->calls.contains(QStringLiteral("write ") + QString::fromLatin1(frame.toHex(' '))));
    QCOMPARE(m_host.lines, LogLines({{sentLine(frame), LogSent}, {failure, LogError}}));
    QCOMPARE(engine.ReplyLen, 0);
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

// Transact raises and logs the opening failure; Probe hands it back unlogged.
void TestTransact::missingPort()
{
    SerialLink missing;
    missing.SetPortName(QStringLiteral("/nonexistent-zart-dir/ttyZART0"));
    ModbusMaster engine(missing, m_host);
    LineStatistics stats;
    engine.setStatistics(&stats);
    const QByteArray pdu = hex("08 00 00 AA 55");
    std::copy(pdu.cbegin(), pdu.cend(), engine.RequestBuf.begin());

    engine.ReplyLen = 5;
    const std::optional<SerialLinkError> probeFailure = engine.Probe(engine.RequestBuf.data(), 5, 100); // must not throw
    QVERIFY(probeFailure);
    QCOMPARE(probeFailure->code(), TComExceptions::CE_OpenFailed);
    QCOMPARE(engine.ReplyLen, 0);
    QVERIFY(m_host.lines.isEmpty());
    QVERIFY(m_host.busyCalls.isEmpty());

    engine.ReplyLen = 5;
    try {
        engine.Transact(engine.RequestBuf.data(), 5, 100, false, true);
        QFAIL("Transact on a missing port did not raise");
    } catch (const SerialLinkError &e) {
        QCOMPARE(e.code(), TComExceptions::CE_OpenFailed);
        QVERIFY2(e.text().startsWith(QStringLiteral("Unable to open com port")), qPrintable(e.text()));
        QCOMPARE(e.text(), probeFailure->text());
        QCOMPARE(m_host.lines, LogLines({{e.text(), LogError}}));
    }
    QCOMPARE(engine.ReplyLen, 0);
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
    QCOMPARE(stats.count(ExchangeOutcome::Port), qint64(2)); // the probe and the exchange
    QCOMPARE(stats.exchanges(), qint64(2));
}

// CheckReply on what the link left in RxBuf/RxCount, without the wire: the
// copy into ReplyBuf and its bounds.
void TestTransact::checkReplyOnReceivedBytes_data()
{
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<int>("rxCount");
    QTest::addColumn<QString>("failure"); // empty: accepted

    const QByteArray echo = withCrc("01 08 00 00 AA 55");
    QTest::newRow("echo") << echo << int(echo.size()) << QString();
    QTest::newRow("two bytes") << echo << 2 << QStringLiteral("Слишком маленький пакет");
    QTest::newRow("negative count") << echo << -5 << QStringLiteral("Слишком маленький пакет");
    const QByteArray fits = withCrc(hex("01 08 00 00") + QByteArray(1021, '\x5A'));
    QTest::newRow("PDU of 1024 bytes") << fits << int(fits.size()) << QString();
    const QByteArray tooLong = withCrc(hex("01 08 00 00") + QByteArray(1500, '\x5A'));
    QTest::newRow("PDU of 1503 bytes") << tooLong << int(tooLong.size()) << QStringLiteral("Неверная длина пакета");
    const QByteArray full = withCrc(hex("01 2B 0E") + QByteArray(SerialLink::RxBufSize - 5, '\x5A'));
    QTest::newRow("count beyond the receive buffer")
        << full << SerialLink::RxBufSize + 100 << QStringLiteral("Неверная длина пакета");
}

void TestTransact::checkReplyOnReceivedBytes()
{
    QFETCH(QByteArray, rx);
    QFETCH(int, rxCount);
    QFETCH(QString, failure);

    SerialLink port;
    RecordingHost host;
    ModbusMaster engine(port, host);
    QCOMPARE(int(port.RxBuf.size()), SerialLink::RxBufSize);
    std::copy(rx.cbegin(), rx.cend(), port.RxBuf.begin());
    port.RxCount = rxCount;
    const QByteArray request = hex("08 00 00 AA 55");
    std::copy(request.cbegin(), request.cend(), engine.RequestBuf.begin());
    engine.ReplyLen = -1;

    QString thrown;
    try {
        engine.CheckReply();
    } catch (const ZartError &e) {
        thrown = e.text();
    }
    QCOMPARE(thrown, failure);
    if (failure.isEmpty()) {
        QCOMPARE(engine.ReplyLen, qint32(rx.size() - 3));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(engine.ReplyBuf.data()), engine.ReplyLen),
                 rx.mid(1, rx.size() - 3));
        QVERIFY(host.lines.isEmpty());
    } else {
        QCOMPARE(engine.ReplyLen, 0);
        QCOMPARE(host.lines, LogLines({{failure, LogError}}));
    }
}

// Three sensors on one line, two of them at address 9: the master reads each
// serial number where one sensor answers, and fails where two do.
void TestTransact::sensorsSharingALine_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QByteArray>("data"); // the serial number read

    QTest::newRow("first sensor") << 1 << QString() << hex("00 12 AB 7F");
    QTest::newRow("second sensor") << 5 << QString() << hex("00 AB CD EF");
    QTest::newRow("nobody") << 7 << QStringLiteral("Таймаут") << QByteArray();
    QTest::newRow("two at once, garbled") << 9 << QStringLiteral("Пакет не распознан") << QByteArray();
}

void TestTransact::sensorsSharingALine()
{
    QFETCH(int, address);
    QFETCH(QString, failure);
    QFETCH(QByteArray, data);

    testsim::SensorOnPty line;
    line.bus.addSensor(5, 0x00ABCDEF);
    line.bus.addSensor(9, 0x01020304);
    line.bus.addSensor(9, 0x0A0B0C0D);
    QVERIFY2(line.startWithEngine(false), qPrintable(line.errorString()));
    line.host.address = address;

    const QByteArray pdu = hex("04 00 05 00 02");
    QString thrown;
    try {
        line.engine->Transact(u8(pdu), qint32(pdu.size()), 200, false, false);
    } catch (const ZartError &e) {
        thrown = e.text();
    }
    QCOMPARE(thrown, failure); // a garbled reply makes no whole frame
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(line.engine->ReplyBuf.data()), line.engine->ReplyLen),
             failure.isEmpty() ? hex("04 04") + data : QByteArray());
}

QTEST_GUILESS_MAIN(TestTransact)
#include "tst_transact.moc"
