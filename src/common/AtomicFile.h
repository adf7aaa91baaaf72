#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// The atomic replacement used for every file the tool writes: all of `data`, or
// nothing and a ZartError with the system's text. The data go to a new file
// beside the target, which is renamed over it only once completely written, so a
// failed write leaves the old file as it was.
void WriteFileAtomically(const QString &path, const QByteArray &data);

// The system's text of a file's last failure, or "Ошибка записи файла <name>"
// when the system gave none.
QString FileFailureText(const QFileDevice &file);
