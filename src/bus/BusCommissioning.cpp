#include "bus/BusCommissioning.h"

#include "flash/FlashPasses.h"
#include "modbus/ModbusMaster.h"
#include "sensor/HexField.h"
#include "sensor/RegisterMap.h"
#include "sensor/SensorCommands.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace {

bool InRange(int address)
{
    return address >= MinBusAddress && address <= MaxBusAddress;
}

const BusSensor *RowOf(const QList<BusSensor> &sensors, quint32 serial)
{
    for (const BusSensor &s : sensors)
        if (s.serial == serial)
            return &s;
    return nullptr;
}

// Where each serial number of the plan is now: its row's address, or 0 for one
// typed for a collision.
int CurrentAddress(const QList<BusSensor> &sensors, quint32 serial)
{
    const BusSensor *row = RowOf(sensors, serial);
    return row ? row->address : 0;
}

// The addresses a sensor will still hold whatever the plan does: a collision's
// (its sensors are not all known), a row without a serial number, and a sensor
// the plan leaves where it is.
QHash<int, QString> StayingAt(const QList<BusSensor> &sensors, const QList<Assignment> &plan)
{
    QHash<int, QString> staying;
    for (const BusSensor &s : sensors) {
        const bool moved = s.serial && std::any_of(plan.cbegin(), plan.cend(), [&](const Assignment &a) {
                               return a.serial == *s.serial && a.newAddress != s.address;
                           });
        if (moved)
            continue;
        staying.insert(s.address, s.serial ? QStringLiteral("датчиком %1").arg(SerialText(*s.serial))
                                           : QStringLiteral("датчиком без серийного номера"));
        if (s.mark == BusSensor::Mark::Conflict)
            staying.insert(s.address, QStringLiteral("датчиками с конфликтом адресов"));
    }
    return staying;
}

void Tell(const BusRecord &record, IBusHost &log, const Assignment &a)
{
    RecordedOperation op(record.record, log, record.context, RecordedKind::SetAddress, record.port,
                         a.newAddress);
    op.sensorSerial(a.serial);
    try {
        op.run([&] {
            if (a.state != Assignment::State::Done)
                throw ZartError(a.status);
        });
    } catch (const ZartError &) {
        // Kept as failed; the row says why.
    }
}

} // namespace

void ProposeFreeAddresses(const QList<BusSensor> &sensors, QList<Assignment> &plan)
{
    QSet<int> used;
    for (const BusSensor &s : sensors)
        used.insert(s.address);
    for (const Assignment &a : std::as_const(plan))
        used.insert(a.newAddress);
    int next = MinBusAddress;
    for (Assignment &a : plan) {
        if (a.newAddress != 0)
            continue;
        while (next <= MaxBusAddress && used.contains(next))
            ++next;
        if (next > MaxBusAddress)
            throw ZartError(QStringLiteral("Свободных адресов не осталось"));
        a.newAddress = next;
        used.insert(next);
    }
}

QStringList PlanRefusals(const QList<BusSensor> &sensors, const QList<Assignment> &plan)
{
    QStringList refusals;
    const bool collision = std::any_of(sensors.cbegin(), sensors.cend(), [](const BusSensor &s) {
        return s.mark == BusSensor::Mark::Conflict;
    });
    const QHash<int, QString> staying = StayingAt(sensors, plan);
    QHash<int, quint32> target;  // address -> the first serial number given it
    QSet<quint32> seen;
    for (const Assignment &a : plan) {
        const QString serial = SerialText(a.serial);
        if (!InRange(a.newAddress)) {
            refusals << QStringLiteral("Датчик %1: адрес %2 вне диапазона 1-247").arg(serial).arg(a.newAddress);
            continue;
        }
        if (seen.contains(a.serial)) {
            refusals << QStringLiteral("Датчик %1 назначен дважды").arg(serial);
            continue;
        }
        seen.insert(a.serial);
        if (const auto other = target.constFind(a.newAddress); other != target.cend()) {
            refusals << QStringLiteral("Адрес %1 назначен двум датчикам: %2 и %3")
                            .arg(a.newAddress)
                            .arg(SerialText(*other), serial);
            continue;
        }
        target.insert(a.newAddress, a.serial);
        const int rows = int(std::count_if(sensors.cbegin(), sensors.cend(),
                                           [&](const BusSensor &s) { return s.serial == a.serial; }));
        if (rows == 0 && !collision) {
            refusals << QStringLiteral("Датчик %1 не найден на линии").arg(serial);
            continue;
        }
        if (rows > 1) {
            refusals << QStringLiteral("Серийный номер %1 отвечает по нескольким адресам: по нему "
                                       "датчики не разделить")
                            .arg(serial);
            continue;
        }
        if (a.newAddress != CurrentAddress(sensors, a.serial) && staying.contains(a.newAddress))
            refusals << QStringLiteral("Датчик %1: адрес %2 занят %3")
                            .arg(serial)
                            .arg(a.newAddress)
                            .arg(staying.value(a.newAddress));
    }
    if (refusals.isEmpty() && AssignmentOrder(sensors, plan).size() < plan.size())
        refusals << QStringLiteral("Датчики меняются адресами по кругу: сначала дайте одному из них "
                                   "свободный адрес");
    return refusals;
}

QList<int> AssignmentOrder(const QList<BusSensor> &sensors, const QList<Assignment> &plan)
{
    // The addresses still held by a sensor of the plan that has not moved yet.
    QHash<int, int> heldBy; // address -> how many such sensors
    for (const Assignment &a : plan)
        if (const int from = CurrentAddress(sensors, a.serial); from != 0 && from != a.newAddress)
            ++heldBy[from];
    QList<int> order;
    QList<bool> sent(plan.size(), false);
    for (bool progress = true; progress;) {
        progress = false;
        for (int i = 0; i < plan.size(); ++i) {
            const Assignment &a = plan[i];
            const int from = CurrentAddress(sensors, a.serial);
            if (sent[i] || (a.newAddress != from && heldBy.value(a.newAddress) > 0))
                continue;
            sent[i] = true;
            order << i;
            if (from != 0 && from != a.newAddress)
                --heldBy[from];
            progress = true;
        }
    }
    return order; // shorter than the plan when moves go round in a circle
}

bool RunAssignments(ModbusMaster &engine, IOperationHost &opHost, const QList<BusSensor> &sensors,
                    QList<Assignment> &plan, qint32 timeoutMs,
                    const std::function<void(int)> &setAddress, const BusRecord &record)
{
    IBusHost &host = engine.host();
    const QStringList refusals = PlanRefusals(sensors, plan);
    if (!refusals.isEmpty()) {
        for (const QString &r : refusals)
            host.Log(r, LogError);
        return false;
    }
    const int saved = host.busAddress();
    opHost.progress(0);
    const QList<int> order = AssignmentOrder(sensors, plan);
    int done = 0;
    bool portGone = false;
    for (int n = 0; n < order.size(); ++n) {
        Assignment &a = plan[order[n]];
        if (portGone) {
            a.state = Assignment::State::Failed;
            a.status = QStringLiteral("не отправлено: порт недоступен");
            continue;
        }
        if (opHost.stopRequested()) {
            host.Log(QString::fromUtf16(StoppedText), LogError);
            break;
        }
        try {
            const AddressCheck check =
                AssignAddressChecked(engine, a.serial, quint8(a.newAddress), timeoutMs, setAddress);
            host.Log(AddressCheckText(check), check.confirmed() ? LogReceived : LogError);
            a.state = check.confirmed() ? Assignment::State::Done : Assignment::State::Failed;
            a.status = check.confirmed() ? AddressCheckText(check) : QString::fromUtf16(NotTakenText);
        } catch (const SerialLinkError &e) {
            a.state = Assignment::State::Failed;
            a.status = e.text();
            portGone = true;
        } catch (const ZartError &e) {
            a.state = Assignment::State::Failed; // logged by the engine
            a.status = e.text();
        }
        done += a.state == Assignment::State::Done ? 1 : 0;
        Tell(record, host, a);
        opHost.progress(int((n + 1) * 100 / order.size()));
        opHost.processEvents();
    }
    setAddress(saved);
    host.Log(QStringLiteral("Назначено адресов: %1 из %2").arg(done).arg(plan.size()),
             done == plan.size() ? LogInfo : LogError);
    return done == plan.size();
}

void ApplyAssignments(QList<BusSensor> &sensors, const QList<Assignment> &plan)
{
    for (const Assignment &a : plan) {
        if (a.state == Assignment::State::Failed) {
            for (BusSensor &s : sensors)
                if (s.serial == a.serial)
                    s.status = a.status;
        }
        if (a.state != Assignment::State::Done)
            continue;
        auto row = std::find_if(sensors.begin(), sensors.end(),
                                [&](const BusSensor &s) { return s.serial == a.serial; });
        if (row == sensors.end()) {
            BusSensor moved;
            moved.serial = a.serial;
            moved.status = a.status;
            row = sensors.insert(sensors.end(), moved);
        }
        row->address = a.newAddress;
        row->status = a.status;
    }
    std::stable_sort(sensors.begin(), sensors.end(),
                     [](const BusSensor &x, const BusSensor &y) { return x.address < y.address; });
}

std::optional<Assignment> ParseAssignment(const QString &text)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    const QString serialText = eq < 0 ? text : text.left(eq);
    const HexFieldValue serial = ReadHexField(serialText);
    if (serialText.isEmpty() || !serial.complete)
        return std::nullopt;
    Assignment a;
    a.serial = serial.value;
    if (eq >= 0) {
        bool ok = false;
        const QString addressText = text.mid(eq + 1);
        a.newAddress = addressText.toInt(&ok);
        if (!ok || addressText.startsWith(QLatin1Char('+')) || addressText.startsWith(QLatin1Char('-'))
            || !InRange(a.newAddress))
            return std::nullopt;
    }
    return a;
}
