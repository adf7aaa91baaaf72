// The line statistics on injected latencies: the figures and the text lines.

#include "modbus/LineStatistics.h"
#include "serial/AdapterFacts.h"

#include <QTest>

#include <algorithm>
#include <functional>
#include <random>

namespace {

constexpr qint64 Us = 1000;
constexpr qint64 Ms = 1000000;

using Feed = std::function<void(LineStatistics &)>;

// Frames of 1..20 ms, their first bytes 0.5 ms earlier; outcomes of every kind
// but two, and two repeats.
void mixed(LineStatistics &s)
{
    for (int ms = 1; ms <= 20; ++ms)
        s.recordExchange(ExchangeOutcome::Success, ms * Ms - 500 * Us, ms * Ms);
    s.recordExchange(ExchangeOutcome::Timeout);
    s.recordExchange(ExchangeOutcome::Timeout);
    s.recordExchange(ExchangeOutcome::Crc, 3 * Ms, 4 * Ms);
    s.recordExchange(ExchangeOutcome::Incomplete, 2 * Ms, -1);
    s.recordExchange(ExchangeOutcome::Port);
    s.recordExchange(ExchangeOutcome::Other, 1 * Ms, 2 * Ms);
    s.recordRepeat();
    s.recordRepeat();
}

AdapterFacts ftdi(int timerMs, ISerialDevice::LowLatency mode)
{
    AdapterFacts f{QStringLiteral("ttyUSB0"), QStringLiteral("0403"), QStringLiteral("6001"),
                   QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"), QStringLiteral("ftdi_sio"), timerMs};
    f.lowLatency = mode;
    return f;
}

} // namespace

Q_DECLARE_METATYPE(Feed)
Q_DECLARE_METATYPE(std::optional<AdapterFacts>)

class TestLineStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void summary_data();
    void summary();
    void buckets_data();
    void buckets();
    void longWatchSampled();
    void lines_data();
    void lines();
};

void TestLineStats::summary_data()
{
    QTest::addColumn<QList<qint64>>("samplesUs"); // negative: not measured
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("p95");
    QTest::addColumn<double>("max");

    QList<qint64> hundred;
    for (qint64 i = 100; i >= 1; --i)
        hundred << i * 1000;
    QList<qint64> twenty;
    for (qint64 i = 1; i <= 20; ++i)
        twenty << i * 1000;
    std::shuffle(twenty.begin(), twenty.end(), std::mt19937(7));

    QTest::newRow("one") << QList<qint64>{7250} << 7.25 << 7.25 << 7.25;
    QTest::newRow("two: the mean of the middle") << QList<qint64>{1000, 3000} << 2.0 << 3.0 << 3.0;
    QTest::newRow("odd count") << QList<qint64>{900, 100, 500} << 0.5 << 0.9 << 0.9;
    QTest::newRow("1..20 ms shuffled: 95 % is the 19th") << twenty << 10.5 << 19.0 << 20.0;
    QTest::newRow("100..1 ms: 95 % is the 95th") << hundred << 50.5 << 95.0 << 100.0;
    QTest::newRow("one slow reply among equals")
        << QList<qint64>(19, 2000) + QList<qint64>{16000} << 2.0 << 2.0 << 16.0;
    QTest::newRow("unmeasured left out") << QList<qint64>{-1, 4000, -1, 6000} << 5.0 << 6.0 << 6.0;
}

void TestLineStats::summary()
{
    QFETCH(QList<qint64>, samplesUs);
    QFETCH(double, median);
    QFETCH(double, p95);
    QFETCH(double, max);

    LatencySeries series;
    for (const qint64 us : samplesUs)
        series.add(us < 0 ? -1 : us * Us);
    const auto s = series.summary();
    QVERIFY(s);
    QCOMPARE(s->medianMs, median);
    QCOMPARE(s->p95Ms, p95);
    QCOMPARE(s->maxMs, max);
    QCOMPARE(series.count(), qint64(std::count_if(samplesUs.cbegin(), samplesUs.cend(), [](qint64 v) { return v >= 0; })));
    QVERIFY(!series.sampled());
    const auto &h = series.histogram();
    QCOMPARE(std::accumulate(h.cbegin(), h.cend(), qint64(0)), series.count());
}

void TestLineStats::buckets_data()
{
    QTest::addColumn<qint64>("ns");
    QTest::addColumn<int>("bucket");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << qint64(0) << 0 << "до 1 мс";
    QTest::newRow("just below 1 ms") << Ms - 1 << 0 << "до 1 мс";
    QTest::newRow("1 ms") << Ms << 1 << "1–2 мс";
    QTest::newRow("15.9 ms") << 15900 * Us << 4 << "8–16 мс";
    QTest::newRow("16 ms: an FTDI timer") << 16 * Ms << 5 << "16–32 мс";
    QTest::newRow("1023 ms") << 1023 * Ms << 10 << "512–1024 мс";
    QTest::newRow("1024 ms") << 1024 * Ms << 11 << "от 1024 мс";
    QTest::newRow("an hour") << 3600000 * Ms << 11 << "от 1024 мс";
}

void TestLineStats::buckets()
{
    QFETCH(qint64, ns);
    QFETCH(int, bucket);
    QFETCH(QString, text);
    QCOMPARE(LatencySeries::BucketOf(ns), bucket);
    QCOMPARE(BucketText(bucket), text);
}

// Beyond the cap the median comes from a sample; the count, the histogram and
// the largest stay exact.
void TestLineStats::longWatchSampled()
{
    LatencySeries series;
    const qint64 n = LatencySeries::SampleCap * 3;
    for (qint64 i = 0; i < n; ++i)
        series.add((i % 1000) * 10 * Us + (i == n / 2 ? 5000 * Ms : 0)); // 0..9.99 ms, one of 5 s
    QCOMPARE(series.count(), n);
    QVERIFY(series.sampled());
    const auto s = series.summary();
    QCOMPARE(s->maxMs, 5000.0);
    QVERIFY2(qAbs(s->medianMs - 5.0) < 0.25, qPrintable(QString::number(s->medianMs)));
    QVERIFY2(qAbs(s->p95Ms - 9.5) < 0.25, qPrintable(QString::number(s->p95Ms)));
    QCOMPARE(series.histogram()[size_t(LatencySeries::BucketOf(5000 * Ms))], qint64(1));
}

void TestLineStats::lines_data()
{
    QTest::addColumn<Feed>("feed");
    QTest::addColumn<std::optional<AdapterFacts>>("adapter");
    QTest::addColumn<bool>("histogram");
    QTest::addColumn<QStringList>("expected");

    const auto counts = [](int n, const QList<int> &perOutcome, int repeats) {
        const QStringList names{"Успешно", "Таймаут", "Ошибка CRC", "Неверная длина", "Исключение",
                                "Неполный ответ", "Ошибка порта", "Прочие ошибки"};
        QStringList lines{QStringLiteral("Обменов: %1").arg(n)};
        for (int i = 0; i < names.size(); ++i)
            lines << QStringLiteral("%1: %2").arg(names[i]).arg(perOutcome[i]);
        return lines << QStringLiteral("Повторов: %1").arg(repeats);
    };
    const QStringList none = counts(0, {0, 0, 0, 0, 0, 0, 0, 0}, 0)
                             + QStringList{"Задержка первого байта: нет данных", "Задержка ответа: нет данных"};
    const QStringList mixedLines =
        counts(26, {20, 2, 1, 0, 0, 1, 1, 1}, 2)
        + QStringList{"Задержка первого байта: медиана 8.50 мс, 95% 18.50 мс, наибольшая 19.50 мс",
                      "Задержка ответа: медиана 9.50 мс, 95% 19.00 мс, наибольшая 20.00 мс"};
    const QStringList histogram{"Распределение задержки ответа:",
                                "  1–2 мс   1 #####",
                                "  2–4 мс   3 ###############",
                                "  4–8 мс   5 #########################",
                                "  8–16 мс  8 ########################################",
                                "  16–32 мс 5 #########################"};
    const QString adapter = QStringLiteral("Адаптер: FTDI FT232R USB UART (0403:6001), драйвер ftdi_sio");
    const QStringList advice{
        "Адаптер задерживает каждый ответ до 16 мс. Таймер 1 мс навсегда ставит правило udev"
        " (например, в файле /etc/udev/rules.d/99-latency-timer.rules):",
        R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1")"};
    using LL = ISerialDevice::LowLatency;
    const Feed nothing = [](LineStatistics &) {};
    const Feed reset = [](LineStatistics &s) { mixed(s); s.reset(); };

    QTest::newRow("nothing yet") << nothing << std::optional<AdapterFacts>() << true << none;
    QTest::newRow("after a reset") << reset << std::optional<AdapterFacts>() << true << none;
    QTest::newRow("mixed") << Feed(mixed) << std::optional<AdapterFacts>() << false << mixedLines;
    QTest::newRow("mixed, histogram") << Feed(mixed) << std::optional<AdapterFacts>() << true
                                      << mixedLines + histogram;
    QTest::newRow("FTDI 16 ms, low latency refused")
        << nothing << std::optional(ftdi(16, LL::Refused)) << false
        << none + QStringList{adapter, "Таймер задержки адаптера: 16 мс", "Режим малой задержки: включить не удалось"}
               + advice;
    QTest::newRow("FTDI 16 ms, port not open")
        << nothing << std::optional(ftdi(16, LL::Unknown)) << false
        << none + QStringList{adapter, "Таймер задержки адаптера: 16 мс"} + advice;
    QTest::newRow("FTDI 16 ms, low latency on")
        << nothing << std::optional(ftdi(16, LL::On)) << false
        << none + QStringList{adapter, "Таймер задержки адаптера: 16 мс", "Режим малой задержки: включён"};
    QTest::newRow("FTDI 1 ms, low latency refused")
        << nothing << std::optional(ftdi(1, LL::Refused)) << false
        << none + QStringList{adapter, "Таймер задержки адаптера: 1 мс", "Режим малой задержки: включить не удалось"};
    AdapterFacts acm{QStringLiteral("ttyACM0"), QStringLiteral("2341"), QStringLiteral("0043"), {}, {},
                     QStringLiteral("cdc_acm")};
    QTest::newRow("nameless adapter without a timer")
        << nothing << std::optional(acm) << false << none + QStringList{"Адаптер: (2341:0043), драйвер cdc_acm"};
}

void TestLineStats::lines()
{
    QFETCH(Feed, feed);
    QFETCH(std::optional<AdapterFacts>, adapter);
    QFETCH(bool, histogram);
    QFETCH(QStringList, expected);

    LineStatistics stats;
    feed(stats);
    QCOMPARE(LineStatisticsLines(stats, adapter, histogram), expected);
}

QTEST_GUILESS_MAIN(TestLineStats)
#include "tst_linestats.moc"
