#include "DumpFile.h"

#include "serial/ZartError.h"

#include <QFile>
#include <QSaveFile>

namespace {

const QString WrongSizeText = QStringLiteral("Размер файла неверен");

bool sizeAccepted(qint64 size)
{
    return size / 4 == FlashWords;
}

QString failureText(const QFileDevice &file)
{
    QString text = file.error() != QFileDevice::NoError ? file.errorString() : QString();
    if (text.isEmpty())
        text = QStringLiteral("Ошибка записи файла %1").arg(file.fileName());
    return text;
}

} // namespace

QByteArray DumpBytes(const FlashImage &image)
{
    QByteArray bytes(DumpFileSize, Qt::Uninitialized);
    for (int n = 0; n < FlashWords; ++n) {
        const quint32 w = image[std::size_t(n)];
        bytes[4 * n + 0] = char(w & 0xFF);
        bytes[4 * n + 1] = char((w >> 8) & 0xFF);
        bytes[4 * n + 2] = char((w >> 16) & 0xFF);
        bytes[4 * n + 3] = char((w >> 24) & 0xFF);
    }
    return bytes;
}

FlashImage ImageFromDump(const QByteArray &bytes)
{
    if (!sizeAccepted(bytes.size()))
        throw ZartError(WrongSizeText);
    FlashImage image{};
    const auto *p = reinterpret_cast<const quint8 *>(bytes.constData());
    for (int n = 0; n < FlashWords; ++n) {
        image[std::size_t(n)] = quint32(p[4 * n]) | (quint32(p[4 * n + 1]) << 8)
            | (quint32(p[4 * n + 2]) << 16) | (quint32(p[4 * n + 3]) << 24);
    }
    return image;
}

FlashImage ReadDumpFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ZartError(failureText(file));
    if (!sizeAccepted(file.size()))
        throw ZartError(WrongSizeText);
    const QByteArray bytes = file.read(DumpFileSize);
    if (bytes.size() != DumpFileSize) {
        // Shorter than the size said (the file changed meanwhile) or a read error.
        if (file.error() != QFileDevice::NoError)
            throw ZartError(failureText(file));
        throw ZartError(WrongSizeText);
    }
    return ImageFromDump(bytes);
}

void WriteFileAtomically(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered: a buffered save file only meets a short write when it is flushed
    // at commit, and a flush that writes part of the buffer does not count as a
    // failure there, so a truncated file would replace the old one as a success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw ZartError(failureText(file));
    // A short write is retried for the rest, which then fails with the system's
    // reason (no space left, file too large...).
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 n = file.write(data.constData() + written, data.size() - written);
        if (n <= 0) {
            const QString text = failureText(file);
            file.cancelWriting();
            throw ZartError(text);
        }
        written += n;
    }
    if (!file.commit())
        throw ZartError(failureText(file));
}

void WriteDumpFile(const QString &path, const FlashImage &image)
{
    WriteFileAtomically(path, DumpBytes(image));
}
