#include "codec/FrameCodec.h"

#include "codec/Crc16.h"

namespace {

// Read Device Identification (function 43, MEI type 14): the header before the
// object list is address, function, MEI type, read-device-id code, conformity
// level, more-follows, next object id and the number of objects.
constexpr qint32 kDevIdHeaderLen = 8;

bool isDeviceIdReplyComplete(const quint8 *rx, qint32 n)
{
    if (n < 3 || rx[2] != 0x0E || n < kDevIdHeaderLen)
        return false;
    const int objects = rx[7];
    if (objects == 0)
        return false;
    // Running sum of the object lengths, kept in one byte as the sensor's own
    // firmware sizes its replies.
    quint8 sum = 0;
    for (int i = 1; i <= objects; ++i) {
        const int p = 2 * i + kDevIdHeaderLen + sum; // one past the length byte of object i
        if (p <= n)
            sum = quint8(sum + rx[p - 1]);
    }
    return 2 * objects + 10 + sum <= n;
}

} // namespace

bool IsFrameComplete(const quint8 *rx, qint32 n)
{
    if (rx == nullptr || n < 2)
        return false;
    switch (rx[1]) {
    case 3:
    case 4: {
        const int byteCount = n >= 3 ? rx[2] : 0;
        if (byteCount == 0)
            return false;
        return n >= byteCount + 5;
    }
    case 8: {
        if (n < 4)
            return false;
        const int subFunction = rx[2] * 256 + rx[3];
        if (subFunction == 0)
            return n >= 6;
        if (subFunction == 1)
            return n >= 8;
        return false;
    }
    case 16:
        return n >= 8;
    case 43:
        return isDeviceIdReplyComplete(rx, n);
    case 0x83:
    case 0x84:
    case 0x88:
    case 0x90:
    case 0xAB:
        return n >= 5;
    default:
        return false;
    }
}

qint32 ReplyFrameLength(const quint8 *rx, qint32 n, qint32 requestLen)
{
    if (rx == nullptr || n < 2)
        return 0;
    switch (rx[1]) {
    case 3:
    case 4:
        return n >= 3 && rx[2] != 0 ? rx[2] + 5 : 0;
    case 8: {
        if (n < 4)
            return 0;
        const int subFunction = rx[2] * 256 + rx[3];
        if (subFunction == 0)
            return qMax(6, requestLen);
        return subFunction == 1 ? 8 : 0;
    }
    case 16:
        return 8;
    case 43: {
        if (n < kDevIdHeaderLen || rx[2] != 0x0E || rx[7] == 0)
            return 0;
        const int objects = rx[7];
        quint8 sum = 0;
        int lastLengthByte = 0;
        for (int i = 1; i <= objects; ++i) {
            const int p = 2 * i + kDevIdHeaderLen + sum;
            if (p > n)
                return 0; // the length byte of object i has not come yet
            sum = quint8(sum + rx[p - 1]);
            lastLengthByte = qMax(lastLengthByte, p);
        }
        // Past 255 the one-byte sum wraps, and the length may end before a length
        // byte already counted: IsFrameComplete would not call that many bytes a
        // frame. The end is then left to the silence, as without the fast end.
        const int length = 2 * objects + 10 + sum;
        return lastLengthByte <= length ? length : 0;
    }
    case 0x83:
    case 0x84:
    case 0x88:
    case 0x90:
    case 0xAB:
        return 5;
    default:
        return 0;
    }
}

QString HexLine(const quint8 *data, qint32 count)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (data == nullptr || count <= 0)
        return QString();
    QString line;
    line.reserve(count * 3 - 1);
    for (qint32 i = 0; i < count; ++i) {
        if (i > 0)
            line += QLatin1Char(' ');
        line += QLatin1Char(kDigits[data[i] >> 4]);
        line += QLatin1Char(kDigits[data[i] & 0x0F]);
    }
    return line;
}

QByteArray BuildFrame(quint8 address, const quint8 *pdu, qint32 pduLen)
{
    if (pdu == nullptr || pduLen < 0)
        pduLen = 0;
    QByteArray frame(pduLen + 3, '\0');
    auto *bytes = reinterpret_cast<quint8 *>(frame.data());
    bytes[0] = address;
    for (qint32 i = 0; i < pduLen; ++i)
        bytes[1 + i] = pdu[i];
    const quint16 crc = Crc16(bytes, pduLen + 1);
    bytes[pduLen + 1] = quint8(crc & 0xFF);
    bytes[pduLen + 2] = quint8(crc >> 8);
    return frame;
}
