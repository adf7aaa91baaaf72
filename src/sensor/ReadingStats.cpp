#include "ReadingStats.h"

#include "common/NumberFormat.h"
#include "SensorRequests.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdlib>

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
    const auto f = [](double v) { return ShortestText(v); };
    return line
        + QStringLiteral(" mean=%1 sd=%2 min=%3 max=%4 pp=%5")
              .arg(f(stats.mean()), f(stats.standardDeviation()), f(stats.min()), f(stats.max()),
                   f(stats.peakToPeak()))
        + failed;
}

int StatsDecimals(const ReadingStats &stats)
{
    constexpr int Least = 3;
    constexpr int Most = 12;
    double spread = 0;
    for (const double v : {stats.standardDeviation(), stats.peakToPeak()}) {
        if (std::isfinite(v) && v > 0 && (spread == 0 || v < spread))
            spread = v;
    }
    if (spread == 0)
        return Least;
    // Two significant digits: spread * 10^d >= 10.
    const int wanted = int(std::ceil(1 - std::log10(spread) - 1e-9));
    return std::clamp(wanted, Least, Most);
}

namespace {

// v rounded to d decimals, trailing zeros and a bare point dropped, no "-0".
QString fixedText(double v, int decimals)
{
    if (!std::isfinite(v) || std::abs(v) >= 1e15)
        return FormatFloat(static_cast<long double>(v));
    QString text = QString::number(v, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

} // namespace

QStringList StatsTexts(const ReadingStats &stats)
{
    if (stats.count() == 0)
        return {QStringLiteral("0"), QString(), QString(), QString(), QString(), QString()};
    const int d = StatsDecimals(stats);
    const QString min = fixedText(stats.min(), d);
    const QString max = fixedText(stats.max(), d);
    // The extremes as shown, read back: their difference is the shown span.
    const double span = max.toDouble() - min.toDouble();
    return {QString::number(stats.count()), fixedText(stats.mean(), d),
            fixedText(stats.standardDeviation(), d), min, max, fixedText(span, d)};
}

QString IsoTimeWithOffset(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const QDateTime at = time.toOffsetFromUtc(offset);
    const int minutes = std::abs(offset) / 60;
    return QStringLiteral("%1T%2%3%4:%5")
        .arg(at.date().toString(Qt::ISODate), at.time().toString(QStringLiteral("HH:mm:ss.zzz")),
             QLatin1String(offset < 0 ? "-" : "+"))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString WatchLine(const QDateTime &time, const MeasurementTexts &m)
{
    // The readings are singles or 16-bit integers, both exact as a single.
    return QStringList{IsoTimeWithOffset(time), ShortestText(float(m.xValue)), ShortestText(float(m.yValue)),
                       m.xStatus, m.yStatus}
        .join(QLatin1Char('\t'));
}
