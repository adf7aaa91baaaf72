#pragma once

#include "FlashImage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

// The calibration passport of a sensor: a text file of the 441 grid points and
// the sensor's "ExpLevel" entry in the shared "passport.ini".

// One line of the passport text, in file order. Only X and Y are written back;
// the grid coordinates are read and ignored.
struct PassportPoint
{
    long double X = 0;
    long double Y = 0;
    long double Coord1 = 0;
    long double Coord2 = 0;
};

// A parsed passport.
struct PassportData
{
    qint32 ExposureX = 0;
    qint32 ExposureY = 0;
    qint32 ThresholdX = 0;
    qint32 ThresholdY = 0;
    QList<PassportPoint> Points;
};

inline constexpr char16_t PassportIniName[] = u"passport.ini";
inline constexpr char16_t ExpLevelKey[] = u"ExpLevel";

// --- Writing -------------------------------------------------------------------

// The passport text of an image: 441 lines, point k = row k / 21, column k % 21,
// each "X<TAB>Y<TAB>i*step + x0<TAB>j*step + x0" ended by CR LF, with X and Y
// the singles of words 128 + k and 570 + k, step = GridStepOf(image) and
// x0 = -(step * 10), all in extended precision and shown as "0.###".
QByteArray PassportText(const FlashImage &image);

// Writes the passport text file, replacing an existing one atomically (see
// WriteFileAtomically). A failure throws ZartError with the system's text.
void WritePassportFile(const QString &path, const FlashImage &image);

// "%d;%d;%d;%d" of the low bytes of words 2, 4, 3 and 5: exposure X, threshold X,
// exposure Y, threshold Y.
QString ExpLevelText(const FlashImage &image);

// How long an edit of "passport.ini" waits for another program's edit to end.
inline constexpr int PassportLockWaitMs = 3000;

// Files the image's ExpLevel under the section "%.8x" of its serial number in the
// INI file at iniPath, keeping everything else. The window and zart-cli both edit
// the file: the edit holds the lock file "<iniPath>.lock" (QLockFile; a lock left
// by a process that has died is taken over). Throws ZartError on failure, and
// with "Файл <name> занят другой программой (блокировка <lock path>)" when the
// lock is not had within lockWaitMs; the file is then unchanged.
void WriteExpLevel(const QString &iniPath, const FlashImage &image,
                   int lockWaitMs = PassportLockWaitMs);
// Files `text` as the ExpLevel of `section` in the INI file at iniPath, with
// the same lock and failures as WriteExpLevel.
void WriteExpLevelText(const QString &iniPath, const QString &section, const QString &text,
                       int lockWaitMs = PassportLockWaitMs);

// --- Reading -------------------------------------------------------------------

// Reads passport text point after point until the end is reached before a point
// begins. Before each of the four numbers of a point every character up to 0x20
// is skipped, line ends included; the number is the run of characters above 0x20
// that follows, a decimal number with '.' (optional sign, digits, optional
// fraction, optional exponent) of at most 64 characters; at the end of the text
// the number is 0. After the fourth number the rest of the line is skipped.
// An X or Y value may also be one of the texts the writer gives a word that is
// not a finite single ("INF", "-INF", "NAN", "-NAN"; see ReadNonFiniteSingle), so
// that a sensor's own passport always reads back. Anything else that is not such
// a number, a non-finite grid coordinate, and a finite X or Y beyond the range
// of a single, throws ZartError with a text naming the line.
QList<PassportPoint> ParsePassportText(const QByteArray &text);
// The same on a file; a file that cannot be read throws ZartError with the system's text.
QList<PassportPoint> ReadPassportFile(const QString &path);

// The single-precision bits a passport value is written to the sensor as (and
// compared with when read back): the value rounded to the nearest single; an
// infinity stays one of its sign. A NaN is written as the word its text reads
// back as: 0x7FC00000 ("NAN") or, with the sign bit, 0xFFFFFFFF ("-NAN", the
// erased word); its payload does not survive the text.
quint32 PassportWord(long double value);

// The section of a passport in "passport.ini": the file's name without its
// directory and its last extension (0012ABCD.ini -> 0012ABCD).
QString PassportSection(const QString &passportPath);

// The serial number a passport belongs to: its section name read as a
// hexadecimal number of one to eight digits, case ignored (0012ab7f ->
// 0x0012AB7F), or the same followed by the time of a copy kept in history/
// (0012AB7F-20261209T112233Z, 0012AB7F-20240305-070809-2). Any other name
// (renamed.ini, 0012AB7F-old.ini) names no serial number, and so no sensor's.
std::optional<quint32> PassportSerial(const QString &section);

// The four values of an ExpLevel text, in file order.
struct ExpLevelValues
{
    qint32 ExposureX = 0;
    qint32 ThresholdX = 0;
    qint32 ExposureY = 0;
    qint32 ThresholdY = 0;
};

// Parses an ExpLevel value: trimmed (characters up to 0x20 at both ends), then
// split at semicolons into exposure X, threshold X, exposure Y and the rest as
// threshold Y; a field without the ';' expected after it is empty. Each must be
// an integer (ParsePassportInt). The first failure, in field order, throws
// ZartError with its text: empty value "Отсутствуют значения уровней и экспозиций
// в файле паспорта", then "... значение экспозиции X ...", "... уровня X ...",
// "... экспозиции Y ...", "... уровня Y ...".
ExpLevelValues ParseExpLevel(const QString &value);

// Reads and parses the ExpLevel of `section` from the INI file at iniPath
// (section and key found without regard to case; missing reads as empty).
ExpLevelValues ReadExpLevel(const QString &iniPath, const QString &section);

// Puts the values into a passport.
void ApplyExpLevel(PassportData &psp, const ExpLevelValues &values);

// An ExpLevel integer: optional leading blanks, optional sign, then decimal digits,
// or hexadecimal digits after "$" or "0x"/"0X"; nothing may follow. Decimal must
// fit in signed 32 bits; hexadecimal takes up to eight digits as the 32-bit pattern.
std::optional<qint32> ParsePassportInt(const QString &text);

// The exposure and threshold words as the passport restore writes them, in its
// order: 0x1002 exposure X, 0x1003 exposure Y, 0x1004 threshold X, 0x1005
// threshold Y. The word written is the low byte of the value; the read-back is
// compared with the whole value (so a value outside 0..255 fails the check).
struct ExpLevelWord
{
    quint16 address;
    qint32 value;
};
std::array<ExpLevelWord, 4> ExpLevelWords(const PassportData &psp);
inline quint32 ExpLevelWordValue(qint32 value)
{
    return quint32(value) & 0xFFu;
}
