#include "PortNaming.h"

#include <QDir>
#include <QFileInfo>

#include <array>
#include <limits>

namespace PortNaming {

namespace {

struct Family {
    const char *prefix; // device name without "/dev/"
    qint32 first;       // COM number of index 0
};

constexpr qint32 FamilySize = 100;
constexpr std::array<Family, 4> Families{{
    {"ttyS", 1},
    {"ttyUSB", 101},
    {"ttyACM", 201},
    {"ttyAMA", 301},
}};

// Decimal digits only, no sign, no leading zero (so that each number has one name);
// -1 when the text is not such a number or is too long to matter.
qint32 plainDecimal(QStringView text)
{
    if (text.isEmpty() || text.size() > 9)
        return -1;
    if (text.size() > 1 && text.front() == u'0')
        return -1;
    qint32 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

qint32 comNumberForDevice(const QString &deviceName)
{
#ifdef Q_OS_WIN
    return comNumberOfName(deviceName.startsWith(QLatin1String("\\\\.\\")) ? deviceName.mid(4)
                                                                            : deviceName);
#else
    QStringView name(deviceName);
    if (name.startsWith(u"/dev/"))
        name = name.mid(5);
    for (const Family &family : Families) {
        const QLatin1String prefix(family.prefix);
        if (!name.startsWith(prefix))
            continue;
        const qint32 index = plainDecimal(name.mid(prefix.size()));
        if (index >= 0 && index < FamilySize)
            return family.first + index;
    }
    return 0;
#endif
}

QString devicePathForComNumber(qint32 number)
{
    if (number < 1 || number > MaxComNumber)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(number);
#else
    for (const Family &family : Families) {
        if (number >= family.first && number < family.first + FamilySize)
            return QStringLiteral("/dev/%1%2").arg(QLatin1String(family.prefix)).arg(number - family.first);
    }
    return {};
#endif
}

qint32 comNumberOfName(const QString &portName)
{
    if (portName.size() < 4 || !portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return 0;
    const QStringView digits = QStringView(portName).mid(3);
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return 0;
    }
    bool ok = false;
    const uint value = digits.toUInt(&ok);
    return ok && value <= uint(std::numeric_limits<qint32>::max()) ? qint32(value) : 0;
}

QString comName(qint32 number)
{
    return QStringLiteral("COM%1").arg(number);
}

QString devicePathForPortName(const QString &portName)
{
    if (portName.isEmpty())
        return {};
#ifdef Q_OS_WIN
    if (portName.startsWith(QLatin1String("\\\\.\\")))
        return portName;
    return QStringLiteral("\\\\.\\") + portName;
#else
    if (portName.startsWith(u'/'))
        return portName;
    if (const qint32 number = comNumberOfName(portName))
        return devicePathForComNumber(number);
    return QStringLiteral("/dev/") + portName;
#endif
}

QString stableLinkDir()
{
#ifdef Q_OS_WIN
    return {};
#else
    const QString dir = qEnvironmentVariable("ZART_SERIAL_BY_ID_DIR");
    return dir.isEmpty() ? QStringLiteral("/dev/serial/by-id") : dir;
#endif
}

QString stableLinkFor(const QString &devicePath, const QString &dir)
{
    if (devicePath.isEmpty() || dir.isEmpty())
        return {};
    const QFileInfo device(devicePath);
    const QString target = device.canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QDir links(dir);
    if (!links.exists())
        return {};
    if (device.isSymLink() && QFileInfo(device.absolutePath()).canonicalFilePath() == QFileInfo(dir).canonicalFilePath())
        return devicePath;
    for (const QFileInfo &link : links.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return {};
}

} // namespace PortNaming
