// The sensor commands end to end: the transaction engine on a real link over a
// pseudo-terminal, the simulated sensor on the far side, and a host that records
// the log lines, the busy cursor and the address changes of the search.

#include "common/ModbusFrames.h"

#include "common/PtyPair.h"
#include "common/ScriptedPeer.h"

#include "common/RecordingBusHost.h"
#include "codec/FrameCodec.h"
#include "modbus/ModbusMaster.h"
#include "sensor/SensorCommands.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLink.h"

#include "common/SensorOnPty.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace modbustest;
using namespace testhost;

namespace {

// Bound of an exchange that is expected to succeed (a reply ends 40 ms after
// its last byte).
constexpr int kReplyTimeoutMs = 1000;
// Bound of an exchange that is expected to time out.
constexpr int kSilentTimeoutMs = 150;
// Search timeout where a sensor has to answer in time (a probe that is
// answered ends with its reply, so a long bound costs nothing), and where none
// answers.
constexpr int kFindTimeoutMs = kReplyTimeoutMs;
constexpr int kQuickFindTimeoutMs = 10;
// Search timeout below the 40 ms silence, where a sensor has to answer in time
// with the fast end: as far below as the simulated sensor's thread allows on a
// loaded machine, where it may wait a slice or two for a core.
constexpr int kFastFindTimeoutMs = 30;
static_assert(kFastFindTimeoutMs < SerialLink::SilenceMs);

const QList<bool> kBusyOnOff{true, false};

// The commands under test, named in the tables; each result rendered as texts.
enum class Command {
    Serial, Ping, Reset, DeviceId, Coordinates, PixelsReal, PixelsInteger,
    IlluminationX, ReadWord, WriteWord, Checksum, Correction, Version
};

// Word written by the WriteWord command, and where.
constexpr quint16 kWriteAddress = 0x1005;
constexpr quint32 kWriteValue = 0x12345678;
constexpr quint16 kReadAddress = 0x13FA;

QByteArray probeFrame(int address)
{
    return withCrc(QByteArray(1, char(address)) + hex("08 00 00 AA 55"));
}

QByteArray be32(quint32 v)
{
    QByteArray b;
    b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return b;
}

QString sentLine(const QByteArray &frame)
{
    return QStringLiteral("Послано: ") + HexLine(u8(frame), qint32(frame.size()));
}

QString receivedLine(const QByteArray &frame)
{
    return QStringLiteral("Принято: ") + HexLine(u8(frame), qint32(frame.size()));
}

} // namespace

Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(SimFault)

class TestSensorCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void command_data();
    void command();
    void failedCommand_data();
    void failedCommand();
    void stopsAtFirstFailure_data();
    void stopsAtFirstFailure();

    void assignAddress_data();
    void assignAddress();
    void correctionCopiesComputedChecksum();
    void zeroAddressWriteRefused();

    void searchFinds_data();
    void searchFinds();
    void searchFindsNothing();
    void searchOnMissingPort();
    void searchStops();
    void searchIgnoresWrongEcho_data();
    void searchIgnoresWrongEcho();

    void portComesBackUnderItsName();

private:
    QStringList run(Command command);
    std::optional<QString> runCatching(Command command, QStringList *result);
    int search(ModbusMaster &engine, RecordingHost &host, qint32 timeoutMs);

    testsim::SensorOnPty m_sim;
    SimSensor &m_sensor = m_sim.sensor;
    std::unique_ptr<SerialLink> &m_port = m_sim.port;
    RecordingHost &m_host = m_sim.host;
    std::unique_ptr<ModbusMaster> &m_engine = m_sim.engine;
    CommandTimeouts m_timeouts;

    // What the search did through its callbacks.
    QList<int> m_addressesSet;
    int m_pumps = 0;
};

void TestSensorCommands::initTestCase()
{
    QVERIFY2(m_sim.startWithEngine(), qPrintable(m_sim.errorString()));
}

void TestSensorCommands::init()
{
    m_sim.reset();
    m_sensor.setCoordinates(10.0f, -3.2f);
    m_sensor.setStatus(1, 0);
    m_sensor.setPixels(300.25f, 65535.0f);
    m_sensor.setDeviceId("Vendor", "P7", "2.1");
    m_host = RecordingHost();
    m_timeouts = {kReplyTimeoutMs, kReplyTimeoutMs};
    m_engine->ReplyLen = 0;
    m_addressesSet.clear();
    m_pumps = 0;
    m_port->FastReply = true; // the 40 ms end is the link tests' and the engine tests' business
}

void TestSensorCommands::cleanupTestCase()
{
    m_sim.stop();
}

QStringList TestSensorCommands::run(Command command)
{
    ModbusMaster &e = *m_engine;
    auto texts = [](const MeasurementTexts &m) {
        return QStringList{m.x, m.y, m.xStatus, m.yStatus};
    };
    auto yesNo = [](bool b) {
        return QStringList{b ? QStringLiteral("yes") : QStringLiteral("no")};
    };
    switch (command) {
    case Command::Serial:
        return {QString::number(ReadSerialNumber(e, m_timeouts.shortMs), 16)};
    case Command::Ping:
        return yesNo(PingSensor(e, m_timeouts.shortMs));
    case Command::Reset:
        return yesNo(ResetSensor(e, m_timeouts.shortMs));
    case Command::DeviceId:
        return ReadDeviceIdentification(e, m_timeouts.shortMs);
    case Command::Coordinates:
        return texts(ReadCoordinates(e, m_timeouts.longMs));
    case Command::PixelsReal:
        return texts(ReadPixels(e, true, m_timeouts.longMs));
    case Command::PixelsInteger:
        return texts(ReadPixels(e, false, m_timeouts.longMs));
    case Command::IlluminationX:
        SetIllumination(e, 1, m_timeouts.shortMs);
        return {};
    case Command::ReadWord:
        return {QString::number(ReadFlashWord(e, kReadAddress, m_timeouts.shortMs), 16)};
    case Command::WriteWord:
        WriteFlashWord(e, kWriteAddress, kWriteValue, m_timeouts.shortMs);
        return {};
    case Command::Checksum:
        return {ReadChecksum(e, m_timeouts.longMs)};
    case Command::Correction:
        CorrectChecksum(e, m_timeouts);
        return {};
    case Command::Version:
        return ReadVersionLines(e, m_timeouts.shortMs);
    }
    return {};
}

std::optional<QString> TestSensorCommands::runCatching(Command command, QStringList *result)
{
    try {
        *result = run(command);
    } catch (const ZartError &e) {
        return e.text();
    }
    return std::nullopt;
}

void TestSensorCommands::command_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QStringList>("expected");

    // The sensor's state is set in init(); the expected results follow from it.
    const SimSensor::Flash flash = SimSensor::defaultFlash();
    const QStringList none;
    const QByteArray key = QByteArray(1, char(SimSensor::FlashKeyHi)) + char(SimSensor::FlashKeyLo);

    QTest::newRow("serial number")
        << Command::Serial << 5 << hex("04 00 05 00 02")
        << QStringList{QString::number(flash[SimSensor::WordSerial], 16)};
    QTest::newRow("echo test") << Command::Ping << 247 << hex("08 00 00 AA 55")
                               << QStringList{"yes"};
    QTest::newRow("restart") << Command::Reset << 1 << hex("08 00 01 FF 00") << QStringList{"yes"};
    QTest::newRow("device identification")
        << Command::DeviceId << 1 << hex("2B 0E 01 00")
        << QStringList{"VendorName: Vendor", "ProductCode: P7", "MajorMinorRevision: 2.1"};
    QTest::newRow("coordinates") << Command::Coordinates << 1 << hex("04 00 00 00 05")
                                 << QStringList{"10", "-3.2", "ok", "?"};
    QTest::newRow("real pixels") << Command::PixelsReal << 1 << hex("04 20 01 00 05")
                                 << QStringList{"300.25", "65535", "ok", "?"};
    QTest::newRow("integer pixels") << Command::PixelsInteger << 1 << hex("04 20 00 00 03")
                                    << QStringList{"300", "65535", "ok", "?"};
    QTest::newRow("illumination X")
        << Command::IlluminationX << 1 << hex("10 10 06 00 03 06 00 00 00 01") + key << none;
    QTest::newRow("flash word read")
        << Command::ReadWord << 1 << hex("03 13 FA 00 02")
        << QStringList{QString::number(flash[SimSensor::WordFirmware], 16)};
    QTest::newRow("flash word write")
        << Command::WriteWord << 1 << hex("10 10 05 00 03 06 12 34 56 78") + key << none;
    QTest::newRow("checksum") << Command::Checksum << 1 << hex("04 00 07 00 01")
                              << QStringList{
                                     QString::asprintf("%.4X", SimSensor::flashChecksum(flash))};
}

void TestSensorCommands::command()
{
    QFETCH(Command, command);
    QFETCH(int, address);
    QFETCH(QByteArray, pdu);
    QFETCH(QStringList, expected);

    m_sensor.setAddress(quint8(address));
    m_host.address = address;

    QStringList result;
    const std::optional<QString> failure = runCatching(command, &result);
    QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
    QCOMPARE(result, expected);

    const QList<SimRequestRecord> seen = m_sensor.requestLog();
    QCOMPARE(seen.size(), 1);
    const QByteArray frame = withCrc(QByteArray(1, char(address)) + pdu);
    QCOMPARE(seen.first().request, frame);
    QCOMPARE(m_host.lines, LogLines({{sentLine(frame), LogSent},
                                     {receivedLine(seen.first().reply), LogReceived}}));
    QCOMPARE(m_host.busyCalls, kBusyOnOff);

    if (command == Command::WriteWord)
        QCOMPARE(m_sensor.word(kWriteAddress - 0x1000), kWriteValue);
}

void TestSensorCommands::failedCommand_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("ruleBroken"); // logged by the check and again by the engine

    const QString timeout = QStringLiteral("Таймаут");
    const QString refused = QStringLiteral("Ошибка - Ошибка устройства [код ошибки 4]");
    const QList<std::pair<const char *, Command>> commands{
        {"serial number", Command::Serial},
        {"echo test", Command::Ping},
        {"restart", Command::Reset},
        {"device identification", Command::DeviceId},
        {"coordinates", Command::Coordinates},
        {"real pixels", Command::PixelsReal},
        {"integer pixels", Command::PixelsInteger},
        {"illumination", Command::IlluminationX},
        {"flash word read", Command::ReadWord},
        {"flash word write", Command::WriteWord},
        {"checksum", Command::Checksum},
        {"checksum correction", Command::Correction},
        {"version", Command::Version},
    };
    for (const auto &[name, command] : commands) {
        QTest::addRow("%s, silent sensor", name)
            << command << SimFault::noReply() << timeout << false;
        QTest::addRow("%s, exception", name)
            << command << SimFault::exception(4) << refused << true;
    }
}

void TestSensorCommands::failedCommand()
{
    QFETCH(Command, command);
    QFETCH(SimFault, fault);
    QFETCH(QString, failure);
    QFETCH(bool, ruleBroken);

    m_sensor.addFault(fault);
    m_timeouts = {kSilentTimeoutMs, kSilentTimeoutMs};
    const quint32 wordBefore = m_sensor.word(kWriteAddress - 0x1000);

    QStringList result{QStringLiteral("untouched")};
    const std::optional<QString> thrown = runCatching(command, &result);
    QCOMPARE(thrown.value_or(QStringLiteral("<no failure>")), failure);
    QCOMPARE(result, QStringList{QStringLiteral("untouched")});
    QCOMPARE(m_engine->ReplyLen, 0);

    // The first request failed, so nothing followed it.
    QVERIFY(m_sensor.waitForRequests(1, 2000));
    QCOMPARE(m_sensor.requestCount(), 1);
    QCOMPARE(m_sensor.word(kWriteAddress - 0x1000), wordBefore);

    LogLines red{{failure, LogError}};
    if (ruleBroken)
        red.prepend({failure, LogError});
    QVERIFY(m_host.lines.size() >= red.size());
    QCOMPARE(m_host.lines.mid(m_host.lines.size() - red.size()), red);
    QCOMPARE(m_host.lines.first().mark, int(LogSent));
}

void TestSensorCommands::stopsAtFirstFailure_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QList<QByteArray>>("pdus"); // the requests sent, the last one failing

    const QByteArray crcRead = hex("04 00 07 00 01");
    const QByteArray realCrcRead = hex("03 13 FE 00 02");
    QTest::newRow("correction, checksum read fails")
        << Command::Correction << SimFault::noReply().onFunction(4) << QList<QByteArray>{crcRead};
    QTest::newRow("correction, computed checksum read fails")
        << Command::Correction << SimFault::noReply().onFunction(3)
        << QList<QByteArray>{crcRead, realCrcRead};
    QTest::newRow("correction, computed checksum refused")
        << Command::Correction << SimFault::exception(2).onFunction(3)
        << QList<QByteArray>{crcRead, realCrcRead};
    QTest::newRow("version, dimension read fails")
        << Command::Version << SimFault::noReply().onAddress(0x13FB)
        << QList<QByteArray>{hex("03 13 FA 00 02"), hex("03 13 FB 00 02")};
    QTest::newRow("version, processor read refused")
        << Command::Version << SimFault::exception(2).onAddress(0x13FC)
        << QList<QByteArray>{hex("03 13 FA 00 02"), hex("03 13 FB 00 02"), hex("03 13 FC 00 02")};
}

void TestSensorCommands::stopsAtFirstFailure()
{
    QFETCH(Command, command);
    QFETCH(SimFault, fault);
    QFETCH(QList<QByteArray>, pdus);

    m_sensor.setWord(SimSensor::WordCrcRequired, 0xDEAD);
    m_sensor.addFault(fault);
    m_timeouts = {kReplyTimeoutMs, kSilentTimeoutMs};

    QStringList result{QStringLiteral("untouched")};
    QVERIFY(runCatching(command, &result).has_value());
    QCOMPARE(result, QStringList{QStringLiteral("untouched")});

    QVERIFY(m_sensor.waitForRequests(int(pdus.size()), 2000));
    const QList<SimRequestRecord> seen = m_sensor.requestLog();
    QCOMPARE(seen.size(), pdus.size());
    for (qsizetype i = 0; i < pdus.size(); ++i)
        QCOMPARE(seen[i].request, withCrc(QByteArray(1, '\x01') + pdus[i]));
    // No write of the expected checksum went out.
    QCOMPARE(m_sensor.word(SimSensor::WordCrcRequired), quint32(0xDEAD));
}

void TestSensorCommands::assignAddress_data()
{
    QTest::addColumn<quint32>("serial");
    QTest::addColumn<int>("newAddress");
    QTest::addColumn<int>("start"); // the sensor's address before
    QTest::addColumn<int>("taken"); // the sensor's address afterwards
    QTest::addColumn<QString>("check"); // what the read at the new address tells

    const quint32 own = SimSensor::defaultFlash()[SimSensor::WordSerial];
    const QString ownText = SerialText(own);
    const QString otherText = SerialText(own ^ 0x00010000);
    QTest::newRow("own serial, 17") << own << 17 << 1 << 17
                                    << QStringLiteral("Датчик %1 отвечает по адресу 17").arg(ownText);
    QTest::newRow("own serial, 247") << own << 247 << 1 << 247
                                     << QStringLiteral("Датчик %1 отвечает по адресу 247").arg(ownText);
    QTest::newRow("other serial: nobody there") << (own ^ 0x00010000) << 17 << 1 << 1
                                                << QStringLiteral("Датчик %1 не отвечает по адресу 17").arg(otherText);
    QTest::newRow("other serial: another sensor there")
        << (own ^ 0x00010000) << 17 << 17 << 17
        << QStringLiteral("По адресу 17 отвечает датчик %1, а не %2").arg(ownText, otherText);
}

void TestSensorCommands::assignAddress()
{
    QFETCH(quint32, serial);
    QFETCH(int, newAddress);
    QFETCH(int, start);
    QFETCH(int, taken);
    QFETCH(QString, check);

    m_sensor.setAddress(quint8(start));
    m_host.address = 1;
    m_engine->ReplyLen = 42; // a broadcast leaves the last reply alone
    AssignAddress(*m_engine, serial, quint8(newAddress), kReplyTimeoutMs);

    QVERIFY(m_sensor.waitForRequests(1, 2000));
    const QByteArray frame =
        withCrc(hex("00 10 00 00 00 03 06 00") + char(newAddress) + be32(serial));
    QCOMPARE(m_sensor.requestLog().first().request, frame);
    QCOMPARE(m_host.lines, LogLines({{sentLine(frame), LogSent}}));
    QCOMPARE(m_engine->ReplyLen, 42);
    QCOMPARE(int(m_sensor.address()), taken);

    // The same broadcast, confirmed by one serial number read at the new address.
    m_sensor.setAddress(quint8(start));
    m_sensor.clearRequestLog();
    m_host.lines.clear();
    QList<int> moved;
    const AddressCheck result = AssignAddressChecked(*m_engine, serial, quint8(newAddress), kReplyTimeoutMs,
                                                     [&](int a) { moved.append(a); m_host.address = a; });
    QCOMPARE(moved, QList<int>{newAddress});
    QCOMPARE(AddressCheckText(result), check);
    QCOMPARE(result.confirmed(), serial == SimSensor::defaultFlash()[SimSensor::WordSerial]);
    QVERIFY(m_sensor.waitForRequests(2, 2000));
    const QList<SimRequestRecord> seen = m_sensor.requestLog();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[1].request.left(2), QByteArray(1, char(newAddress)) + '\x04');
    QCOMPARE(m_host.countOfKind(LogError), result.answered ? 0 : 1); // the engine's "Таймаут"
}

void TestSensorCommands::correctionCopiesComputedChecksum()
{
    // The expected checksum is wrong, as after an edit of a flash word.
    m_sensor.setWord(SimSensor::WordCrcRequired, 0xBEEF);
    m_sensor.setWord(0x10, 0x01020304);
    const quint16 computed = SimSensor::flashChecksum(m_sensor.flash());
    QVERIFY(computed != 0xBEEF);

    CorrectChecksum(*m_engine, m_timeouts);

    QCOMPARE(m_sensor.word(SimSensor::WordCrcActual), quint32(computed));
    QCOMPARE(m_sensor.word(SimSensor::WordCrcRequired), quint32(computed));
    const QList<SimRequestRecord> seen = m_sensor.requestLog();
    QCOMPARE(seen.size(), 3);
    const QByteArray key = QByteArray(1, char(SimSensor::FlashKeyHi)) + char(SimSensor::FlashKeyLo);
    QCOMPARE(seen[0].request, withCrc("01 04 00 07 00 01"));
    QCOMPARE(seen[1].request, withCrc("01 03 13 FE 00 02"));
    QCOMPARE(seen[2].request, withCrc(hex("01 10 13 FF 00 03 06") + be32(computed) + key));
    QCOMPARE(m_host.lines.size(), 6); // three frames sent, three received
}

int TestSensorCommands::search(ModbusMaster &engine, RecordingHost &host, qint32 timeoutMs)
{
    return SearchSensor(
        engine, timeoutMs,
        [&](int a) {
            host.address = a;
            m_addressesSet.append(a);
        },
        [&] { ++m_pumps; });
}

// Zero into the address word would leave the sensor unreachable: the command
// refuses it before anything is sent or logged; the front ends show the text.
void TestSensorCommands::zeroAddressWriteRefused()
{
    const quint32 before = m_sensor.word(AddressWordAddress - 0x1000);
    try {
        WriteFlashWord(*m_engine, AddressWordAddress, 0, m_timeouts.shortMs);
        QFAIL("a zero written into the address word was not refused");
    } catch (const EZeroAddressWrite &e) {
        QCOMPARE(e.text(), QStringLiteral("Данная ячейка отвечает за адрес прибора. Адрес не может быть нулевым."));
    }
    QCOMPARE(m_sensor.requestCount(), 0);
    QCOMPARE(m_host.lines, LogLines());
    QCOMPARE(m_sensor.word(AddressWordAddress - 0x1000), before);
}

void TestSensorCommands::searchFinds_data()
{
    QTest::addColumn<bool>("fast");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("sensorAddress");
    QTest::addColumn<QString>("foundLine");

    QTest::newRow("40 ms end, at 1") << false << kFindTimeoutMs << 1 << QStringLiteral("Найден по адресу 1 (0x01)");
    // With the fast end a probe timeout below the 40 ms silence finds it.
    QTest::newRow("fast end, at 1") << true << kFastFindTimeoutMs << 1
                                    << QStringLiteral("Найден по адресу 1 (0x01)");
    QTest::newRow("fast end, at 247") << true << kFastFindTimeoutMs << 247
                                      << QStringLiteral("Найден по адресу 247 (0xF7)");
}

void TestSensorCommands::searchFinds()
{
    QFETCH(bool, fast);
    QFETCH(int, timeoutMs);
    QFETCH(int, sensorAddress);
    QFETCH(QString, foundLine);

    m_port->FastReply = fast;
    m_sensor.setAddress(quint8(sensorAddress));
    m_host.address = 100;

    QCOMPARE(search(*m_engine, m_host, timeoutMs), sensorAddress);

    // Every address up to the sensor's was probed, in order, with the echo request.
    QList<int> probed;
    for (int a = 1; a <= sensorAddress; ++a)
        probed.append(a);
    QCOMPARE(m_addressesSet, probed);
    QCOMPARE(m_pumps, sensorAddress - 1);
    QCOMPARE(m_host.address, sensorAddress);
    // (Of the probes to silent addresses the line may have dropped one in its
    // purge before the next request, as searchFindsNothing says.)
    int previous = 0;
    for (const SimRequestRecord &r : m_sensor.requestLog()) {
        const int a = quint8(r.request.at(0));
        QVERIFY(a > previous && a <= sensorAddress);
        QCOMPARE(r.request, probeFrame(a));
        previous = a;
    }
    QCOMPARE(previous, sensorAddress);

    QCOMPARE(m_host.lines, LogLines({{QStringLiteral("Идёт поиск датчика..."), LogInfo},
                                     {foundLine, LogReceived}}));
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

void TestSensorCommands::searchFindsNothing()
{
    m_sensor.addFault(SimFault::noReply().onFunction(8).always());
    m_host.address = 42;

    QCOMPARE(search(*m_engine, m_host, kQuickFindTimeoutMs), 0);

    QCOMPARE(m_addressesSet.size(), 248);
    QCOMPARE(m_addressesSet.first(), 1);
    QCOMPARE(m_addressesSet[246], 247);
    QCOMPARE(m_addressesSet.last(), 42); // put back
    QCOMPARE(m_host.address, 42);
    // The probes reached the sensor in ascending order, the last one to 247. (A
    // probe may be missing: the link discards what the line has not taken yet
    // before each request, and a pseudo-terminal holds a frame until the far
    // end reads it.)
    QTRY_VERIFY_WITH_TIMEOUT(!m_sensor.requestLog().isEmpty() &&
                                 m_sensor.requestLog().last().request == probeFrame(247),
                             2000);
    int previous = 0;
    for (const SimRequestRecord &r : m_sensor.requestLog()) {
        const int a = quint8(r.request.at(0));
        QVERIFY(a > previous);
        QCOMPARE(r.request, probeFrame(a));
        previous = a;
    }
    QCOMPARE(m_host.lines, LogLines({{QStringLiteral("Идёт поиск датчика..."), LogInfo},
                                     {QStringLiteral("Ничего не найдено!"), LogError}}));
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

void TestSensorCommands::searchOnMissingPort()
{
    SerialLink missing;
    missing.SetPortName(QStringLiteral("/nonexistent-zart-dir/ttyZART0"));
    RecordingHost host;
    host.address = 9;
    ModbusMaster engine(missing, host);

    // The first probe cannot open the port: the search ends there, with the
    // link's text instead of the outcome line, and the address put back.
    QCOMPARE(search(engine, host, kQuickFindTimeoutMs), 0);
    QCOMPARE(m_addressesSet, QList<int>({1, 9}));
    QCOMPARE(host.address, 9);
    QCOMPARE(host.lines, LogLines({{QStringLiteral("Идёт поиск датчика..."), LogInfo},
                                   {QStringLiteral("Unable to open com port (Error: 2): "
                                                   "/nonexistent-zart-dir/ttyZART0: no such file or directory"),
                                    LogError}}));
    QCOMPARE(host.busyCalls, kBusyOnOff);
}

// A stop asked for while address 5 is probed: no further probe, the address
// back as before, the stop line in red.
void TestSensorCommands::searchStops()
{
    m_sensor.setAddress(200);
    m_host.address = 42;
    const int found = SearchSensor(
        *m_engine, kQuickFindTimeoutMs,
        [&](int a) {
            m_host.address = a;
            m_addressesSet.append(a);
        },
        {}, [&] { return m_addressesSet.size() >= 5; });

    QCOMPARE(found, SearchStopped);
    QCOMPARE(m_addressesSet, QList<int>({1, 2, 3, 4, 5, 42}));
    QCOMPARE(m_host.address, 42);
    QCOMPARE(m_host.lines, LogLines({{QStringLiteral("Идёт поиск датчика..."), LogInfo},
                                     {QStringLiteral("Остановлено пользователем"), LogError}}));
    QCOMPARE(m_host.busyCalls, kBusyOnOff);
}

void TestSensorCommands::searchIgnoresWrongEcho_data()
{
    QTest::addColumn<QByteArray>("wrongReply"); // PDU from the device at address 1

    QTest::newRow("data AA 54") << hex("08 00 00 AA 54");
    QTest::newRow("data swapped") << hex("08 00 00 55 AA");
    QTest::newRow("restart echo") << hex("08 00 01 FF 00");
}

void TestSensorCommands::searchIgnoresWrongEcho()
{
    QFETCH(QByteArray, wrongReply);

    // A device at address 1 that answers the echo with other data, and a sensor
    // at address 2 that echoes it properly.
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    ScriptedPeer peer(pty);
    peer.expectBytes(probeFrame(1))
        .write(withCrc(QByteArray(1, '\x01') + wrongReply))
        .expectBytes(probeFrame(2))
        .write(withCrc(QByteArray(1, '\x02') + hex("08 00 00 AA 55")));
    peer.start();

    SerialLink port;
    port.SetPortName(pty.slavePath());
    RecordingHost host;
    host.address = 50;
    ModbusMaster engine(port, host);

    const int found = search(engine, host, kFindTimeoutMs);
    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(found, 2);
    QCOMPARE(host.address, 2);
    // The wrong echo is a valid reply, so it leaves no red line either.
    QCOMPARE(host.lines, LogLines({{QStringLiteral("Идёт поиск датчика..."), LogInfo},
                                   {QStringLiteral("Найден по адресу 2 (0x02)"), LogReceived}}));
}

// A sensor whose port goes away and comes back under the same name (a USB
// adapter pulled out and put back behind its /dev/serial/by-id link): while it
// is gone every command fails with the link's text, and once it is back the
// same link works again without the port being picked anew.
void TestSensorCommands::portComesBackUnderItsName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString linkPath = dir.filePath(QStringLiteral("ttyZART"));
    testsim::SensorOnPty adapter;
    adapter.reset();
    QVERIFY2(adapter.start(linkPath), qPrintable(adapter.errorString()));

    SerialLink link;
    link.SetPortName(linkPath);
    link.FastReply = true;
    RecordingHost host;
    ModbusMaster engine(link, host);
    const quint32 serial = adapter.sensor.serial();
    QVERIFY(PingSensor(engine, kReplyTimeoutMs));

    adapter.stop();
    // The first command finds the device hung up, the next one finds no port.
    for (const QString &text : {QStringLiteral("PurgeComm function failed (Error: 5)"),
                                QStringLiteral("Unable to open com port (Error: 2): %1: no such file or directory")
                                    .arg(linkPath)}) {
        host.lines.clear();
        try {
            PingSensor(engine, kReplyTimeoutMs);
            QFAIL("a command on a port that has gone did not fail");
        } catch (const SerialLinkError &e) {
            QCOMPARE(e.text(), text);
        }
        QCOMPARE(host.lines, LogLines({{text, LogError}}));
        QVERIFY(!link.isOpen());
    }

    QVERIFY2(adapter.start(linkPath), qPrintable(adapter.errorString()));
    QVERIFY(PingSensor(engine, kReplyTimeoutMs));
    QCOMPARE(ReadSerialNumber(engine, kReplyTimeoutMs), serial);
    QVERIFY(adapter.sensor.waitForRequests(3, 2000)); // one before, two after
    QCOMPARE(adapter.sensor.requestCount(), 3);
    QCOMPARE(link.GetPortName(), linkPath);
}

QTEST_GUILESS_MAIN(TestSensorCommands)
#include "tst_sensorcommands.moc"
