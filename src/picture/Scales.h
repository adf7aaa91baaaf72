#pragma once

#include "flash/CalibrationGrid.h"

#include <QList>
#include <QtGlobal>

// The scales of the pictures: value ranges, the colour scale and axis ticks.

// A range that can be drawn: an invalid one becomes -1..1, an empty one (all
// values equal) is widened around its value, so no scale divides by zero.
ValueRange DrawableRange(const ValueRange &range);

// Position of v between min and max, clamped to 0..1; 0.5 when the range is
// empty; NaN for a non-finite v.
double ScalePosition(const ValueRange &range, double v);

// The colour at position t (0..1, clamped) of the picture's colour scale, which
// runs from dark violet through blue and green to yellow and holds no red.
struct Rgb
{
    quint8 r;
    quint8 g;
    quint8 b;
    friend bool operator==(const Rgb &, const Rgb &) = default;
};
Rgb ScaleColour(double t);

// Round tick values (1, 2 or 5 times a power of ten apart) inside lo..hi, at
// most maxTicks + 1 of them; empty for a range that is not finite or not rising.
QList<double> AxisTicks(double lo, double hi, int maxTicks);

// The greatest of 1, 2 and 5 times a power of ten that is at most x (a hair
// above counts, so that 5 computed as 4.9999999999 is still 5); 0 for an x
// that is not positive and finite.
double RoundAtMost(double x);

// The value range of a strip chart: the data's extremes, widened to a span of
// at least 0.002 around their middle (a constant series included), then out to
// whole steps of a round size (1, 2 or 5 times a power of ten, at least 0.001),
// so that its two ends read as different "0.###" numbers; -1..1 without data.
ValueRange ChartRange(const ValueRange &data);
