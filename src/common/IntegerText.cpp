#include "IntegerText.h"

#include <algorithm>

int DigitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

DigitRun ReadDigits(QStringView text, qsizetype from, int base, int keep)
{
    keep = std::min(keep, base == 16 ? 16 : 19);
    DigitRun r;
    qsizetype i = from;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0)
            break;
        ++r.digits;
        if (r.significant == 0 && d == 0)
            continue;
        if (r.significant < keep)
            r.value = r.value * quint64(base) + quint64(d);
        ++r.significant;
    }
    r.end = i;
    return r;
}

std::optional<qint32> ReadInteger(QStringView text, IntegerSyntax syntax)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (syntax.leadingSpaces) {
        while (i < n && text[i] == u' ')
            ++i;
    }
    bool sign = false;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        sign = true;
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (syntax.dollarHex && i < n && text[i] == u'$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (hex && sign && !syntax.signedHex)
        return std::nullopt;
    const DigitRun run = ReadDigits(text, i, hex ? 16 : 10, hex ? 16 : 19);
    if (run.digits == 0 || run.end != n)
        return std::nullopt;
    if (hex) {
        if ((syntax.hexZerosCount ? run.digits : run.significant) > 8)
            return std::nullopt;
        const quint32 pattern = quint32(run.value);
        return qint32(negative ? 0u - pattern : pattern);
    }
    const quint64 limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (run.significant > 10 || run.value > limit)
        return std::nullopt;
    return qint32(negative ? -qint64(run.value) : qint64(run.value));
}
