// The passport text reader and writer, and the ExpLevel text of "passport.ini".
//
// Input: a byte that picks the firmware and dimension words (the grid step), the
// length of an ExpLevel text (one byte), that text, then a passport text. What
// the readers accept goes into a flash image as the passport restore writes it
// (the first 441 points, the low bytes of the levels).
//
// Invariants: the passport written from that image reads back with 441 points,
// each within the display's rounding of the single written (0.0005, or 15
// significant digits from 1e18 up), a non-finite one as the same kind of value; written again from what was read back it is
// the same text byte for byte; the levels read back are the ones written.

#include "FuzzSupport.h"

#include "flash/Passport.h"

#include <bit>
#include <cmath>

namespace {

const QString ReaderFailurePrefix = QStringLiteral("Ошибка чтения паспорта: ");

bool close(long double readBack, quint32 written)
{
    const long double v = std::bit_cast<float>(written);
    // A word that is not a finite single reads back as the same kind of value
    // ("INF", "-INF", "NAN", "-NAN"); a NaN as the word PassportWord gives it.
    if (!std::isfinite(v))
        return std::signbit(readBack) == std::signbit(v)
            && (std::isnan(v) ? std::isnan(readBack) && PassportWord(readBack) == PassportWord(v)
                              : readBack == v);
    return std::fabs(readBack - v) <= 0.0005L + std::fabs(v) * 1e-14L;
}

FlashImage imageOf(const QList<PassportPoint> &points, quint8 gridByte)
{
    FlashImage image{};
    image[WordFirmware] = 11u + gridByte % 5u;      // 11..15
    image[WordDimension] = (gridByte & 0x80) ? 40u : 20u;
    for (int k = 0; k < GridPoints && k < points.size(); ++k) {
        image[std::size_t(XTableIndex + k)] = PassportWord(points[k].X);
        image[std::size_t(YTableIndex + k)] = PassportWord(points[k].Y);
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    FuzzBytes in(data, size);
    const quint8 gridByte = in.byte();
    const QString levelText = QString::fromUtf8(in.take(in.byte()));
    const QByteArray text = in.rest();

    QList<PassportPoint> points;
    try {
        points = ParsePassportText(text);
    } catch (const ZartError &e) {
        FUZZ_CHECK(e.text().startsWith(ReaderFailurePrefix), "reader failed with \"%s\"", utf8(e.text()));
        return 0;
    }
    FlashImage image = imageOf(points, gridByte);

    std::optional<ExpLevelValues> levels;
    try {
        levels = ParseExpLevel(levelText);
        image[WordExposureX] = ExpLevelWordValue(levels->ExposureX);
        image[WordThresholdX] = ExpLevelWordValue(levels->ThresholdX);
        image[WordExposureY] = ExpLevelWordValue(levels->ExposureY);
        image[WordThresholdY] = ExpLevelWordValue(levels->ThresholdY);
    } catch (const ZartError &) {
    }

    const QByteArray written = PassportText(image);
    QList<PassportPoint> readBack;
    try {
        readBack = ParsePassportText(written);
    } catch (const ZartError &e) {
        FUZZ_CHECK(false, "the written passport is refused: \"%s\"", utf8(e.text()));
    }
    FUZZ_CHECK(readBack.size() == GridPoints, "%d points read back", int(readBack.size()));
    for (int k = 0; k < GridPoints; ++k) {
        const quint32 x = image[std::size_t(XTableIndex + k)];
        const quint32 y = image[std::size_t(YTableIndex + k)];
        FUZZ_CHECK(close(readBack[k].X, x) && close(readBack[k].Y, y),
                   "point %d: %08X %08X read back as %Lg %Lg", k + 1, x, y, readBack[k].X, readBack[k].Y);
    }
    const QByteArray rewritten = PassportText(imageOf(readBack, gridByte));
    FUZZ_CHECK(rewritten == written, "the passport changes when written again");

    if (levels) {
        const ExpLevelValues again = ParseExpLevel(ExpLevelText(image));
        FUZZ_CHECK(quint32(again.ExposureX) == image[WordExposureX]
                       && quint32(again.ThresholdX) == image[WordThresholdX]
                       && quint32(again.ExposureY) == image[WordExposureY]
                       && quint32(again.ThresholdY) == image[WordThresholdY],
                   "levels \"%s\" read back as %d;%d;%d;%d", utf8(ExpLevelText(image)), again.ExposureX,
                   again.ThresholdX, again.ExposureY, again.ThresholdY);
    }
    return 0;
}
