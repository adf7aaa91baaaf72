#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <array>

// The sensor's flash as the tool sees it: 1024 words of 32 bits, word n at
// sensor address 0x1000 + n, held as native integers (the dump file stores them
// least significant byte first, the bus carries them most significant first).
inline constexpr int FlashWords = 1024;
using FlashImage = std::array<quint32, FlashWords>;

inline constexpr quint16 FlashWordAddress(int index)
{
    return quint16(0x1000 + index);
}

// Word indices with a meaning to the tool.
inline constexpr int WordAddress = 0x000;      // bus address, 1..247
inline constexpr int WordSerial = 0x001;       // serial number
inline constexpr int WordExposureX = 0x002;
inline constexpr int WordExposureY = 0x003;
inline constexpr int WordThresholdX = 0x004;   // comparator threshold ("level")
inline constexpr int WordThresholdY = 0x005;
inline constexpr int WordIllumination = 0x006; // 0 off, 1 X, 2 Y
inline constexpr int WordFirmware = 0x3FA;
inline constexpr int WordDimension = 0x3FB;    // 40 selects the fine grid
inline constexpr int WordCpu = 0x3FC;
inline constexpr int WordCrc = 0x3FD;
inline constexpr int WordRealCrc = 0x3FE;
inline constexpr int WordRequiredCrc = 0x3FF;

// Calibration: a grid of 21 x 21 points; point k is row k / 21, column k % 21.
// One single per point and channel.
inline constexpr int GridSide = 21;
inline constexpr int GridPoints = GridSide * GridSide; // 441
inline constexpr int GridCentre = GridPoints / 2;      // 220, coordinates 0 and 0
inline constexpr int XTableIndex = 128;                // words 128..568
inline constexpr int YTableIndex = 570;                // words 570..1010

// Words that the dump restore neither writes nor verifies: the address word
// (handled last, on request) and the illumination control word.
inline constexpr std::array<int, 2> RestoreSkippedWords = {WordAddress, WordIllumination};
bool IsRestoreSkipped(int index);

// Words whose value a dump restore does not bring back: the illumination control
// word and the three checksum words (the sensor computes one, the checksum
// correction rewrites another).
bool IsNotRestored(int index);

// One named field of the dump viewer.
struct TFlashListRec
{
    qint32 Index;   // word index
    qint32 Size;    // low-order bytes that carry the value: 1, 2 or 4
    qint32 Decimal; // nonzero: shown in decimal; zero: "0x" and hexadecimal
    QStringView Name;
};

inline constexpr std::array<TFlashListRec, 12> FlashList = {{
    {0x000, 1, 0, u"Адрес"},
    {0x001, 4, 0, u"Серийный номер"},
    {0x002, 1, 1, u"Экспозиция X"},
    {0x003, 1, 1, u"Экспозиция Y"},
    {0x004, 1, 1, u"Порог компарации X"},
    {0x005, 1, 1, u"Порог компарации Y"},
    {0x3FA, 1, 1, u"Версия прошивки"},
    {0x3FB, 1, 1, u"Размерность прибора"},
    {0x3FC, 1, 1, u"Версия CPU"},
    {0x3FD, 2, 0, u"CRC"},
    {0x3FE, 2, 0, u"Реальное CRC"},
    {0x3FF, 2, 0, u"Требуемое CRC"},
}};

// The field's value: the low 8, 16 or all 32 bits of the word.
quint32 FieldValue(const TFlashListRec &rec, quint32 word);
// Decimal, or "0x" and 2 x Size upper-case hexadecimal digits.
QString FieldValueText(const TFlashListRec &rec, quint32 word);
// The whole word as eight upper-case hexadecimal digits.
QString RawText(quint32 word);
// A calibration word read as a single and shown as "0.###".
QString CalibrationValueText(quint32 word);

// Grid step in millimetres from the low bytes of the firmware version and the
// device dimension words, in extended precision:
//   dimension 40: 2 for versions 11 and 15, else 2.05;
//   other dimensions: 5 for versions 11, 12, 13 and 15, else 5.05.
long double GridStep(int version, int dimension);
long double GridStepOf(const FlashImage &image);

// Default file names of a sensor: "%.8x.dmp" and "%.8x.ini" of its serial number.
QString DumpFileName(quint32 serial);
QString PassportFileName(quint32 serial);
