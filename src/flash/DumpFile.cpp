#include "DumpFile.h"

#include "common/AtomicFile.h"
#include "common/ZartError.h"

#include <QFile>

namespace {

const QString WrongSizeText = QStringLiteral("Размер файла неверен");

bool sizeAccepted(qint64 size)
{
    return size / 4 == FlashWords;
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

QString DumpSizeFailure(const QString &path, qint64 size)
{
    if (sizeAccepted(size))
        return {};
    return QStringLiteral("%1: %2 - %3 байт, ожидается %4")
        .arg(WrongSizeText, path, QString::number(size), QString::number(DumpFileSize));
}

FlashImage ReadDumpFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ZartError(FileFailureText(file));
    if (!sizeAccepted(file.size()))
        throw ZartError(WrongSizeText);
    const QByteArray bytes = file.read(DumpFileSize);
    if (bytes.size() != DumpFileSize) {
        // Shorter than the size said (the file changed meanwhile) or a read error.
        if (file.error() != QFileDevice::NoError)
            throw ZartError(FileFailureText(file));
        throw ZartError(WrongSizeText);
    }
    return ImageFromDump(bytes);
}

void WriteDumpFile(const QString &path, const FlashImage &image)
{
    WriteFileAtomically(path, DumpBytes(image));
}
