#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>
#include <optional>

// Rules of the hexadecimal input fields: the serial number of the address
// assignment, the flash address and the flash data.

// A field's text read as a hexadecimal number: hexadecimal digits are taken from
// the left up to the first character that is not one; leading zeros do not count
// and at most eight significant digits are taken. An empty text, or one that
// begins with another character, reads as 0. The reading is complete when the
// text is not empty, holds hexadecimal digits only and has at most eight digits
// after its leading zeros.
struct HexFieldValue
{
    quint32 value = 0;
    bool complete = false;
};
HexFieldValue ReadHexField(const QString &text);

// Per-character filter of the hexadecimal fields: a character above 0x20 that is
// not a hexadecimal digit is refused (no value); a to f become A to F; blanks and
// control characters pass.
std::optional<QChar> HexKeyFilter(QChar key);

// The serial-number field: the filter above, then, when the text already has
// eight or more characters and nothing of it is selected, every key but
// Backspace is refused.
std::optional<QChar> SerialKeyFilter(const QString &text, bool hasSelection, QChar key);

// On leaving a field with the eight-digit rule: "0" put in front of a shorter
// text until it has eight characters; a longer text stays as it is.
QString PadHexField(const QString &text);

// Step buttons (and Up/Down keys) of the flash address: the value, signed 32-bit,
// goes up or down by one when the reading is complete; going up past 0xFFFF gives
// 0, going down below 0 gives 0xFFFF. The new text has at least four upper-case
// digits; a negative value shows as its eight-digit two's complement.
QString StepAddressUp(const QString &text);
QString StepAddressDown(const QString &text);

// Step buttons of the flash data: one up or down when the reading is complete,
// wrapping in 32 bits; eight upper-case digits.
QString StepDataUp(const QString &text);
QString StepDataDown(const QString &text);

// The flash address the read and write commands send: the field's value reduced
// to its low 16 bits (no range test).
quint16 FlashAddressOfField(const QString &text);

// The write that would leave the sensor without a bus address: value 0 to the
// address word. WriteFlashWord refuses it with ZeroAddressWriteText.
bool IsZeroAddressWrite(quint16 address, quint32 value);
inline constexpr char16_t ZeroAddressWriteText[] =
    u"Данная ячейка отвечает за адрес прибора. Адрес не может быть нулевым.";
