#include "ReadingStats.h"

#include "common/NumberFormat.h"
#include "SensorRequests.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cmath>

void ReadingStats::add(double value)
{
    if (!std::isfinite(value))
        return;
    ++m_count;
    if (m_count == 1) {
        m_mean = value;
        m_m2 = 0.0;
        m_min = m_max = value;
        return;
    }
    const double delta = value - m_mean;
    m_mean += delta / double(m_count);
    m_m2 += delta * (value - m_mean);
    m_min = std::min(m_min, value);
    m_max = std::max(m_max, value);
}

double ReadingStats::standardDeviation() const
{
    if (m_count < 2)
        return 0.0;
    // Rounding may leave a hair below zero for equal values.
    return std::sqrt(std::max(0.0, m_m2 / double(m_count - 1)));
}

QString StatsLine(const QString &channel, const ReadingStats &stats)
{
    QString line = QStringLiteral("# %1 n=%2").arg(channel).arg(stats.count());
    const QString failed = QStringLiteral(" failed=%1").arg(stats.failures());
    if (stats.count() == 0)
        return line + failed;
    const auto f = [](double v) { return FormatFloat(static_cast<long double>(v)); };
    return line
        + QStringLiteral(" mean=%1 sd=%2 min=%3 max=%4 pp=%5")
              .arg(f(stats.mean()), f(stats.standardDeviation()), f(stats.min()), f(stats.max()),
                   f(stats.peakToPeak()))
        + failed;
}

QString WatchLine(const QDateTime &time, const MeasurementTexts &m)
{
    return QStringList{time.toString(Qt::ISODateWithMs), m.x, m.y, m.xStatus, m.yStatus}.join(
        QLatin1Char('\t'));
}
