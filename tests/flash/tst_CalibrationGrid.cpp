// The geometry of the calibration picture: the checks (non-finite values,
// the runs of X and Y and the order along them, folds), the mesh,
// and reading a dump or a passport for it.

#include "FlashTestUtil.h"

#include "flash/CalibrationGrid.h"
#include "flash/DumpFile.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace flashtest;

namespace {

using Faults = QMap<int, int>; // point k -> PointFault bits
using Edit = std::function<void(CalibrationGrid &)>;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// The sound grid in grid units: X = row, Y = column.
CalibrationGrid unitGrid()
{
    CalibrationGrid g;
    for (int k = 0; k < GridPoints; ++k) {
        g.X[std::size_t(k)] = GridRow(k);
        g.Y[std::size_t(k)] = GridColumn(k);
    }
    g.step = 2;
    return g;
}

double &x(CalibrationGrid &g, int i, int j)
{
    return g.X[std::size_t(GridPoint(i, j))];
}

Faults faultsOf(const CalibrationCheck &check)
{
    Faults out;
    for (const int k : check.faultyPoints())
        out.insert(k, check.faults[std::size_t(k)]);
    return out;
}

// Every point but those of one row (or column) n is NaN.
Edit onlyFinite(GridIndex line, int n)
{
    return [line, n](CalibrationGrid &g) {
        for (int k = 0; k < GridPoints; ++k)
            if ((line == GridIndex::Row ? GridRow(k) : GridColumn(k)) != n)
                g.X[std::size_t(k)] = g.Y[std::size_t(k)] = NaN;
    };
}
Faults nonFiniteOutside(GridIndex line, int n)
{
    Faults out;
    for (int k = 0; k < GridPoints; ++k)
        if ((line == GridIndex::Row ? GridRow(k) : GridColumn(k)) != n)
            out.insert(k, FaultNonFinite);
    return out;
}

// A sound grid as the bench measures it, by its own position (p, q): U rises
// by 100 along p and V along q, each with a slight turn, so that U also rises
// by 1 along q and V falls by 1 along p. Whole numbers keep the areas exact.
CalibrationGrid benchGrid()
{
    CalibrationGrid g;
    for (int k = 0; k < GridPoints; ++k) {
        const int p = GridRow(k);
        const int q = GridColumn(k);
        g.X[std::size_t(k)] = 100 * p + q;
        g.Y[std::size_t(k)] = 100 * q - p;
    }
    g.step = 2;
    return g;
}

// One of the eight ways the bench grid can lie on the sensor's indices: U is X
// and runs along the rows (i) or along the columns (j), each index either way.
struct Arrangement
{
    bool xAlongColumns;
    bool flipRows;
    bool flipColumns;

    // The bench position of grid point k.
    int benchPoint(int k) const
    {
        const int i = flipRows ? GridSide - 1 - GridRow(k) : GridRow(k);
        const int j = flipColumns ? GridSide - 1 - GridColumn(k) : GridColumn(k);
        return xAlongColumns ? GridPoint(j, i) : GridPoint(i, j);
    }
    ChannelRun runX() const
    {
        return xAlongColumns ? ChannelRun{GridIndex::Column, flipColumns ? -1 : 1}
                             : ChannelRun{GridIndex::Row, flipRows ? -1 : 1};
    }
    ChannelRun runY() const
    {
        return xAlongColumns ? ChannelRun{GridIndex::Row, flipRows ? -1 : 1}
                             : ChannelRun{GridIndex::Column, flipColumns ? -1 : 1};
    }
    QString name() const
    {
        return QStringLiteral("X along %1, rows %2, columns %3")
            .arg(xAlongColumns ? "j" : "i", flipRows ? "reversed" : "forward",
                 flipColumns ? "reversed" : "forward");
    }
};

} // namespace

Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(ChannelRun)
Q_DECLARE_METATYPE(Arrangement)

class TestCalibrationGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checks_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<ChannelRun>("runX");
        QTest::addColumn<ChannelRun>("runY");
        QTest::addColumn<int>("orientation");

        const ChannelRun rowsUp{GridIndex::Row, 1};
        const ChannelRun columnsUp{GridIndex::Column, 1};
        const ChannelRun none;

        QTest::newRow("sound") << Edit([](CalibrationGrid &) {}) << Faults{} << rowsUp << columnsUp << 1;
        // A mirrored axis is a direction, not a fault.
        QTest::newRow("X falling") << Edit([](CalibrationGrid &g) {
            for (double &v : g.X)
                v = -v;
        }) << Faults{} << ChannelRun{GridIndex::Row, -1} << columnsUp << -1;
        // A NaN drops out of every step and cell it belongs to.
        QTest::newRow("NaN inside") << Edit([](CalibrationGrid &g) { g.Y[37] = NaN; })
                                    << Faults{{37, FaultNonFinite}} << rowsUp << columnsUp << 1;
        QTest::newRow("infinity in a corner")
            << Edit([](CalibrationGrid &g) { g.X[0] = -Inf; }) << Faults{{0, FaultNonFinite}} << rowsUp
            << columnsUp << 1;
        // Rows 5 and 6 of column 3 swap their X: the step between them goes
        // backwards, and both cells beside it collapse to zero area.
        QTest::newRow("swapped pair") << Edit([](CalibrationGrid &g) {
            std::swap(x(g, 5, 3), x(g, 6, 3));
        }) << Faults{{GridPoint(5, 3), FaultOrderX | FaultFold},
                     {GridPoint(6, 3), FaultOrderX | FaultFold},
                     {GridPoint(5, 2), FaultFold},
                     {GridPoint(6, 2), FaultFold},
                     {GridPoint(5, 4), FaultFold},
                     {GridPoint(6, 4), FaultFold}}
           << rowsUp << columnsUp << 1;
        // Point (10, 10) pushed past row 11: cells (10, 9) and (10, 10) turn over
        // (signed areas -0.5), the cells above keep theirs (+4.5).
        QTest::newRow("fold") << Edit([](CalibrationGrid &g) { x(g, 10, 10) = 12.5; })
                              << Faults{{GridPoint(10, 10), FaultOrderX | FaultFold},
                                        {GridPoint(11, 10), FaultOrderX | FaultFold},
                                        {GridPoint(10, 9), FaultFold},
                                        {GridPoint(11, 9), FaultFold},
                                        {GridPoint(10, 11), FaultFold},
                                        {GridPoint(11, 11), FaultFold}}
                              << rowsUp << columnsUp << 1;
        // Two equal neighbours where the values rise: an order break, no fold
        // (the cells keep a positive area).
        QTest::newRow("equal Y neighbours") << Edit([](CalibrationGrid &g) {
            g.Y[std::size_t(GridPoint(0, 5))] = 4;
        }) << Faults{{GridPoint(0, 4), FaultOrderY}, {GridPoint(0, 5), FaultOrderY}}
           << rowsUp << columnsUp << 1;
        // The larger steps decide the run where the steps of the other index
        // have one sign too: X rises by 0.01 along each row, Y falls by 0.01
        // along each column. Two swapped pairs break their steps; the cells
        // beside them keep their turn.
        QTest::newRow("turned, broken rows") << Edit([](CalibrationGrid &g) {
            for (int k = 0; k < GridPoints; ++k) {
                g.X[std::size_t(k)] += 0.01 * GridColumn(k);
                g.Y[std::size_t(k)] -= 0.01 * GridRow(k);
            }
            std::swap(x(g, 3, 0), x(g, 4, 0));
            std::swap(x(g, 15, 0), x(g, 16, 0));
        }) << Faults{{GridPoint(3, 0), FaultOrderX},
                     {GridPoint(4, 0), FaultOrderX},
                     {GridPoint(15, 0), FaultOrderX},
                     {GridPoint(16, 0), FaultOrderX}}
           << rowsUp << columnsUp << 1;
        // No run to be found: no order is judged.
        // A blank sensor: no direction, no orientation, nothing to mark.
        QTest::newRow("all equal") << Edit([](CalibrationGrid &g) {
            g.X.fill(7);
            g.Y.fill(7);
        }) << Faults{} << none << none << 0;
        QTest::newRow("all non-finite") << Edit([](CalibrationGrid &g) {
            g.X.fill(NaN);
            g.Y.fill(Inf);
        }) << nonFiniteOutside(GridIndex::Row, -1) << none << none << 0;
        // A single row tells nothing of the other index; its Y would pass for a
        // run, its X (a constant row with a broken pair) too.
        QTest::newRow("one row of finite values") << Edit([](CalibrationGrid &g) {
            onlyFinite(GridIndex::Row, 7)(g);
            x(g, 7, 3) = 6.5;
        }) << nonFiniteOutside(GridIndex::Row, 7) << none << none << 0;
        QTest::newRow("one column of finite values")
            << onlyFinite(GridIndex::Column, 20) << nonFiniteOutside(GridIndex::Column, 20) << none
            << none << 0;
        // X and Y along the same index draw a line, not a grid: its order is
        // not judged, though two of its points are swapped.
        QTest::newRow("Y a copy of X") << Edit([](CalibrationGrid &g) {
            std::swap(x(g, 5, 3), x(g, 6, 3));
            g.Y = g.X;
        }) << Faults{} << rowsUp << rowsUp << 0;
    }
    void checks()
    {
        QFETCH(Edit, edit);
        QFETCH(Faults, faults);
        QFETCH(ChannelRun, runX);
        QFETCH(ChannelRun, runY);
        QFETCH(int, orientation);

        CalibrationGrid grid = unitGrid();
        edit(grid);
        const CalibrationCheck check = CheckCalibration(grid);

        QCOMPARE(faultsOf(check), faults);
        QCOMPARE(check.runX, runX);
        QCOMPARE(check.runY, runY);
        QCOMPARE(check.orientation, orientation);
        // A point carries the fold mark exactly when a folded cell has it as a corner.
        for (int k = 0; k < GridPoints; ++k) {
            bool corner = false;
            for (int di = -1; di <= 0; ++di)
                for (int dj = -1; dj <= 0; ++dj) {
                    const int i = GridRow(k) + di;
                    const int j = GridColumn(k) + dj;
                    corner = corner || (i >= 0 && j >= 0 && i < 20 && j < 20 && check.folded[std::size_t(GridCell(i, j))]);
                }
            QCOMPARE(bool(check.faults[std::size_t(k)] & FaultFold), corner);
        }
    }

    // The same sound grid in all eight arrangements, clean and with a planted
    // fault: the runs are read from the data, and exactly the planted fault is
    // marked. Faults are given at bench positions.
    void arrangements_data()
    {
        QTest::addColumn<Arrangement>("arrangement");
        QTest::addColumn<Edit>("plant");
        QTest::addColumn<Faults>("faults");

        const auto u = [](CalibrationGrid &g, int p, int q) -> double & {
            return g.X[std::size_t(GridPoint(p, q))];
        };
        const QList<std::tuple<const char *, Edit, Faults>> plants{
            {"sound", [](CalibrationGrid &) {}, {}},
            {"NaN", [](CalibrationGrid &g) { g.Y[std::size_t(GridPoint(3, 15))] = NaN; },
             {{GridPoint(3, 15), FaultNonFinite}}},
            // Two neighbours along U's run exchange their U: the step between
            // them goes backwards; the cells beside them keep their turn.
            {"swapped pair", [u](CalibrationGrid &g) { std::swap(u(g, 5, 3), u(g, 6, 3)); },
             {{GridPoint(5, 3), FaultOrderX}, {GridPoint(6, 3), FaultOrderX}}},
            {"swapped pair, other quadrant", [u](CalibrationGrid &g) { std::swap(u(g, 3, 16), u(g, 4, 16)); },
             {{GridPoint(3, 16), FaultOrderX}, {GridPoint(4, 16), FaultOrderX}}},
            // Point (10, 10) pushed two and a half steps on: the two cells
            // between it and the next row turn over.
            {"folded cell", [u](CalibrationGrid &g) { u(g, 10, 10) = 1250; },
             {{GridPoint(10, 10), FaultOrderX | FaultFold},
              {GridPoint(11, 10), FaultOrderX | FaultFold},
              {GridPoint(10, 9), FaultFold},
              {GridPoint(11, 9), FaultFold},
              {GridPoint(10, 11), FaultFold},
              {GridPoint(11, 11), FaultFold}}},
        };
        for (const auto &[name, plant, faults] : plants) {
            for (int n = 0; n < 8; ++n) {
                const Arrangement a{bool(n & 4), bool(n & 2), bool(n & 1)};
                QTest::addRow("%s, %s", name, qPrintable(a.name())) << a << plant << faults;
            }
        }
    }
    void arrangements()
    {
        QFETCH(Arrangement, arrangement);
        QFETCH(Edit, plant);
        QFETCH(Faults, faults);

        CalibrationGrid bench = benchGrid();
        plant(bench);
        CalibrationGrid grid = bench;
        Faults expected;
        for (int k = 0; k < GridPoints; ++k) {
            const int b = arrangement.benchPoint(k);
            grid.X[std::size_t(k)] = bench.X[std::size_t(b)];
            grid.Y[std::size_t(k)] = bench.Y[std::size_t(b)];
            if (faults.contains(b))
                expected.insert(k, faults.value(b));
        }
        const CalibrationCheck check = CheckCalibration(grid);
        QCOMPARE(check.runX, arrangement.runX());
        QCOMPARE(check.runY, arrangement.runY());
        QVERIFY(check.runsKnown());
        QCOMPARE(faultsOf(check), expected);

        // The maps are laid out like the mesh: along the maps' rows X rises to
        // the right, along their columns Y rises upwards (where the plant
        // leaves the grid sound) ...
        const MapAxes axes = MapAxesOf(check);
        std::array<int, GridPoints> atPlace{};
        for (int k = 0; k < GridPoints; ++k) {
            const MapPlace place = PlaceOnMap(axes, k);
            QVERIFY(place.across >= 0 && place.across < GridSide && place.up >= 0 && place.up < GridSide);
            atPlace[std::size_t(GridPoint(place.up, place.across))] = k + 1;
        }
        QVERIFY(std::find(atPlace.begin(), atPlace.end(), 0) == atPlace.end()); // one point per cell
        const auto pointAt = [&](int across, int up) { return atPlace[std::size_t(GridPoint(up, across))] - 1; };
        if (faults.isEmpty()) {
            for (int a = 0; a < GridSide; ++a) {
                for (int b = 0; b + 1 < GridSide; ++b) {
                    QVERIFY(grid.X[std::size_t(pointAt(b, a))] < grid.X[std::size_t(pointAt(b + 1, a))]);
                    QVERIFY(grid.Y[std::size_t(pointAt(a, b))] < grid.Y[std::size_t(pointAt(a, b + 1))]);
                }
            }
        }
        // ... so a marked point lies on the maps on the side of the centre it
        // lies on the mesh (the centre as measured before the plant, which may
        // push the centre itself).
        const auto side = [](double v) { return (v > 0) - (v < 0); };
        const double cx = benchGrid().X[GridCentre];
        const double cy = benchGrid().Y[GridCentre];
        for (const int k : check.faultyPoints()) {
            const MapPlace place = PlaceOnMap(axes, k);
            if (!std::isfinite(grid.X[std::size_t(k)]) || !std::isfinite(grid.Y[std::size_t(k)]))
                continue;
            if (place.across != GridSide / 2)
                QCOMPARE(side(place.across - GridSide / 2), side(grid.X[std::size_t(k)] - cx));
            if (place.up != GridSide / 2)
                QCOMPARE(side(place.up - GridSide / 2), side(grid.Y[std::size_t(k)] - cy));
        }
    }

    void allNonFinite()
    {
        CalibrationGrid grid = unitGrid();
        grid.X.fill(NaN);
        const CalibrationCheck check = CheckCalibration(grid);
        QCOMPARE(check.faultyPoints().size(), GridPoints);
        QCOMPARE(check.faults[0], quint8(FaultNonFinite));
        QVERIFY(!check.xRange.valid);
        QVERIFY(check.yRange.valid);
        QCOMPARE(check.orientation, 0);
        QVERIFY(!check.runsKnown());
        QVERIFY(MeshSegments(grid).isEmpty());
    }

    void mesh_data()
    {
        QTest::addColumn<int>("nanPoint"); // -1: none
        QTest::addColumn<int>("segments");

        QTest::newRow("whole") << -1 << 2 * 21 * 20;
        QTest::newRow("corner missing") << 0 << 2 * 21 * 20 - 2;
        QTest::newRow("edge point missing") << GridPoint(0, 7) << 2 * 21 * 20 - 3;
        QTest::newRow("inner point missing") << GridCentre << 2 * 21 * 20 - 4;
    }
    void mesh()
    {
        QFETCH(int, nanPoint);
        QFETCH(int, segments);
        CalibrationGrid grid = unitGrid();
        if (nanPoint >= 0)
            grid.Y[std::size_t(nanPoint)] = NaN;
        const QList<MeshSegment> mesh = MeshSegments(grid);
        QCOMPARE(mesh.size(), segments);
        for (const MeshSegment &s : mesh) {
            QVERIFY(s.from != nanPoint && s.to != nanPoint);
            // Neighbours along a row or a column, nothing else.
            QVERIFY(s.to - s.from == GridSide || (s.to - s.from == 1 && GridColumn(s.from) < 20));
        }
    }

    // A marked point names its nominal position by what its two numbers are:
    // along the indices X and Y run along, or along row and column.
    void pointText_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("k");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");

        const int k = GridPoint(3, 16);
        QTest::newRow("X along i") << Edit([](CalibrationGrid &g) { g.X[0] = NaN; }) << 0
                                   << "строка 0, столбец 0, номинал (X; Y) = (-20.5; -20.5) мм: X=NAN, Y=0 - NaN/INF"
                                   << "0\t0\tNAN\t0\tNaN/INF\tноминал (X; Y) = (-20.5; -20.5) мм";
        QTest::newRow("X along j, falling") << Edit([](CalibrationGrid &g) {
            for (int n = 0; n < GridPoints; ++n)
                std::swap(g.X[std::size_t(n)], g.Y[std::size_t(n)]);
            for (double &v : g.X)
                v = 20 - v;
            g.Y[std::size_t(GridPoint(3, 16))] = NaN;
        }) << k << "строка 3, столбец 16, номинал (X; Y) = (12.3; -14.35) мм: X=4, Y=NAN - NaN/INF"
           << "3\t16\t4\tNAN\tNaN/INF\tноминал (X; Y) = (12.3; -14.35) мм";
        QTest::newRow("no step") << Edit([](CalibrationGrid &g) {
            g.step.reset();
            g.X[std::size_t(GridPoint(3, 16))] = NaN;
        }) << k << "строка 3, столбец 16, номинал (X; Y) = (-7; 6) шагов: X=NAN, Y=16 - NaN/INF"
           << "3\t16\tNAN\t16\tNaN/INF\tноминал (X; Y) = (-7; 6) шагов";
        QTest::newRow("runs unknown") << Edit([](CalibrationGrid &g) {
            g.X.fill(1);
            g.Y[std::size_t(GridPoint(3, 16))] = Inf;
        }) << k << "строка 3, столбец 16, номинал (i; j) = (-14.35; 12.3) мм: X=1, Y=INF - NaN/INF"
           << "3\t16\t1\tINF\tNaN/INF\tноминал (i; j) = (-14.35; 12.3) мм";
    }
    void pointText()
    {
        QFETCH(Edit, edit);
        QFETCH(int, k);
        QFETCH(QString, text);
        QFETCH(QString, line);
        CalibrationGrid grid = unitGrid();
        grid.step = 2.05;
        edit(grid);
        const CalibrationCheck check = CheckCalibration(grid);
        QCOMPARE(check.faultyPoints(), QList<int>{k});
        QCOMPARE(FaultyPointText(grid, check, k), text);
        const QStringList lines = MarkedPointLines(grid, check);
        QCOMPARE(lines.at(lines.size() - 2), line);
    }

    void runText()
    {
        QCOMPARE(ChannelRunText(u'X', {GridIndex::Column, -1}), QStringLiteral("X вдоль столбцов (j)"));
        QCOMPARE(ChannelRunText(u'Y', {GridIndex::Row, 1}), QStringLiteral("Y вдоль строк (i)"));
        QCOMPARE(ChannelRunText(u'Y', {}), QString());
    }

    // A dump and a passport of the same image give the same grid; what the
    // restores refuse, the picture refuses with their words.
    void readFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("isDump");
        QTest::addColumn<QString>("failure"); // empty: read

        FlashImage image = imageOf(SimSensor::defaultFlash());
        image[std::size_t(XTableIndex + 5)] = 0xFFFFFFFF; // erased: a NaN the picture marks
        const QByteArray dump = DumpBytes(image);
        QByteArray passport = PassportText(imageOf(SimSensor::defaultFlash()));

        QTest::newRow("dump") << dump << true << QString();
        QTest::newRow("dump of 4099 bytes") << dump + "xyz" << true << QString();
        QTest::newRow("passport") << passport << false << QString();
        QTest::newRow("passport of 440 points")
            << passport.left(passport.lastIndexOf("\r\n", passport.size() - 3) + 2) << false
            << QStringLiteral("Неверное количество точек (440)");
        // The passport of a sensor with an erased word reads, and the point is marked.
        QTest::newRow("passport with -NAN") << PassportText(image) << false << QString();
        QTest::newRow("short binary") << dump.left(4095) << true
                                      << QStringLiteral("Файл cal не является ни дампом, ни паспортом");
        QTest::newRow("empty") << QByteArray() << false << QStringLiteral("Файл cal не является ни дампом, ни паспортом");
    }
    void readFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, isDump);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cal"));
        QVERIFY(writeBytes(path, content));

        if (!failure.isEmpty()) {
            QCOMPARE(failureOf([&] { ReadCalibrationFile(path); }), failure);
            return;
        }
        const CalibrationGrid grid = ReadCalibrationFile(path);
        const SimSensor::Flash flash = SimSensor::defaultFlash();
        QCOMPARE(grid.fileName, QStringLiteral("cal"));
        QVERIFY(grid.step);
        QCOMPARE(*grid.step, 2.05); // firmware 14, dimension 40
        // The passport holds the values to three decimals.
        for (const int k : {0, GridCentre, 440}) {
            QVERIFY(std::abs(grid.X[std::size_t(k)] - std::bit_cast<float>(flash[SimSensor::WordTableX + k])) < 6e-4);
            QVERIFY(std::abs(grid.Y[std::size_t(k)] - std::bit_cast<float>(flash[SimSensor::WordTableY + k])) < 6e-4);
        }
        QCOMPARE(grid.serial, isDump ? QStringLiteral("0012AB7F") : QStringLiteral("cal"));
        QCOMPARE(std::isnan(grid.X[5]), isDump || content.contains("-NAN"));
    }
};

QTEST_MAIN(TestCalibrationGrid)
#include "tst_CalibrationGrid.moc"
