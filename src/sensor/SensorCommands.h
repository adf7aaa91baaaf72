#pragma once

#include "modbus/ModbusMaster.h"
#include "sensor/SensorRequests.h"
#include "common/ZartError.h"

#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <optional>

// The sensor commands, each one run on the transaction engine. The window's
// handlers and the command-line verbs both call these, so a command's exchange
// exists once. A failed exchange has been logged in red by the engine and is
// thrown on as ZartError; the callers stop on it.

// The two reply timeouts of the settings: "Timeout" for the measurements and the
// checksum read, "TimeoutShort" for everything else.
struct CommandTimeouts
{
    qint32 longMs = 3000;
    qint32 shortMs = 300;
};

// logTraffic off: the frames are not logged (the reads of the bus inventory);
// a failure still is.
quint32 ReadSerialNumber(ModbusMaster &engine, qint32 timeoutMs, bool logTraffic = true);
bool PingSensor(ModbusMaster &engine, qint32 timeoutMs);
bool ResetSensor(ModbusMaster &engine, qint32 timeoutMs);
QStringList ReadDeviceIdentification(ModbusMaster &engine, qint32 timeoutMs,
                                     bool logTraffic = true);
// Broadcast: the sensor whose serial number is `serial` takes `newAddress`; no reply.
void AssignAddress(ModbusMaster &engine, quint32 serial, quint8 newAddress, qint32 timeoutMs);

// What answered at the new address after AssignAddress: the serial number read
// there, or none when nothing did.
struct AddressCheck
{
    quint32 serial = 0;
    int address = 0;
    std::optional<quint32> answered;
    bool confirmed() const { return answered && *answered == serial; }
};
// "Датчик 0012AB7F отвечает по адресу 5" when confirmed; else "Датчик 0012AB7F
// не отвечает по адресу 5", or "По адресу 5 отвечает датчик 00ABCDEF, а не 0012AB7F".
QString AddressCheckText(const AddressCheck &check);
// The wait after a broadcast before the next request (the Modbus turnaround
// delay): the frame leaves the line and the sensor stores its new address.
inline constexpr int BroadcastTurnaroundMs = 200;
// AssignAddress, the turnaround wait, then one serial number read at newAddress
// (setAddress moves the host's bus address there and leaves it) with the same timeout. A read that
// fails (logged by the engine) is no answer; a port failure is thrown on.
AddressCheck AssignAddressChecked(ModbusMaster &engine, quint32 serial, quint8 newAddress,
                                  qint32 timeoutMs, const std::function<void(int)> &setAddress);

// logTraffic off: the frames are not logged (readings repeated again and again).
MeasurementTexts ReadCoordinates(ModbusMaster &engine, qint32 timeoutMs, bool logTraffic = true);
MeasurementTexts ReadPixels(ModbusMaster &engine, bool floatPix, qint32 timeoutMs,
                            bool logTraffic = true);
// The reading of the watch and the spot view: coordinates, or pixels in the
// form floatPix chooses.
enum class MeasureKind { Coordinates, Pixels };
MeasurementTexts ReadMeasurement(ModbusMaster &engine, MeasureKind kind, bool floatPix,
                                 qint32 timeoutMs, bool logTraffic = true);
// Illumination code 0 off, 1 X, 2 Y (IlluminationCode()).
void SetIllumination(ModbusMaster &engine, quint8 code, qint32 timeoutMs);

quint32 ReadFlashWord(ModbusMaster &engine, quint16 address, qint32 timeoutMs,
                      bool logTraffic = true);
// Refuses a write that would leave the sensor without a bus address
// (IsZeroAddressWrite) with EZeroAddressWrite, before anything is sent or logged.
void WriteFlashWord(ModbusMaster &engine, quint16 address, quint32 value, qint32 timeoutMs,
                    bool logTraffic = true);
class EZeroAddressWrite : public ZartError
{
public:
    EZeroAddressWrite();
};
// Four hexadecimal digits of the sensor's checksum.
QString ReadChecksum(ModbusMaster &engine, qint32 timeoutMs);
// Checksum read, then the computed checksum (word 0x3FE) copied into the
// expected one (word 0x3FF). Stops at the first failed request. Returns the
// value written.
quint32 CorrectChecksum(ModbusMaster &engine, const CommandTimeouts &timeouts);
// Firmware version, device dimension and processor lines; all three words are
// read before anything is returned.
QStringList ReadVersionLines(ModbusMaster &engine, qint32 timeoutMs);

// The red line of a long operation or a search that the user stopped.
inline constexpr char16_t StoppedText[] = u"Остановлено пользователем";
// SearchSensor's result when stopRequested said so.
inline constexpr int SearchStopped = -1;

// One probe of the search at the host's bus address: the diagnostics echo,
// quiet (ModbusMaster::Probe). answered when the reply has the request's
// length and echoes its data; failure says how an exchange without an echo
// went (ModbusMaster::LastFailure); portFailure is a port that cannot be
// opened or whose device has gone, unlogged.
struct ProbeOutcome
{
    bool answered = false;
    TransactFailure failure = TransactFailure::None;
    std::optional<SerialLinkError> portFailure;
};
ProbeOutcome ProbeSensor(ModbusMaster &engine, qint32 probeTimeoutMs);

// The bus search: probes the addresses 1 to 247 with the diagnostics echo and
// stops at the first that echoes it. setAddress makes the engine's host address
// the probed one (and shows it); pumpEvents runs between probes. Logs the start
// line and the outcome, restores the address when nothing answered, and keeps
// the busy cursor for the whole run. Returns the address found, 0 for none.
// Never throws for a missing sensor. A port that cannot be opened (or whose
// device has gone) ends the search at the first probe, with the link's text
// in red instead of the outcome line and the address restored. stopRequested
// is asked after every probe: when it says yes, the address is restored,
// StoppedText is logged in red and the result is SearchStopped.
int SearchSensor(ModbusMaster &engine, qint32 probeTimeoutMs,
                 const std::function<void(int)> &setAddress,
                 const std::function<void()> &pumpEvents,
                 const std::function<bool()> &stopRequested = {});
