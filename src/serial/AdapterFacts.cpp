#include "AdapterFacts.h"

#include "PortNaming.h"
#include "SerialLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// One sysfs attribute, without its line end; nothing when it cannot be read.
std::optional<QString> attribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(256);
    if (bytes.isEmpty() && file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromUtf8(bytes).trimmed();
}

// The USB device a port's folder belongs to: the port itself (ttyUSB<n> of a
// usb-serial driver) sits two levels below it, an interface (ttyACM<n>) one.
QString usbDeviceFolder(const QString &portFolder)
{
    QDir dir(portFolder);
    for (int up = 0; up < 4; ++up) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor"))))
            return dir.path();
        if (!dir.cdUp())
            break;
    }
    return {};
}

int latencyTimer(const QString &portFolder)
{
    for (const QString &name : {QStringLiteral("latency_timer"), QStringLiteral("../latency_timer")}) {
        const QString path = QDir(portFolder).filePath(name);
        if (!QFileInfo::exists(path))
            continue;
        bool ok = false;
        const int ms = attribute(path).value_or(QString()).toInt(&ok);
        return ok && ms >= 0 ? ms : -1;
    }
    return -1;
}

} // namespace

std::optional<AdapterFacts> ReadAdapterFacts(const QString &devicePath, const QString &sysRoot)
{
    if (devicePath.isEmpty())
        return std::nullopt;
    // A /dev/serial/by-id link names the adapter by the device it leads to.
    const QString real = QFileInfo(devicePath).canonicalFilePath();
    const QString tty = QFileInfo(real.isEmpty() ? devicePath : real).fileName();
    if (tty.isEmpty())
        return std::nullopt;
    const QString port =
        QFileInfo(QDir(sysRoot).filePath(QStringLiteral("class/tty/%1/device").arg(tty))).canonicalFilePath();
    if (port.isEmpty())
        return std::nullopt;
    const QString usb = usbDeviceFolder(port);
    if (usb.isEmpty())
        return std::nullopt;
    const QDir usbDir(usb);
    const std::optional<QString> vendor = attribute(usbDir.filePath(QStringLiteral("idVendor")));
    const std::optional<QString> product = attribute(usbDir.filePath(QStringLiteral("idProduct")));
    if (!vendor || !product || vendor->isEmpty())
        return std::nullopt;

    AdapterFacts facts;
    facts.tty = tty;
    facts.vendorId = *vendor;
    facts.productId = *product;
    facts.manufacturer = attribute(usbDir.filePath(QStringLiteral("manufacturer"))).value_or(QString());
    facts.product = attribute(usbDir.filePath(QStringLiteral("product"))).value_or(QString());
    const QString driver = QFileInfo(QDir(port).filePath(QStringLiteral("driver"))).canonicalFilePath();
    facts.driver = driver.isEmpty() ? QString() : QFileInfo(driver).fileName();
    facts.latencyTimerMs = latencyTimer(port);
    return facts;
}

std::optional<AdapterFacts> AdapterFactsOf(SerialLink &link, const QString &sysRoot)
{
    const QString path = link.stablePath().isEmpty()
                             ? PortNaming::devicePathForPortName(link.GetPortName())
                             : link.stablePath();
    std::optional<AdapterFacts> facts = ReadAdapterFacts(path, sysRoot);
    if (facts)
        facts->lowLatency = link.device().lowLatency();
    return facts;
}
