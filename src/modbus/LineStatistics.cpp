#include "modbus/LineStatistics.h"

#include "serial/AdapterFacts.h"

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 NsPerMs = 1000000;
constexpr int HistogramBarWidth = 40;

double msOf(qint64 ns)
{
    return double(ns) / double(NsPerMs);
}

QString msText(double ms)
{
    return QString::number(ms, 'f', 2);
}

QString latencyLine(const QString &title, const LatencySeries &series)
{
    const std::optional<LatencySeries::Summary> s = series.summary();
    if (!s)
        return QStringLiteral("%1: нет данных").arg(title);
    QString line = QStringLiteral("%1: медиана %2 мс, 95% %3 мс, наибольшая %4 мс")
                       .arg(title, msText(s->medianMs), msText(s->p95Ms), msText(s->maxMs));
    if (series.sampled())
        line += QStringLiteral(" (медиана и 95% по %1 случайным из %2)")
                    .arg(LatencySeries::SampleCap)
                    .arg(series.count());
    return line;
}

QStringList histogramLines(const LatencySeries &series)
{
    const auto &h = series.histogram();
    const auto used = [](qint64 n) { return n > 0; };
    const auto first = std::find_if(h.cbegin(), h.cend(), used);
    if (first == h.cend())
        return {};
    const auto last = std::find_if(h.crbegin(), h.crend(), used).base();
    const qint64 most = *std::max_element(h.cbegin(), h.cend());
    int labelWidth = 0;
    int countWidth = 0;
    for (auto it = first; it != last; ++it) {
        labelWidth = std::max(labelWidth, int(BucketText(int(it - h.cbegin())).size()));
        countWidth = std::max(countWidth, int(QString::number(*it).size()));
    }
    QStringList lines{QStringLiteral("Распределение задержки ответа:")};
    for (auto it = first; it != last; ++it) {
        // A bucket that has any reply shows at least one mark.
        const int bar = *it == 0 ? 0 : std::max(1, int(*it * HistogramBarWidth / most));
        QString row = QStringLiteral("  %1 %2").arg(BucketText(int(it - h.cbegin())), -labelWidth).arg(*it, countWidth);
        if (bar > 0)
            row += QLatin1Char(' ') + QString(bar, QLatin1Char('#'));
        lines << row;
    }
    return lines;
}

QStringList adapterLines(const AdapterFacts &a)
{
    QString name = QStringList{a.manufacturer, a.product}.join(QLatin1Char(' ')).simplified();
    QString line = QStringLiteral("Адаптер: ");
    if (!name.isEmpty())
        line += name + QLatin1Char(' ');
    line += QStringLiteral("(%1:%2)").arg(a.vendorId, a.productId);
    if (!a.driver.isEmpty())
        line += QStringLiteral(", драйвер %1").arg(a.driver);
    QStringList lines{line};
    if (a.latencyTimerMs >= 0)
        lines << QStringLiteral("Таймер задержки адаптера: %1 мс").arg(a.latencyTimerMs);
    switch (a.lowLatency) {
    case ISerialDevice::LowLatency::On:
        lines << QStringLiteral("Режим малой задержки: включён");
        break;
    case ISerialDevice::LowLatency::Refused:
        lines << QStringLiteral("Режим малой задержки: включить не удалось");
        break;
    case ISerialDevice::LowLatency::Unknown:
        break;
    }
    if (a.latencyTimerMs > 1 && a.lowLatency != ISerialDevice::LowLatency::On && !a.driver.isEmpty()) {
        lines << QStringLiteral("Адаптер задерживает каждый ответ до %1 мс. Таймер 1 мс навсегда ставит"
                                " правило udev (например, в файле /etc/udev/rules.d/99-latency-timer.rules):")
                     .arg(a.latencyTimerMs)
              << LatencyRuleLine(a.driver);
    }
    return lines;
}

} // namespace

int LatencySeries::BucketOf(qint64 ns)
{
    const auto bound = std::find_if(BucketBoundsMs.cbegin(), BucketBoundsMs.cend(),
                                    [ns](int ms) { return ns < qint64(ms) * NsPerMs; });
    return int(bound - BucketBoundsMs.cbegin());
}

void LatencySeries::add(qint64 ns)
{
    if (ns < 0)
        return;
    ++m_count;
    m_maxNs = std::max(m_maxNs, ns);
    ++m_histogram[size_t(BucketOf(ns))];
    const auto us = quint32(std::min<qint64>(ns / 1000, std::numeric_limits<quint32>::max()));
    if (m_samples.size() < size_t(SampleCap)) {
        m_samples.push_back(us);
        return;
    }
    // Reservoir sampling: the n-th latency takes a place with chance SampleCap / n.
    m_random ^= m_random << 13;
    m_random ^= m_random >> 7;
    m_random ^= m_random << 17;
    const quint64 place = m_random % quint64(m_count);
    if (place < quint64(SampleCap))
        m_samples[size_t(place)] = us;
}

void LatencySeries::clear()
{
    *this = LatencySeries();
}

std::optional<LatencySeries::Summary> LatencySeries::summary() const
{
    if (m_samples.empty())
        return std::nullopt;
    std::vector<quint32> sorted(m_samples);
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const auto ms = [](quint32 us) { return double(us) / 1000.0; };
    Summary s;
    s.medianMs = n % 2 ? ms(sorted[n / 2]) : (ms(sorted[n / 2 - 1]) + ms(sorted[n / 2])) / 2;
    s.p95Ms = ms(sorted[(n * 95 + 99) / 100 - 1]);
    s.maxMs = msOf(m_maxNs);
    return s;
}

void LineStatistics::recordExchange(ExchangeOutcome outcome, qint64 firstByteNs, qint64 frameNs)
{
    ++m_exchanges;
    ++m_counts[size_t(outcome)];
    m_firstByte.add(firstByteNs);
    m_frame.add(frameNs);
}

void LineStatistics::reset()
{
    *this = LineStatistics();
}

QString OutcomeText(ExchangeOutcome outcome)
{
    switch (outcome) {
    case ExchangeOutcome::Success: return QStringLiteral("Успешно");
    case ExchangeOutcome::Timeout: return QStringLiteral("Таймаут");
    case ExchangeOutcome::Crc: return QStringLiteral("Ошибка CRC");
    case ExchangeOutcome::Length: return QStringLiteral("Неверная длина");
    case ExchangeOutcome::Exception: return QStringLiteral("Исключение");
    case ExchangeOutcome::Incomplete: return QStringLiteral("Неполный ответ");
    case ExchangeOutcome::Port: return QStringLiteral("Ошибка порта");
    case ExchangeOutcome::Other: return QStringLiteral("Прочие ошибки");
    }
    return {};
}

QString BucketText(int bucket)
{
    const auto &bounds = LatencySeries::BucketBoundsMs;
    if (bucket <= 0)
        return QStringLiteral("до %1 мс").arg(bounds.front());
    if (bucket >= int(bounds.size()))
        return QStringLiteral("от %1 мс").arg(bounds.back());
    return QStringLiteral("%1–%2 мс").arg(bounds[size_t(bucket - 1)]).arg(bounds[size_t(bucket)]);
}

QString LatencyRuleLine(const QString &driver)
{
    return QStringLiteral("ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"%1\", ATTR{latency_timer}=\"1\"")
        .arg(driver);
}

QStringList LineStatisticsLines(const LineStatistics &stats, const std::optional<AdapterFacts> &adapter,
                                bool withHistogram)
{
    QStringList lines{QStringLiteral("Обменов: %1").arg(stats.exchanges())};
    for (int i = 0; i < ExchangeOutcomeCount; ++i) {
        const auto outcome = ExchangeOutcome(i);
        lines << QStringLiteral("%1: %2").arg(OutcomeText(outcome)).arg(stats.count(outcome));
    }
    lines << QStringLiteral("Повторов: %1").arg(stats.repeats())
          << latencyLine(QStringLiteral("Задержка первого байта"), stats.firstByte())
          << latencyLine(QStringLiteral("Задержка ответа"), stats.frame());
    if (withHistogram)
        lines << histogramLines(stats.frame());
    if (adapter)
        lines << adapterLines(*adapter);
    return lines;
}

QStringList LineStatisticsLines(const LineStatistics &stats, SerialLink &link, bool withHistogram,
                                const QString &sysRoot)
{
    return LineStatisticsLines(stats, AdapterFactsOf(link, sysRoot), withHistogram);
}

QStringList LineStatisticsLines(const LineStatistics &stats, SerialLink &link, bool withHistogram)
{
    return LineStatisticsLines(stats, AdapterFactsOf(link), withHistogram);
}
