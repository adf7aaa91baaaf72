#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Frame helpers of the tests. The CRC here is the bit-by-bit form of the
// Modbus serial line CRC, independent of the table-driven one under test.
namespace modbustest {

inline quint16 referenceCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

// "01 03 04" → bytes; anything but hex digits is skipped.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// The bytes followed by their CRC, low byte first.
inline QByteArray withCrc(const QByteArray &bytes)
{
    const quint16 crc = referenceCrc(bytes);
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}

inline QByteArray withCrc(const char *text)
{
    return withCrc(hex(text));
}

// A frame as the log writes it: "01 04 00 05".
inline QString hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

inline const quint8 *u8(const QByteArray &bytes)
{
    return reinterpret_cast<const quint8 *>(bytes.constData());
}

} // namespace modbustest
