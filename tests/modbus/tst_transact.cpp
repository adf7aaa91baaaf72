// The transaction engine end to end: a real link on a pseudo-terminal, the
// simulated sensor on the far side, and a host that records what the engine
// shows to the user.

#include "ModbusTestUtil.h"

#include "modbus/FrameCodec.h"
#include "common/RecordingBusHost.h"
#include "modbus/Transact.h"
#include "serial/SerialDevice.h"
#include "serial/UComWin.h"

#include "SimPtyServer.h"
#include "SimSensor.h"

#include <QTest>

#include <memory>

using namespace modbustest;
using namespace testhost;

namespace {


// Generous bound for an exchange that is expected to succeed: the reply ends
// 40 ms after its last byte, well within it.
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


class TestTransact : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void goodExchange_data();
    void goodExchange();
    void failedExchange_data();
    void failedExchange();
    void noReplyBroadcast();
    void requestFromOutsideRequestBuf();
    void portCannotBeOpened();
    void probe_data();
    void probe();
    void probeOnMissingPort();
    void checkReplyOnReceivedBytes_data();
    void checkReplyOnReceivedBytes();

private:
    // A fault that sends its bytes after the engine gave up: waits (bounded) for
    // them on the link, so that they cannot spill into the next exchange.
    void drainLateBytes(const SimFault &fault);
    // Runs Transact and returns the failure text, or nothing when it returned normally.
    std::optional<QString> transact(const QByteArray &pdu, qint32 timeoutMs, bool noReply, bool logTraffic);
    void useRequest(const QByteArray &pdu);

    SimSensor m_sensor;
    std::unique_ptr<SimPtyServer> m_server;
    std::unique_ptr<TWinComPort> m_port;
    RecordingHost m_host;
    std::unique_ptr<TModbusEngine> m_engine;
};

void TestTransact::initTestCase()
{
    m_server = std::make_unique<SimPtyServer>(m_sensor);
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    m_port = std::make_unique<TWinComPort>();
    m_port->SetPortName(m_server->devicePath());
    m_engine = std::make_unique<TModbusEngine>(*m_port, m_host);
}

void TestTransact::init()
{
    m_sensor.clearFaults();
    m_sensor.setFlash(SimSensor::defaultFlash());
    m_sensor.setAddress(1);
    m_sensor.clearRequestLog();
    m_host = RecordingHost();
}

void TestTransact::cleanupTestCase()
{
    m_engine.reset();
    m_port.reset();
    m_server.reset();
}

void TestTransact::drainLateBytes(const SimFault &fault)
{
    if (fault.kind != SimFault::Kind::Delay && fault.kind != SimFault::Kind::SplitReply)
        return;
    if (fault.kind == SimFault::Kind::Delay && fault.value == 0)
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
    useRequest(pdu);
    try {
        m_engine->Transact(m_engine->RequestBuf.data(), qint32(pdu.size()), timeoutMs, noReply, logTraffic);
    } catch (const ZartError &e) {
        return e.text();
    }
    return std::nullopt;
}

void TestTransact::goodExchange_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<bool>("logTraffic");

    QTest::newRow("serial number at address 5, logged") << 5 << hex("04 00 05 00 02") << true;
    QTest::newRow("serial number at address 5, quiet") << 5 << hex("04 00 05 00 02") << false;
    QTest::newRow("echo at address 247") << 247 << hex("08 00 00 AA 55") << true;
    QTest::newRow("coordinates") << 1 << hex("04 00 00 00 05") << true;
    QTest::newRow("flash word read") << 1 << hex("03 10 01 00 02") << true;
    QTest::newRow("flash word write") << 1 << hex("10 10 04 00 03 06 00 00 00 2A A5 5A") << true;
    QTest::newRow("device identification") << 1 << hex("2B 0E 01 00") << true;
}

void TestTransact::goodExchange()
{
    QFETCH(int, address);
    QFETCH(QByteArray, pdu);
    QFETCH(bool, logTraffic);

    m_sensor.setAddress(quint8(address));
    m_host.address = address;

    const std::optional<QString> failure = transact(pdu, kReplyTimeoutMs, false, logTraffic);
    QVERIFY2(!failure, qPrintable(failure.value_or(QString())));

    // The sensor saw exactly the frame the tool is meant to send.
    const QList<SimRequestRecord> seen = m_sensor.requestLog();
    QCOMPARE(seen.size(), 1);
    const QByteArray expectedFrame = withCrc(QByteArray(1, char(address)) + pdu);
    QCOMPARE(seen.first().request, expectedFrame);
    const QByteArray reply = seen.first().reply;
    QVERIFY(reply.size() >= 5);

    // ReplyBuf holds the reply without address and CRC.
    QCOMPARE(m_engine->RequestLen, qint32(pdu.size()));
    QCOMPARE(m_engine->ReplyLen, qint32(reply.size() - 3));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(m_engine->ReplyBuf.data()), m_engine->ReplyLen),
             reply.mid(1, reply.size() - 3));
    QCOMPARE(m_port->ReplyTimeout, kReplyTimeoutMs);

    LogLines expected;
    if (logTraffic)
        expected = {{sentLine(expectedFrame), LogSent}, {receivedLine(reply), LogReceived}};
    QCOMPARE(m_host.lines, expected);
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

void TestTransact::failedExchange_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("logTraffic");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("receivedBytes"); // bytes of the sensor's reply the log shows; -1 none
    QTest::addColumn<bool>("ruleBroken");   // logged once by CheckReply, once by Transact

    const QString exception2 = QStringLiteral("Ошибка - Недопустимый адрес [код ошибки 2]");
    const QString exception7 = QStringLiteral("Ошибка - Неизвестная ошибка [код ошибки 7]");
    const QString timeout = QStringLiteral("Таймаут");
    const QString unrecognised = QStringLiteral("Пакет не распознан");

    for (const bool logTraffic : {true, false}) {
        const char *suffix = logTraffic ? "logged" : "quiet";
        // receivedBytes 0 stands for "the whole reply", shown only when logging.
        const int whole = logTraffic ? 0 : -1;
        QTest::addRow("silent sensor, %s", suffix)
            << SimFault::noReply() << 150 << logTraffic << timeout << -1 << false;
        QTest::addRow("reply later than the timeout, %s", suffix)
            << SimFault::delay(400) << 150 << logTraffic << timeout << -1 << false;
        QTest::addRow("reply in two bursts, %s", suffix)
            << SimFault::splitReply(3, 150) << kReplyTimeoutMs << logTraffic << unrecognised << 3 << false;
        QTest::addRow("exception 2, %s", suffix)
            << SimFault::exception(2) << kReplyTimeoutMs << logTraffic << exception2 << whole << true;
        QTest::addRow("exception 7, %s", suffix)
            << SimFault::exception(7) << kReplyTimeoutMs << logTraffic << exception7 << whole << true;
        QTest::addRow("reply from another address, %s", suffix)
            << SimFault::wrongAddress(2) << kReplyTimeoutMs << logTraffic
            << QStringLiteral("Неверный адрес устройства") << whole << true;
        QTest::addRow("damaged CRC, %s", suffix)
            << SimFault::badCrc() << kReplyTimeoutMs << logTraffic << QStringLiteral("Ошибка CRC") << whole
            << true;
        QTest::addRow("bytes after the reply, %s", suffix)
            << SimFault::trailingBytes(hex("00 00")).onFunction(4) << kReplyTimeoutMs << logTraffic
            << QStringLiteral("Неверная длина пакета") << whole << true;
    }
}

void TestTransact::failedExchange()
{
    QFETCH(SimFault, fault);
    QFETCH(int, timeoutMs);
    QFETCH(bool, logTraffic);
    QFETCH(QString, failure);
    QFETCH(int, receivedBytes);
    QFETCH(bool, ruleBroken);

    m_sensor.addFault(fault);
    const QByteArray pdu = hex("04 00 05 00 02");
    m_engine->ReplyLen = 77; // what a previous exchange left

    const std::optional<QString> result = transact(pdu, timeoutMs, false, logTraffic);
    QCOMPARE(result.value_or(QStringLiteral("<no failure>")), failure);
    QCOMPARE(m_engine->ReplyLen, 0);
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
    drainLateBytes(fault);

    QVERIFY(m_sensor.waitForRequests(1, 2000));
    const SimRequestRecord seen = m_sensor.requestLog().first();
    LogLines expected;
    if (logTraffic)
        expected.append({sentLine(seen.request), LogSent});
    if (receivedBytes >= 0)
        expected.append({receivedLine(receivedBytes == 0 ? seen.reply : seen.reply.left(receivedBytes)),
                         LogReceived});
    if (ruleBroken)
        expected.append({failure, LogError});
    expected.append({failure, LogError});
    QCOMPARE(m_host.lines, expected);
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

// A caller that builds its PDU elsewhere: the reply is judged against that
// request, not against whatever an earlier command left in RequestBuf.
void TestTransact::requestFromOutsideRequestBuf()
{
    useRequest(hex("04 00 00 00 03")); // stale: three registers from 0 is no block
    const QByteArray pdu = hex("04 00 05 00 02");
    try {
        m_engine->Transact(u8(pdu), qint32(pdu.size()), kReplyTimeoutMs, false, false);
    } catch (const ZartError &e) {
        QFAIL(qPrintable(e.text()));
    }
    QCOMPARE(m_engine->ReplyLen, 6); // 04, byte count 4, the serial number
    QVERIFY(m_host.lines.isEmpty());
}

void TestTransact::portCannotBeOpened()
{
    TWinComPort missing;
    missing.SetPortName(QStringLiteral("/nonexistent-zart-dir/ttyZART0"));
    TModbusEngine engine(missing, m_host);
    engine.ReplyLen = 5;
    const QByteArray pdu = hex("04 00 05 00 02");
    std::copy(pdu.cbegin(), pdu.cend(), engine.RequestBuf.begin());

    bool thrown = false;
    try {
        engine.Transact(engine.RequestBuf.data(), 5, 100, false, true);
    } catch (const EComPort &e) {
        thrown = true;
        QCOMPARE(e.code(), TComExceptions::CE_OpenFailed);
        QVERIFY2(e.text().startsWith(QStringLiteral("Unable to open com port")), qPrintable(e.text()));
        QCOMPARE(m_host.lines, LogLines({{e.text(), LogError}}));
    }
    QVERIFY(thrown);
    QCOMPARE(engine.ReplyLen, 0);
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

void TestTransact::probe_data()
{
    QTest::addColumn<int>("sensorAddress");
    QTest::addColumn<int>("probedAddress");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("redLine"); // empty: nothing logged

    const SimFault none = SimFault::delay(0);
    QTest::newRow("sensor answers") << 1 << 1 << none << true << QString();
    QTest::newRow("sensor at 247") << 247 << 247 << none << true << QString();
    QTest::newRow("nobody at the address") << 1 << 2 << none << false << QString();
    QTest::newRow("reply in two bursts") << 1 << 1 << SimFault::splitReply(3, 150) << false << QString();
    QTest::newRow("exception reply") << 1 << 1 << SimFault::exception(1) << false
                                     << QStringLiteral("Ошибка - Неподдерживаемая функция [код ошибки 1]");
    QTest::newRow("reply from another address") << 1 << 1 << SimFault::wrongAddress(9) << false
                                                << QStringLiteral("Неверный адрес устройства");
    QTest::newRow("damaged CRC") << 1 << 1 << SimFault::badCrc() << false << QStringLiteral("Ошибка CRC");
}

void TestTransact::probe()
{
    QFETCH(int, sensorAddress);
    QFETCH(int, probedAddress);
    QFETCH(SimFault, fault);
    QFETCH(bool, found);
    QFETCH(QString, redLine);

    m_sensor.setAddress(quint8(sensorAddress));
    m_sensor.addFault(fault);
    m_host.address = probedAddress;
    m_engine->ReplyLen = 33;
    const QByteArray pdu = hex("08 00 00 AA 55");
    useRequest(pdu);

    // The search's timeout: a short one, as entered in its dialog.
    m_engine->Probe(m_engine->RequestBuf.data(), 5, found ? kReplyTimeoutMs : 250);
    drainLateBytes(fault);

    QCOMPARE(m_engine->RequestLen, 5);
    QVERIFY(m_sensor.waitForRequests(1, 2000));
    QCOMPARE(m_sensor.requestLog().first().request, withCrc(QByteArray(1, char(probedAddress)) + pdu));
    if (found) {
        QCOMPARE(m_engine->ReplyLen, 5);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(m_engine->ReplyBuf.data()), 5), pdu);
    } else {
        QCOMPARE(m_engine->ReplyLen, 0);
    }
    LogLines expected;
    if (!redLine.isEmpty())
        expected.append({redLine, LogError});
    QCOMPARE(m_host.lines, expected);
    QVERIFY(m_host.busyCalls.isEmpty()); // the search owns the cursor
}

void TestTransact::probeOnMissingPort()
{
    TWinComPort missing;
    missing.SetPortName(QStringLiteral("/nonexistent-zart-dir/ttyZART0"));
    TModbusEngine engine(missing, m_host);
    engine.ReplyLen = 5;
    const QByteArray pdu = hex("08 00 00 AA 55");
    std::copy(pdu.cbegin(), pdu.cend(), engine.RequestBuf.begin());

    engine.Probe(engine.RequestBuf.data(), 5, 100); // must not throw
    QCOMPARE(engine.ReplyLen, 0);
    QVERIFY(m_host.lines.isEmpty());
    QVERIFY(m_host.busyCalls.isEmpty());
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
    QTest::newRow("nothing") << echo << 0 << QStringLiteral("Слишком маленький пакет");
    QTest::newRow("negative count") << echo << -5 << QStringLiteral("Слишком маленький пакет");
    const QByteArray fits = withCrc(hex("01 08 00 00") + QByteArray(1021, '\x5A'));
    QTest::newRow("PDU of 1024 bytes") << fits << int(fits.size()) << QString();
    const QByteArray tooLong = withCrc(hex("01 08 00 00") + QByteArray(1500, '\x5A'));
    QTest::newRow("PDU of 1503 bytes") << tooLong << int(tooLong.size()) << QStringLiteral("Неверная длина пакета");
    const QByteArray full = withCrc(hex("01 2B 0E") + QByteArray(TWinComPort::RxBufSize - 5, '\x5A'));
    QTest::newRow("whole receive buffer") << full << int(full.size()) << QStringLiteral("Неверная длина пакета");
    QTest::newRow("count beyond the receive buffer")
        << full << TWinComPort::RxBufSize + 100 << QStringLiteral("Неверная длина пакета");
}

void TestTransact::checkReplyOnReceivedBytes()
{
    QFETCH(QByteArray, rx);
    QFETCH(int, rxCount);
    QFETCH(QString, failure);

    TWinComPort port;
    RecordingHost host;
    TModbusEngine engine(port, host);
    QCOMPARE(int(port.RxBuf.size()), TWinComPort::RxBufSize);
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

QTEST_GUILESS_MAIN(TestTransact)
#include "tst_transact.moc"
