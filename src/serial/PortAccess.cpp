#include "PortAccess.h"

#include "SerialLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#ifndef Q_OS_WIN
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString DevPrefix = QStringLiteral("/dev/");

// The lock file's name for a device path, as QSerialPort forms it.
QString lockName(QString path)
{
    if (path.startsWith(DevPrefix))
        path.remove(0, DevPrefix.size());
    path.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + path;
}

QString firstLines(const QString &path, int count, QStringList *lines)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = f.read(256);
    *lines = QString::fromLocal8Bit(head).split(QLatin1Char('\n'));
    while (lines->size() < count)
        lines->append(QString());
    return lines->first();
}

bool processExists(const QString &procDir, qint64 pid)
{
    return pid > 0 && QFileInfo(QDir(procDir).filePath(QString::number(pid))).isDir();
}

QString processName(const QString &procDir, qint64 pid, const QString &fallback)
{
    QFile comm(QDir(procDir).filePath(QStringLiteral("%1/comm").arg(pid)));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.read(256)).trimmed();
    if (name.isEmpty())
        name = fallback.trimmed();
    return name.isEmpty() ? QStringLiteral("?") : name;
}

} // namespace

QString PortAccessHint(const std::exception &failure)
{
#ifdef Q_OS_WIN
    // Windows reports a port in use by another program as "access denied":
    // no group helps there.
    Q_UNUSED(failure);
    return {};
#else
    const auto *port = dynamic_cast<const SerialLinkError *>(&failure);
    if (!port || port->code() != TComExceptions::CE_OpenFailed || port->devicePath().isEmpty())
        return {};
    const group *dialout = ::getgrnam("dialout");
    if (!dialout)
        return {};
    const uint dialoutGid = uint(dialout->gr_gid);
    QList<uint> groups{uint(::getegid())};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> list(std::size_t(count), 0);
        const int got = ::getgroups(count, list.data());
        for (int i = 0; i < got; ++i)
            groups.append(uint(list[std::size_t(i)]));
    }
    if (!DialoutAdvised(port->devicePath(), dialoutGid, uint(::geteuid()), groups))
        return {};
    return QStringLiteral("Нет доступа к порту: пользователь должен входить в группу dialout "
                          "(sudo usermod -aG dialout $USER, затем войти заново)");
#endif
}

bool DialoutAdvised(const QString &devicePath, uint dialoutGid, uint uid, const QList<uint> &userGroups)
{
#ifdef Q_OS_WIN
    Q_UNUSED(devicePath);
    Q_UNUSED(dialoutGid);
    Q_UNUSED(uid);
    Q_UNUSED(userGroups);
    return false;
#else
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0)
        return false;
    const bool openToAll = (st.st_mode & S_IROTH) && (st.st_mode & S_IWOTH);
    return uint(st.st_gid) == dialoutGid && uid != 0 && !userGroups.contains(dialoutGid) && !openToAll;
#endif
}

QStringList DefaultLockDirs()
{
    return {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};
}

std::optional<PortHolder> FindPortHolder(const QString &devicePath, const QString &procDir,
                                         const QStringList &lockDirs)
{
    // The device itself, where the given path is a link to it (/dev/serial/by-id/...).
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    QStringList paths{devicePath};
    if (!canonical.isEmpty() && canonical != devicePath)
        paths.append(canonical);

    for (const QString &dir : lockDirs) {
        for (const QString &path : paths) {
            QStringList lines;
            const QString first = firstLines(QDir(dir).filePath(lockName(path)), 2, &lines);
            bool ok = false;
            const qint64 pid = first.simplified().section(QLatin1Char(' '), 0, 0).toLongLong(&ok);
            if (ok && processExists(procDir, pid))
                return PortHolder{pid, processName(procDir, pid, lines.at(1))};
        }
    }

    QList<qint64> pids;
    const QStringList entries = QDir(procDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    for (const qint64 pid : pids) {
        const QDir fdDir(QDir(procDir).filePath(QStringLiteral("%1/fd").arg(pid)));
        const QStringList fds = fdDir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            const QString target = QFileInfo(fdDir.filePath(fd)).symLinkTarget();
            if (!target.isEmpty() && paths.contains(target))
                return PortHolder{pid, processName(procDir, pid, QString())};
        }
    }
    return std::nullopt;
}

QString PortBusyText(const QString &devicePath, const PortHolder &holder)
{
    return QStringLiteral("Порт %1 занят: его держит процесс %2 (%3)").arg(devicePath).arg(holder.pid).arg(holder.name);
}

std::optional<QString> PortBusyFailure(const QString &devicePath)
{
#ifdef Q_OS_WIN
    Q_UNUSED(devicePath);
    return std::nullopt;
#else
    if (::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) != 0)
        return std::nullopt;
    const std::optional<PortHolder> holder =
        FindPortHolder(devicePath, QStringLiteral("/proc"), DefaultLockDirs());
    if (!holder)
        return std::nullopt;
    return PortBusyText(devicePath, *holder);
#endif
}
