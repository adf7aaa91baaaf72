#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// One INI file (sections in square brackets, key=value lines), accessed one key
// at a time: every read loads the file afresh, every write loads it, changes the
// one value and writes the whole file back. Sections and keys are found without
// regard to the case of ASCII letters. A write keeps the other sections and keys
// and the comments in front of them, writes "key=value" without blanks and never
// a byte-order mark, and replaces the file atomically: the new content goes to a
// file beside it that is renamed over the old one, so a failed write leaves the
// old file untouched. Text is UTF-8.
class IniFile
{
public:
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }

    // The value, or an empty text when the file, the section or the key is missing.
    QString readString(const QString &section, const QString &key) const;
    // The value as an integer (ParseIniInt), nothing when missing or not an integer.
    std::optional<qint32> readInt(const QString &section, const QString &key) const;
    qint32 readInt(const QString &section, const QString &key, qint32 defaultValue) const;
    // Any integer other than 0 is true; a missing or non-integer value gives the default.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    // Creates the file, the section or the key as needed. A failure throws
    // ZartError("Unable to write to <full path of the file>").
    void writeString(const QString &section, const QString &key, const QString &value) const;
    void writeInt(const QString &section, const QString &key, qint32 value) const;
    // Stored as "1" or "0".
    void writeBool(const QString &section, const QString &key, bool value) const;

private:
    QString m_path;
};

// The settings integers: optional sign and decimal digits, or "0x"/"0X" and up to
// eight hexadecimal digits (the 32-bit pattern, so 0xFFFFFFFF is -1). Anything
// else, including a decimal value outside the signed 32-bit range, is nothing.
std::optional<qint32> ParseIniInt(const QString &text);
