// The dump file reader and the dump viewer's rows.
//
// Input: any bytes. They are read as a dump file as they are (only 4096 to 4099
// bytes are a dump), and, repeated or cut to 4096 bytes, as one that is.
//
// Invariants: the reader takes a file exactly when its size in whole words is
// 1024, reading the same image from the file as from its bytes; the image gives
// the dump back byte for byte; any image gives the viewer its 894 rows of name,
// value and raw word, in the order of the field list and the two tables.

#include "FuzzSupport.h"

#include "flash/DumpFile.h"
#include "flash/FlashOperations.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

const QString WrongSizeText = QStringLiteral("Размер файла неверен");

QString dumpPath()
{
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("fuzz.dmp"));
}

std::optional<FlashImage> readFile(const QByteArray &bytes)
{
    QFile file(dumpPath());
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
               "cannot write %s", utf8(dumpPath()));
    file.close();
    try {
        return ReadDumpFile(dumpPath());
    } catch (const ZartError &e) {
        FUZZ_CHECK(e.text() == WrongSizeText, "reader failed with \"%s\"", utf8(e.text()));
        return std::nullopt;
    }
}

quint32 wordOf(int row)
{
    if (row < int(FlashList.size()))
        return quint32(FlashList[std::size_t(row)].Index);
    row -= int(FlashList.size());
    return quint32(row < GridPoints ? XTableIndex + row : YTableIndex + row - GridPoints);
}

QString nameOf(int row)
{
    if (row < int(FlashList.size()))
        return FlashList[std::size_t(row)].Name.toString();
    row -= int(FlashList.size());
    return row < GridPoints ? QStringLiteral("X%1").arg(row + 1)
                            : QStringLiteral("Y%1").arg(row - GridPoints + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const bool dumpSize = raw.size() / 4 == FlashWords;
    const std::optional<FlashImage> fromFile = readFile(raw);
    FUZZ_CHECK(fromFile.has_value() == dumpSize, "a file of %d bytes %s", int(raw.size()),
               dumpSize ? "refused" : "taken");

    QByteArray bytes = raw.left(DumpFileSize);
    if (bytes.isEmpty())
        bytes = QByteArray(1, '\0');
    while (bytes.size() < DumpFileSize)
        bytes += bytes.left(DumpFileSize - bytes.size());
    const FlashImage image = ImageFromDump(bytes);
    if (fromFile)
        FUZZ_CHECK(*fromFile == image, "the file and its bytes give different images");
    FUZZ_CHECK(DumpBytes(image) == bytes, "the image does not give its dump back");

    const QList<QStringList> rows = DumpViewRows(image);
    FUZZ_CHECK(rows.size() == DumpViewRowCount && DumpViewRowCount == 894, "%d rows", int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList &row = rows[r];
        FUZZ_CHECK(row.size() == 3, "row %d has %d columns", r, int(row.size()));
        const quint32 word = image[wordOf(r)];
        FUZZ_CHECK(row[0] == nameOf(r) && !row[1].isEmpty() && row[2] == RawText(word),
                   "row %d: %s | %s | %s", r, utf8(row[0]), utf8(row[1]), utf8(row[2]));
    }
    return 0;
}
