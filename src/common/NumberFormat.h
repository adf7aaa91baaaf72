#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <string_view>

// The display of real numbers used everywhere in the tool (pattern "0.###"):
// an optional minus sign, at least one integer digit, then '.' and one to three
// decimals only when the value rounded to three decimals has a fractional part;
// a 5 in the fourth decimal rounds away from zero; no thousands separators and
// always '.' as the decimal separator, whatever the locale. A value that rounds
// to zero (negative zero included) shows as "0".
//
// A value of 1e18 or more in magnitude is shown in the general format instead:
// at most 15 significant digits, trailing zeros dropped, and the decimal exponent
// as "E" followed by the exponent (3.40282346638529E38). Infinities show as "INF",
// NaNs (quiet or signalling) as "NAN", each with a leading '-' when the sign bit
// is set.
QString FormatFloat(long double v);

// A single-precision value widened to extended precision and shown by FormatFloat.
QString FormatSingle(float v);

// The same for the 32 bits of a single as they sit in a flash word or a register pair.
QString FormatSingleBits(quint32 bits);

// Reads a whole decimal number as the C locale writes it, whatever the process
// locale: an optional sign, digits with an optional '.', an optional exponent
// ("+1.5E+2", "-25e-1", ".5", "1."). Gives the nearest long double; a magnitude
// beyond the long double range gives an infinity of the number's sign, one below
// the smallest normal long double a zero of that sign. Nothing for any other text
// (blanks, a decimal comma, hexadecimal, "INF", "NAN" included).
std::optional<long double> ReadDecimal(std::string_view text);

// The bits of the single that a display text of a non-finite single stands for,
// so that what FormatSingleBits writes reads back: "INF" 0x7F800000, "-INF"
// 0xFF800000, "NAN" 0x7FC00000 (the quiet NaN) and "-NAN" 0xFFFFFFFF (all bits
// set: the erased flash word, which is what shows as "-NAN" in a sensor's
// calibration tables). A NaN's other payloads cannot be told from its text and
// come back as one of these two. Exactly these four texts; nothing for any other.
std::optional<quint32> ReadNonFiniteSingle(std::string_view text);

// The shortest text that reads back (std::from_chars, strtod) to the same value,
// as std::to_chars writes it: '.' whatever the locale, an exponent only where it
// is shorter ("1e-05"), "inf", "-inf", "nan" or "-nan" for the non-finite. For
// numbers that leave the program (the watch, the spot view's CSV, the statistics),
// where the display's three decimals would lose what the sensor measured. The
// float form gives the shortest text of the single itself (a reading).
QString ShortestText(double v);
QString ShortestText(float v);
