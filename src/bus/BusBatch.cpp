#include "bus/BusBatch.h"

#include "flash/DumpFile.h"
#include "flash/FlashOperations.h"
#include "modbus/ModbusMaster.h"
#include "sensor/SensorRequests.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The caller's host for one sensor's operation, telling the sensor's own record.
class SensorOperationHost final : public IOperationHost
{
public:
    SensorOperationHost(IOperationHost &host, IOperationRecorder *recorder)
        : m_host(host), m_recorder(recorder)
    {
    }
    void progress(int percent) override { m_host.progress(percent); }
    void processEvents() override { m_host.processEvents(); }
    void pause(int ms) override { m_host.pause(ms); }
    void pauseUnlessStopped(int ms) override { m_host.pauseUnlessStopped(ms); }
    bool ask(const QString &question) override { return m_host.ask(question); }
    bool stopRequested() override { return m_host.stopRequested(); }
    int retries() const override { return m_host.retries(); }
    IOperationRecorder *recorder() override { return m_recorder; }

private:
    IOperationHost &m_host;
    IOperationRecorder *m_recorder;
};

// One sensor's work: returns the outcome's text; a failure leaves as ZartError
// (logged by the operation).
using SensorWork = std::function<QString(IOperationHost &, const BusSensor &, BatchOutcome &)>;

BatchResult RunBatch(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                     RecordedKind kind, const std::function<void(int)> &setAddress,
                     const BusRecord &record, const std::function<void(int, int)> &sensorStarted,
                     const SensorWork &work)
{
    IBusHost &log = engine.host();
    BusyScope busy(log);
    BatchResult result;
    QList<const BusSensor *> usable;
    for (const BusSensor &s : sensors) {
        if (s.usable())
            usable << &s;
        else
            log.Log(QStringLiteral("Адрес %1 пропущен: %2").arg(s.address).arg(s.status), LogError);
    }
    result.sensors = int(usable.size());
    const int saved = log.busAddress();
    for (const BusSensor *s : std::as_const(usable)) {
        if (opHost.stopRequested()) {
            result.stopped = true;
            break;
        }
        BatchOutcome outcome{s->address, *s->serial, false, 0, {}};
        setAddress(s->address);
        log.Log(QStringLiteral("Датчик %1, адрес %2").arg(SerialText(*s->serial)).arg(s->address), LogInfo);
        if (sensorStarted)
            sensorStarted(int(result.outcomes.size()), result.sensors);
        RecordedOperation op(record.record, log, record.context, kind, record.port, s->address);
        SensorOperationHost host(opHost, &op);
        try {
            outcome.text = op.run([&] { return work(host, *s, outcome); });
            outcome.ok = true;
        } catch (const EOperationStopped &e) {
            outcome.text = e.text();
            result.stopped = true;
        } catch (const ZartError &e) {
            outcome.text = e.text();
        }
        result.outcomes << outcome;
        if (result.stopped)
            break;
    }
    setAddress(saved);
    log.Log(BatchSummaryLine(result), result.failed() == 0 && !result.stopped ? LogInfo : LogError);
    return result;
}

} // namespace

int BatchResult::succeeded() const
{
    return int(std::count_if(outcomes.cbegin(), outcomes.cend(), [](const BatchOutcome &o) { return o.ok; }));
}

int BatchResult::failed() const
{
    return int(outcomes.size()) - succeeded();
}

QString BatchSummaryLine(const BatchResult &result)
{
    QString line = QStringLiteral("Датчиков: %1, успешно: %2, с ошибкой: %3")
                       .arg(result.sensors)
                       .arg(result.succeeded())
                       .arg(result.failed());
    if (const int left = result.sensors - int(result.outcomes.size()); left > 0)
        line += QStringLiteral(", не выполнено: %1").arg(left);
    return line;
}

QString LatestDumpPath(const QString &dir, quint32 serial)
{
    return QDir(dir).filePath(SerialText(serial) + QStringLiteral(".dmp"));
}

BatchResult DumpAll(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                    const BatchOptions &options, const std::function<void(int)> &setAddress,
                    const BusRecord &record, const std::function<void(int, int)> &sensorStarted)
{
    return RunBatch(engine, opHost, sensors, RecordedKind::Dump, setAddress, record, sensorStarted,
                    [&](IOperationHost &host, const BusSensor &, BatchOutcome &) {
                        const DumpFiles files = CreateDump(engine, host, options.dir,
                                                           options.timeoutShortMs, options.pauseMs);
                        return QDir::toNativeSeparators(files.dump);
                    });
}

BatchResult CompareAll(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                       const BatchOptions &options, const std::function<void(int)> &setAddress,
                       const BusRecord &record, const std::function<void(int, int)> &sensorStarted)
{
    return RunBatch(engine, opHost, sensors, RecordedKind::Compare, setAddress, record, sensorStarted,
                    [&](IOperationHost &host, const BusSensor &s, BatchOutcome &outcome) {
                        const QString path = LatestDumpPath(options.dir, *s.serial);
                        if (!QFileInfo::exists(path)) {
                            const QString text =
                                QStringLiteral("Нет дампа %1").arg(QDir::toNativeSeparators(path));
                            engine.host().Log(text, LogError);
                            throw EOperationFailed(text);
                        }
                        FlashImage image;
                        try {
                            image = ReadDumpFile(path);
                        } catch (const ZartError &e) {
                            engine.host().Log(e.text(), LogError);
                            throw EOperationFailed(e.text());
                        }
                        host.recorder()->fileUsed(path, FileUse::Read);
                        const FlashComparison comparison =
                            CompareFlash(engine, host, image, options.timeoutShortMs, options.pauseMs);
                        outcome.differences = comparison.counted();
                        return outcome.differences == 0
                                   ? QStringLiteral("Отличий нет")
                                   : QStringLiteral("Отличается слов: %1").arg(outcome.differences);
                    });
}
