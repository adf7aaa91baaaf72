// The calibration picture rendered offscreen: the marks and the centre where
// the geometry puts them, pictures of degenerate grids, and the two file formats.

#include "app/picture/CalibrationPainter.h"
#include "flash/DumpFile.h"
#include "serial/ZartError.h"

#include "SimSensor.h"

#include <QFile>
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

} // namespace

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
        QVERIFY(near(pixelAt(picture, CalibrationPainter::mapCell(l.xMap, nanPoint).center()), red));
        const QRectF yCell = CalibrationPainter::mapCell(l.yMap, nanPoint);
        QVERIFY(!near(pixelAt(picture, yCell.center()), red));
        QVERIFY(near(pixelAt(picture, QPointF(yCell.center().x(), yCell.top() + 1)), red));
        // The order break: a red dot on the mesh, and a red outline around its cell.
        QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, shifted)), red));
        const QRectF cell = CalibrationPainter::mapCell(l.xMap, shifted);
        QVERIFY(near(pixelAt(picture, QPointF(cell.center().x(), cell.top() + 1)), red));
        QVERIFY(!near(pixelAt(picture, cell.center()), red));
        // A sound point: neither red nor blue on the mesh line's grey.
        const QColor sound = pixelAt(picture, painter.meshPoint(l.mesh, 300));
        QVERIFY(!near(sound, red) && !near(sound, blue) && !near(sound, Qt::white));
        // The centre point on the mesh and on both maps.
        QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, GridCentre)), blue));
        QVERIFY(near(pixelAt(picture, CalibrationPainter::mapCell(l.xMap, GridCentre).center()), blue));
        QVERIFY(near(pixelAt(picture, CalibrationPainter::mapCell(l.yMap, GridCentre).center()), blue));
        // The maps run with the nominal coordinates: row 0 left, column 0 at the bottom.
        QVERIFY(CalibrationPainter::mapCell(l.xMap, 0).left() < CalibrationPainter::mapCell(l.xMap, 420).left());
        QVERIFY(CalibrationPainter::mapCell(l.xMap, 0).top() > CalibrationPainter::mapCell(l.xMap, 20).top());
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
        const QColor corner = pixelAt(picture, CalibrationPainter::mapCell(l.xMap, 0).center());
        QCOMPARE(pixelAt(picture, CalibrationPainter::mapCell(l.yMap, 440).center()), corner);
        QCOMPARE(near(corner, CalibrationPainter::MarkColour), !finite);
        QVERIFY(near(pixelAt(picture, CalibrationPainter::mapCell(l.xMap, GridCentre).center()),
                     CalibrationPainter::CentreColour));
        if (finite)
            QVERIFY(near(pixelAt(picture, painter.meshPoint(l.mesh, GridCentre)),
                         CalibrationPainter::CentreColour));
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
