// SimpleIni is header-only; its implementation is compiled here, once.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "IniFile.h"

#include "DumpFile.h"
#include "serial/ZartError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <string>
#include <utility>

namespace {

void configure(CSimpleIniA &ini)
{
    ini.SetUnicode(true);
    ini.SetSpaces(false);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
}

// Loads the file if it exists. Returns false when it exists but cannot be read
// or parsed, so that a write does not replace what it could not see.
bool load(const QString &path, CSimpleIniA &ini)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    return ini.LoadData(data.constData(), std::size_t(data.size())) >= 0;
}

QString writeFailureText(const QString &path)
{
    return QStringLiteral("Unable to write to %1")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

QString IniFile::readString(const QString &section, const QString &key) const
{
    CSimpleIniA ini;
    configure(ini);
    if (!load(m_path, ini))
        return QString();
    const QByteArray s = section.toUtf8();
    const QByteArray k = key.toUtf8();
    const char *value = ini.GetValue(s.constData(), k.constData(), nullptr);
    return value ? QString::fromUtf8(value) : QString();
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
    CSimpleIniA ini;
    configure(ini);
    if (!load(m_path, ini))
        throw ZartError(writeFailureText(m_path));
    const QByteArray s = section.toUtf8();
    const QByteArray k = key.toUtf8();
    const QByteArray v = value.toUtf8();
    if (ini.SetValue(s.constData(), k.constData(), v.constData()) < 0)
        throw ZartError(writeFailureText(m_path));
    std::string out;
    if (ini.Save(out, false) < 0)
        throw ZartError(writeFailureText(m_path));
    try {
        WriteFileAtomically(m_path, QByteArray(out.data(), qsizetype(out.size())));
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
    const int n = int(text.size());
    if (n > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        if (n - 2 > 8)
            return std::nullopt;
        quint32 v = 0;
        for (int i = 2; i < n; ++i) {
            const char16_t c = text[i].unicode();
            int d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else if (c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else
                return std::nullopt;
            v = (v << 4) | quint32(d);
        }
        return qint32(v);
    }
    int i = 0;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == n)
        return std::nullopt;
    qint64 v = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        v = v * 10 + (c - u'0');
        if (v > 0x80000000LL)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v > 0x7FFFFFFFLL)
        return std::nullopt;
    return qint32(v);
}
