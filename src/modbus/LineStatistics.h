#pragma once

#include "serial/AdapterFacts.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

class SerialLink;

// How one exchange on the data port ended, as the line statistics count it.
enum class ExchangeOutcome : quint8 {
    Success,
    Timeout,    // no complete read within the reply timeout
    Crc,        // the reply's CRC is wrong
    Length,     // the reply's length or byte count is wrong
    Exception,  // a Modbus exception reply
    Incomplete, // bytes read that are no whole reply
    Port,       // the link failed, or the read or the write could not be started
    Other,      // any other broken rule (address, function, sub-function, register count)
};
inline constexpr int ExchangeOutcomeCount = 8;

// The latencies of one kind (to the first byte, to the whole frame) in
// nanoseconds: every one is counted in a histogram of fixed buckets and in the
// largest; the median and the 95th percentile are exact up to SampleCap
// samples (a dump has 1024 exchanges, a search 247) and, beyond it, come from
// a uniform random sample of SampleCap of them, so that a long watch uses
// bounded memory.
class LatencySeries
{
public:
    static constexpr int SampleCap = 100000;
    // Upper bounds of the histogram buckets in milliseconds, powers of two:
    // below 1 ms, 1 to 2 ms, ..., 512 to 1024 ms; the last bucket has no bound.
    static constexpr int BucketCount = 12;
    static constexpr std::array<int, BucketCount - 1> BucketBoundsMs{1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024};
    static int BucketOf(qint64 ns);

    struct Summary
    {
        double medianMs = 0; // the middle sample, or the mean of the two middle ones
        double p95Ms = 0;    // nearest rank: the smallest sample that 95 % of them do not exceed
        double maxMs = 0;
    };

    void add(qint64 ns);
    void clear();
    qint64 count() const { return m_count; }
    // Nothing while there are no samples.
    std::optional<Summary> summary() const;
    // Whether the median and the 95th percentile come from a sample of the latencies.
    bool sampled() const { return m_count > qint64(m_samples.size()); }
    const std::array<qint64, BucketCount> &histogram() const { return m_histogram; }

private:
    std::vector<quint32> m_samples; // microseconds
    std::array<qint64, BucketCount> m_histogram{};
    qint64 m_count = 0;
    qint64 m_maxNs = 0;
    quint64 m_random = 0x9E3779B97F4A7C15ull; // reservoir choice, the same in every run
};

// What happened on a data port: every exchange of the transaction engine with
// its outcome and reply latencies, and the repeats of the long operations.
class LineStatistics
{
public:
    // firstByteNs, frameNs: the link's timing of the reply (SerialLink::LastTiming),
    // negative where it was not measured.
    void recordExchange(ExchangeOutcome outcome, qint64 firstByteNs = -1, qint64 frameNs = -1);
    void recordRepeat() { ++m_repeats; }
    void reset();

    qint64 exchanges() const { return m_exchanges; }
    qint64 count(ExchangeOutcome outcome) const { return m_counts[size_t(outcome)]; }
    qint64 repeats() const { return m_repeats; }
    const LatencySeries &firstByte() const { return m_firstByte; }
    const LatencySeries &frame() const { return m_frame; }

private:
    std::array<qint64, ExchangeOutcomeCount> m_counts{};
    qint64 m_exchanges = 0;
    qint64 m_repeats = 0;
    LatencySeries m_firstByte;
    LatencySeries m_frame;
};

// The name of an outcome as the statistics show it ("Успешно", "Таймаут", ...).
QString OutcomeText(ExchangeOutcome outcome);
// "до 1 мс", "1–2 мс", ..., "от 1024 мс".
QString BucketText(int bucket);

// The udev rule that sets an adapter's latency timer to 1 ms whenever it is plugged in.
QString LatencyRuleLine(const QString &driver);

// The statistics as lines of text: the counts per outcome, the repeats, the
// latencies (median, 95 %, largest) to the first byte and to the whole reply,
// with the histogram of the whole reply's latency when asked, then the adapter's
// lines when there are facts: which adapter, its latency timer, the
// low-latency mode, and when the timer holds replies back (above 1 ms, the
// mode not on) what fixes it for good.
QStringList LineStatisticsLines(const LineStatistics &stats, const std::optional<AdapterFacts> &adapter,
                                bool withHistogram);
// The same for a data port: the facts of the link's adapter as sysfs under sysRoot tells them.
QStringList LineStatisticsLines(const LineStatistics &stats, SerialLink &link, bool withHistogram,
                                const QString &sysRoot);
QStringList LineStatisticsLines(const LineStatistics &stats, SerialLink &link, bool withHistogram);
