// The live spot view: its picture drawn on an image from known readings, and
// the window reading the simulated sensor on a pseudo-terminal.

#include "AppTestUtil.h"

#include "app/SpotViewWindow.h"
#include "picture/SpotPainter.h"
#include "flash/FlashImage.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <bit>
#include <cmath>
#include <limits>

namespace {

MeasurementTexts reading(double x, double y)
{
    MeasurementTexts m;
    m.xValue = x;
    m.yValue = y;
    m.xCode = m.yCode = 1;
    return m;
}

bool isSpotColour(QRgb c)
{
    const QColor s = SpotView::SpotColour;
    return std::abs(qRed(c) - s.red()) < 24 && std::abs(qGreen(c) - s.green()) < 24
        && std::abs(qBlue(c) - s.blue()) < 24;
}

int spotPixels(const QImage &image, const QRectF &within)
{
    int n = 0;
    for (int y = int(within.top()); y < int(within.bottom()); ++y)
        for (int x = int(within.left()); x < int(within.right()); ++x)
            n += isSpotColour(image.pixel(x, y));
    return n;
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

class TestSpotView : public QObject
{
    Q_OBJECT

    testsim::SensorOnPty m_line;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_line.start(), qPrintable(m_line.errorString())); }
    void cleanupTestCase() { m_line.stop(); }
    void init() { m_line.reset(); }

    // The last reading is red: a dot where it is, or an arrow whose tip is on
    // the border where the line from the centre leaves the field and whose
    // tail lies further in. Nothing red when it has no place (NaN), and never
    // outside the plot.
    void render_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<QPointF>("at");   // in the plane: dot, or arrow tip
        QTest::addColumn<bool>("inside");

        QTest::newRow("inside") << 10.0 << -20.0 << QPointF(10, -20) << true;
        QTest::newRow("right of the field") << 80.0 << 20.0 << QPointF(50, 12.5) << false;
        QTest::newRow("NaN") << NaN << 3.0 << QPointF() << true;
    }
    void render()
    {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(QPointF, at);
        QFETCH(bool, inside);

        SpotSeries series;
        series.addReading(0, 0, reading(-30, 30)); // a trail point, blue
        series.addReading(100, 100, reading(x, y));
        const SpotView view{series, CoordinateField(5.0L), QStringLiteral("X"), QStringLiteral("Y")};
        const QSize size(600, 600);
        const QImage image = RenderSpotView(view, size);
        // RenderSpotView gives the field the upper two thirds.
        const QRectF plot = view.fieldPlot(QRectF(0, 0, 600, 400));

        const int red = spotPixels(image, QRectF(0, 0, 600, 600));
        if (std::isnan(x)) {
            QCOMPARE(red, 0);
            return;
        }
        QVERIFY(red > 20);
        // Nothing red outside the plot: the spot is not lost beyond it.
        QCOMPARE(red, spotPixels(image, plot.adjusted(-2, -2, 2, 2)));

        const QPointF p = view.toPlot(plot, at);
        if (inside) {
            QVERIFY(isSpotColour(image.pixel(p.toPoint())));
            return;
        }
        const SpotPlace place = PlaceSpot(view.field, x, y);
        const QPointF d(place.direction.x(), -place.direction.y());
        // The tail of the arrow inside the field, nothing red beyond the tip.
        QVERIFY(isSpotColour(image.pixel((p - d * (SpotView::ArrowLength - 4)).toPoint())));
        QVERIFY(isSpotColour(image.pixel((p - d * 6).toPoint())));
        QVERIFY(!isSpotColour(image.pixel((p + d * 6).toPoint())));
        // The trail point keeps its place.
        QVERIFY(!isSpotColour(image.pixel(view.toPlot(plot, QPointF(-30, 30)).toPoint())));
        QVERIFY(image.pixel(view.toPlot(plot, QPointF(-30, 30)).toPoint()) != qRgb(255, 255, 255));
    }

    // The view follows the sensor with its statistics, keeps the main window's
    // commands off while it reads, stops after three failures in a row with
    // one red line, and keeps its readings when the CSV cannot be written.
    void followsTheSensor()
    {
        SimWindow window(m_line.devicePath());
        QVERIFY(window.ready());
        SpotViewWindow *view = window.form()->spotViewWindow();
        QVERIFY(view);
        const auto child = [view](const char *name) {
            QWidget *w = view->findChild<QWidget *>(QString::fromLatin1(name));
            if (!w)
                qFatal("no control %s", name);
            return w;
        };
        auto *startButton = qobject_cast<QPushButton *>(child("StartButton"));
        auto *statsTable = qobject_cast<QTableWidget *>(child("StatsTable"));
        auto *statusLabel = qobject_cast<QLabel *>(child("StatusLabel"));
        auto *failedLabel = qobject_cast<QLabel *>(child("FailedLabel"));
        m_line.sensor.setCoordinates(1.5f, -2.25f);
        window.setTimeouts(kSilentTimeoutMs, kSilentTimeoutMs);

        window.click("SpotViewButton");
        QTRY_VERIFY(view->isVisible());
        qobject_cast<QCheckBox *>(child("FastestCheckBox"))->setChecked(true);
        QTest::mouseClick(startButton, Qt::LeftButton);
        QVERIFY(view->isRunning());
        QVERIFY(!window.child("ReadCoordButton")->isEnabled());
        QVERIFY(!window.child("SpotViewButton")->isEnabled());
        QTRY_VERIFY(view->series().readings().size() >= 5);

        // The field from the sensor's grid step.
        const long double step = GridStep(int(m_line.sensor.word(0x3FA) & 0xFF),
                                          int(m_line.sensor.word(0x3FB) & 0xFF));
        QCOMPARE(view->field().right, double(10.0L * step));
        QCOMPARE(statsTable->item(1, 0)->text(), QStringLiteral("1.5"));
        QCOMPARE(statsTable->item(1, 1)->text(), QStringLiteral("-2.25"));
        QCOMPARE(statsTable->item(2, 0)->text(), QStringLiteral("0"));
        QVERIFY(window.log().isEmpty()); // no traffic lines

        // One failure is counted and the readings go on.
        m_line.sensor.addFault(SimFault::noReply());
        QTRY_COMPARE(failedLabel->text(), QStringLiteral("Неудачных чтений: 1"));
        const std::size_t before = view->series().readings().size();
        QTRY_VERIFY(view->series().readings().size() > before + 2);
        QVERIFY(view->isRunning());

        m_line.sensor.addFault(SimFault::noReply().always());
        QTRY_VERIFY(!view->isRunning());
        const QString stopped = QStringLiteral("Наблюдение остановлено: 3 неудачных чтения подряд");
        QCOMPARE(window.log(), (QList<LogLine>{{"Таймаут", Red}, {"Таймаут", Red}, {"Таймаут", Red},
                                               {"Таймаут", Red}, {stopped, Red}}));
        QCOMPARE(statusLabel->text(), stopped);
        QCOMPARE(failedLabel->text(), QStringLiteral("Неудачных чтений: 4"));
        QVERIFY(window.child("ReadCoordButton")->isEnabled());
        QVERIFY(startButton->isEnabled());
        m_line.sensor.clearFaults();

        const std::size_t kept = view->series().readings().size();
        QTemporaryDir dir;
        QVERIFY(!view->saveCsv(dir.filePath(QStringLiteral("missing/spot.csv"))));
        QVERIFY(!statusLabel->text().isEmpty());
        QVERIFY(statusLabel->styleSheet().contains(QStringLiteral("220, 0, 0")));
        QCOMPARE(view->series().readings().size(), kept);
        // What the file holds is the core's (tst_SpotWatch); here only that the
        // window's readings reach it.
        QVERIFY(view->saveCsv(dir.filePath(QStringLiteral("spot.csv"))));

        // Closing the window while it reads stops it and gives the commands back.
        QTest::mouseClick(startButton, Qt::LeftButton);
        QVERIFY(view->isRunning());
        view->close();
        QVERIFY(!view->isRunning());
        QVERIFY(window.child("ReadCoordButton")->isEnabled());
    }
};

QTEST_MAIN(TestSpotView)
#include "tst_spotview.moc"
