#include "NumberFormat.h"

#include <QStringList>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace {

// Significant decimal digits of an extended value that the display works on.
// An 80-bit extended carries a little more than 19 decimal digits; the value is
// taken to 18 of them before the three-decimal rounding, so that a decimal
// literal such as 0.0005, whose nearest extended value lies a hair below it,
// still shows as 0.001. A single widened to extended never lies within 1e-18
// (relative) of a rounding boundary of the display, so for singles this step
// changes nothing.
constexpr int ExtendedDigits = 18;
// Significant digits of the general (exponent) format.
constexpr int GeneralDigits = 15;
// Values whose decimal exponent exceeds this (|v| >= 1e18) use the general format.
constexpr int FixedMaxExponent = 18;

// |v| = 0.d1 d2 d3 ... x 10^exp
struct Decimal
{
    std::string digits;
    int exp = 0;
};

// The leading decimal digits of a finite, non-zero |v|, exact.
// 80 digits are printed: the gap between an extended value and any decimal
// number of 20 significant digits is far above 1e-60 relative, so the rounding
// applied at the 80th digit can never carry into the digits used.
Decimal leadingDigits(long double a)
{
    // std::to_chars writes as the C locale does, whatever the process locale
    // (a Qt application takes the user's): "d.ddd...e+XX".
    char buf[128];
    const std::to_chars_result written =
        std::to_chars(buf, buf + sizeof buf - 1, a, std::chars_format::scientific, 79);
    *written.ptr = '\0';
    Decimal d;
    const char *p = buf;
    d.digits.push_back(*p++);
    // Whatever separates the first digit from the others.
    while (*p != '\0' && !(*p >= '0' && *p <= '9') && *p != 'e' && *p != 'E')
        ++p;
    while (*p >= '0' && *p <= '9')
        d.digits.push_back(*p++);
    if (*p == 'e' || *p == 'E')
        d.exp = std::atoi(p + 1) + 1;
    return d;
}

// Keeps `count` significant digits, rounding half away from zero on the digit after.
void roundToDigits(Decimal &d, int count)
{
    if (int(d.digits.size()) <= count)
        return;
    const bool up = d.digits[std::size_t(count)] >= '5';
    d.digits.resize(std::size_t(count));
    if (!up)
        return;
    int i = count - 1;
    while (i >= 0 && d.digits[std::size_t(i)] == '9') {
        d.digits[std::size_t(i)] = '0';
        --i;
    }
    if (i >= 0) {
        ++d.digits[std::size_t(i)];
    } else {
        d.digits.insert(d.digits.begin(), '1');
        d.digits.pop_back();
        ++d.exp;
    }
}

// Adds one unit in the last place of a string of decimal digits; may grow it by a digit.
void incrementDigits(std::string &s)
{
    int i = int(s.size()) - 1;
    while (i >= 0 && s[std::size_t(i)] == '9') {
        s[std::size_t(i)] = '0';
        --i;
    }
    if (i >= 0)
        ++s[std::size_t(i)];
    else
        s.insert(s.begin(), '1');
}

QString generalFormat(long double a, bool negative)
{
    Decimal d = leadingDigits(a);
    roundToDigits(d, GeneralDigits);
    std::string mantissa = d.digits;
    while (mantissa.size() > 1 && mantissa.back() == '0')
        mantissa.pop_back();
    std::string out = negative ? "-" : "";
    out += mantissa[0];
    if (mantissa.size() > 1) {
        out += '.';
        out.append(mantissa, 1, std::string::npos);
    }
    out += 'E';
    out += std::to_string(d.exp - 1);
    return QString::fromLatin1(out.c_str());
}

} // namespace

QString FormatFloat(long double v)
{
    const bool negative = std::signbit(v);
    if (std::isnan(v))
        return negative ? QStringLiteral("-NAN") : QStringLiteral("NAN");
    if (std::isinf(v))
        return negative ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (v == 0.0L)
        return QStringLiteral("0");

    const long double a = std::fabs(v);
    Decimal d = leadingDigits(a);
    roundToDigits(d, ExtendedDigits);
    if (d.exp > FixedMaxExponent)
        return generalFormat(a, negative);

    // Integer and fractional digits of the 18-digit value.
    std::string intPart;
    std::string frac;
    if (d.exp > 0) {
        intPart = d.digits.substr(0, std::size_t(d.exp));
        while (int(intPart.size()) < d.exp)
            intPart += '0';
        if (int(d.digits.size()) > d.exp)
            frac = d.digits.substr(std::size_t(d.exp));
    } else {
        intPart = "0";
        frac = std::string(std::size_t(-d.exp), '0') + d.digits;
    }
    while (frac.size() < 4)
        frac += '0';

    // Round at the third decimal on the decimal digits: a 4th digit of 5 or more goes up.
    std::string scaled = intPart + frac.substr(0, 3); // the value in thousandths
    if (frac[3] >= '5')
        incrementDigits(scaled);

    std::string ip = scaled.substr(0, scaled.size() - 3);
    std::string fp = scaled.substr(scaled.size() - 3);
    std::size_t nz = ip.find_first_not_of('0');
    ip = nz == std::string::npos ? "0" : ip.substr(nz);
    while (!fp.empty() && fp.back() == '0')
        fp.pop_back();

    if (ip == "0" && fp.empty())
        return QStringLiteral("0");
    std::string out = negative ? "-" : "";
    out += ip;
    if (!fp.empty()) {
        out += '.';
        out += fp;
    }
    return QString::fromLatin1(out.c_str());
}

QString FormatSingle(float v)
{
    // NaN and infinity are told apart on the single itself: widening a signalling
    // NaN would quieten it (harmless, but there is nothing to gain).
    if (std::isnan(v))
        return std::signbit(v) ? QStringLiteral("-NAN") : QStringLiteral("NAN");
    return FormatFloat(static_cast<long double>(v));
}

QString FormatSingleBits(quint32 bits)
{
    return FormatSingle(std::bit_cast<float>(bits));
}

std::optional<long double> ReadDecimal(std::string_view text)
{
    // The form is checked here: std::from_chars refuses a '+', but takes
    // "inf", "nan" and a sign after the one stripped.
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::size_t i = 0;
    bool digits = false;
    bool nonZero = false;
    long long leading = 0; // decimal exponent of the first non-zero digit, as written
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        if (nonZero)
            ++leading;
        nonZero = nonZero || text[i] != '0';
    }
    if (i < text.size() && text[i] == '.') {
        long long position = 0;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            digits = true;
            --position;
            if (!nonZero && text[i] != '0') {
                nonZero = true;
                leading = position;
            }
        }
    }
    if (!digits)
        return std::nullopt;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        const std::size_t first = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            exponent = std::min(exponent * 10 + (text[i] - '0'), 1'000'000'000LL); // far past any range
        if (i == first)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != text.size())
        return std::nullopt;

    long double value = 0;
    const std::from_chars_result read =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (read.ptr != text.data() + text.size())
        return std::nullopt;
    if (read.ec == std::errc::result_out_of_range) {
        // Out of range is reported without a value: the order of magnitude tells
        // an overflow from an underflow.
        value = nonZero && leading + exponent > 0 ? std::numeric_limits<long double>::infinity() : 0.0L;
    } else if (read.ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<quint32> ReadNonFiniteSingle(std::string_view text)
{
    if (text == "INF")
        return 0x7F800000u;
    if (text == "-INF")
        return 0xFF800000u;
    if (text == "NAN")
        return 0x7FC00000u;
    if (text == "-NAN")
        return 0xFFFFFFFFu;
    return std::nullopt;
}

namespace {

template <typename T>
QString shortest(T v)
{
    char buf[64];
    const std::to_chars_result written = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, written.ptr - buf);
}

} // namespace

QString ShortestText(double v)
{
    return shortest(v);
}

QString ShortestText(float v)
{
    return shortest(v);
}
