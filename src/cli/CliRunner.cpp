#include "cli/CliRunner.h"

#include "cli/CliArguments.h"
#include "cli/CliConsole.h"

#include "report/ServiceReport.h"
#include "record/RecordLocation.h"
#include "picture/CalibrationPainter.h"
#include "picture/ShiftPainter.h"
#include "bus/BusBatch.h"
#include "bus/BusCommissioning.h"
#include "bus/BusInventory.h"
#include "flash/CalibrationGrid.h"
#include "flash/DumpComparison.h"
#include "flash/DumpFile.h"
#include "flash/FlashOperations.h"
#include "modbus/LineStatistics.h"
#include "modbus/ModbusMaster.h"
#include "record/RecordKeeper.h"
#include "sensor/HexField.h"
#include "sensor/ReadingStats.h"
#include "sensor/SensorCommands.h"
#include "serial/PortAccess.h"
#include "serial/SerialLink.h"

#include "demo/DemoSensor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <csignal>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

std::unique_ptr<SerialLink> makeLink(const CliEnvironment &env)
{
    return std::make_unique<SerialLink>(env.makeSerialDevice ? env.makeSerialDevice() : nullptr);
}

// A file a command reads, looked at before it is read: a failure names the
// file, where the system's text alone ("No such file or directory") does not.
void checkInputFile(const QString &path)
{
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path);
    if (!info.exists())
        throw ZartError(QStringLiteral("Файл %1 не найден").arg(name));
    if (info.isDir())
        throw ZartError(QStringLiteral("%1 - папка, а не файл").arg(name));
    if (!info.isReadable())
        throw ZartError(QStringLiteral("Нет доступа к файлу %1").arg(name));
}

// A dump file a command reads: as checkInputFile, and a wrong size names the
// file and the size a dump has (the core's text alone names neither).
void checkDumpFile(const QString &path)
{
    checkInputFile(path);
    const QString failure = DumpSizeFailure(QDir::toNativeSeparators(path), QFileInfo(path).size());
    if (!failure.isEmpty())
        throw ZartError(failure);
}

// Writes a picture to path by save; a failure names the file.
void savePicture(const QString &path, const std::function<void()> &save)
{
    try {
        save();
    } catch (const ZartError &e) {
        throw ZartError(QStringLiteral("Рисунок не записан в %1: %2").arg(QDir::toNativeSeparators(path), e.text()));
    }
}

// The seam of the long operations on the command line: the gauge as a progress
// line (on a terminal only), the pause as a sleep, the questions answered by --yes,
// the question about another sensor's serial number by --other-serial. Each
// question is logged with its answer, so the transcript shows what was decided;
// a No says which option would have answered Yes. A phase's gauge at 0 comes
// before its log line and shows nothing.
class CliOperationHost : public IOperationHost
{
public:
    CliOperationHost(CliConsole &console, const CliCommand &cmd, const CliEnvironment &env)
        : m_console(console), m_yes(cmd.yes), m_otherSerial(cmd.otherSerial),
          m_keepAddress(cmd.keepAddress), m_retries(cmd.retries),
          m_blockWords(cmd.blockWords), m_env(env)
    {
    }
    // The folder whose history/ keeps the flash as found (--as-found).
    CliOperationHost(CliConsole &console, const CliCommand &cmd, const CliEnvironment &env,
                     const QString &asFoundDir)
        : CliOperationHost(console, cmd, env)
    {
        if (cmd.asFound)
            m_asFoundDir = asFoundDir;
    }

    void progress(int percent) override
    {
        if (percent > 0)
            m_console.progress(QStringLiteral("%1 %2%").arg(m_console.lastInfoText(), QString::number(percent)));
    }
    void processEvents() override {}
    void pause(int ms) override { QThread::msleep(ulong(ms)); }
    void pauseUnlessStopped(int ms) override
    {
        constexpr int SliceMs = 10;
        const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
        while (!deadline.hasExpired() && !stopRequested())
            QThread::msleep(ulong(std::clamp<qint64>(deadline.remainingTime(), 1, SliceMs)));
    }
    bool ask(const QString &question) override { return answer(question, m_yes, "--yes"); }
    bool askOtherSerial(const QString &question) override
    {
        return answer(question, m_otherSerial, "--other-serial");
    }
    bool askNewAddress(const QString &question) override
    {
        if (!m_keepAddress)
            return ask(question);
        m_console.log(question + QStringLiteral(" Нет (--keep-address)"), LogInfo);
        return false;
    }
    bool stopRequested() override { return m_env.stopSignal && m_env.stopSignal() != 0; }
    int retries() const override { return m_retries; }
    int blockWords() const override { return m_blockWords; }
    QString asFoundDir() const override { return m_asFoundDir; }
    IOperationRecorder *recorder() override { return m_recorder; }
    void setRecorder(IOperationRecorder *recorder) { m_recorder = recorder; }

private:
    bool answer(const QString &question, bool yes, const char *option)
    {
        m_console.log(question
                          + (yes ? QStringLiteral(" Да")
                                 : QStringLiteral(" Нет (ответ «Да» даёт %1)").arg(QLatin1String(option))),
                      LogInfo);
        return yes;
    }

    CliConsole &m_console;
    bool m_yes;
    bool m_otherSerial;
    bool m_keepAddress;
    int m_retries;
    int m_blockWords;
    const CliEnvironment &m_env;
    QString m_asFoundDir;
    IOperationRecorder *m_recorder = nullptr;
};

class CliSession
{
public:
    CliSession(const CliCommand &cmd, CliConsole &console, QTextStream &out, const CliEnvironment &env)
        : m_cmd(cmd), m_console(console), m_out(out), m_env(env)
    {
        if (!cmd.noRecord)
            m_records.setLocation(RecordLocationOr(cmd.recordLocation, dataDir()));
    }

    int run();

private:
    int runCommand();
    int runPower();
    int runView();
    int runCompare();
    int runPlot();
    int runReport();
    int runVerify(ModbusMaster &engine, CliBusHost &host);
    int runHistory();
    // One operation on the sensor, recorded when it ends.
    RecordedOperation recorded(RecordedKind kind, CliBusHost &host)
    {
        return m_records.operation(host, kind, *m_link, host.busAddress());
    }
    int runWatch(ModbusMaster &engine);
    // The inventory of scan and assign; false (logged) when it was stopped.
    InventoryResult inventory(ModbusMaster &engine, CliBusHost &host);
    int runScan(ModbusMaster &engine, CliBusHost &host);
    // The record of the bus work: each sensor's operation goes in as it ends
    // (none with --no-record, or when the record cannot be opened: one red line).
    BusRecord busRecord(CliBusHost &host)
    {
        return {m_records.open(host), m_records.context(), m_link ? RecordPortName(*m_link) : QString()};
    }
    int runAssign(ModbusMaster &engine, CliBusHost &host);
    bool interrupted() const { return m_env.interrupted && m_env.interrupted(); }
    // 128 plus the number of the signal that stopped a long operation.
    int stoppedStatus() const
    {
        const int signal = m_env.stopSignal ? m_env.stopSignal() : 0;
        return 128 + (signal > 0 ? signal : SIGINT);
    }
    // Waits ms, in short slices, ending early when interrupted.
    void sleepUnlessInterrupted(int ms) const;
    int runOnDataPort();
    int runSensorVerb(ModbusMaster &engine, CliBusHost &host);

    CommandTimeouts timeouts() const { return {m_cmd.timeoutMs, m_cmd.timeoutShortMs}; }
    // Where dump writes without a DIR: the environment's folder, else the current one.
    QString dataDir() const { return !m_env.dumpDir.isEmpty() ? m_env.dumpDir : QDir::currentPath(); }
    // The port's stable link on stderr, with --verbose only: scripts read
    // nothing new.
    void logStablePath(const SerialLink &link) const
    {
        if (const QString line = link.stablePathLine(); m_cmd.verbose && !line.isEmpty())
            m_console.log(line, LogInfo);
    }

    const CliCommand &m_cmd;
    CliConsole &m_console;
    QTextStream &m_out;
    const CliEnvironment &m_env;
    QStringList m_lineStatsLines; // --line-stats: what the data port saw
    RecordKeeper m_records;
    const SerialLink *m_link = nullptr; // the data port, while a verb runs on it
};

int CliSession::run()
{
    const int status = runCommand();
    // After everything else the command logged, its failure included.
    for (const QString &line : m_lineStatsLines)
        m_console.log(line, LogInfo);
    return status;
}

int CliSession::runCommand()
{
    try {
        switch (m_cmd.verb) {
        case CliVerb::Power: return runPower();
        case CliVerb::View: return runView();
        case CliVerb::Compare: return runCompare();
        case CliVerb::Plot: return runPlot();
        case CliVerb::Report: return runReport();
        case CliVerb::History: return runHistory();
        default: return runOnDataPort();
        }
    } catch (const EOperationStopped &) {
        m_console.clearProgress();
        return stoppedStatus(); // logged by the operation
    } catch (const EOperationFailed &) {
        // Logged by the operation, and followed there by where the sensor
        // stands: not repeated after those lines.
        m_console.clearProgress();
    } catch (const ZartError &e) {
        m_console.reportFailure(e.text(), PortAccessHint(e));
    } catch (const std::exception &e) {
        m_console.reportFailure(QString::fromLocal8Bit(e.what()));
    }
    return ExitFailed;
}

int CliSession::runPower()
{
    const std::unique_ptr<SerialLink> link = makeLink(m_env);
    link->SetPortName(m_cmd.powerPort);
    logStablePath(*link);
    link->open(); // an open failure is reported before the first request
    link->SetPower(m_cmd.powerOn);
    m_out << (m_cmd.powerOn ? QStringLiteral("Питание включено") : QStringLiteral("Питание выключено")) << '\n';
    return ExitOk;
}

int CliSession::runView()
{
    checkDumpFile(m_cmd.path);
    const FlashImage image = ReadDumpFile(m_cmd.path);
    for (const QStringList &row : DumpViewRows(image))
        m_out << row.join(QLatin1Char('\t')) << '\n';
    return ExitOk;
}

int CliSession::runCompare()
{
    checkDumpFile(m_cmd.path);
    checkDumpFile(m_cmd.secondPath);
    const FlashImage first = ReadDumpFile(m_cmd.path);
    const FlashImage second = ReadDumpFile(m_cmd.secondPath);
    if (!m_cmd.picturePath.isEmpty())
        savePicture(m_cmd.picturePath, [&] {
            SaveShiftPicture(ShiftPainter(first, m_cmd.path, second, m_cmd.secondPath), m_cmd.picturePath);
        });
    for (const QString &line : DumpComparisonLines(CompareDumps(first, second)))
        m_out << line << '\n';
    return ExitOk;
}

int CliSession::runPlot()
{
    CalibrationGrid grid;
    try {
        checkInputFile(m_cmd.path);
        grid = ReadCalibrationFile(m_cmd.path);
    } catch (const ZartError &e) {
        m_console.log(e.text(), LogError);
        return ExitUsage; // a file that cannot be drawn is bad input
    }
    savePicture(m_cmd.picturePath, [&] { SaveCalibrationPicture(grid, m_cmd.picturePath); });
    for (const QString &line : MarkedPointLines(grid, CheckCalibration(grid)))
        m_out << line << '\n';
    return ExitOk;
}

int CliSession::runReport()
{
    // The record is read, never made here: a path that names no file is
    // refused rather than answered from a new, empty record.
    const QString location = m_records.location();
    const RecordLocation where = ParseRecordLocation(location);
    if (!where.server && !QFileInfo::exists(where.path))
        throw ZartError(QStringLiteral("Журнал обслуживания %1 не найден").arg(where.display));
    ServiceRecord record(location);
    QDateTime since = m_cmd.since;
    if (!since.isValid())
        since = record.lastReport(m_cmd.serial).value_or(QDateTime());
    const ServiceReportFiles files =
        MakeServiceReport(record, m_cmd.serial, since, m_cmd.path, CurrentRecordContext());
    m_console.log(QStringLiteral("Протокол обслуживания № %1 составлен").arg(files.number), LogInfo);
    m_out << QDir::toNativeSeparators(files.pdf) << '\n' << QDir::toNativeSeparators(files.json) << '\n';
    return ExitOk;
}

int CliSession::runHistory()
{
    HistoryFilter filter;
    if (m_cmd.historySerialGiven)
        filter.serial = m_cmd.serial;
    filter.since = m_cmd.since;
    if (m_records.fileMissing())
        m_console.log(QStringLiteral("Журнал обслуживания %1 ещё не создан")
                          .arg(QDir::toNativeSeparators(m_records.location())),
                      LogInfo);
    const QList<OperationEntry> entries = m_records.history(filter, m_cmd.csv);
    if (m_cmd.csv) {
        m_out << QString::fromUtf8(HistoryCsv(entries));
    } else {
        for (const QString &line : HistoryLines(entries))
            m_out << line << '\n';
    }
    return ExitOk;
}

int CliSession::runVerify(ModbusMaster &engine, CliBusHost &host)
{
    // A file that is not a dump fails as it does for restore; nothing has been sent.
    checkDumpFile(m_cmd.path);
    const FlashImage image = ReadDumpFile(m_cmd.path);
    CliOperationHost op(m_console, m_cmd, m_env);
    RecordedOperation record = recorded(RecordedKind::Compare, host);
    op.setRecorder(&record);
    const FlashComparison result = record.run([&] {
        const FlashComparison compared =
            CompareFlash(engine, op, image, m_cmd.timeoutShortMs, m_cmd.pauseMs);
        TellComparison(record, m_cmd.path, compared);
        return compared;
    });
    m_console.clearProgress();
    for (const WordDifference &d : result.differences)
        m_out << DifferenceLine(d) << '\n';
    return result.counted() == 0 ? ExitOk : ExitFailed;
}

void CliSession::sleepUnlessInterrupted(int ms) const
{
    constexpr int SliceMs = 20;
    const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    while (!interrupted() && !deadline.hasExpired())
        QThread::msleep(ulong(std::min<qint64>(SliceMs, std::max<qint64>(1, deadline.remainingTime()))));
}

int CliSession::runWatch(ModbusMaster &engine)
{
    const CliCommand &c = m_cmd;
    const MeasureKind kind = c.verb == CliVerb::Coords ? MeasureKind::Coordinates : MeasureKind::Pixels;
    ReadingStats xStats;
    ReadingStats yStats;
    // The summary comes however the watch ends: its count, a stop signal
    // (Ctrl+C, SIGTERM, SIGHUP) or a lost port.
    const auto finish = [&](int rc) {
        if (c.stats) {
            const bool coords = kind == MeasureKind::Coordinates;
            m_out << StatsLine(coords ? QStringLiteral("X") : QStringLiteral("nx"), xStats) << '\n'
                  << StatsLine(coords ? QStringLiteral("Y") : QStringLiteral("ny"), yStats) << '\n';
            m_out.flush();
        }
        return rc;
    };
    bool anyFailed = false;
    for (int n = 0; (c.count == 0 || n < c.count) && !interrupted(); ++n) {
        if (n > 0) {
            sleepUnlessInterrupted(c.intervalMs);
            if (interrupted())
                break;
        }
        try {
            const MeasurementTexts m = ReadMeasurement(engine, kind, c.floatPix, c.timeoutMs);
            m_out << WatchLine(QDateTime::currentDateTime(), m) << '\n';
            m_out.flush();
            xStats.add(m.xValue);
            yStats.add(m.yValue);
        } catch (const SerialLinkError &) {
            // The port is gone or cannot be opened: no later reading can do
            // better. The engine has logged the link's text.
            xStats.addFailure();
            yStats.addFailure();
            return finish(ExitFailed);
        } catch (const ZartError &) {
            anyFailed = true; // logged by the engine; the watch goes on
            xStats.addFailure();
            yStats.addFailure();
        }
    }
    return finish(c.count > 0 && anyFailed ? ExitFailed : ExitOk);
}

InventoryResult CliSession::inventory(ModbusMaster &engine, CliBusHost &host)
{
    CliOperationHost op(m_console, m_cmd, m_env);
    const InventoryOptions options{m_cmd.scanFrom, m_cmd.scanTo, m_cmd.findTimeoutMs, m_cmd.timeoutShortMs};
    InventoryResult result =
        RunInventory(engine, op, options, [&host](int a) { host.setBusAddress(a); }, busRecord(host));
    m_console.clearProgress();
    if (result.stopped)
        throw EOperationStopped(QString::fromUtf16(StoppedText));
    if (result.portFailed)
        throw EOperationFailed(QString());
    return result;
}

int CliSession::runScan(ModbusMaster &engine, CliBusHost &host)
{
    const CliCommand &c = m_cmd;
    const InventoryResult found = inventory(engine, host);
    if (c.csv) {
        m_out << QString::fromUtf8(InventoryCsv(found.sensors));
    } else {
        m_out << InventoryHeader().join(QLatin1Char('\t')) << '\n';
        for (const BusSensor &s : found.sensors)
            m_out << InventoryRow(s).join(QLatin1Char('\t')) << '\n';
    }
    m_out.flush();
    bool ok = !found.sensors.isEmpty() && found.conflicts() == 0
        && std::all_of(found.sensors.cbegin(), found.sensors.cend(), [](const BusSensor &s) { return s.usable(); });
    const auto batch = [&](const QString &dir, bool dump) {
        CliOperationHost op(m_console, c, m_env);
        const BatchOptions options{dir, c.timeoutShortMs, c.pauseMs};
        const auto setAddress = [&host](int a) { host.setBusAddress(a); };
        const BatchResult result = dump ? DumpAll(engine, op, found.sensors, options, setAddress, busRecord(host))
                                        : CompareAll(engine, op, found.sensors, options, setAddress, busRecord(host));
        m_console.clearProgress();
        for (const BatchOutcome &o : result.outcomes)
            m_out << o.address << '\t' << SerialText(o.serial) << '\t' << o.text << '\n';
        m_out.flush();
        if (result.stopped)
            throw EOperationStopped(QString::fromUtf16(StoppedText));
        ok = ok && result.failed() == 0
            && std::all_of(result.outcomes.cbegin(), result.outcomes.cend(),
                           [](const BatchOutcome &o) { return o.differences == 0; });
    };
    if (!c.dumpDir.isEmpty())
        batch(c.dumpDir, true);
    if (!c.verifyDir.isEmpty())
        batch(c.verifyDir, false);
    return ok ? ExitOk : ExitFailed;
}

int CliSession::runAssign(ModbusMaster &engine, CliBusHost &host)
{
    const InventoryResult found = inventory(engine, host);
    QList<Assignment> plan;
    for (const QString &text : m_cmd.assignments)
        plan << *ParseAssignment(text); // checked by the parser
    ProposeFreeAddresses(found.sensors, plan);
    CliOperationHost op(m_console, m_cmd, m_env);
    const bool ok = RunAssignments(engine, op, found.sensors, plan, m_cmd.timeoutShortMs,
                                   [&host](int a) { host.setBusAddress(a); }, busRecord(host));
    m_console.clearProgress();
    for (const Assignment &a : std::as_const(plan))
        if (a.state != Assignment::State::Pending)
            m_out << SerialText(a.serial) << '\t' << a.newAddress << '\t' << a.status << '\n';
    return ok ? ExitOk : ExitFailed;
}

int CliSession::runOnDataPort()
{
    // The simulated sensor outlives the link that talks to it.
    std::unique_ptr<DemoSensor> demo;
    QString portName = m_cmd.port;
    if (m_cmd.demo) {
        demo = std::make_unique<DemoSensor>(0.0f, DemoLine{qMax(1, m_cmd.demoSensors), m_cmd.demoCollide});
        QString error;
        if (!demo->start(&error)) {
            m_console.log(error, LogError);
            return ExitFailed;
        }
        portName = demo->devicePath();
    }

    // Declared after the simulated sensor, the link goes first.
    // The parser has made sure that a port is named (or the simulated one runs).
    const std::unique_ptr<SerialLink> link = makeLink(m_env);
    link->SetPortName(portName);
    logStablePath(*link);
    link->SetSpeed(m_cmd.speed); // the link is closed: the rate applies when it opens
    link->FastReply = m_cmd.fastReply;

    // With --line-stats the statistics are taken however the command ends,
    // while the link still tells how its port is set up.
    LineStatistics stats;
    struct TakeLines
    {
        bool wanted;
        QStringList &lines;
        const LineStatistics &stats;
        SerialLink &link;
        ~TakeLines()
        {
            try {
                if (wanted)
                    lines = LineStatisticsLines(stats, link, /*withHistogram=*/true);
            } catch (...) {
                // Out of memory at the end: the command's own outcome stands.
            }
        }
    } takeLines{m_cmd.lineStats, m_lineStatsLines, stats, *link};

    link->open(); // an open failure is reported before the first request

    CliBusHost host(m_console, m_cmd.address);
    ModbusMaster engine(*link, host);
    engine.setStatistics(&stats);
    m_link = link.get();
    const int status = runSensorVerb(engine, host);
    m_link = nullptr;
    return status;
}

int CliSession::runSensorVerb(ModbusMaster &engine, CliBusHost &host)
{
    const CliCommand &c = m_cmd;
    switch (c.verb) {
    case CliVerb::Serial:
        m_out << SerialText(ReadSerialNumber(engine, c.timeoutShortMs)) << '\n';
        return ExitOk;
    case CliVerb::Ping: {
        const bool ok = PingSensor(engine, c.timeoutShortMs);
        m_out << ResultText(ok) << '\n';
        return ok ? ExitOk : ExitFailed;
    }
    case CliVerb::Reset: {
        const bool ok = ResetSensor(engine, c.timeoutShortMs);
        m_out << ResultText(ok) << '\n';
        return ok ? ExitOk : ExitFailed;
    }
    case CliVerb::DevId:
        for (const QString &line : ReadDeviceIdentification(engine, c.timeoutShortMs))
            m_out << line << '\n';
        return ExitOk;
    case CliVerb::SetAddress: {
        RecordedOperation record = recorded(RecordedKind::SetAddress, host);
        record.sensorSerial(c.serial);
        record.setBusAddress(c.newAddress);
        const AddressCheck check = record.run([&] {
            const AddressCheck checked = AssignAddressChecked(
                engine, c.serial, c.newAddress, c.timeoutShortMs, [&host](int a) { host.setBusAddress(a); });
            if (!checked.confirmed())
                record.endedAs(RecordedResult::Failed, AddressCheckText(checked));
            return checked;
        });
        if (!check.confirmed()) {
            m_console.log(AddressCheckText(check), LogError);
            return ExitFailed;
        }
        m_out << AddressCheckText(check) << '\n';
        return ExitOk;
    }
    case CliVerb::Coords:
    case CliVerb::Pixels: {
        if (c.watch)
            return runWatch(engine);
        const MeasurementTexts m = c.verb == CliVerb::Coords
                                       ? ReadCoordinates(engine, c.timeoutMs)
                                       : ReadPixels(engine, c.floatPix, c.timeoutMs);
        m_out << m.x << '\t' << m.y << '\t' << m.xStatus << '\t' << m.yStatus << '\n';
        return ExitOk;
    }
    case CliVerb::Light:
        SetIllumination(engine, c.lightCode, c.timeoutShortMs);
        m_out << (c.lightCode == 0 ? QStringLiteral("Освещение выключено")
                                   : QStringLiteral("Освещение %1 включено")
                                         .arg(QLatin1Char(c.lightCode == 1 ? 'X' : 'Y')))
              << '\n';
        return ExitOk;
    case CliVerb::ReadWord:
        m_out << WordText(ReadFlashWord(engine, c.wordAddress, c.timeoutShortMs)) << '\n';
        return ExitOk;
    case CliVerb::WriteWord: {
        RecordedOperation record = recorded(RecordedKind::WriteWord, host);
        record.run([&] {
            WriteFlashWord(engine, c.wordAddress, c.wordValue, c.timeoutShortMs);
            record.wordWritten(c.wordAddress, c.wordValue, std::nullopt);
        });
        m_out << QStringLiteral("Записано: %1 = %2")
                     .arg(QStringLiteral("%1").arg(c.wordAddress, 4, 16, QLatin1Char('0')).toUpper(),
                          WordText(c.wordValue))
              << '\n';
        return ExitOk;
    }
    case CliVerb::Crc:
        m_out << ReadChecksum(engine, c.timeoutMs) << '\n';
        return ExitOk;
    case CliVerb::CrcCorrect: {
        RecordedOperation record = recorded(RecordedKind::CorrectChecksum, host);
        record.run([&] {
            record.wordWritten(RequiredCrcAddress, CorrectChecksum(engine, timeouts()), std::nullopt);
        });
        m_out << QStringLiteral("CRC скорректирована") << '\n';
        return ExitOk;
    }
    case CliVerb::Version:
        for (const QString &line : ReadVersionLines(engine, c.timeoutShortMs))
            m_out << line << '\n';
        return ExitOk;
    case CliVerb::Search: {
        RecordedOperation record = recorded(RecordedKind::Search, host);
        const int found = record.run([&] {
            const int result = SearchSensor(
                engine, c.findTimeoutMs,
                [this, &host](int a) {
                    host.setBusAddress(a);
                    m_console.progress(QStringLiteral("Адрес %1").arg(a));
                },
                {}, [this] { return m_env.stopSignal && m_env.stopSignal() != 0; });
            TellSearchResult(record, result);
            return result;
        });
        m_console.clearProgress();
        if (found == SearchStopped)
            return stoppedStatus();
        if (found == 0)
            return ExitFailed;
        m_out << found << '\n';
        return ExitOk;
    }
    case CliVerb::Dump: {
        const QString dir = c.path.isEmpty() ? dataDir() : c.path;
        CliOperationHost op(m_console, c, m_env);
        RecordedOperation record = recorded(RecordedKind::Dump, host);
        op.setRecorder(&record);
        const DumpFiles files =
            record.run([&] { return CreateDump(engine, op, dir, c.timeoutShortMs, c.pauseMs); });
        m_console.clearProgress();
        m_out << QDir::toNativeSeparators(files.dump) << '\n'
              << QDir::toNativeSeparators(files.passport) << '\n'
              << QDir::toNativeSeparators(files.passportIni) << '\n';
        return ExitOk;
    }
    case CliVerb::Restore: {
        checkDumpFile(c.path);
        CliOperationHost op(m_console, c, m_env, dataDir());
        const auto setAddress = [&host](int a) { host.setBusAddress(a); };
        RecordedOperation record =
            recorded(c.differences ? RecordedKind::RestoreDifferences : RecordedKind::Restore, host);
        op.setRecorder(&record);
        record.run([&] {
            if (c.differences)
                RestoreDifferences(engine, op, c.path, timeouts(), c.pauseMs, setAddress);
            else
                RestoreDump(engine, op, c.path, timeouts(), c.pauseMs, setAddress);
        });
        return ExitOk;
    }
    case CliVerb::PassportRestore: {
        // The levels come from the passport.ini beside the passport when it
        // has the passport's section, else from the data folder's: where dump
        // writes by default.
        checkInputFile(c.path);
        const QString ini = QDir(dataDir()).filePath(QString::fromUtf16(PassportIniName));
        CliOperationHost op(m_console, c, m_env, dataDir());
        RecordedOperation record = recorded(RecordedKind::PassportRestore, host);
        op.setRecorder(&record);
        record.run([&] { RestorePassport(engine, op, c.path, ini, timeouts(), c.pauseMs); });
        return ExitOk;
    }
    case CliVerb::CalibrationRestore: {
        checkInputFile(c.path);
        CliOperationHost op(m_console, c, m_env, dataDir());
        RecordedOperation record = recorded(RecordedKind::CalibrationRestore, host);
        op.setRecorder(&record);
        record.run([&] { RestoreCalibration(engine, op, c.path, timeouts(), c.pauseMs); });
        return ExitOk;
    }
    case CliVerb::Verify:
        return runVerify(engine, host);
    case CliVerb::Scan:
        return runScan(engine, host);
    case CliVerb::Assign:
        return runAssign(engine, host);
    case CliVerb::Power:
    case CliVerb::View:
    case CliVerb::Compare:
    case CliVerb::Plot:
    case CliVerb::Report:
    case CliVerb::History:
        break; // run without the data port
    }
    return ExitUsage; // not reached: the parser knows every verb
}

} // namespace

CliProcessNeeds CliNeedsOf(const QStringList &args)
{
    try {
        const CliCommand cmd = ParseCliArguments(args);
        if (cmd.help)
            return {};
        return {!cmd.picturePath.isEmpty() || cmd.verb == CliVerb::Report, cmd.watch,
                cmd.isLongOperation()};
    } catch (const CliUsageError &) {
        return {};
    }
}

int RunCli(const QStringList &args, QTextStream &out, QTextStream &err, const CliEnvironment &env)
{
    CliCommand cmd;
    try {
        cmd = ParseCliArguments(args);
    } catch (const CliUsageError &e) {
        err << "zart-cli: " << e.text() << "\nTry 'zart-cli --help'.\n";
        err.flush();
        return ExitUsage;
    }
    if (cmd.help) {
        out << CliUsageText();
        out.flush();
        return ExitOk;
    }

    int result = ExitFailed;
    {
        CliConsole console(err, cmd.verbose, env.stderrIsTerminal);
        CliSession session(cmd, console, out, env);
        result = session.run();
    }
    out.flush();
    err.flush();
    return result;
}
