// The calibration picture rendered offscreen: the marks and the centre where
// the geometry puts them, the axes named by the data and their labels clear of
// each other, pictures of degenerate grids, and the two file formats.

#include "picture/CalibrationPainter.h"
#include "picture/SpotPainter.h"
#include "common/NumberFormat.h"
#include "sensor/SensorRequests.h"
#include "flash/DumpFile.h"
#include "common/ZartError.h"

#include "sim/SimSensor.h"
#include "common/TestFiles.h"

#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <limits>

namespace {

FlashImage defaultImage()
{
    const SimSensor::Flash flash = SimSensor::defaultFlash();
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    return image;
}

// Colours within antialiasing distance count as the same.
bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 30;
}

QColor pixelAt(const QImage &image, QPointF p)
{
    return image.pixelColor(int(std::floor(p.x())), int(std::floor(p.y())));
}

FlashImage imageOf(const SimSensor::Flash &flash)
{
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    return image;
}

bool ink(QColor c)
{
    return c.red() + c.green() + c.blue() < 700;
}

// Whether any pixel of rect is red.
bool hasRed(const QImage &image, const QRectF &rect)
{
    for (int y = int(rect.top()); y < int(rect.bottom()); ++y)
        for (int x = int(rect.left()); x < int(rect.right()); ++x)
            if (near(image.pixelColor(x, y), CalibrationPainter::MarkColour))
                return true;
    return false;
}

using MakeGrid = std::function<CalibrationGrid()>;

} // namespace

Q_DECLARE_METATYPE(MakeGrid)

class TestPicture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A dump with an erased X word at point 30 and point 100 pushed out of its
    // column's order: red where they are, blue at the centre, the scale elsewhere.
    void marksWhereTheGeometryPutsThem()
    {
        constexpr int nanPoint = 30;
        constexpr int shifted = 100; // row 4, column 16
        FlashImage image = defaultImage();
        image[std::size_t(XTableIndex + nanPoint)] = 0xFFFFFFFF;
        image[std::size_t(XTableIndex + shifted)] = std::bit_cast<quint32>(40.0f);
        const CalibrationGrid grid = GridOfImage(image, QStringLiteral("/tmp/0012AB7F.dmp"));
        const CalibrationPainter painter(grid);
        QVERIFY(painter.check().faults[nanPoint] & FaultNonFinite);
        QVERIFY(painter.check().faults[shifted] & FaultOrderX);
        QCOMPARE(painter.caption(),
                 QStringLiteral("Калибровка: зав. № 0012AB7F, шаг 2.05 мм, файл 0012AB7F.dmp"));

        const QSize size = CalibrationPainter::PictureSize;
        const QImage picture = RenderCalibrationPicture(grid, size);
        QCOMPARE(picture.size(), size);
        const CalibrationPainter::Layout l = painter.layout(QRectF(QPointF(0, 0), QSizeF(size)));

        // The erased value: a red cell on the X map; on the Y map its finite value
        // in a red outline.
        const QColor red = CalibrationPainter::MarkColour;
        const QColor blue = CalibrationPainter::CentreColour;
        QVERIFY(near(pixelAt(picture, painter.mapCell(l.xMap, nanPoint).center()), red));
        const QRectF yCell = painter.mapCell(l.yMap, nanPoint);
        QVERIFY(!near(pixelAt(picture, yCell.center()), red));
        QVERIFY(near(pixelAt(picture, QPointF(yCell.center().x(), yCell.top() + 1)), red));
        // The order break: a red dot on the mesh, and a red outline around its cell.
        QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, shifted)), red));
        const QRectF cell = painter.mapCell(l.xMap, shifted);
        QVERIFY(near(pixelAt(picture, QPointF(cell.center().x(), cell.top() + 1)), red));
        QVERIFY(!near(pixelAt(picture, cell.center()), red));
        // A sound point: neither red nor blue on the mesh line's grey.
        const QColor sound = pixelAt(picture, painter.meshPoint(l.mesh, 300));
        QVERIFY(!near(sound, red) && !near(sound, blue) && !near(sound, Qt::white));
        // The centre point on the mesh and on both maps.
        QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, GridCentre)), blue));
        QVERIFY(near(pixelAt(picture, painter.mapCell(l.xMap, GridCentre).center()), blue));
        QVERIFY(near(pixelAt(picture, painter.mapCell(l.yMap, GridCentre).center()), blue));
        // The list starts with its black header.
        QVERIFY(!hasRed(picture, QRectF(l.list.topLeft(), QSizeF(l.list.width(), 10))));
        // X rises along the rows, Y along the columns: row 0 left, column 0 at the bottom.
        QVERIFY(painter.mapCell(l.xMap, 0).left() < painter.mapCell(l.xMap, 420).left());
        QVERIFY(painter.mapCell(l.xMap, 0).top() > painter.mapCell(l.xMap, 20).top());
    }

    // The simulated grid laid on the indices in each of the eight ways, with
    // point (3, 16) pushed a little past its neighbour along X's run: both
    // marked on the same side of the centre on the mesh and on both maps, and
    // the pushed one red there in the picture.
    void mapsFollowTheMesh_data()
    {
        QTest::addColumn<bool>("xAlongColumns");
        QTest::addColumn<bool>("flipRows");
        QTest::addColumn<bool>("flipColumns");
        for (int n = 0; n < 8; ++n)
            QTest::addRow("X along %s, rows %s, columns %s", n & 4 ? "j" : "i", n & 2 ? "reversed" : "forward",
                          n & 1 ? "reversed" : "forward")
                << bool(n & 4) << bool(n & 2) << bool(n & 1);
    }
    void mapsFollowTheMesh()
    {
        QFETCH(bool, xAlongColumns);
        QFETCH(bool, flipRows);
        QFETCH(bool, flipColumns);
        const CalibrationGrid simulated = GridOfImage(defaultImage(), QStringLiteral("a.dmp"));
        CalibrationGrid grid = simulated;
        for (int k = 0; k < GridPoints; ++k) {
            const int i = flipRows ? 20 - GridRow(k) : GridRow(k);
            const int j = flipColumns ? 20 - GridColumn(k) : GridColumn(k);
            const auto from = std::size_t(xAlongColumns ? GridPoint(j, i) : GridPoint(i, j));
            grid.X[std::size_t(k)] = simulated.X[from];
            grid.Y[std::size_t(k)] = simulated.Y[from];
        }
        const int pushed = GridPoint(3, 16);
        const int next = pushed + (xAlongColumns ? 1 : GridSide);
        const double ahead = grid.X[std::size_t(next)] - grid.X[std::size_t(pushed)];
        grid.X[std::size_t(pushed)] += 1.1 * ahead;

        const CalibrationPainter painter(grid);
        QCOMPARE(painter.check().faultyPoints(), (QList<int>{pushed, next}));
        const QSize size = CalibrationPainter::PictureSize;
        const CalibrationPainter::Layout l = painter.layout(QRectF(QPointF(0, 0), QSizeF(size)));
        const auto side = [](double v) { return (v > 0.5) - (v < -0.5); };
        const QPointF meshCentre = painter.meshPoint(l.mesh, GridCentre);
        for (const int k : {pushed, next}) {
            const QPointF onMesh = painter.meshPoint(l.mesh, k) - meshCentre;
            for (const QRectF &map : {l.xMap, l.yMap}) {
                const QPointF onMap = painter.mapCell(map, k).center() - painter.mapCell(map, GridCentre).center();
                if (side(onMap.x()) != 0)
                    QCOMPARE(side(onMap.x()), side(onMesh.x()));
                if (side(onMap.y()) != 0)
                    QCOMPARE(side(onMap.y()), side(onMesh.y()));
            }
        }
        const QRectF onX = painter.mapCell(l.xMap, pushed);
        const QRectF onY = painter.mapCell(l.yMap, pushed);
        QVERIFY(std::abs(onX.center().x() - onY.center().x()) < 0.5);
        QVERIFY(std::abs((onX.center().y() - l.xMap.top()) - (onY.center().y() - l.yMap.top())) < 0.5);

        const QImage picture = RenderCalibrationPicture(grid, size);
        const QColor red = CalibrationPainter::MarkColour;
        QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, pushed)), red));
        for (const QRectF &cell : {onX, onY})
            QVERIFY(near(pixelAt(picture, QPointF(cell.center().x(), cell.top() + 1)), red));
    }

    // Degenerate grids draw without dividing by zero: the centre mark on the
    // maps is there, and the cells take one colour.
    void degenerateGrids_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("finite");
        QTest::newRow("blank sensor") << 3.5 << true;
        QTest::newRow("all zero") << 0.0 << true;
        QTest::newRow("all NaN") << std::numeric_limits<double>::quiet_NaN() << false;
    }
    void degenerateGrids()
    {
        QFETCH(double, value);
        QFETCH(bool, finite);
        CalibrationGrid grid;
        grid.X.fill(value);
        grid.Y.fill(value);
        grid.serial = QStringLiteral("00000000");
        const QImage picture = RenderCalibrationPicture(grid, QSize(800, 600));
        const CalibrationPainter painter(grid);
        const CalibrationPainter::Layout l = painter.layout(QRectF(0, 0, 800, 600));
        QVERIFY(l.mesh.width() > 0 && l.mesh.height() > 0);
        const QColor corner = pixelAt(picture, painter.mapCell(l.xMap, 0).center());
        QCOMPARE(pixelAt(picture, painter.mapCell(l.yMap, 440).center()), corner);
        QCOMPARE(near(corner, CalibrationPainter::MarkColour), !finite);
        QVERIFY(near(pixelAt(picture, painter.mapCell(l.xMap, GridCentre).center()),
                     CalibrationPainter::CentreColour));
        if (finite)
            QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, GridCentre)),
                         CalibrationPainter::CentreColour));
        // No runs to be found: the list says so first, in red.
        QVERIFY(!painter.check().runsKnown());
        QVERIFY(hasRed(picture, QRectF(l.list.topLeft(), QSizeF(l.list.width(), 10))));
        QCOMPARE(painter.acrossAxisTitle(), QStringLiteral("строка i, узлы"));
        QCOMPARE(painter.upAxisTitle(), QStringLiteral("столбец j, узлы"));
    }

    // The maps' axes are named by the channel that runs along them; left of
    // each plot the tick labels and the upright title do not overlap, and all
    // that is drawn there is one or the other.
    void axes_data()
    {
        QTest::addColumn<MakeGrid>("make");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("acrossTitle");
        QTest::addColumn<QString>("upTitle");

        const MakeGrid simulated = [] { return GridOfImage(defaultImage(), QStringLiteral("a.dmp")); };
        const MakeGrid transposed = [] {
            return GridOfImage(imageOf(testfiles::transposedGrid(SimSensor::defaultFlash())),
                               QStringLiteral("b.dmp"));
        };
        QTest::newRow("X along the rows") << simulated << CalibrationPainter::PictureSize
                                          << "X вдоль строк (i), мм" << "Y вдоль столбцов (j), мм";
        QTest::newRow("X along the columns") << transposed << CalibrationPainter::PictureSize
                                             << "X вдоль столбцов (j), мм" << "Y вдоль строк (i), мм";
        QTest::newRow("X along the columns, small") << transposed << QSize(640, 480)
                                                    << "X вдоль столбцов (j), мм" << "Y вдоль строк (i), мм";
        // Long tick labels: eighteen digits, and X falling.
        QTest::newRow("widest values") << MakeGrid([] {
            CalibrationGrid g;
            for (int k = 0; k < GridPoints; ++k) {
                g.X[std::size_t(k)] = (10 - GridRow(k)) * 9.87e16;
                g.Y[std::size_t(k)] = (GridColumn(k) - 10) * 9.87e16;
            }
            g.step = 12.345;
            return g;
        }) << CalibrationPainter::PictureSize << "X вдоль строк (i), мм" << "Y вдоль столбцов (j), мм";
    }
    void axes()
    {
        QFETCH(MakeGrid, make);
        QFETCH(QSize, size);
        QFETCH(QString, acrossTitle);
        QFETCH(QString, upTitle);

        const CalibrationGrid grid = make();
        const CalibrationPainter painter(grid);
        QCOMPARE(painter.check().faultyPoints(), QList<int>());
        QCOMPARE(painter.acrossAxisTitle(), acrossTitle);
        QCOMPARE(painter.upAxisTitle(), upTitle);

        const QImage picture = RenderCalibrationPicture(grid, size);
        const QRectF area(QPointF(0, 0), QSizeF(size));
        const CalibrationPainter::Layout l = painter.layout(area);
        const QList<std::pair<QRectF, CalibrationPainter::SideLabels>> sides{
            {l.mesh, l.meshSide}, {l.xMap, l.xMapSide}, {l.yMap, l.yMapSide}};
        for (const auto &[plot, side] : sides) {
            QVERIFY(!side.ticks.intersects(side.title));
            QVERIFY(area.contains(side.title));
            bool titleInk = false;
            bool tickInk = false;
            for (int y = int(plot.top()) + 1; y < int(plot.bottom()); ++y) {
                for (int x = int(side.title.left()) - 1; x < int(plot.left()) - 6; ++x) {
                    if (!ink(picture.pixelColor(x, y)))
                        continue;
                    const QPointF at(x + 0.5, y + 0.5);
                    if (side.title.adjusted(-1.5, -1.5, 1.5, 1.5).contains(at))
                        titleInk = true;
                    else if (side.ticks.adjusted(-1.5, -1.5, 1.5, 1.5).contains(at))
                        tickInk = true;
                    else
                        QFAIL(qPrintable(QStringLiteral("ink at %1, %2").arg(x).arg(y)));
                }
            }
            QVERIFY(titleInk && tickInk);
        }
    }

    // The strip chart's labels have room for five-digit pixel values and for
    // the ends of a constant series, which differ.
    void chartLabels_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::newRow("five-digit pixels") << 12345.0 << 65535.0;
        QTest::newRow("constant millimetres") << 4.0 << -0.5;
    }
    void chartLabels()
    {
        QFETCH(double, x);
        QFETCH(double, y);
        SpotSeries series;
        for (int n = 0; n < 10; ++n) {
            MeasurementTexts m;
            m.x = FormatFloat(x);
            m.y = FormatFloat(y);
            m.xValue = x;
            m.yValue = y;
            series.addReading(n * 100, n * 100, m);
        }
        const SpotView view{series, SpotField{}, QStringLiteral("nx"), QStringLiteral("ny")};
        QFont font;
        font.setPixelSize(11);
        const QFontMetricsF metrics(font);
        const double room = view.chartLabelWidth(font) - 4;
        for (int channel = 0; channel < 2; ++channel) {
            const ValueRange r = view.chartRange(channel);
            const QString lo = FormatFloat(r.min);
            const QString hi = FormatFloat(r.max);
            QVERIFY2(lo != hi, qPrintable(lo));
            QVERIFY(r.min <= (channel ? y : x) && (channel ? y : x) <= r.max);
            for (const QString &text : {lo, hi})
                QVERIFY2(metrics.horizontalAdvance(text) <= room, qPrintable(text));
        }
    }

    void files_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("png") << "cal.png" << QByteArray("\x89PNG");
        QTest::newRow("svg, upper case") << "cal.SVG" << QByteArray("<?xml");
    }
    void files()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, start);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        SaveCalibrationPicture(GridOfImage(defaultImage(), QStringLiteral("x.dmp")), path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith(start));
        if (start == "<?xml") {
            QVERIFY(bytes.contains("<svg"));
            QVERIFY(bytes.contains("Калибровка: зав. № 0012AB7F"));
        } else {
            QCOMPARE(QImage::fromData(bytes).size(), CalibrationPainter::PictureSize);
        }
        // A directory that is not there: the system's reason.
        QVERIFY_THROWS_EXCEPTION(ZartError,
                                 SaveCalibrationPicture(CalibrationGrid{}, dir.filePath("no/" + name)));
    }
};

QTEST_MAIN(TestPicture)
#include "tst_picture.moc"
