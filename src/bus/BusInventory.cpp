#include "bus/BusInventory.h"

#include "flash/FlashPasses.h"
#include "modbus/ModbusMaster.h"
#include "sensor/RegisterMap.h"
#include "sensor/SensorCommands.h"
#include "serial/PortAccess.h"

#include <QHash>

namespace {

// A reply that came, but garbled: what two transmitters at once leave on the line.
bool IsGarbled(TransactFailure failure)
{
    switch (failure) {
    case TransactFailure::Crc:
    case TransactFailure::Length:
    case TransactFailure::Incomplete:
    case TransactFailure::Other:
        return true;
    default:
        return false;
    }
}

// The value after "VendorName: " and the like in the identification's lines.
QString IdentificationValue(const QStringList &lines, QLatin1String prefix)
{
    for (const QString &line : lines)
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return {};
}

// Reads what the inventory shows of a sensor that echoed; the first failed read
// ends it (logged by the engine) and is kept in the row.
void ReadSensor(ModbusMaster &engine, BusSensor &row, qint32 timeoutMs, std::optional<quint32> &firmwareWord)
{
    QString what = QStringLiteral("серийного номера");
    try {
        row.serial = ReadSerialNumber(engine, timeoutMs, false);
        what = QStringLiteral("версии прошивки");
        firmwareWord = ReadFlashWord(engine, FirmwareVersionAddress, timeoutMs, false);
        row.firmware = QString::number(*firmwareWord & 0xFF);
        what = QStringLiteral("идентификации");
        const QStringList id = ReadDeviceIdentification(engine, timeoutMs, false);
        row.vendor = IdentificationValue(id, QLatin1String("VendorName: "));
        row.product = IdentificationValue(id, QLatin1String("ProductCode: "));
        row.revision = IdentificationValue(id, QLatin1String("MajorMinorRevision: "));
        row.status = QString::fromUtf16(FoundText);
    } catch (const SerialLinkError &) {
        throw;
    } catch (const ZartError &e) {
        row.mark = BusSensor::Mark::ReadFailed;
        row.status = ReadFailedText(what, e.text());
    }
}

void RecordSensor(const BusRecord &record, IBusHost &log, const BusSensor &row,
                  std::optional<quint32> firmwareWord)
{
    if (!record.record || !row.serial)
        return;
    RecordedOperation op(record.record, log, record.context, RecordedKind::Inventory, record.port,
                         row.address);
    op.sensorSerial(*row.serial);
    if (firmwareWord)
        op.firmwareVersion(*firmwareWord);
    try {
        op.run([&] {
            if (row.mark != BusSensor::Mark::Found)
                throw ZartError(row.status);
        });
    } catch (const ZartError &) {
        // Kept as failed; the table shows why.
    }
}

QByteArray CsvField(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

} // namespace

QString SameSerialText(quint32 serial, int otherAddress)
{
    return QStringLiteral("%1: серийный номер %2 и по адресу %3")
        .arg(QString::fromUtf16(ConflictText), SerialText(serial))
        .arg(otherAddress);
}

QString ReadFailedText(const QString &what, const QString &failure)
{
    return QStringLiteral("Ошибка чтения %1: %2").arg(what, failure);
}

int InventoryResult::conflicts() const
{
    return int(std::count_if(sensors.cbegin(), sensors.cend(),
                             [](const BusSensor &s) { return s.conflict(); }));
}

void MarkSameSerials(QList<BusSensor> &sensors)
{
    QHash<quint32, QList<int>> bySerial;
    for (int i = 0; i < sensors.size(); ++i)
        if (sensors[i].serial)
            bySerial[*sensors[i].serial].append(i);
    for (const QList<int> &rows : std::as_const(bySerial)) {
        if (rows.size() < 2)
            continue;
        for (int i : rows) {
            const int other = sensors[rows.first() == i ? rows[1] : rows.first()].address;
            sensors[i].mark = BusSensor::Mark::SameSerial;
            sensors[i].status = SameSerialText(*sensors[i].serial, other);
        }
    }
}

InventoryResult RunInventory(ModbusMaster &engine, IOperationHost &opHost, const InventoryOptions &options,
                             const std::function<void(int)> &setAddress, const BusRecord &record)
{
    IBusHost &host = engine.host();
    BusyScope busy(host);
    const int from = std::clamp(options.from, MinBusAddress, MaxBusAddress);
    const int to = std::clamp(options.to, from, MaxBusAddress);
    host.Log(QStringLiteral("Опрос шины: адреса %1-%2...").arg(from).arg(to), LogInfo);
    opHost.progress(0);

    const int saved = host.busAddress();
    InventoryResult result;
    QList<std::optional<quint32>> firmwareWords;
    for (int a = from; a <= to; ++a) {
        setAddress(a);
        ProbeOutcome probe = ProbeSensor(engine, options.probeTimeoutMs);
        for (int n = 1; n < ConflictProbes && !probe.answered && !probe.portFailure && IsGarbled(probe.failure); ++n)
            probe = ProbeSensor(engine, options.probeTimeoutMs);
        if (probe.portFailure) {
            host.Log(probe.portFailure->text(), LogError);
            if (const QString hint = PortAccessHint(*probe.portFailure); !hint.isEmpty())
                host.Log(hint, LogError);
            result.portFailed = true;
            break;
        }
        if (probe.answered || IsGarbled(probe.failure)) {
            BusSensor row;
            row.address = a;
            std::optional<quint32> firmwareWord;
            if (probe.answered) {
                try {
                    ReadSensor(engine, row, options.readTimeoutMs, firmwareWord);
                } catch (const SerialLinkError &) {
                    result.portFailed = true; // logged by the engine
                    break;
                }
            } else {
                row.mark = BusSensor::Mark::Conflict;
                row.status = QString::fromUtf16(ConflictText);
            }
            result.sensors.append(row);
            firmwareWords.append(firmwareWord);
        }
        opHost.progress(int((a - from + 1) * 100 / (to - from + 1)));
        opHost.processEvents();
        if (a < to && opHost.stopRequested()) {
            result.stopped = true;
            break;
        }
    }
    setAddress(saved);
    MarkSameSerials(result.sensors);
    for (int i = 0; i < result.sensors.size(); ++i)
        RecordSensor(record, host, result.sensors[i], firmwareWords[i]);

    if (result.stopped)
        host.Log(QString::fromUtf16(StoppedText), LogError);
    const int found = int(std::count_if(result.sensors.cbegin(), result.sensors.cend(),
                                        [](const BusSensor &s) { return s.mark != BusSensor::Mark::Conflict; }));
    host.Log(QStringLiteral("Найдено датчиков: %1").arg(found), found > 0 ? LogReceived : LogError);
    QStringList conflicts;
    for (const BusSensor &s : std::as_const(result.sensors))
        if (s.conflict() && !conflicts.contains(QString::number(s.address)))
            conflicts << QString::number(s.address);
    if (!conflicts.isEmpty())
        host.Log(QStringLiteral("Возможен конфликт адресов: %1").arg(conflicts.join(QStringLiteral(", "))),
                 LogError);
    return result;
}

QStringList InventoryHeader()
{
    return {QStringLiteral("Адрес"),   QStringLiteral("Серийный номер"), QStringLiteral("Прошивка"),
            QStringLiteral("Производитель"), QStringLiteral("Изделие"), QStringLiteral("Версия"),
            QStringLiteral("Состояние")};
}

QStringList InventoryRow(const BusSensor &sensor)
{
    return {QString::number(sensor.address),
            sensor.serial ? SerialText(*sensor.serial) : QString(),
            sensor.firmware,
            sensor.vendor,
            sensor.product,
            sensor.revision,
            sensor.status};
}

QByteArray InventoryCsv(const QList<BusSensor> &sensors)
{
    QByteArray out;
    const auto line = [&out](const QStringList &fields) {
        QByteArrayList encoded;
        for (const QString &f : fields)
            encoded << CsvField(f);
        out += encoded.join(',') + "\r\n";
    };
    line(InventoryHeader());
    for (const BusSensor &s : sensors)
        line(InventoryRow(s));
    return out;
}
