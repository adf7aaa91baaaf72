#include "FlashImage.h"

#include "common/NumberFormat.h"
#include "sensor/SensorRequests.h"

bool IsRestoreSkipped(int index)
{
    for (int skipped : RestoreSkippedWords) {
        if (index == skipped)
            return true;
    }
    return false;
}

bool IsNotRestored(int index)
{
    return index == WordIllumination || (index >= WordCrc && index <= WordRequiredCrc);
}

quint32 FieldValue(const FlashField &rec, quint32 word)
{
    switch (rec.Size) {
    case 1:
        return word & 0xFFu;
    case 2:
        return word & 0xFFFFu;
    default:
        return word;
    }
}

QString FieldValueText(const FlashField &rec, quint32 word)
{
    const quint32 value = FieldValue(rec, word);
    if (rec.Decimal != 0)
        return QString::number(value);
    const int digits = rec.Size == 1 || rec.Size == 2 ? 2 * rec.Size : 8;
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

QString RawText(quint32 word)
{
    return WordText(word);
}

QString CalibrationValueText(quint32 word)
{
    return FormatSingleBits(word);
}

long double GridStepOf(const FlashImage &image)
{
    return GridStep(int(image[WordFirmware] & 0xFF), int(image[WordDimension] & 0xFF));
}

QString DumpFileName(quint32 serial)
{
    return SerialText(serial) + QStringLiteral(".dmp");
}

QString PassportFileName(quint32 serial)
{
    return SerialText(serial) + QStringLiteral(".ini");
}
