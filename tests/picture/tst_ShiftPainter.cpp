// The displacement picture of two dumps: the magnification it chooses, what
// its caption says, and where the arrows and marks go, over a few pairs.

#include "picture/ShiftPainter.h"
#include "picture/Scales.h"

#include "sim/SimSensor.h"

#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <functional>

namespace {

using Edit = std::function<void(FlashImage &)>;

FlashImage defaultImage()
{
    const SimSensor::Flash flash = SimSensor::defaultFlash();
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    return image;
}

void add(FlashImage &image, int index, float by)
{
    image[std::size_t(index)] = std::bit_cast<quint32>(std::bit_cast<float>(image[std::size_t(index)]) + by);
}

bool isRound(double f)
{
    const double m = f / std::pow(10.0, std::floor(std::log10(f) + 1e-12));
    return std::abs(m - 1) < 1e-9 || std::abs(m - 2) < 1e-9 || std::abs(m - 5) < 1e-9;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestShiftPainter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pairs_data()
    {
        QTest::addColumn<Edit>("edit");           // made to a copy of A to give B
        QTest::addColumn<double>("factor");       // the magnification
        QTest::addColumn<QStringList>("caption"); // the caption's lines after the first
        QTest::addColumn<QList<int>>("marked");

        // The default grid's cell is 2.05 units: a third is 0.683.
        QTest::newRow("equal") << Edit([](FlashImage &) {}) << 1.0
                               << QStringList{"Смещений нет (точек: 441)"} << QList<int>{};
        QTest::newRow("one point moved")
            << Edit([](FlashImage &i) { add(i, XTableIndex + 73, 0.01f); }) << 50.0
            << QStringList{"Смещения увеличены в 50 раз: наибольшее 0.01, среднее 2.27e-05 (точек: 441)"}
            << QList<int>{};
        QTest::newRow("all shifted, 2 raza")
            << Edit([](FlashImage &i) {
                   for (int k = 0; k < GridPoints; ++k)
                       add(i, YTableIndex + k, 0.25f);
               })
            << 2.0 << QStringList{"Смещения увеличены в 2 раза: наибольшее 0.25, среднее 0.25 (точек: 441)"}
            << QList<int>{};
        QTest::newRow("larger than a third of a cell")
            << Edit([](FlashImage &i) { add(i, XTableIndex + 5, 1.5f); }) << 1.0
            << QStringList{"Смещения не увеличены: наибольшее 1.5, среднее 0.0034 (точек: 441)"}
            << QList<int>{};
        QTest::newRow("a NaN point in B")
            << Edit([](FlashImage &i) {
                   i[std::size_t(YTableIndex + 5)] = 0x7FC00000;
                   add(i, XTableIndex + 300, -0.004f);
               })
            << 200.0
            << QStringList{"Смещения увеличены в 200 раз: наибольшее 0.004, среднее 9.09e-06 (точек: 440)",
                           "Точек без чисел в одном из дампов: 1"}
            << QList<int>{5};
        QTest::newRow("different serials")
            << Edit([](FlashImage &i) {
                   i[WordSerial] = 0x00C0FFEE;
                   add(i, XTableIndex + 220, 0.1f);
               })
            << 5.0 << QStringList{"Смещения увеличены в 5 раз: наибольшее 0.1, среднее 0.000227 (точек: 441)"}
            << QList<int>{};
    }
    void pairs()
    {
        QFETCH(Edit, edit);
        QFETCH(double, factor);
        QFETCH(QStringList, caption);
        QFETCH(QList<int>, marked);
        const FlashImage a = defaultImage();
        FlashImage b = a;
        edit(b);
        const ShiftPainter painter(a, QStringLiteral("/x/a.dmp"), b, QStringLiteral("b.dmp"));

        QCOMPARE(painter.magnification(), factor);
        QVERIFY(isRound(painter.magnification()));
        const double largest = painter.comparison().largestShift();
        if (largest > 0 && factor > 1) {
            // The largest arrow lies between 0.21 and 0.53 of a cell.
            const double part = largest * factor / painter.cellSize();
            QVERIFY2(part > 0.2 && part < 0.54, qPrintable(QString::number(part)));
        }
        const QStringList lines = painter.captionLines();
        const bool sameSensor = a[WordSerial] == b[WordSerial];
        QCOMPARE(lines.value(0), QStringLiteral("Смещение сетки от a.dmp (зав. № 0012AB7F) к b.dmp (зав. № %1)%2")
                                     .arg(sameSensor ? "0012AB7F" : "00C0FFEE",
                                          sameSensor ? "" : ", дампы разных датчиков"));
        QCOMPARE(lines.mid(1), caption);
        QCOMPARE(painter.markedPoints(), marked);

        // Every arrow starts at its point of A, inside the plot, and runs the
        // magnified shift; one arrow per point finite in both dumps.
        for (const QRectF area : {QRectF(0, 0, 1200, 900), QRectF(30, 40, 500, 700)}) {
            const ShiftPainter::Layout l = painter.layout(area);
            const QRectF plot = l.plane.plot;
            QVERIFY(area.contains(plot) && plot.width() > 0);
            QVERIFY(l.bar.left() > plot.right() && l.bar.right() < area.right());
            const QList<ShiftPainter::Arrow> arrows = painter.arrows(plot);
            const QList<GridShift> &shifts = painter.comparison().shifts;
            QCOMPARE(arrows.size(), GridPoints - marked.size());
            QCOMPARE(arrows.size(), shifts.size());
            // Equal scales: as many pixels per unit across as up.
            const CalibrationGrid &g = painter.firstGrid();
            const int p0 = GridPoint(0, 0);
            const int p1 = GridPoint(20, 20);
            const QPointF span = painter.plotPoint(plot, p1) - painter.plotPoint(plot, p0);
            const double perX = span.x() / (g.X[p1] - g.X[p0]);
            const double perY = -span.y() / (g.Y[p1] - g.Y[p0]);
            QVERIFY(std::abs(perX - perY) < 1e-9 * perX);
            for (qsizetype n = 0; n < arrows.size(); ++n) {
                const ShiftPainter::Arrow &arrow = arrows[n];
                QCOMPARE(arrow.point, shifts[n].point);
                QCOMPARE(arrow.from, painter.plotPoint(plot, arrow.point));
                QVERIFY(plot.contains(arrow.from) && plot.contains(arrow.to));
                const QPointF d = arrow.to - arrow.from;
                QVERIFY(std::abs(d.x() - shifts[n].dx * factor * perX) < 1e-6);
                QVERIFY(std::abs(d.y() + shifts[n].dy * factor * perY) < 1e-6);
            }
        }
        // The picture on an image, an SVG and a PDF page.
        QTemporaryDir dir;
        for (const QString name : {"s.png", "s.svg"}) {
            SaveShiftPicture(painter, dir.filePath(name));
            QVERIFY(QFileInfo(dir.filePath(name)).size() > 1000);
        }
        QPdfWriter pdf(dir.filePath(QStringLiteral("s.pdf")));
        QPainter p(&pdf);
        painter.paint(p, QRectF(p.viewport()));
        p.end();
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("s.pdf"))).size() > 1000);
    }

    void roundAtMost_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("round");
        QTest::newRow("5 a hair below") << 4.9999999999 << 5.0;
        QTest::newRow("between 2 and 5") << 3.0 << 2.0;
        QTest::newRow("small") << 0.0019 << 0.001;
        QTest::newRow("large") << 73000.0 << 50000.0;
        QTest::newRow("zero") << 0.0 << 0.0;
        QTest::newRow("infinite") << double(INFINITY) << 0.0;
    }
    void roundAtMost()
    {
        QFETCH(double, x);
        QFETCH(double, round);
        QCOMPARE(RoundAtMost(x), round);
    }
};

QTEST_MAIN(TestShiftPainter)
#include "tst_ShiftPainter.moc"
