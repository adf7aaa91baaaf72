#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <exception>
#include <optional>

// The advice logged after a serial port that could not be opened because the
// user may not access it: on Linux, the device belongs to the group dialout,
// the user is not in it (and is not root), and the device is not open to all
// (DialoutAdvised). Empty for any other failure, a busy port included.
QString PortAccessHint(const std::exception &failure);

// Whether joining dialout is the advice for a device: its group is dialoutGid,
// the user (uid, with the groups userGroups) is neither root nor in that group,
// and the device's mode does not let everyone read and write it. False when the
// device cannot be looked at (missing).
bool DialoutAdvised(const QString &devicePath, uint dialoutGid, uint uid, const QList<uint> &userGroups);

// A process that holds a serial port.
struct PortHolder
{
    qint64 pid = 0;
    QString name; // the process's name, "?" when unknown
};

// The lock folders QSerialPort and the terminal programs use.
QStringList DefaultLockDirs();

// The process that holds devicePath, looked for in two places:
// 1. a UUCP lock file "LCK..<name>" in one of lockDirs, where <name> is the
//    device's path without "/dev/" and with '/' as '_' (LCK..ttyUSB0,
//    LCK..pts_3), for the path as given and for the device it leads to; its
//    first line holds the pid as text (QSerialPort writes it so, the terminal
//    programs as a padded number). A lock whose process does not exist in
//    procDir is stale and is passed over;
// 2. the open files of every process in procDir: a link <procDir>/<pid>/fd/N
//    to the device (the lowest pid that has one). Processes whose files cannot
//    be read (another user's) are passed over.
// The name is <procDir>/<pid>/comm, else the second line of the lock file.
// Nothing when no living holder is found.
std::optional<PortHolder> FindPortHolder(const QString &devicePath, const QString &procDir,
                                         const QStringList &lockDirs);

// "Порт /dev/ttyUSB0 занят: его держит процесс 1234 (minicom)".
QString PortBusyText(const QString &devicePath, const PortHolder &holder);

// For a port that could not be opened: the busy text when the user may read and
// write the device and a process holds it (FindPortHolder on /proc and the
// default lock folders); nothing otherwise (a missing device, no access: the
// system's reason tells those).
std::optional<QString> PortBusyFailure(const QString &devicePath);
