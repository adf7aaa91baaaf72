#include "flash/DumpHistory.h"

#include "common/ZartError.h"
#include "flash/DumpFile.h"
#include "sensor/RegisterMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Tries n = 1, 2, ... until a name is free; a name taken by another process in
// the meantime is passed over as well, since the file is created exclusively.
constexpr int MaxTries = 10000;

QString errorText(const QFileDevice &file, const QString &fallback)
{
    const QString text = file.errorString();
    return file.error() != QFileDevice::NoError && !text.isEmpty() ? text : fallback;
}

void writeAll(QFile &file, const QByteArray &data)
{
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 n = file.write(data.constData() + written, data.size() - written);
        if (n <= 0)
            throw ZartError(errorText(file, QStringLiteral("Ошибка записи файла %1").arg(file.fileName())));
        written += n;
    }
}

// The history folder under dir, made when missing.
QDir historyDir(const QString &dir)
{
    const QString dirName = QString::fromUtf16(HistoryDirName);
    QDir history(dir);
    if (!history.mkpath(dirName) || !history.cd(dirName))
        throw ZartError(QStringLiteral("Не удалось создать папку %1")
                            .arg(QDir::toNativeSeparators(history.filePath(dirName))));
    return history;
}

} // namespace

QString HistoryFileName(const QString &stem, const QString &suffix, const QDateTime &modified,
                        int n)
{
    QString name = stem + u'-' + modified.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    if (n > 1)
        name += u'-' + QString::number(n);
    if (!suffix.isEmpty())
        name += u'.' + suffix;
    return name;
}

QString KeepInHistory(const QString &path, const QByteArray &newContent)
{
    // Only a file holds something to keep; anything else in the way (a folder)
    // fails where the new file is written, with its own reason.
    const QFileInfo info(path);
    if (!info.isFile())
        return {};

    QFile old(path);
    if (!old.open(QIODevice::ReadOnly))
        throw ZartError(errorText(old, path));
    const QByteArray content = old.readAll();
    if (old.error() != QFileDevice::NoError)
        throw ZartError(errorText(old, path));
    old.close();
    if (content == newContent)
        return {};

    const QDateTime modified = info.lastModified();
    const QString dirName = QString::fromUtf16(HistoryDirName);
    const QDir dir = historyDir(info.absolutePath());

    for (int n = 1; n <= MaxTries; ++n) {
        const QString name = HistoryFileName(info.completeBaseName(), info.suffix(), modified, n);
        QFile kept(dir.filePath(name));
        if (!kept.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (QFileInfo::exists(kept.fileName()))
                continue; // taken: the next suffix
            throw ZartError(errorText(kept, kept.fileName()));
        }
        try {
            writeAll(kept, content);
            // The copy carries the time of the content it keeps.
            kept.setFileTime(modified, QFileDevice::FileModificationTime);
            kept.setPermissions(info.permissions());
            kept.close();
            if (kept.error() != QFileDevice::NoError)
                throw ZartError(errorText(kept, kept.fileName()));
        } catch (const ZartError &) {
            kept.close();
            kept.remove();
            throw;
        }
        return dirName + u'/' + name;
    }
    throw ZartError(QStringLiteral("Не удалось подобрать имя файла в папке %1")
                        .arg(QDir::toNativeSeparators(dir.path())));
}

QString KeepAsFoundDump(const QString &dir, const FlashImage &image, const QDateTime &at)
{
    const QDir history = historyDir(dir);
    const QString stem = QString::asprintf("%.8X-asfound", unsigned(image[WordSerial]));
    const QByteArray content = DumpBytes(image);
    for (int n = 1; n <= MaxTries; ++n) {
        const QString name = HistoryFileName(stem, QStringLiteral("dmp"), at, n);
        const QString target = history.filePath(name);
        if (QFileInfo::exists(target))
            continue;
        // The part file is created exclusively as well: one left by another
        // writer of the same name is not taken over.
        QFile part(history.filePath(u'.' + name + QStringLiteral(".part")));
        if (!part.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (QFileInfo::exists(part.fileName()))
                continue;
            throw ZartError(errorText(part, part.fileName()));
        }
        try {
            writeAll(part, content);
            part.close();
            if (part.error() != QFileDevice::NoError)
                throw ZartError(errorText(part, part.fileName()));
        } catch (const ZartError &) {
            part.close();
            part.remove();
            throw;
        }
        // A rename never replaces a file that exists: the name taken meanwhile
        // by another writer is passed over.
        if (part.rename(target))
            return QString::fromUtf16(HistoryDirName) + u'/' + name;
        const QString failure = errorText(part, target);
        part.remove();
        if (!QFileInfo::exists(target))
            throw ZartError(failure);
    }
    throw ZartError(QStringLiteral("Не удалось подобрать имя файла в папке %1")
                        .arg(QDir::toNativeSeparators(history.path())));
}
