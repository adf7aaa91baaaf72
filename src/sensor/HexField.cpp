#include "HexField.h"

#include "SensorRequests.h"
#include "common/IntegerText.h"

namespace {

constexpr char16_t Backspace = 0x08;

QString addressText(qint32 v)
{
    // A negative value prints as its 32-bit pattern, eight digits.
    return QString::asprintf("%.4X", quint32(v));
}

} // namespace

HexFieldValue ReadHexField(const QString &text)
{
    const DigitRun run = ReadDigits(text, 0, 16, 8);
    HexFieldValue r;
    r.value = quint32(run.value);
    r.complete = !text.isEmpty() && run.end == text.size() && run.significant <= 8;
    return r;
}

std::optional<QChar> HexKeyFilter(QChar key)
{
    const char16_t u = key.unicode();
    if (u <= 0x20)
        return key;
    if (DigitValue(key, 16) < 0)
        return std::nullopt;
    if (u >= u'a' && u <= u'f')
        return QChar(char16_t(u - u'a' + u'A'));
    return key;
}

std::optional<QChar> SerialKeyFilter(const QString &text, bool hasSelection, QChar key)
{
    const std::optional<QChar> filtered = HexKeyFilter(key);
    if (!filtered)
        return std::nullopt;
    if (text.size() >= 8 && filtered->unicode() != Backspace && !hasSelection)
        return std::nullopt;
    return filtered;
}

QString PadHexField(const QString &text)
{
    if (text.size() >= 8)
        return text;
    return QString(8 - text.size(), u'0') + text;
}

QString StepAddressUp(const QString &text)
{
    const HexFieldValue r = ReadHexField(text);
    qint32 v = qint32(r.value);
    if (r.complete)
        v = qint32(quint32(v) + 1u); // 7FFFFFFF wraps to the negative side, as a 32-bit value does
    if (v > 0xFFFF)
        v = 0;
    return addressText(v);
}

QString StepAddressDown(const QString &text)
{
    const HexFieldValue r = ReadHexField(text);
    qint32 v = qint32(r.value);
    if (r.complete)
        v = qint32(quint32(v) - 1u);
    if (v < 0)
        v = 0xFFFF;
    return addressText(v);
}

QString StepDataUp(const QString &text)
{
    const HexFieldValue r = ReadHexField(text);
    quint32 v = r.value;
    if (r.complete)
        ++v;
    return QString::asprintf("%.8X", v);
}

QString StepDataDown(const QString &text)
{
    const HexFieldValue r = ReadHexField(text);
    quint32 v = r.value;
    if (r.complete)
        --v;
    return QString::asprintf("%.8X", v);
}

quint16 FlashAddressOfField(const QString &text)
{
    return quint16(ReadHexField(text).value & 0xFFFF);
}

bool IsZeroAddressWrite(quint16 address, quint32 value)
{
    return address == AddressWordAddress && value == 0;
}
