// The running statistics against a direct two-pass computation, the summary
// line the watch prints, and the watch's reading line.

#include "common/NumberFormat.h"
#include "sensor/ReadingStats.h"
#include "sensor/SensorRequests.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

using Values = std::vector<double>;
Q_DECLARE_METATYPE(Values)

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Mean, then the squared deviations from it, over the finite values.
struct TwoPass
{
    qint64 n = 0;
    double mean = 0, sd = 0, min = 0, max = 0;
    explicit TwoPass(const Values &all)
    {
        Values v;
        std::copy_if(all.begin(), all.end(), std::back_inserter(v), [](double x) { return std::isfinite(x); });
        n = qint64(v.size());
        if (v.empty())
            return;
        long double sum = 0;
        for (double x : v)
            sum += x;
        mean = double(sum / v.size());
        long double sq = 0;
        for (double x : v)
            sq += (x - (long double)mean) * (x - (long double)mean);
        sd = v.size() > 1 ? double(std::sqrt(sq / (v.size() - 1))) : 0.0;
        min = *std::min_element(v.begin(), v.end());
        max = *std::max_element(v.begin(), v.end());
    }
};

// The number after "name=" in a line: its text, which must read back (from_chars)
// to exactly `held` and be what to_chars gives for it (the shortest such text).
bool fieldReadsBack(const QString &line, const QString &name, double held, QString *why)
{
    const QString key = QLatin1Char(' ') + name + QLatin1Char('=');
    const qsizetype at = line.indexOf(key);
    const QString text = at < 0 ? QString() : line.mid(at + key.size()).section(QLatin1Char(' '), 0, 0);
    const QByteArray bytes = text.toLatin1();
    double back = std::numeric_limits<double>::quiet_NaN();
    const auto read = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), back);
    char shortest[64];
    const auto written = std::to_chars(shortest, shortest + sizeof shortest, held);
    *why = name + QStringLiteral(": \"") + text + QStringLiteral("\"");
    return read.ec == std::errc() && read.ptr == bytes.constData() + bytes.size() && back == held
        && bytes == QByteArray(shortest, written.ptr - shortest);
}

bool near(double a, double b, double scale)
{
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, scale);
}

} // namespace

class TestReadingStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void againstTwoPass_data()
    {
        QTest::addColumn<Values>("values");
        QTest::addColumn<QString>("line");

        // The line in full where every figure is exact; otherwise (empty) each
        // figure is checked to read back to the value held.
        QTest::newRow("nothing") << Values{} << "# X n=0";
        QTest::newRow("one value") << Values{2.5} << "# X n=1 mean=2.5 sd=0 min=2.5 max=2.5 pp=0";
        QTest::newRow("two values") << Values{1.0, 3.0} << "";
        QTest::newRow("all equal") << Values(50, -3.2) << "# X n=50 mean=-3.2 sd=0 min=-3.2 max=-3.2 pp=0";
        QTest::newRow("signs mixed") << Values{-10, 4, 7.25, -0.5, 3} << "";
        // Small noise on a large offset: a one-pass sum of squares loses it.
        Values offset;
        for (int i = 0; i < 1000; ++i)
            offset.push_back(1e8 + (i % 2 ? 0.001 : -0.001));
        QTest::newRow("noise on a large offset") << offset << "";
        // Readings of a still spot, as singles: their spread is below the
        // display's three decimals and must not vanish from the line.
        Values still;
        for (int i = 0; i < 20; ++i)
            still.push_back(double(i % 2 ? 1.0006f : 1.0004f));
        QTest::newRow("spread below a thousandth") << still << "";
        // Pixels as the integer form gives them.
        QTest::newRow("integer pixels") << Values{300, 301, 299, 65535, 0} << "";
        // A NaN or an infinity is left out, and the rest still counts.
        QTest::newRow("non-finite left out") << Values{NaN, 1.0, Inf, 2.0, -Inf, 3.0}
                                             << "# X n=3 mean=2 sd=1 min=1 max=3 pp=2";
        QTest::newRow("only non-finite") << Values{NaN, Inf} << "# X n=0";
    }
    // The spot view's table: digits enough for the spread, and a span that is
    // the difference of the extremes as shown.
    void tableTexts_data()
    {
        QTest::addColumn<Values>("values");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QStringList>("texts"); // count, mean, sd, min, max, pp

        QTest::newRow("nothing") << Values{} << 3 << QStringList{"0", "", "", "", "", ""};
        QTest::newRow("constant") << Values{5, 5, 5} << 3 << QStringList{"3", "5", "0", "5", "5", "0"};
        QTest::newRow("two values") << Values{1, 3} << 3 << QStringList{"2", "2", "1.414", "1", "3", "2"};
        QTest::newRow("spread below 0.001") << Values{1.0004, 1.0006, 1.0004, 1.0006} << 5
                                            << QStringList{"4", "1.0005", "0.00012", "1.0004", "1.0006", "0.0002"};
        QTest::newRow("spread of 1e-7") << Values{2, 2.0000001} << 9
                                        << QStringList{"2", "2.00000005", "0.000000071", "2", "2.0000001", "0.0000001"};
        // The extremes round apart by more than they lie apart.
        QTest::newRow("span as shown") << Values{0.00041, 1.00051} << 3
                                       << QStringList{"2", "0.5", "0.707", "0", "1.001", "1.001"};
        QTest::newRow("five-digit pixels") << Values{12345, 12346} << 3
                                           << QStringList{"2", "12345.5", "0.707", "12345", "12346", "1"};
        QTest::newRow("negative, no minus zero") << Values{-0.0001, 0.0001} << 5
                                                 << QStringList{"2", "0", "0.00014", "-0.0001", "0.0001", "0.0002"};
    }
    void tableTexts()
    {
        QFETCH(Values, values);
        QFETCH(int, decimals);
        QFETCH(QStringList, texts);
        ReadingStats s;
        for (double v : values)
            s.add(v);
        QCOMPARE(StatsDecimals(s), decimals);
        QCOMPARE(StatsTexts(s), texts);
    }

    void againstTwoPass()
    {
        QFETCH(Values, values);
        QFETCH(QString, line);
        ReadingStats s;
        for (double v : values)
            s.add(v);
        const TwoPass ref(values);
        QCOMPARE(s.count(), ref.n);
        const double scale = std::max(std::fabs(ref.min), std::fabs(ref.max));
        QVERIFY2(near(s.mean(), ref.mean, scale), qPrintable(QString::number(s.mean(), 'g', 17)));
        QVERIFY2(std::fabs(s.standardDeviation() - ref.sd) <= 1e-9 * std::max(1.0, ref.sd),
                 qPrintable(QString::number(s.standardDeviation(), 'g', 17)));
        QCOMPARE(s.min(), ref.min);
        QCOMPARE(s.max(), ref.max);
        QCOMPARE(s.peakToPeak(), ref.max - ref.min);
        const QString text = StatsLine(QStringLiteral("X"), s);
        if (!line.isEmpty())
            QCOMPARE(text, line + QStringLiteral(" failed=0"));
        // The fields in their order, each reading back to the figure held.
        QVERIFY2(text.startsWith(QStringLiteral("# X n=%1").arg(ref.n)), qPrintable(text));
        if (ref.n > 0) {
            const QStringList names{"mean", "sd", "min", "max", "pp"};
            const double held[] = {s.mean(), s.standardDeviation(), s.min(), s.max(), s.peakToPeak()};
            qsizetype last = 0;
            for (int i = 0; i < names.size(); ++i) {
                QString why;
                QVERIFY2(fieldReadsBack(text, names[i], held[i], &why), qPrintable(text + " / " + why));
                const qsizetype at = text.indexOf(QLatin1Char(' ') + names[i] + QLatin1Char('='));
                QVERIFY2(at > last, qPrintable(text));
                last = at;
            }
        }

        s.clear();
        QCOMPARE(StatsLine(QStringLiteral("Y"), s), QStringLiteral("# Y n=0 failed=0"));
    }

    // Failed readings are counted apart, last on the line; they change no figure.
    void failures_data()
    {
        QTest::addColumn<Values>("values");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QString>("line");
        QTest::newRow("only failures") << Values{} << 3 << "# X n=0 failed=3";
        // 1 and 3 give the sample deviation sqrt(2).
        QTest::newRow("between readings")
            << Values{1.0, 3.0} << 2
            << QStringLiteral("# X n=2 mean=2 sd=%1 min=1 max=3 pp=2 failed=2").arg(ShortestText(std::sqrt(2.0)));
    }
    void failures()
    {
        QFETCH(Values, values);
        QFETCH(int, failures);
        QFETCH(QString, line);
        ReadingStats s;
        for (int i = 0; i < failures; ++i)
            s.addFailure();
        for (double v : values)
            s.add(v);
        QCOMPARE(s.failures(), qint64(failures));
        QCOMPARE(s.count(), qint64(values.size()));
        QCOMPARE(StatsLine(QStringLiteral("X"), s), line);
        s.clear();
        QCOMPARE(s.failures(), qint64(0));
    }

    // The watch's line: the time with its offset from UTC, X and Y as the
    // shortest texts of the singles received, the two error texts.
    void watchLine_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<QString>("timeText");
        const QDate day(2026, 12, 9);
        const QTime at(12, 34, 56, 789);
        QTest::newRow("Moscow") << QDateTime(day, at, QTimeZone(3 * 3600)) << 1.0004f << -3.2f
                                << "2026-12-09T12:34:56.789+03:00";
        QTest::newRow("UTC") << QDateTime(day, at, QTimeZone::utc()) << 10.0f << 7.0f
                             << "2026-12-09T12:34:56.789+00:00";
        QTest::newRow("west, half hours") << QDateTime(day, QTime(0, 0, 0, 5), QTimeZone(-(9 * 3600 + 1800)))
                                          << 1e-5f << 3.4028235e38f << "2026-12-09T00:00:00.005-09:30";
        QTest::newRow("integer pixel") << QDateTime(day, at, QTimeZone(3600)) << 65535.0f << 0.0f
                                       << "2026-12-09T12:34:56.789+01:00";
    }
    void watchLine()
    {
        QFETCH(QDateTime, time);
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(QString, timeText);
        MeasurementTexts m;
        m.x = QStringLiteral("display x"); // the display's texts are not what the line writes
        m.y = QStringLiteral("display y");
        m.xValue = double(x);
        m.yValue = double(y);
        m.xStatus = QStringLiteral("ok");
        m.yStatus = QStringLiteral("%");
        const QStringList fields = WatchLine(time, m).split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields[0], timeText);
        QCOMPARE(QDateTime::fromString(fields[0], Qt::ISODateWithMs), time);
        const float sent[] = {x, y};
        for (int i = 0; i < 2; ++i) {
            char shortest[32];
            const auto written = std::to_chars(shortest, shortest + sizeof shortest, sent[i]);
            QCOMPARE(fields[1 + i].toLatin1(), QByteArray(shortest, written.ptr - shortest));
        }
        QCOMPARE(fields.mid(3), (QStringList{"ok", "%"}));
    }
};

QTEST_APPLESS_MAIN(TestReadingStats)
#include "tst_ReadingStats.moc"
