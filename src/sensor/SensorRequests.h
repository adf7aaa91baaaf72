#pragma once

#include "RegisterMap.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>

// Requests of the sensor's register map and the decoding of their replies.
//
// A request is a PDU: the function code followed by its data, without the bus
// address and the CRC, which the transaction engine adds. A reply is the PDU the
// engine leaves in ReplyBuf/ReplyLen: function code at offset 0; for functions 3
// and 4 the byte count at offset 1 and the data from offset 2; for the other
// functions the reply's bytes in the order of the Modbus application protocol.
//
// Multi-byte values travel big-endian; a 32-bit value is two registers, the
// high-order register first.

// The flash-write key: fills the third register (the last two bytes) of every
// flash-word write request, in this order.
inline constexpr std::array<quint8, 2> FlashWriteKey = {0xA5, 0x5A};

// One request PDU, small enough to be passed by value.
struct RequestPdu
{
    static constexpr int MaxSize = 12;

    std::array<quint8, MaxSize> bytes{};
    qint32 len = 0;

    const quint8 *data() const { return bytes.data(); }
    qint32 size() const { return len; }
    // Copies the PDU to dst (at least len bytes) and returns its length.
    qint32 copyTo(quint8 *dst) const;
    QByteArray toByteArray() const;
};

// --- Request builders --------------------------------------------------------

// 04 00 05 00 02: serial number (input registers 5 and 6).
RequestPdu RequestReadSerial();
// 08 00 00 AA 55: echo test (diagnostics, return query data).
RequestPdu RequestPing();
// 08 00 01 FF 00: restart communications, clearing the event log.
RequestPdu RequestReset();
// 2B 0E 01 00: read device identification, basic, from object 0.
RequestPdu RequestDeviceId();
// 10 00 00 00 03 06 00 A S3 S2 S1 S0: broadcast; the sensor with serial S takes address A.
RequestPdu RequestSetAddress(quint8 newAddress, quint32 serial);
// 04 00 00 00 05: X, Y and their error codes.
RequestPdu RequestReadCoordinates();
// 04 20 01 00 05 (real pixels) or 04 20 00 00 03 (integer pixels).
RequestPdu RequestReadPixels(bool floatPix);
// Flash-word write of the illumination code (0 off, 1 X, 2 Y) to word 6.
RequestPdu RequestIllumination(quint8 code);
// 03 Ah Al 00 02: one flash word at sensor address A (0x1000 + n).
RequestPdu RequestReadFlashWord(quint16 address);
// The most flash words one read may ask for: 124 registers, 248 data bytes.
inline constexpr int MaxBlockWords = 62;
// 03 Ah Al 00 2N: N flash words (1..MaxBlockWords) from sensor address A on.
RequestPdu RequestReadFlashBlock(quint16 address, int words);
// 10 Ah Al 00 03 06 V3 V2 V1 V0 K0 K1: one flash word, then the flash-write key.
RequestPdu RequestWriteFlashWord(quint16 address, quint32 value);
// 04 00 07 00 01: the sensor's checksum.
RequestPdu RequestReadCrc();

// Illumination code of the two toggle buttons: 1 when X is down, else 2 when Y
// is down, else 0.
quint8 IlluminationCode(bool xDown, bool yDown);

// --- Reply decoders ----------------------------------------------------------
// The reply has been validated by the engine. A decoder that needs more data
// bytes than the reply holds throws ZartError("Неверная длина данных") rather
// than read past the reply.

// Serial number: the four data bytes, high byte first.
quint32 DecodeSerial(const quint8 *reply, qint32 replyLen);
// Eight upper-case hexadecimal digits, zero-padded ("%.8x" of the tool).
QString SerialText(quint32 serial);

// Echo test: the reply has the request's length (5) and echoes its data 0xAA 0x55.
bool DecodePing(const quint8 *reply, qint32 replyLen);
// Restart: echoed data 0x00 or 0xFF, then 0x00.
bool DecodeReset(const quint8 *reply, qint32 replyLen);
// "Ok" or "Ошибка".
QString ResultText(bool ok);

// Device identification: "VendorName: ", "ProductCode: ", "MajorMinorRevision: "
// lines of objects 0, 1 and 2 in reply order; other objects give no line. An
// unexpected header gives no lines. Objects are read only within replyLen: an
// object whose value runs past the end of the reply is dropped, and so is
// everything after it. Bytes below 0x20 are left out; the rest is Windows-1251.
QStringList DecodeDeviceId(const quint8 *reply, qint32 replyLen);

// The four fields of a measurement: two values and two error-code texts.
struct MeasurementTexts
{
    QString x;
    QString y;
    QString xStatus;
    QString yStatus;
    // The same reading as numbers (a single or an unsigned 16-bit value, both
    // exact in a double) and the raw error codes, for the statistics and the
    // spot view.
    double xValue = 0.0;
    double yValue = 0.0;
    quint8 xCode = 0;
    quint8 yCode = 0;
};

// Coordinates, and real pixels (same layout): X and Y as singles in bytes 2-5 and
// 6-9 ("0.###"), error codes in bytes 10 and 11.
MeasurementTexts DecodeCoordinates(const quint8 *reply, qint32 replyLen);
// Pixels: the real form as DecodeCoordinates; the integer form nx and ny as
// unsigned 16-bit decimals in bytes 2-3 and 4-5, error codes in bytes 6 and 7.
MeasurementTexts DecodePixels(const quint8 *reply, qint32 replyLen, bool floatPix);

// A flash word: the four data bytes, high byte first.
quint32 DecodeWord(const quint8 *reply, qint32 replyLen);
// A block of flash words into words[0 .. count): four data bytes each, high
// byte first.
void DecodeWords(const quint8 *reply, qint32 replyLen, quint32 *words, int count);
// Eight upper-case hexadecimal digits, zero-padded.
QString WordText(quint32 word);

// Checksum: the two data bytes as four upper-case hexadecimal digits.
QString DecodeCrc(const quint8 *reply, qint32 replyLen);

// The three lines of the version display, from the low bytes of the firmware
// version, device dimension and processor version words.
QString FirmwareVersionLine(quint8 version);
QString DimensionLine(quint8 dimension);
QString CpuVersionLine(quint8 cpu);
QStringList VersionLines(quint32 versionWord, quint32 dimensionWord, quint32 cpuWord);

// Windows-1251 text as a QString (one character per byte; 0x98, unassigned in
// that code page, maps to U+0098 as on Windows).
QString FromWindows1251(const quint8 *bytes, qint32 count);
