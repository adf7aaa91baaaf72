#pragma once

#include "SerialDevice.h"

#include <QString>
#include <optional>

class SerialLink;

// What the system tells of the USB serial adapter behind a port (Linux sysfs):
// the USB device's numbers and names, the driver, and the latency timer of an
// FTDI adapter, which holds a short reply back for up to that many
// milliseconds unless the driver's low-latency mode is on.
struct AdapterFacts
{
    QString tty;          // the port's device name: "ttyUSB0"
    QString vendorId;     // "0403"
    QString productId;    // "6001"
    QString manufacturer; // "FTDI"; empty when the adapter names none
    QString product;      // "FT232R USB UART"; empty when the adapter names none
    QString driver;       // "ftdi_sio"; empty when unknown
    int latencyTimerMs = -1; // -1: the adapter has no latency timer (or it cannot be read)
    ISerialDevice::LowLatency lowLatency = ISerialDevice::LowLatency::Unknown;
};

inline constexpr const char *SystemSysfsRoot = "/sys";

// The facts of the adapter behind devicePath (a /dev path, a /dev/serial/by-id
// link), read under sysRoot: <sysRoot>/class/tty/<name>/device leads to the
// port, the nearest folder above it with idVendor is the USB device. Nothing
// for a port that is no USB adapter (a built-in port, a pseudo-terminal) or
// whose entries cannot be read. The low-latency state is left Unknown.
std::optional<AdapterFacts> ReadAdapterFacts(const QString &devicePath,
                                             const QString &sysRoot = QString::fromLatin1(SystemSysfsRoot));

// The same for the port of a link, with the low-latency state of its device.
std::optional<AdapterFacts> AdapterFactsOf(SerialLink &link,
                                           const QString &sysRoot = QString::fromLatin1(SystemSysfsRoot));
