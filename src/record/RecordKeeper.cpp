#include "record/RecordKeeper.h"

#include "record/RecordLocation.h"

#include "flash/FlashOperations.h"
#include "modbus/ModbusMaster.h"
#include "sensor/SensorCommands.h"
#include "sensor/HexField.h"
#include "serial/PortNaming.h"
#include "serial/SerialLink.h"

#include <QDir>
#include <QFileInfo>

QString RecordLocationOr(const QString &given, const QString &dataDir)
{
    if (!given.trimmed().isEmpty())
        return given.trimmed();
    return QDir(dataDir).filePath(QString::fromUtf16(RecordFileName));
}

QString RecordPortName(const SerialLink &link)
{
    if (!link.stablePath().isEmpty())
        return link.stablePath();
    const QString device = PortNaming::devicePathForPortName(link.GetPortName());
    return device.isEmpty() ? link.GetPortName() : device;
}

RecordKeeper::RecordKeeper(RecordContext context) : m_context(std::move(context)) {}

RecordKeeper::~RecordKeeper() = default;

void RecordKeeper::setLocation(const QString &location)
{
    if (location == m_location)
        return;
    m_record.reset();
    m_location = location;
}

ServiceRecord &RecordKeeper::openOrThrow()
{
    if (m_location.isEmpty())
        throw RecordError(QStringLiteral("Журнал обслуживания не ведётся"));
    if (!m_record)
        m_record = std::make_unique<ServiceRecord>(m_location);
    return *m_record;
}

ServiceRecord *RecordKeeper::open(IBusHost &log)
{
    if (m_location.isEmpty())
        return nullptr;
    try {
        return &openOrThrow();
    } catch (const ZartError &e) {
        log.Log(e.text(), LogError);
    } catch (const std::exception &e) {
        log.Log(QStringLiteral("Журнал обслуживания не записан: ") + QString::fromLocal8Bit(e.what()),
                LogError);
    }
    return nullptr;
}

RecordedOperation RecordKeeper::operation(IBusHost &log, RecordedKind kind,
                                          const SerialLink &link, int busAddress)
{
    return RecordedOperation(
        [this, &log](OperationEntry &entry) {
            ServiceRecord *record = open(log);
            if (record)
                attributeSensor(entry, *record);
            return record;
        },
        log, m_context, kind, RecordPortName(link), busAddress);
}

void RecordKeeper::attributeSensor(OperationEntry &entry, ServiceRecord &record)
{
    // A single word write and a checksum correction read no serial number (the
    // record adds no request): they belong to the sensor the record last met
    // at that port and address, and the entry says so.
    const bool writes = entry.kind == RecordedKind::WriteWord || entry.kind == RecordedKind::CorrectChecksum;
    if (entry.serial || !writes)
        return;
    try {
        entry.serial = record.lastSensorAt(entry.port, entry.busAddress);
    } catch (const RecordError &) {
        return; // stored without the sensor; the store itself says what is wrong
    }
    if (entry.serial && entry.message.isEmpty())
        entry.message = QStringLiteral("Датчик - по предыдущей операции на этом адресе");
}

bool RecordKeeper::fileMissing() const
{
    if (m_location.isEmpty() || m_record)
        return false;
    try {
        const RecordLocation where = ParseRecordLocation(m_location);
        return !where.server && !QFileInfo::exists(where.path);
    } catch (const RecordError &) {
        return false; // refused when opened, with its reason
    }
}

QList<OperationEntry> RecordKeeper::history(const HistoryFilter &filter, bool details)
{
    if (fileMissing())
        return {};
    return openOrThrow().history(filter, details);
}

void TellSearchResult(RecordedOperation &operation, int found)
{
    if (found == SearchStopped)
        operation.endedAs(RecordedResult::Stopped, QString::fromUtf16(StoppedText));
    else if (found == 0)
        operation.endedAs(RecordedResult::Failed, QStringLiteral("Ничего не найдено!"));
    else
        operation.setBusAddress(found);
}

void TellComparison(RecordedOperation &operation, const QString &path,
                    const FlashComparison &comparison)
{
    operation.fileUsed(path, FileUse::Read);
    if (const int counted = comparison.counted(); counted > 0)
        operation.endedAs(RecordedResult::Failed,
                          QStringLiteral("Отличается слов: %1").arg(counted));
}

std::optional<QDateTime> ParseHistoryDate(const QString &text)
{
    const QString t = text.trimmed();
    if (const QDate day = QDate::fromString(t, Qt::ISODate); day.isValid() && t.size() == 10)
        return day.startOfDay();
    // A date and time: 'T' between them; without an offset it is local time.
    if (!t.contains(u'T'))
        return std::nullopt;
    const QDateTime at = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!at.isValid())
        return std::nullopt;
    return at;
}

std::optional<HistoryFilter> HistoryFilterOf(const QString &serialText, const QDate &from,
                                             const QDate &to)
{
    HistoryFilter filter;
    if (const QString serial = serialText.trimmed(); !serial.isEmpty()) {
        const HexFieldValue read = ReadHexField(serial);
        if (!read.complete)
            return std::nullopt;
        filter.serial = read.value;
    }
    if (from.isValid())
        filter.since = from.startOfDay();
    if (to.isValid())
        filter.until = to.endOfDay();
    return filter;
}
