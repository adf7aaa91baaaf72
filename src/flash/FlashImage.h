#pragma once

#include "sensor/RegisterMap.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <array>

// The sensor's flash as the tool sees it: the words of the register map held as
// native integers (the dump file stores them least significant byte first, the
// bus carries them most significant first).
using FlashImage = std::array<quint32, FlashWords>;

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
struct FlashField
{
    qint32 Index;   // word index
    qint32 Size;    // low-order bytes that carry the value: 1, 2 or 4
    qint32 Decimal; // nonzero: shown in decimal; zero: "0x" and hexadecimal
    QStringView Name;
};

inline constexpr std::array<FlashField, 12> FlashList = {{
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
quint32 FieldValue(const FlashField &rec, quint32 word);
// Decimal, or "0x" and 2 x Size upper-case hexadecimal digits.
QString FieldValueText(const FlashField &rec, quint32 word);
// The whole word as eight upper-case hexadecimal digits.
QString RawText(quint32 word);
// A calibration word read as a single and shown as "0.###".
QString CalibrationValueText(quint32 word);

// The grid step (GridStep) of the image's firmware version and dimension words.
long double GridStepOf(const FlashImage &image);

// Default file names of a sensor: "%.8x.dmp" and "%.8x.ini" of its serial number.
QString DumpFileName(quint32 serial);
QString PassportFileName(quint32 serial);
