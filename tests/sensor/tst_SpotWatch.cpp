// The spot view's logic without widgets: where a reading is drawn, which
// readings the trail and the chart show, the stop after failures in a row, and
// the CSV lines and their file.

#include "sensor/SpotWatch.h"
#include "sensor/SensorRequests.h"
#include "common/ZartError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <bit>
#include <cmath>
#include <limits>

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A coordinate reading as the decoder gives it.
MeasurementTexts reading(float x, float y, quint8 xCode = 1, quint8 yCode = 1)
{
    quint8 reply[12] = {0x04, 10};
    const quint32 bx = std::bit_cast<quint32>(x);
    const quint32 by = std::bit_cast<quint32>(y);
    for (int i = 0; i < 4; ++i) {
        reply[2 + i] = quint8(bx >> (24 - 8 * i));
        reply[6 + i] = quint8(by >> (24 - 8 * i));
    }
    reply[10] = xCode;
    reply[11] = yCode;
    return DecodeCoordinates(reply, 12);
}

} // namespace

class TestSpotWatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Field +-50 (step 5): inside as it is; outside on the border where the
    // line from the centre leaves the field, with the direction on towards it.
    void placeSpot_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<bool>("placed");
        QTest::addColumn<bool>("inside");
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<QPointF>("direction");

        QTest::newRow("centre") << 0.0 << 0.0 << true << true << QPointF(0, 0) << QPointF();
        QTest::newRow("on the corner") << 50.0 << -50.0 << true << true << QPointF(50, -50) << QPointF();
        QTest::newRow("right of the field") << 80.0 << 20.0 << true << false << QPointF(50, 12.5)
                                            << QPointF(0.970143, 0.242536);
        QTest::newRow("below the field") << -10.0 << -200.0 << true << false << QPointF(-2.5, -50)
                                         << QPointF(-0.0499376, -0.998752);
        QTest::newRow("beyond a corner") << -1e6 << 1e6 << true << false << QPointF(-50, 50)
                                         << QPointF(-0.707107, 0.707107);
        QTest::newRow("largest single") << 3.4028234663852886e38 << 0.0 << true << false << QPointF(50, 0)
                                        << QPointF(1, 0);
        QTest::newRow("X infinite") << Inf << 7.0 << true << false << QPointF(50, 0) << QPointF(1, 0);
        QTest::newRow("both infinite") << -Inf << -Inf << true << false << QPointF(-50, -50)
                                       << QPointF(-0.707107, -0.707107);
        QTest::newRow("NaN") << NaN << 1.0 << false << false << QPointF() << QPointF();
    }
    void placeSpot()
    {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(bool, placed);
        QFETCH(bool, inside);
        QFETCH(QPointF, point);
        QFETCH(QPointF, direction);
        const SpotField field = CoordinateField(5.0L);
        const SpotPlace p = PlaceSpot(field, x, y);
        QCOMPARE(p.placed, placed);
        QCOMPARE(p.inside, inside);
        QVERIFY2(std::hypot(p.point.x() - point.x(), p.point.y() - point.y()) < 1e-4,
                 qPrintable(QStringLiteral("%1 %2").arg(p.point.x()).arg(p.point.y())));
        QVERIFY(std::hypot(p.direction.x() - direction.x(), p.direction.y() - direction.y()) < 1e-5);
    }

    void coordinateFieldFromStep()
    {
        const SpotField f = CoordinateField(2.05L);
        QCOMPARE(f.left, -20.5);
        QCOMPARE(f.right, 20.5);
        QCOMPARE(f.bottom, -20.5);
        QCOMPARE(f.top, 20.5);
    }

    // 250 readings 1 s apart with failures between: the trail is the last 200,
    // the chart the last 61 (within 60 s of the last), three failures in a row
    // stop and a reading in between starts the count again.
    void series()
    {
        SpotSeries s;
        QCOMPARE(s.addFailure(), false);
        QCOMPARE(s.addFailure(), false);
        s.addReading(0, 0, reading(1, 2));
        QCOMPARE(s.failuresInRow(), 0);
        for (int i = 1; i < 250; ++i)
            s.addReading(i * 1000, i * 1000, reading(float(i), NAN));
        QCOMPARE(s.readings().size(), std::size_t(250));
        QCOMPARE(s.trailBegin(), std::size_t(50));
        QCOMPARE(s.chartBegin(), std::size_t(189));
        QCOMPARE(s.xStats().count(), 250);
        QCOMPARE(s.yStats().count(), 1); // the NaNs are left out
        QCOMPARE(s.readingsPerSecond(249000), 250.0 / 249.0);
        QCOMPARE(s.addFailure(), false);
        QCOMPARE(s.addFailure(), false);
        QCOMPARE(s.addFailure(), true);
        QCOMPARE(s.failures(), 5);
        s.clear();
        QVERIFY(s.readings().empty());
        QCOMPARE(s.failures(), 0);
    }

    // A line of the CSV is the watch's line of the same reading.
    void csvLineIsTheWatchLine_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<int>("xCode");
        QTest::addColumn<int>("yCode");
        QTest::newRow("plain") << 10.0f << -3.2f << 1 << 0;
        QTest::newRow("rounded") << 1.0625f << 2.5f << 2 << 3;
        QTest::newRow("large and unknown code") << 3.4028235e38f << 576460752303423488.0f << 7 << 1;
        QTest::newRow("non-finite") << -INFINITY << -NAN << 1 << 1;
        QTest::newRow("below a thousandth") << 1.0004f << -0.00012345f << 1 << 1;
    }
    void csvLineIsTheWatchLine()
    {
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(int, xCode);
        QFETCH(int, yCode);
        const MeasurementTexts m = reading(x, y, quint8(xCode), quint8(yCode));
        SpotSeries s;
        const qint64 t = QDateTime(QDate(2026, 3, 1), QTime(12, 30, 15, 42)).toMSecsSinceEpoch();
        s.addReading(t, 0, m);
        const QString line = SpotSeries::csvLine(s.readings().front());
        QCOMPARE(line, WatchLine(QDateTime::fromMSecsSinceEpoch(t), m));
        QCOMPARE(QString::fromUtf8(s.csvText()), line + u'\n');
    }

    // A target that cannot be written: the system's reason, nothing replaced,
    // the readings kept for another try.
    void saveCsv()
    {
        QTemporaryDir dir;
        SpotSeries s;
        s.addReading(0, 0, reading(1, 2));
        s.addReading(100, 100, reading(3, 4));
        const QString blocked = dir.filePath(QStringLiteral("no-such-folder/spot.csv"));
        try {
            SaveSpotCsv(blocked, s);
            QFAIL("written into a missing folder");
        } catch (const ZartError &e) {
            QVERIFY(!e.text().isEmpty());
        }
        QCOMPARE(s.readings().size(), std::size_t(2));
        const QString path = dir.filePath(QStringLiteral("spot.csv"));
        SaveSpotCsv(path, s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the end after the last
        QVERIFY(lines[1].endsWith("\t3\t4\tok\tok"));
    }
};

QTEST_APPLESS_MAIN(TestSpotWatch)
#include "tst_SpotWatch.moc"
