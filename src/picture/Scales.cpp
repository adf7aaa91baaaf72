#include "picture/Scales.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

ValueRange DrawableRange(const ValueRange &range)
{
    if (!range.valid)
        return {-1, 1, true};
    if (range.max > range.min)
        return range;
    const double pad = range.min == 0 ? 1 : std::abs(range.min) / 10;
    return {range.min - pad, range.max + pad, true};
}

double ScalePosition(const ValueRange &range, double v)
{
    if (!std::isfinite(v))
        return std::nan("");
    if (!(range.max > range.min))
        return 0.5;
    const double t = (v - range.min) / (range.max - range.min);
    return std::clamp(std::isfinite(t) ? t : 0.5, 0.0, 1.0);
}

Rgb ScaleColour(double t)
{
    // Five stops of a perceptually even scale from dark violet to yellow.
    static constexpr std::array<Rgb, 5> Stops = {
        {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}}};
    if (!(t > 0)) // NaN too
        return Stops.front();
    if (t >= 1)
        return Stops.back();
    const double scaled = t * double(Stops.size() - 1);
    const auto n = std::size_t(scaled);
    const double f = scaled - double(n);
    const Rgb a = Stops[n];
    const Rgb b = Stops[n + 1];
    const auto mix = [f](quint8 x, quint8 y) { return quint8(std::lround(x + (y - x) * f)); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

namespace {

// The least of 1, 2 and 5 times a power of ten that is at least rough.
double niceStep(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0})
        if (power * m >= rough)
            return power * m;
    return power * 10;
}

} // namespace

QList<double> AxisTicks(double lo, double hi, int maxTicks)
{
    QList<double> ticks;
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || maxTicks < 1
        || !std::isfinite(hi - lo))
        return ticks;
    const double step = niceStep((hi - lo) / maxTicks);
    // A tick that rounding puts a hair outside an end is that end; snapping a
    // near-zero tick to 0 must not move it out of the range either.
    const double hair = step * 1e-9;
    const double first = std::ceil(lo / step);
    for (int n = 0; n <= maxTicks; ++n) {
        double v = (first + n) * step;
        if (std::abs(v) < hair && lo <= 0 && hi >= 0)
            v = 0;
        if (v > hi) {
            if (v - hi > hair)
                break;
            v = hi;
        }
        if (v < lo) {
            if (lo - v > hair)
                continue;
            v = lo;
        }
        if (ticks.isEmpty() || v > ticks.last())
            ticks.append(v);
    }
    return ticks;
}

double RoundAtMost(double x)
{
    if (!(x > 0) || !std::isfinite(x))
        return 0;
    const double near = std::min(x * (1 + 1e-9), std::numeric_limits<double>::max());
    const double power = std::pow(10.0, std::floor(std::log10(near)));
    for (const double m : {5.0, 2.0})
        if (power * m <= near)
            return power * m;
    return power;
}

ValueRange ChartRange(const ValueRange &data)
{
    if (!data.valid || !std::isfinite(data.min) || !std::isfinite(data.max) || data.max < data.min)
        return {-1, 1, true};
    constexpr double Least = 0.001; // the last digit "0.###" shows
    double lo = data.min;
    double hi = data.max;
    if (!std::isfinite(hi - lo))
        return data;
    if (hi - lo < 2 * Least) {
        const double mid = lo / 2 + hi / 2;
        lo = mid - Least;
        hi = mid + Least;
    }
    const double step = std::max(niceStep((hi - lo) / 4), Least);
    // A hair keeps an end that is already a whole step where it is.
    const double a = std::floor(lo / step + 1e-9) * step;
    const double b = std::ceil(hi / step - 1e-9) * step;
    if (!std::isfinite(a) || !std::isfinite(b) || !(b > a))
        return {lo, hi, true};
    return {a, b, true};
}
