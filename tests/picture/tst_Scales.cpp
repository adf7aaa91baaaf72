// The scales of the pictures: drawable ranges and positions on them, the colour
// scale and the axis ticks.

#include "picture/Scales.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

} // namespace

Q_DECLARE_METATYPE(ValueRange)

class TestScales : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scale_data()
    {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("drawMin");
        QTest::addColumn<double>("drawMax");
        QTest::addColumn<double>("position");

        QTest::newRow("middle") << 0.0 << 10.0 << true << 5.0 << 0.0 << 10.0 << 0.5;
        QTest::newRow("below, clamped") << 0.0 << 10.0 << true << -3.0 << 0.0 << 10.0 << 0.0;
        QTest::newRow("above, clamped") << 0.0 << 10.0 << true << 12.0 << 0.0 << 10.0 << 1.0;
        QTest::newRow("widest singles") << -3.4e38 << 3.4e38 << true << 1.7e38 << -3.4e38 << 3.4e38 << 0.75;
        // No division by zero: an empty range draws around its value, mid-scale.
        QTest::newRow("all equal") << 5.0 << 5.0 << true << 5.0 << 4.5 << 5.5 << 0.5;
        QTest::newRow("all zero") << 0.0 << 0.0 << true << 0.0 << -1.0 << 1.0 << 0.5;
        QTest::newRow("no finite value") << 0.0 << 0.0 << false << 1.0 << -1.0 << 1.0 << 0.5;
    }
    void scale()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(bool, valid);
        QFETCH(double, value);
        QFETCH(double, drawMin);
        QFETCH(double, drawMax);
        QFETCH(double, position);

        const ValueRange drawable = DrawableRange({min, max, valid});
        QVERIFY(drawable.valid);
        QCOMPARE(drawable.min, drawMin);
        QCOMPARE(drawable.max, drawMax);
        QCOMPARE(ScalePosition({min, max, valid}, value), position);
        QVERIFY(std::isnan(ScalePosition({min, max, valid}, NaN)));
        QVERIFY(std::isnan(ScalePosition({min, max, valid}, Inf)));
    }

    void colours()
    {
        QCOMPARE(ScaleColour(0), (Rgb{68, 1, 84}));
        QCOMPARE(ScaleColour(0.5), (Rgb{33, 145, 140}));
        QCOMPARE(ScaleColour(1), (Rgb{253, 231, 37}));
        QCOMPARE(ScaleColour(-2), ScaleColour(0));
        QCOMPARE(ScaleColour(7), ScaleColour(1));
        QCOMPARE(ScaleColour(NaN), ScaleColour(0));
        // Red is kept for the marks: no colour of the scale comes near it.
        for (int n = 0; n <= 100; ++n) {
            const Rgb c = ScaleColour(n / 100.0);
            QVERIFY2(!(c.r > 150 && c.g < 100), qPrintable(QString::number(n)));
        }
    }

    // A strip chart's range: never empty, ends at round values that read apart.
    void chartRange_data()
    {
        QTest::addColumn<ValueRange>("data");
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::newRow("no data") << ValueRange{} << -1.0 << 1.0;
        QTest::newRow("constant") << ValueRange{4, 4, true} << 3.999 << 4.001;
        QTest::newRow("constant zero") << ValueRange{0, 0, true} << -0.001 << 0.001;
        QTest::newRow("constant five-digit pixels") << ValueRange{12345, 12345, true} << 12344.999 << 12345.001;
        QTest::newRow("spread below 0.001") << ValueRange{1.0004, 1.0006, true} << 0.999 << 1.002;
        QTest::newRow("five-digit pixels") << ValueRange{12010, 12480, true} << 12000.0 << 12600.0;
        QTest::newRow("millimetres") << ValueRange{-3.7, 2.2, true} << -4.0 << 4.0;
        QTest::newRow("not finite") << ValueRange{NaN, 1, true} << -1.0 << 1.0;
    }
    void chartRange()
    {
        QFETCH(ValueRange, data);
        QFETCH(double, lo);
        QFETCH(double, hi);
        const ValueRange r = ChartRange(data);
        QVERIFY(r.valid);
        QVERIFY2(std::abs(r.min - lo) < 1e-9 * std::max(1.0, std::abs(lo)), qPrintable(QString::number(r.min, 'g', 17)));
        QVERIFY2(std::abs(r.max - hi) < 1e-9 * std::max(1.0, std::abs(hi)), qPrintable(QString::number(r.max, 'g', 17)));
        if (data.valid && std::isfinite(data.min))
            QVERIFY(r.min <= data.min && r.max >= data.max);
    }

    void ticks_data()
    {
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::addColumn<int>("maxTicks");
        QTest::addColumn<QList<double>>("ticks");

        QTest::newRow("unit steps") << 0.0 << 10.0 << 5 << QList<double>{0, 2, 4, 6, 8, 10};
        QTest::newRow("fine grid") << -20.5 << 20.5 << 4 << QList<double>{-20, 0, 20};
        QTest::newRow("fine grid, more ticks") << -20.5 << 20.5 << 8 << QList<double>{-20, -10, 0, 10, 20};
        QTest::newRow("fractions") << 0.31 << 0.7 << 4 << QList<double>{0.4, 0.5, 0.6, 0.7};
        QTest::newRow("widest singles") << -3.4e38 << 3.4e38 << 6 << QList<double>{-2e38, 0, 2e38};
        // The tick of 0 lies a rounding hair above a range that ends just below it.
        QTest::newRow("ends a hair below zero")
            << -2.8315930366516113 << -1.0909863769974193e-17 << 8
            << QList<double>{-2.5, -2, -1.5, -1, -0.5, -1.0909863769974193e-17};
        QTest::newRow("starts a hair above zero")
            << 1.0909863769974193e-17 << 2.8315930366516113 << 8
            << QList<double>{0.5, 1, 1.5, 2, 2.5};
        QTest::newRow("empty range") << 5.0 << 5.0 << 4 << QList<double>{};
        QTest::newRow("not finite") << NaN << 1.0 << 4 << QList<double>{};
    }
    void ticks()
    {
        QFETCH(double, lo);
        QFETCH(double, hi);
        QFETCH(int, maxTicks);
        QFETCH(QList<double>, ticks);
        const QList<double> got = AxisTicks(lo, hi, maxTicks);
        for (qsizetype n = 0; n < got.size(); ++n)
            QVERIFY2(got[n] >= lo && got[n] <= hi && (n == 0 || got[n] > got[n - 1]), qPrintable(QString::number(got[n])));
        QCOMPARE(got.size(), ticks.size());
        for (qsizetype n = 0; n < got.size(); ++n)
            QVERIFY2(std::abs(got[n] - ticks[n]) <= 1e-9 * std::max(1.0, std::abs(ticks[n])),
                     qPrintable(QString::number(got[n])));
    }
};

QTEST_GUILESS_MAIN(TestScales)
#include "tst_Scales.moc"
