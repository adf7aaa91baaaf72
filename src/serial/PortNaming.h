#pragma once

#include <QString>
#include <QtGlobal>

// Port names and COM numbers.
//
// The settings file stores a port by the number N of its name "COMN", and the
// port lists show "COMN". On Windows that is the system's own name. Elsewhere
// the serial devices are mapped to COM numbers by this fixed table, both ways
// (n = 0..99, no leading zeros):
//
//   device            COM name            numbers
//   /dev/ttyS<n>      COM<n + 1>          COM1   .. COM100
//   /dev/ttyUSB<n>    COM<n + 101>        COM101 .. COM200
//   /dev/ttyACM<n>    COM<n + 201>        COM201 .. COM300
//   /dev/ttyAMA<n>    COM<n + 301>        COM301 .. COM400
//
// Any other device has no COM number (it can still be opened by its path).
//
// A port name given to a link becomes a device path thus:
//   - a name beginning with '/' is a device path and is used as is
//     (a pseudo-terminal, a /dev/serial/by-id/... link);
//   - "COMN" (any letter case) is the device of number N in the table above
//     (on Windows, the device "\\.\COMN");
//   - any other name is taken as a device in /dev ("ttyUSB0" -> "/dev/ttyUSB0").

namespace PortNaming {

constexpr qint32 MaxComNumber = 400;

// COM number of a device ("ttyUSB0" or "/dev/ttyUSB0"); 0 when it has none.
qint32 comNumberForDevice(const QString &deviceName);

// Device path of a COM number ("/dev/ttyUSB0" for 101); empty when the number maps to none.
QString devicePathForComNumber(qint32 number);

// Number N of a name "COMN" (any letter case, N decimal without sign); 0 otherwise.
qint32 comNumberOfName(const QString &portName);

// "COMN".
QString comName(qint32 number);

// The device path a link opens for a port name; empty for an empty name
// or a COM number that maps to no device.
QString devicePathForPortName(const QString &portName);

// Stable names. A USB adapter may come back as another /dev/ttyUSB<n> after
// it is plugged in again, or two adapters may swap their numbers; udev names
// each one for good by a symbolic link in /dev/serial/by-id.
//
// The folder of those links: $ZART_SERIAL_BY_ID_DIR when set (tests use a
// folder of their own), else /dev/serial/by-id. Empty where there is none
// (Windows).
QString stableLinkDir();
// The link in dir that resolves to the same device as devicePath (the first
// by name); devicePath itself when it is such a link; empty when the device
// has none, dir does not exist or devicePath names nothing.
QString stableLinkFor(const QString &devicePath, const QString &dir = stableLinkDir());

} // namespace PortNaming
