#pragma once

#include "FlashImage.h"

#include <QByteArray>
#include <QString>

// The dump file: exactly the flash image, 1024 words of 4 bytes, each least
// significant byte first, no header and no trailer.

inline constexpr qint64 DumpFileSize = FlashWords * 4; // 4096

// The bytes of a dump file for the image.
QByteArray DumpBytes(const FlashImage &image);

// The image in the first 4096 bytes of `bytes`. A content is accepted when its
// size in whole 4-byte records is 1024 (4096 to 4099 bytes); otherwise throws
// ZartError("Размер файла неверен").
FlashImage ImageFromDump(const QByteArray &bytes);

// Reads a dump file. A wrong size throws ZartError("Размер файла неверен"); a
// file that cannot be opened or read throws ZartError with the system's text.
FlashImage ReadDumpFile(const QString &path);

// The wrong-size text with the file and the sizes, for a front end that names
// files: "Размер файла неверен: <path> - 4100 байт, ожидается 4096". Empty when
// the size is one a dump may have.
QString DumpSizeFailure(const QString &path, qint64 size);

// Writes a dump file, replacing an existing one. The data go to a new file beside
// the target, which is renamed over it only once completely written, so a failed
// write leaves the old file as it was. A failure throws ZartError with the
// system's text.
void WriteDumpFile(const QString &path, const FlashImage &image);

