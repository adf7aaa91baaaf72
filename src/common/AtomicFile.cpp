#include "AtomicFile.h"

#include "ZartError.h"

#include <QFileDevice>
#include <QSaveFile>

QString FileFailureText(const QFileDevice &file)
{
    QString text = file.error() != QFileDevice::NoError ? file.errorString() : QString();
    if (text.isEmpty())
        text = QStringLiteral("Ошибка записи файла %1").arg(file.fileName());
    return text;
}

void WriteFileAtomically(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered: a buffered save file only meets a short write when it is flushed
    // at commit, and a flush that writes part of the buffer does not count as a
    // failure there, so a truncated file would replace the old one as a success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw ZartError(FileFailureText(file));
    // A short write is retried for the rest, which then fails with the system's
    // reason (no space left, file too large...).
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 n = file.write(data.constData() + written, data.size() - written);
        if (n <= 0) {
            const QString text = FileFailureText(file);
            file.cancelWriting();
            throw ZartError(text);
        }
        written += n;
    }
    if (!file.commit())
        throw ZartError(FileFailureText(file));
}
