#pragma once

#include <QString>
#include <QtGlobal>

class QDateTime;
struct MeasurementTexts;

// Running statistics of one channel's readings, by Welford's update: the mean
// and the sum of squared deviations are carried forward one value at a time, so
// a long series neither loses precision to a large sum of squares nor needs its
// values kept. A value that is not finite (a NaN or an infinity from the sensor)
// is left out: one of them would make every figure after it meaningless.
class ReadingStats
{
public:
    void add(double value);
    // A reading that brought no value (no reply, a refused request).
    void addFailure() { ++m_failures; }
    void clear() { *this = ReadingStats(); }

    qint64 count() const { return m_count; }
    qint64 failures() const { return m_failures; }
    // The figures below are 0 while count() is 0.
    double mean() const { return m_mean; }
    // The sample standard deviation (divisor n - 1); 0 for a single value.
    double standardDeviation() const;
    double min() const { return m_min; }
    double max() const { return m_max; }
    double peakToPeak() const { return m_max - m_min; }

private:
    qint64 m_count = 0;
    qint64 m_failures = 0;
    double m_mean = 0.0;
    double m_m2 = 0.0; // sum of squared deviations from the running mean
    double m_min = 0.0;
    double m_max = 0.0;
};

// The summary line of a channel: "# X n=20 mean=… sd=… min=… max=… pp=… failed=2",
// each number the shortest text that reads back to the double held
// (ShortestText); only "# X n=0 failed=…" when there is nothing to sum up.
// failed= is always last.
QString StatsLine(const QString &channel, const ReadingStats &stats);

// The spot view's table of one channel: count, mean, standard deviation, min,
// max and peak-to-peak ("Размах"), empty figures while count() is 0. All five
// figures show the same number of decimals (StatsDecimals), trailing zeros
// dropped; the peak-to-peak is the difference of min and max as shown, so the
// table adds up.
QStringList StatsTexts(const ReadingStats &stats);
// At least three decimals, and as many more as the spread (the smaller nonzero
// of the standard deviation and the peak-to-peak) needs to show two significant
// digits, at most 12: readings of 1.0004 and 1.0006 show with five.
int StatsDecimals(const ReadingStats &stats);

// ISO 8601 with milliseconds and the offset from UTC of the time's own zone:
// "2026-12-09T12:34:56.789+03:00" ("+00:00" for UTC).
QString IsoTimeWithOffset(const QDateTime &time);

// One reading as the watch prints it and the spot view saves it: the time
// (IsoTimeWithOffset), X and Y as the shortest texts that read back to the
// singles received (xValue, yValue; ShortestText), and the two error texts,
// TAB-separated.
QString WatchLine(const QDateTime &time, const MeasurementTexts &m);
