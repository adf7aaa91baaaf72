#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

// One key of an INI file with the value to write into it.
struct IniEntry
{
    QString section;
    QString key;
    QString value;
};

// One INI file (sections in square brackets, key=value lines), accessed as the
// Windows profile functions do: every read loads the file afresh; every write
// loads it, changes the lines of its keys and writes it back.
// Every other byte of the file stays as it was (see IniSetValue). The file is
// replaced atomically: the new content goes to a file beside it that is renamed
// over the old one, so a failed write leaves the old file untouched. Names and
// values are UTF-8.
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

    // Creates the file, the section or the key as needed. A failure, and a
    // name or value that IniSetValue refuses, throws
    // ZartError("Unable to write to <full path of the file>"). A file that
    // exists but cannot be read is not replaced.
    void writeString(const QString &section, const QString &key, const QString &value) const;
    // Writes every entry, in the given order, in one replacement of the file:
    // either all of them are written or, on any failure (the same text as
    // writeString), none, and the file keeps every byte it had.
    void writeValues(const QList<IniEntry> &entries) const;
    void writeInt(const QString &section, const QString &key, qint32 value) const;
    // Stored as "1" or "0".
    void writeBool(const QString &section, const QString &key, bool value) const;

private:
    QString m_path;
};

// The line editor behind IniFile, on the bytes of a whole file.
//
// Lines end with LF or CR LF; the last line may have no end. A UTF-8 byte-order
// mark in front of the first line is skipped. After leading and trailing
// blanks (space, TAB, CR, VT, FF) are trimmed, a line is
//   - a section header when it begins with '[': the name runs to the first ']'
//     (or to the end of the line) and is trimmed;
//   - a comment when it begins with ';' or '#';
//   - a key line when it holds '=': the key is the trimmed text before the
//     first '=', the value the trimmed text after it;
//   - anything else (blank, or text without '=') is kept and means nothing.
// Key lines before the first header belong to no section. Sections and keys
// are matched without regard to the case of ASCII letters; a section that
// stands twice is one section, and of a key that stands twice the first line
// counts.

// The value of key in section; nothing when there is no such key line.
std::optional<QByteArray> IniValue(QByteArrayView file, QByteArrayView section, QByteArrayView key);

// Whether section, key and value can be written so that IniValue reads the
// value back: nothing holds CR or LF or begins or ends with a blank; the
// section is not empty and holds no ']'; the key is not empty, holds no '='
// and does not begin with '[', ';' or '#'.
bool IniCanWrite(QByteArrayView section, QByteArrayView key, QByteArrayView value);

// The file with key in section set to value (nothing when IniCanWrite refuses).
// Only what has to change changes:
//   - an existing key (the first line that counts) keeps its line, its key
//     text, the blanks around its '=' and its line end; only the value after
//     them is replaced;
//   - a missing key becomes "key=value" after the last line of the section's
//     first occurrence that is neither blank nor a comment (its header at
//     least);
//   - a missing section is appended as "[section]" and "key=value".
// New lines end as the file's first line does (CR LF for a file without line
// ends). When a new line follows a last line without a line end, that line
// gets one.
std::optional<QByteArray> IniSetValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                                      QByteArrayView value);

// The settings integers: optional sign and decimal digits, or "0x"/"0X" and up to
// eight hexadecimal digits (the 32-bit pattern, so 0xFFFFFFFF is -1). Anything
// else, including a decimal value outside the signed 32-bit range, is nothing.
std::optional<qint32> ParseIniInt(const QString &text);
