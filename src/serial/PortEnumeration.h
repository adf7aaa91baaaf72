#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>

// One entry of a port list: "COM3 - <device description>" (or "COM3" alone)
// and the port's number, by which the settings file stores it.
struct PortEntry
{
    QString text;
    qint32 number = 0;
};

// A serial device as the platform reports it.
struct DeviceInfo
{
    QString deviceName;  // "ttyUSB0", "/dev/ttyS0"; "COM3" on Windows
    QString description; // meaningful only when hasDescription
    bool hasDescription = false;
};

// The serial devices present: QSerialPortInfo, unless a provider has been set.
QList<DeviceInfo> PresentSerialDevices();

// Replaces the list of present devices for the whole process (tests use it to
// simulate machines with other ports); an empty function restores QSerialPortInfo.
void setPortInfoProvider(std::function<QList<DeviceInfo>()> provider);

// Fills list with the ports present that have a COM number (PortNaming.h),
// each as "COMN - description", or "COMN" when namesOnly or without a
// description. With sorted, the entries are ordered by number (compared as
// unsigned). Entries are never merged. Returns false only when the devices
// could not be listed (the list is then empty).
bool ListComPorts(QList<PortEntry> &list, bool namesOnly, bool sorted);

// The same over a given device list.
bool ListComPorts(QList<PortEntry> &list, bool namesOnly, bool sorted,
                  const QList<DeviceInfo> &devices);

// Port name and number of one device; false when it has no COM number.
bool ReadPortName(const DeviceInfo &device, QString &name, qint32 &number);
// Description of one device; false when there is none.
bool ReadDeviceDesc(const DeviceInfo &device, QString &description);
