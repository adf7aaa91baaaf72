#include "SensorRequests.h"

#include "common/NumberFormat.h"
#include "sensor/StatusText.h"
#include "common/ZartError.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>

namespace {

RequestPdu makePdu(std::initializer_list<quint8> bytes)
{
    RequestPdu pdu;
    for (quint8 b : bytes)
        pdu.bytes[std::size_t(pdu.len++)] = b;
    return pdu;
}

quint8 hi(quint16 v) { return quint8(v >> 8); }
quint8 lo(quint16 v) { return quint8(v & 0xFF); }

// Data bytes the decoders need: reply offsets [0, needed).
void requireLength(qint32 replyLen, qint32 needed)
{
    if (replyLen < needed)
        throw ZartError(QStringLiteral("Неверная длина данных"));
}

quint32 be32(const quint8 *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

quint16 be16(const quint8 *p)
{
    return quint16((quint16(p[0]) << 8) | p[1]);
}

// Upper half of Windows-1251 (0x80..0xFF).
constexpr char16_t Cp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я in alphabetical order
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

} // namespace

qint32 RequestPdu::copyTo(quint8 *dst) const
{
    std::memcpy(dst, bytes.data(), std::size_t(len));
    return len;
}

QByteArray RequestPdu::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), len);
}

RequestPdu RequestReadSerial()
{
    return makePdu({0x04, 0x00, 0x05, 0x00, 0x02});
}

RequestPdu RequestPing()
{
    return makePdu({0x08, 0x00, 0x00, 0xAA, 0x55});
}

RequestPdu RequestReset()
{
    return makePdu({0x08, 0x00, 0x01, 0xFF, 0x00});
}

RequestPdu RequestDeviceId()
{
    return makePdu({0x2B, 0x0E, 0x01, 0x00});
}

RequestPdu RequestSetAddress(quint8 newAddress, quint32 serial)
{
    return makePdu({0x10, 0x00, 0x00, 0x00, 0x03, 0x06, 0x00, newAddress,
                    quint8(serial >> 24), quint8(serial >> 16), quint8(serial >> 8),
                    quint8(serial)});
}

RequestPdu RequestReadCoordinates()
{
    return makePdu({0x04, 0x00, 0x00, 0x00, 0x05});
}

RequestPdu RequestReadPixels(bool floatPix)
{
    if (floatPix)
        return makePdu({0x04, 0x20, 0x01, 0x00, 0x05});
    return makePdu({0x04, 0x20, 0x00, 0x00, 0x03});
}

RequestPdu RequestIllumination(quint8 code)
{
    return RequestWriteFlashWord(IlluminationAddress, code);
}

RequestPdu RequestReadFlashWord(quint16 address)
{
    return makePdu({0x03, hi(address), lo(address), 0x00, 0x02});
}

RequestPdu RequestReadFlashBlock(quint16 address, int words)
{
    return makePdu({0x03, hi(address), lo(address), 0x00, quint8(2 * std::clamp(words, 1, MaxBlockWords))});
}

RequestPdu RequestWriteFlashWord(quint16 address, quint32 value)
{
    return makePdu({0x10, hi(address), lo(address), 0x00, 0x03, 0x06, quint8(value >> 24),
                    quint8(value >> 16), quint8(value >> 8), quint8(value), FlashWriteKey[0],
                    FlashWriteKey[1]});
}

RequestPdu RequestReadCrc()
{
    return makePdu({0x04, 0x00, 0x07, 0x00, 0x01});
}

quint8 IlluminationCode(bool xDown, bool yDown)
{
    if (xDown)
        return 1;
    if (yDown)
        return 2;
    return 0;
}

quint32 DecodeSerial(const quint8 *reply, qint32 replyLen)
{
    requireLength(replyLen, 6);
    return be32(reply + 2);
}

QString SerialText(quint32 serial)
{
    return QString::asprintf("%.8X", serial);
}

bool DecodePing(const quint8 *reply, qint32 replyLen)
{
    const RequestPdu request = RequestPing();
    if (replyLen != request.len)
        return false;
    for (qint32 i = 3; i < replyLen; ++i) {
        if (reply[i] != request.bytes[std::size_t(i)])
            return false;
    }
    return true;
}

bool DecodeReset(const quint8 *reply, qint32 replyLen)
{
    if (replyLen < 5)
        return false;
    return (reply[3] == 0x00 || reply[3] == 0xFF) && reply[4] == 0x00;
}

QString ResultText(bool ok)
{
    return ok ? QStringLiteral("Ok") : QStringLiteral("Ошибка");
}

QStringList DecodeDeviceId(const quint8 *reply, qint32 replyLen)
{
    QStringList lines;
    // Header: read device id code 1, conformity level 1, no more follows, next object 0,
    // then the number of objects.
    if (replyLen < 7 || reply[2] != 0x01 || reply[3] != 0x01 || reply[4] != 0x00
        || reply[5] != 0x00)
        return lines;

    const int count = reply[6];
    qint32 p = 7;
    for (int i = 0; i < count; ++i) {
        if (p + 2 > replyLen)
            break;
        const quint8 id = reply[p];
        const qint32 len = reply[p + 1];
        if (p + 2 + len > replyLen)
            break; // the value runs past the end of the reply: dropped
        QByteArray kept;
        for (qint32 k = 0; k < len; ++k) {
            const quint8 b = reply[p + 2 + k];
            if (b >= 0x20)
                kept.append(char(b));
        }
        const QString text =
            FromWindows1251(reinterpret_cast<const quint8 *>(kept.constData()), qint32(kept.size()));
        switch (id) {
        case 0:
            lines << QStringLiteral("VendorName: ") + text;
            break;
        case 1:
            lines << QStringLiteral("ProductCode: ") + text;
            break;
        case 2:
            lines << QStringLiteral("MajorMinorRevision: ") + text;
            break;
        default:
            break;
        }
        p += 2 + len;
    }
    return lines;
}

MeasurementTexts DecodeCoordinates(const quint8 *reply, qint32 replyLen)
{
    requireLength(replyLen, 12);
    MeasurementTexts m;
    const float x = std::bit_cast<float>(be32(reply + 2));
    const float y = std::bit_cast<float>(be32(reply + 6));
    m.x = FormatSingle(x);
    m.y = FormatSingle(y);
    m.xValue = double(x);
    m.yValue = double(y);
    m.xCode = reply[10];
    m.yCode = reply[11];
    m.xStatus = StatusText(m.xCode);
    m.yStatus = StatusText(m.yCode);
    return m;
}

MeasurementTexts DecodePixels(const quint8 *reply, qint32 replyLen, bool floatPix)
{
    if (floatPix)
        return DecodeCoordinates(reply, replyLen);
    requireLength(replyLen, 8);
    MeasurementTexts m;
    m.xValue = be16(reply + 2);
    m.yValue = be16(reply + 4);
    m.x = QString::number(be16(reply + 2));
    m.y = QString::number(be16(reply + 4));
    m.xCode = reply[6];
    m.yCode = reply[7];
    m.xStatus = StatusText(m.xCode);
    m.yStatus = StatusText(m.yCode);
    return m;
}

quint32 DecodeWord(const quint8 *reply, qint32 replyLen)
{
    requireLength(replyLen, 6);
    return be32(reply + 2);
}

void DecodeWords(const quint8 *reply, qint32 replyLen, quint32 *words, int count)
{
    requireLength(replyLen, 2 + 4 * count);
    for (int i = 0; i < count; ++i)
        words[i] = be32(reply + 2 + 4 * i);
}

QString WordText(quint32 word)
{
    return QString::asprintf("%.8X", word);
}

QString DecodeCrc(const quint8 *reply, qint32 replyLen)
{
    requireLength(replyLen, 4);
    return QString::asprintf("%.2X%.2X", unsigned(reply[2]), unsigned(reply[3]));
}

long double GridStep(int version, int dimension)
{
    if (dimension == FineGridDimension)
        return version == 11 || version == 15 ? 2.0L : 2.05L;
    return version == 11 || version == 12 || version == 13 || version == 15 ? 5.0L : 5.05L;
}

QString FirmwareVersionLine(quint8 version)
{
    QString line = QString::asprintf("Версия прошивки: 0x%.2X", unsigned(version));
    // The versions whose grid steps are known, fine grid and coarse grid.
    if (version >= 11 && version <= 15) {
        line += QStringLiteral(" (шаг сетки %1 мм, %2 мм)")
                    .arg(FormatFloat(GridStep(version, FineGridDimension)),
                         FormatFloat(GridStep(version, 0)));
    }
    return line;
}

QString DimensionLine(quint8 dimension)
{
    return QString::asprintf("Размерность прибора: %d", int(dimension));
}

QString CpuVersionLine(quint8 cpu)
{
    QString line = QString::asprintf("Версия CPU: 0x%.2X", unsigned(cpu));
    if (cpu == 1)
        line += QStringLiteral(" (ADuC831)");
    else if (cpu == 2)
        line += QStringLiteral(" (ADuC841)");
    return line;
}

QStringList VersionLines(quint32 versionWord, quint32 dimensionWord, quint32 cpuWord)
{
    return {FirmwareVersionLine(quint8(versionWord)), DimensionLine(quint8(dimensionWord)),
            CpuVersionLine(quint8(cpuWord))};
}

QString FromWindows1251(const quint8 *bytes, qint32 count)
{
    QString s;
    s.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        const quint8 b = bytes[i];
        s.append(b < 0x80 ? QChar(b) : QChar(Cp1251High[b - 0x80]));
    }
    return s;
}
