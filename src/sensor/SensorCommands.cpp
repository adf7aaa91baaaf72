#include "sensor/SensorCommands.h"

#include "sensor/RegisterMap.h"

#include "modbus/ModbusMaster.h"
#include "sensor/HexField.h"
#include "serial/PortAccess.h"
#include "serial/SerialLink.h"

#include <QThread>

#include <algorithm>

namespace {

// Puts the PDU into the engine's request buffer and runs one exchange.
void run(ModbusMaster &engine, const RequestPdu &pdu, qint32 timeoutMs, bool noReply = false,
         bool logTraffic = true)
{
    const qint32 len = pdu.copyTo(engine.RequestBuf.data());
    engine.Transact(engine.RequestBuf.data(), len, timeoutMs, noReply, logTraffic);
}

// Decodes the reply. A reply the engine accepted but that is too short for the
// command is a failure like any other: logged in red, then thrown on.
template <typename Decoder>
auto decode(ModbusMaster &engine, Decoder &&decoder)
{
    try {
        return decoder(engine.ReplyBuf.data(), engine.ReplyLen);
    } catch (const ZartError &error) {
        engine.ReplyLen = 0;
        engine.host().Log(error.text(), LogError);
        throw;
    }
}

} // namespace

quint32 ReadSerialNumber(ModbusMaster &engine, qint32 timeoutMs, bool logTraffic)
{
    run(engine, RequestReadSerial(), timeoutMs, false, logTraffic);
    return decode(engine, DecodeSerial);
}

bool PingSensor(ModbusMaster &engine, qint32 timeoutMs)
{
    run(engine, RequestPing(), timeoutMs);
    return decode(engine, DecodePing);
}

bool ResetSensor(ModbusMaster &engine, qint32 timeoutMs)
{
    run(engine, RequestReset(), timeoutMs);
    return decode(engine, DecodeReset);
}

QStringList ReadDeviceIdentification(ModbusMaster &engine, qint32 timeoutMs, bool logTraffic)
{
    run(engine, RequestDeviceId(), timeoutMs, false, logTraffic);
    return decode(engine, DecodeDeviceId);
}

void AssignAddress(ModbusMaster &engine, quint32 serial, quint8 newAddress, qint32 timeoutMs)
{
    run(engine, RequestSetAddress(newAddress, serial), timeoutMs, /*noReply=*/true);
}

QString AddressCheckText(const AddressCheck &check)
{
    const QString serial = SerialText(check.serial);
    if (check.confirmed())
        return QStringLiteral("Датчик %1 отвечает по адресу %2").arg(serial).arg(check.address);
    if (!check.answered)
        return QStringLiteral("Датчик %1 не отвечает по адресу %2").arg(serial).arg(check.address);
    return QStringLiteral("По адресу %1 отвечает датчик %2, а не %3")
        .arg(check.address)
        .arg(SerialText(*check.answered), serial);
}

AddressCheck AssignAddressChecked(ModbusMaster &engine, quint32 serial, quint8 newAddress,
                                  qint32 timeoutMs, const std::function<void(int)> &setAddress)
{
    AssignAddress(engine, serial, newAddress, timeoutMs);
    // The broadcast must be out on the line, and taken by the sensor, before the
    // next request: the link clears what is still queued when it sends.
    QThread::msleep(ulong(BroadcastTurnaroundMs));
    AddressCheck check{serial, newAddress, std::nullopt};
    setAddress(newAddress);
    try {
        check.answered = ReadSerialNumber(engine, timeoutMs);
    } catch (const SerialLinkError &) {
        throw;
    } catch (const ZartError &) {
        // Logged by the engine: nothing answered there.
    }
    return check;
}

MeasurementTexts ReadCoordinates(ModbusMaster &engine, qint32 timeoutMs, bool logTraffic)
{
    run(engine, RequestReadCoordinates(), timeoutMs, false, logTraffic);
    return decode(engine, DecodeCoordinates);
}

MeasurementTexts ReadPixels(ModbusMaster &engine, bool floatPix, qint32 timeoutMs,
                            bool logTraffic)
{
    run(engine, RequestReadPixels(floatPix), timeoutMs, false, logTraffic);
    return decode(engine, [floatPix](const quint8 *reply, qint32 len) {
        return DecodePixels(reply, len, floatPix);
    });
}

MeasurementTexts ReadMeasurement(ModbusMaster &engine, MeasureKind kind, bool floatPix,
                                 qint32 timeoutMs, bool logTraffic)
{
    return kind == MeasureKind::Coordinates ? ReadCoordinates(engine, timeoutMs, logTraffic)
                                            : ReadPixels(engine, floatPix, timeoutMs, logTraffic);
}

void SetIllumination(ModbusMaster &engine, quint8 code, qint32 timeoutMs)
{
    run(engine, RequestIllumination(code), timeoutMs);
}

quint32 ReadFlashWord(ModbusMaster &engine, quint16 address, qint32 timeoutMs, bool logTraffic)
{
    run(engine, RequestReadFlashWord(address), timeoutMs, false, logTraffic);
    return decode(engine, DecodeWord);
}

EZeroAddressWrite::EZeroAddressWrite() : ZartError(QString::fromUtf16(ZeroAddressWriteText)) {}

void WriteFlashWord(ModbusMaster &engine, quint16 address, quint32 value, qint32 timeoutMs,
                    bool logTraffic)
{
    if (IsZeroAddressWrite(address, value))
        throw EZeroAddressWrite();
    run(engine, RequestWriteFlashWord(address, value), timeoutMs, false, logTraffic);
}

QString ReadChecksum(ModbusMaster &engine, qint32 timeoutMs)
{
    run(engine, RequestReadCrc(), timeoutMs);
    return decode(engine, DecodeCrc);
}

quint32 CorrectChecksum(ModbusMaster &engine, const CommandTimeouts &timeouts)
{
    // The read makes the sensor compute its checksum into word 0x3FE; its value
    // itself is not needed.
    run(engine, RequestReadCrc(), timeouts.longMs);
    const quint32 computed = ReadFlashWord(engine, RealCrcAddress, timeouts.shortMs);
    WriteFlashWord(engine, RequiredCrcAddress, computed, timeouts.shortMs);
    return computed;
}

QStringList ReadVersionLines(ModbusMaster &engine, qint32 timeoutMs)
{
    const quint32 version = ReadFlashWord(engine, FirmwareVersionAddress, timeoutMs);
    const quint32 dimension = ReadFlashWord(engine, DimensionAddress, timeoutMs);
    const quint32 cpu = ReadFlashWord(engine, CpuVersionAddress, timeoutMs);
    return VersionLines(version, dimension, cpu);
}

ProbeOutcome ProbeSensor(ModbusMaster &engine, qint32 probeTimeoutMs)
{
    const qint32 len = RequestPing().copyTo(engine.RequestBuf.data());
    ProbeOutcome outcome;
    outcome.portFailure = engine.Probe(engine.RequestBuf.data(), len, probeTimeoutMs);
    // Found when the reply has the request's length and echoes its data.
    outcome.answered = !outcome.portFailure && engine.ReplyLen == engine.RequestLen
        && std::equal(engine.ReplyBuf.begin() + 3, engine.ReplyBuf.begin() + engine.ReplyLen,
                      engine.RequestBuf.begin() + 3);
    outcome.failure = engine.LastFailure;
    return outcome;
}

int SearchSensor(ModbusMaster &engine, qint32 probeTimeoutMs,
                 const std::function<void(int)> &setAddress,
                 const std::function<void()> &pumpEvents,
                 const std::function<bool()> &stopRequested)
{
    IBusHost &host = engine.host();
    BusyScope busy(host);
    host.Log(QStringLiteral("Идёт поиск датчика..."), LogInfo);

    const int saved = host.busAddress();
    int found = 0;
    for (int a = MinBusAddress; a <= MaxBusAddress; ++a) {
        setAddress(a);
        const ProbeOutcome probe = ProbeSensor(engine, probeTimeoutMs);
        if (const std::optional<SerialLinkError> &portFailure = probe.portFailure) {
            // A port that cannot be opened ends the search at once: no address can answer.
            setAddress(saved);
            host.Log(portFailure->text(), LogError);
            if (const QString hint = PortAccessHint(*portFailure); !hint.isEmpty())
                host.Log(hint, LogError);
            return 0;
        }
        if (probe.answered) {
            found = a;
            break;
        }
        if (pumpEvents)
            pumpEvents();
        if (stopRequested && stopRequested()) {
            setAddress(saved);
            host.Log(QString::fromUtf16(StoppedText), LogError);
            return SearchStopped;
        }
    }

    if (found == 0) {
        setAddress(saved);
        host.Log(QStringLiteral("Ничего не найдено!"), LogError);
    } else {
        const QString hex = QString::number(found, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        host.Log(QStringLiteral("Найден по адресу %1 (0x%2)").arg(found).arg(hex), LogReceived);
    }
    return found;
}
