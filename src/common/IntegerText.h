#pragma once

#include <QChar>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// The one reader of integers written as text. The settings, the passport's
// exposure levels and the hexadecimal input fields differ only in what they
// allow around the digits (IntegerSyntax, HexField.h).

// The value of c as a digit of base (10 or 16, hexadecimal in either case), or -1.
int DigitValue(QChar c, int base);

// The run of digits of base (10 or 16) that starts at `from`.
struct DigitRun
{
    quint64 value = 0;   // of the first `keep` significant digits
    int digits = 0;      // digits in the run, leading zeros included
    int significant = 0; // digits after the leading zeros
    qsizetype end = 0;   // index after the run
};
// keep is at most 16 for base 16 and 19 for base 10, so that the value is exact.
DigitRun ReadDigits(QStringView text, qsizetype from, int base, int keep);

// What may stand around the digits of an integer.
struct IntegerSyntax
{
    bool leadingSpaces = false; // spaces before the number
    bool dollarHex = false;     // "$" starts a hexadecimal number, as "0x"/"0X" does
    bool signedHex = false;     // a sign may stand before a hexadecimal number
    bool hexZerosCount = false; // leading zeros count toward the eight hexadecimal digits
};

// Reads all of text as a signed 32-bit integer: an optional sign and decimal digits
// within the signed 32-bit range, or a hexadecimal prefix and up to eight
// significant hexadecimal digits taken as the 32-bit pattern (0xFFFFFFFF is -1; a
// minus sign negates the pattern). Nothing follows the digits. Nothing for any
// other text.
std::optional<qint32> ReadInteger(QStringView text, IntegerSyntax syntax);

// The settings file's integers: no blanks, no sign before "0x", at most eight
// digits after it (see ParseIniInt).
inline constexpr IntegerSyntax SettingsIntegers{false, false, false, true};
// The passport's integers: leading spaces, a sign before either form, "$" or
// "0x" (see ParsePassportInt).
inline constexpr IntegerSyntax PassportIntegers{true, true, true, false};
