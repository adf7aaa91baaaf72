#include "PortEnumeration.h"

#include "PortNaming.h"

#include <QSerialPortInfo>

#include <utility>

namespace {

std::function<QList<DeviceInfo>()> &provider()
{
    static std::function<QList<DeviceInfo>()> instance;
    return instance;
}

QList<DeviceInfo> systemDevices()
{
    QList<DeviceInfo> devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    devices.reserve(ports.size());
    for (const QSerialPortInfo &port : ports) {
        DeviceInfo info;
        info.deviceName = port.portName();
        info.description = port.description();
        info.hasDescription = !info.description.isEmpty();
        devices.append(std::move(info));
    }
    return devices;
}

} // namespace

QList<DeviceInfo> PresentSerialDevices()
{
    return provider() ? provider()() : systemDevices();
}

void setPortInfoProvider(std::function<QList<DeviceInfo>()> newProvider)
{
    provider() = std::move(newProvider);
}

bool ReadPortName(const DeviceInfo &device, QString &name, qint32 &number)
{
#ifdef Q_OS_WIN
    // Windows names its ports COMN itself; the name is kept as reported.
    number = PortNaming::comNumberOfName(device.deviceName);
    if (number <= 0)
        return false;
    name = device.deviceName;
    return true;
#else
    number = PortNaming::comNumberForDevice(device.deviceName);
    if (number <= 0)
        return false;
    name = PortNaming::comName(number);
    return true;
#endif
}

bool ReadDeviceDesc(const DeviceInfo &device, QString &description)
{
    if (!device.hasDescription)
        return false;
    description = device.description;
    return true;
}

bool ListComPorts(QList<PortEntry> &list, bool namesOnly, bool sorted,
                  const QList<DeviceInfo> &devices)
{
    list.clear();
    for (const DeviceInfo &device : devices) {
        QString name;
        qint32 number = 0;
        if (!ReadPortName(device, name, number))
            continue;
        QString description;
        PortEntry entry;
        entry.number = number;
        entry.text = !namesOnly && ReadDeviceDesc(device, description)
                         ? QStringLiteral("%1 - %2").arg(name, description)
                         : name;
        list.append(std::move(entry));
    }
    if (sorted) {
        // Exchange sort by number, compared as unsigned.
        for (qsizetype i = 0; i + 1 < list.size(); ++i) {
            for (qsizetype j = i + 1; j < list.size(); ++j) {
                if (quint32(list[i].number) > quint32(list[j].number))
                    std::swap(list[i], list[j]);
            }
        }
    }
    return true;
}

bool ListComPorts(QList<PortEntry> &list, bool namesOnly, bool sorted)
{
    return ListComPorts(list, namesOnly, sorted, PresentSerialDevices());
}
