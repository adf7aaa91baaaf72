#include "SpotWatch.h"

#include "common/AtomicFile.h"
#include "common/NumberFormat.h"
#include "sensor/StatusText.h"
#include "sensor/SensorRequests.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

void SpotSeries::addReading(qint64 time, qint64 elapsed, const MeasurementTexts &m)
{
    m_readings.push_back({time, elapsed, m.xValue, m.yValue, m.xCode, m.yCode});
    if (m_readings.size() > KeptReadings) {
        m_readings.pop_front();
        ++m_dropped;
    }
    m_x.add(m.xValue);
    m_y.add(m.yValue);
    m_failuresInRow = 0;
}

bool SpotSeries::addFailure()
{
    ++m_failures;
    return ++m_failuresInRow == FailuresToStop;
}

double SpotSeries::readingsPerSecond(qint64 elapsedMs) const
{
    const qint64 n = qint64(m_readings.size()) + m_dropped;
    return elapsedMs > 0 ? double(n) * 1000.0 / double(elapsedMs) : 0.0;
}

std::size_t SpotSeries::trailBegin() const
{
    return m_readings.size() > TrailLength ? m_readings.size() - TrailLength : 0;
}

std::size_t SpotSeries::chartBegin() const
{
    if (m_readings.empty())
        return 0;
    const qint64 from = m_readings.back().elapsed - ChartSpanMs;
    const auto it = std::lower_bound(m_readings.begin(), m_readings.end(), from,
                                     [](const SpotReading &r, qint64 t) { return r.elapsed < t; });
    return std::size_t(it - m_readings.begin());
}

QString SpotSeries::csvLine(const SpotReading &r)
{
    MeasurementTexts m;
    m.xValue = r.x;
    m.yValue = r.y;
    m.xStatus = StatusText(r.xCode);
    m.yStatus = StatusText(r.yCode);
    return WatchLine(QDateTime::fromMSecsSinceEpoch(r.time), m);
}

QByteArray SpotSeries::csvText() const
{
    QByteArray text;
    text.reserve(qsizetype(m_readings.size()) * 48);
    for (const SpotReading &r : m_readings) {
        text += csvLine(r).toUtf8();
        text += '\n';
    }
    return text;
}

void SaveSpotCsv(const QString &path, const SpotSeries &series)
{
    WriteFileAtomically(path, series.csvText());
}

SpotField CoordinateField(long double step)
{
    const double half = double(10.0L * step);
    return {-half, half, -half, half};
}

SpotField PixelField(const SpotSeries &series)
{
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -minX;
    double minY = minX;
    double maxY = -minX;
    const auto &readings = series.readings();
    for (std::size_t i = series.trailBegin(); i < readings.size(); ++i) {
        const SpotReading &r = readings[i];
        if (!std::isfinite(r.x) || !std::isfinite(r.y))
            continue;
        minX = std::min(minX, r.x);
        maxX = std::max(maxX, r.x);
        minY = std::min(minY, r.y);
        maxY = std::max(maxY, r.y);
    }
    if (!(minX <= maxX))
        return {0.0, 65535.0, 0.0, 65535.0};
    const auto span = [](double lo, double hi, double &a, double &b) {
        const double mid = (lo + hi) / 2.0;
        const double half = std::max(MinPixelHalfSpan, (hi - lo) / 2.0 * 1.2);
        a = mid - half;
        b = mid + half;
    };
    SpotField f;
    span(minX, maxX, f.left, f.right);
    span(minY, maxY, f.bottom, f.top);
    return f;
}

SpotPlace PlaceSpot(const SpotField &field, double x, double y)
{
    SpotPlace place;
    if (std::isnan(x) || std::isnan(y))
        return place;
    place.placed = true;
    if (x >= field.left && x <= field.right && y >= field.bottom && y <= field.top) {
        place.inside = true;
        place.point = {x, y};
        return place;
    }
    const QPointF c = field.centre();
    double dx = x - c.x();
    double dy = y - c.y();
    if (!std::isfinite(dx) || !std::isfinite(dy)) {
        // Only the infinite parts say where it is.
        dx = std::isinf(dx) ? std::copysign(1.0, dx) : 0.0;
        dy = std::isinf(dy) ? std::copysign(1.0, dy) : 0.0;
    }
    const double halfW = (field.right - field.left) / 2.0;
    const double halfH = (field.top - field.bottom) / 2.0;
    double t = std::numeric_limits<double>::infinity();
    if (dx != 0.0)
        t = std::min(t, halfW / std::fabs(dx));
    if (dy != 0.0)
        t = std::min(t, halfH / std::fabs(dy));
    place.point = {std::clamp(c.x() + t * dx, field.left, field.right),
                   std::clamp(c.y() + t * dy, field.bottom, field.top)};
    const double length = std::hypot(dx, dy);
    place.direction = {dx / length, dy / length};
    return place;
}

long double ReadGridStep(ModbusMaster &engine, qint32 timeoutMs)
{
    const quint32 version = ReadFlashWord(engine, FirmwareVersionAddress, timeoutMs, false);
    const quint32 dimension = ReadFlashWord(engine, DimensionAddress, timeoutMs, false);
    return GridStep(int(version & 0xFF), int(dimension & 0xFF));
}
