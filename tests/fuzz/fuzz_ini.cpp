// The INI line editor and IniFile on any file.
//
// Input: three length-prefixed fields (section, key, value), then the file.
//
// Invariants: a write is refused exactly when the names or the value cannot be
// read back as written; otherwise the value reads back, a second write of it
// changes nothing, and every other byte of the file stays: where the key stood,
// only the bytes of its old value are replaced; where it did not, bytes are only
// inserted, no more than its new line and, for a new section, the header's line
// (the blanks that followed an old value may go with it).
// IniFile writes exactly that into the file, or throws and leaves the file as it was.

#include "FuzzSupport.h"

#include "common/IniFile.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

qsizetype commonPrefix(const QByteArray &a, const QByteArray &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

qsizetype commonSuffix(const QByteArray &a, const QByteArray &b, qsizetype prefix)
{
    qsizetype n = 0;
    while (n < a.size() - prefix && n < b.size() - prefix && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), "cannot read %s", utf8(path));
    return file.readAll();
}

// IniFile on a real file: the same bytes as the editor, or a refusal that leaves the file.
void checkIniFile(const QByteArray &file, const QByteArray &section, const QByteArray &key,
                  const QByteArray &value)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    QFile out(path);
    FUZZ_CHECK(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file) == file.size(),
               "cannot write %s", utf8(path));
    out.close();
    const QString s = QString::fromUtf8(section);
    const QString k = QString::fromUtf8(key);
    const QString v = QString::fromUtf8(value);
    const std::optional<QByteArray> expected = IniSetValue(file, s.toUtf8(), k.toUtf8(), v.toUtf8());
    try {
        IniFile(path).writeString(s, k, v);
        FUZZ_CHECK(expected.has_value(), "IniFile wrote what the editor refuses");
        FUZZ_CHECK(readAll(path) == *expected, "IniFile wrote other bytes than the editor");
        const QByteArray back = IniFile(path).readString(s, k).toUtf8();
        FUZZ_CHECK(back == v.toUtf8(), "IniFile reads \"%s\" back as \"%s\"", value.constData(), back.constData());
    } catch (const ZartError &) {
        FUZZ_CHECK(!expected.has_value(), "IniFile refused what the editor writes");
        FUZZ_CHECK(readAll(path) == file, "a refused write changed the file");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    FuzzBytes in(data, size);
    const QByteArray section = in.take(in.byte() % 32);
    const QByteArray key = in.take(in.byte() % 32);
    const QByteArray value = in.take(in.byte() % 64);
    const QByteArray file = in.rest();

    const std::optional<QByteArray> old = IniValue(file, section, key);
    const std::optional<QByteArray> written = IniSetValue(file, section, key, value);
    FUZZ_CHECK(written.has_value() == IniCanWrite(section, key, value), "the editor and IniCanWrite disagree");
    if (written) {
        const std::optional<QByteArray> back = IniValue(*written, section, key);
        FUZZ_CHECK(back == value, "\"%s\" reads back as \"%s\"", value.constData(),
                   back ? back->constData() : "(nothing)");
        FUZZ_CHECK(IniSetValue(*written, section, key, value) == written, "a second write changed the file");

        const qsizetype prefix = commonPrefix(file, *written);
        const qsizetype suffix = commonSuffix(file, *written, prefix);
        const qsizetype removed = file.size() - prefix - suffix;
        const qsizetype inserted = written->size() - prefix - suffix;
        if (old) {
            // The blanks after the old value go with it.
            QByteArray gone = file.mid(prefix, removed);
            while (!gone.isEmpty() && QByteArrayView(" \t\r\v\f").contains(gone.back()))
                gone.chop(1);
            FUZZ_CHECK(gone.size() <= old->size() && inserted <= value.size(),
                       "%d bytes replaced by %d for a value of %d bytes", int(removed), int(inserted),
                       int(old->size()));
        } else {
            const qsizetype newLines = key.size() + 1 + value.size() + 2 + section.size() + 2 + 2 * 2;
            FUZZ_CHECK(removed == 0 && inserted <= newLines, "%d bytes removed, %d inserted for a new key",
                       int(removed), int(inserted));
        }
    }
    checkIniFile(file, section, key, value);
    return 0;
}
