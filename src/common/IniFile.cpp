#include "IniFile.h"

#include "AtomicFile.h"
#include "IntegerText.h"
#include "ZartError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <utility>
#include <vector>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v)
{
    qsizetype b = 0;
    qsizetype e = v.size();
    while (b < e && isBlank(v[b]))
        ++b;
    while (e > b && isBlank(v[e - 1]))
        --e;
    return v.sliced(b, e - b);
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Names match without regard to the case of ASCII letters only: a byte of a
// UTF-8 sequence is never taken for another.
bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

enum class LineKind { Blank, Comment, Header, Key, Text };

struct IniLine
{
    qsizetype begin = 0; // first byte (after a byte-order mark on the first line)
    qsizetype end = 0;   // end of the text, before the line end
    qsizetype next = 0;  // first byte of the next line
    LineKind kind = LineKind::Blank;
    QByteArrayView name;         // section name or key
    qsizetype equals = -1;       // key lines: position of the '='
    qsizetype valueBegin = 0;    // key lines: the trimmed value
    qsizetype valueEnd = 0;
};

std::vector<IniLine> splitLines(QByteArrayView file)
{
    std::vector<IniLine> lines;
    qsizetype pos = file.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < file.size() || lines.empty()) {
        IniLine line;
        line.begin = pos;
        const qsizetype lf = file.indexOf('\n', pos);
        line.next = lf < 0 ? file.size() : lf + 1;
        line.end = lf < 0 ? file.size() : (lf > pos && file[lf - 1] == '\r' ? lf - 1 : lf);
        const QByteArrayView text = file.sliced(line.begin, line.end - line.begin);
        const QByteArrayView t = trimmed(text);
        if (t.isEmpty()) {
            line.kind = LineKind::Blank;
        } else if (t.front() == ';' || t.front() == '#') {
            line.kind = LineKind::Comment;
        } else if (t.front() == '[') {
            line.kind = LineKind::Header;
            const QByteArrayView inside = t.sliced(1);
            const qsizetype close = inside.indexOf(']');
            line.name = trimmed(close < 0 ? inside : inside.first(close));
        } else if (const qsizetype eq = text.indexOf('='); eq >= 0) {
            line.kind = LineKind::Key;
            line.name = trimmed(text.first(eq));
            line.equals = line.begin + eq;
            const QByteArrayView after = text.sliced(eq + 1);
            const QByteArrayView value = trimmed(after);
            // An empty value stands after the blanks that follow the '=': they are
            // the blanks around it, which a write keeps.
            line.valueBegin = value.isEmpty() ? line.end
                                              : line.equals + 1 + (value.data() - after.data());
            line.valueEnd = line.valueBegin + value.size();
        } else {
            line.kind = LineKind::Text;
        }
        lines.push_back(line);
        if (line.next == pos) // an empty file: one empty line
            break;
        pos = line.next;
    }
    return lines;
}

// Index of the line that holds key in section; -1 when none does.
qsizetype findKey(const std::vector<IniLine> &lines, QByteArrayView section, QByteArrayView key)
{
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const IniLine &line = lines[i];
        if (line.kind == LineKind::Header)
            inSection = sameName(line.name, section);
        else if (inSection && line.kind == LineKind::Key && sameName(line.name, key))
            return qsizetype(i);
    }
    return -1;
}

QByteArrayView lineEndOf(QByteArrayView file)
{
    const qsizetype lf = file.indexOf('\n');
    if (lf > 0 && file[lf - 1] == '\r')
        return "\r\n";
    return lf < 0 ? "\r\n" : "\n";
}

bool hasLineBreak(QByteArrayView v)
{
    return v.contains('\n') || v.contains('\r');
}

bool keepsItsBlanks(QByteArrayView v)
{
    return v.isEmpty() || (!isBlank(v.front()) && !isBlank(v.back()));
}

QString writeFailureText(const QString &path)
{
    return QStringLiteral("Unable to write to %1")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

// The bytes of the file; empty for a missing file, nothing when it exists but
// cannot be read whole.
std::optional<QByteArray> load(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

} // namespace

std::optional<QByteArray> IniValue(QByteArrayView file, QByteArrayView section, QByteArrayView key)
{
    const std::vector<IniLine> lines = splitLines(file);
    const qsizetype i = findKey(lines, section, key);
    if (i < 0)
        return std::nullopt;
    const IniLine &line = lines[size_t(i)];
    return file.sliced(line.valueBegin, line.valueEnd - line.valueBegin).toByteArray();
}

bool IniCanWrite(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    for (QByteArrayView v : {section, key, value}) {
        if (hasLineBreak(v) || !keepsItsBlanks(v))
            return false;
    }
    if (section.isEmpty() || section.contains(']'))
        return false;
    if (key.isEmpty() || key.contains('=') || key.front() == '[' || key.front() == ';'
        || key.front() == '#')
        return false;
    return true;
}

std::optional<QByteArray> IniSetValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                                      QByteArrayView value)
{
    if (!IniCanWrite(section, key, value))
        return std::nullopt;
    const std::vector<IniLine> lines = splitLines(file);
    QByteArray out = file.toByteArray();

    // The key is there: only its value changes.
    if (const qsizetype i = findKey(lines, section, key); i >= 0) {
        const IniLine &line = lines[size_t(i)];
        // The value runs to the end of the line's text: trailing blanks go with it.
        const qsizetype from = line.valueBegin;
        return out.replace(from, line.end - from, value.data(), value.size());
    }

    const QByteArrayView eol = lineEndOf(file);
    QByteArray keyLine = key.toByteArray() + '=' + value.toByteArray();

    // The section is there: the key goes after its last line that says something.
    const IniLine *anchor = nullptr;
    for (const IniLine &line : lines) {
        if (line.kind == LineKind::Header) {
            if (anchor)
                break;
            if (sameName(line.name, section))
                anchor = &line;
        } else if (anchor && (line.kind == LineKind::Key || line.kind == LineKind::Text)) {
            anchor = &line;
        }
    }
    if (anchor) {
        if (anchor->next == anchor->end) // the last line, without a line end
            return out.insert(anchor->next, eol.toByteArray() + keyLine);
        return out.insert(anchor->next, keyLine + eol.toByteArray());
    }

    // A new section at the end.
    const IniLine &last = lines.back();
    if (last.next == last.end && last.end > last.begin)
        out += eol.toByteArray();
    out += '[' + section.toByteArray() + ']' + eol.toByteArray() + keyLine + eol.toByteArray();
    return out;
}

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

QString IniFile::readString(const QString &section, const QString &key) const
{
    const std::optional<QByteArray> file = load(m_path);
    if (!file)
        return QString();
    const std::optional<QByteArray> value = IniValue(*file, section.toUtf8(), key.toUtf8());
    if (!value)
        return QString();
    // A value may begin with U+FEFF: QString::fromUtf8 would drop it as a byte-order mark.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder(*value);
}

std::optional<qint32> IniFile::readInt(const QString &section, const QString &key) const
{
    return ParseIniInt(readString(section, key));
}

qint32 IniFile::readInt(const QString &section, const QString &key, qint32 defaultValue) const
{
    return readInt(section, key).value_or(defaultValue);
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    const std::optional<qint32> v = readInt(section, key);
    return v ? *v != 0 : defaultValue;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value) const
{
    writeValues({{section, key, value}});
}

void IniFile::writeValues(const QList<IniEntry> &entries) const
{
    // A file that cannot be read is not replaced by what could be seen of it.
    std::optional<QByteArray> file = load(m_path);
    if (!file)
        throw ZartError(writeFailureText(m_path));
    for (const IniEntry &e : entries) {
        file = IniSetValue(*file, e.section.toUtf8(), e.key.toUtf8(), e.value.toUtf8());
        if (!file)
            throw ZartError(writeFailureText(m_path));
    }
    try {
        WriteFileAtomically(m_path, *file);
    } catch (const ZartError &) {
        throw ZartError(writeFailureText(m_path));
    }
}

void IniFile::writeInt(const QString &section, const QString &key, qint32 value) const
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value) const
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

std::optional<qint32> ParseIniInt(const QString &text)
{
    return ReadInteger(text, SettingsIntegers);
}
