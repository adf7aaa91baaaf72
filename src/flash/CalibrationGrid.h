#pragma once

#include "flash/FlashImage.h"
#include "flash/Passport.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

// The calibration grid as the picture sees it, and the checks that judge it.
//
// Point k (0..440) is row i = k / 21 and column j = k % 21; its nominal position
// is ((i - 10) * step, (j - 10) * step) mm and it holds an X and a Y value in the
// sensor's own units. In a sound calibration each channel runs steadily one way
// along one of the two indices, and the mesh of the measured points (X, Y) does
// not fold. Which index each channel follows, and in which direction, depends on
// how the sensor was mounted on the calibration bench; the checks read it from
// the data.

inline constexpr int GridCells = (GridSide - 1) * (GridSide - 1); // 400

inline constexpr int GridRow(int k)
{
    return k / GridSide;
}
inline constexpr int GridColumn(int k)
{
    return k % GridSide;
}
inline constexpr int GridPoint(int row, int column)
{
    return row * GridSide + column;
}

struct CalibrationGrid
{
    std::array<double, GridPoints> X{};
    std::array<double, GridPoints> Y{};
    // Grid step in mm; none when the file does not tell it (a passport whose
    // coordinates do not make a grid).
    std::optional<double> step;
    QString serial;   // eight hex digits of a dump, the section name of a passport
    QString fileName; // without its directory
};

// The grid of a dump image: words 128 + k and 570 + k as singles, the step of
// GridStepOf, the serial number of word 1.
CalibrationGrid GridOfImage(const FlashImage &image, const QString &fileName);

// The grid of a passport's 441 points; the step is read back from the grid
// coordinates of the first and the last point (-10 and +10 steps).
CalibrationGrid GridOfPassport(const QList<PassportPoint> &points, const QString &fileName);

// Reads a dump or a passport text, told apart by content: text (printable ASCII,
// TAB, CR and LF only) is a passport, anything else of a dump's size (4096 to
// 4099 bytes) a dump. A passport is read as its restore reads it: a value that
// is no number (NAN, INF) or beyond a single is refused with the reader's text,
// a count other than 441 with "Неверное количество точек (%d)". A dump's values
// are taken as they are; NaN and infinities are the picture's to mark. A file
// that is neither throws ZartError("Файл <name> не является ни дампом, ни
// паспортом"), a file that cannot be read ZartError with the system's text.
CalibrationGrid ReadCalibrationFile(const QString &path);

// --- Mesh --------------------------------------------------------------------------

// One line of the measured mesh, between neighbouring points along a row or a
// column; only pairs whose four values are finite.
struct MeshSegment
{
    int from;
    int to;
    friend bool operator==(const MeshSegment &, const MeshSegment &) = default;
};
QList<MeshSegment> MeshSegments(const CalibrationGrid &grid);

// --- Checks ------------------------------------------------------------------------

enum PointFault : quint8 {
    FaultNonFinite = 1, // X or Y is NaN or infinite
    FaultOrderX = 2,    // X steps against its direction along the index it runs along
    FaultOrderY = 4,    // the same for Y
    FaultFold = 8,      // corner of a folded cell
};

// The grid index a channel's values run along.
enum class GridIndex : quint8 {
    None,   // not found
    Row,    // i: the values change from row to row
    Column, // j: the values change from column to column
};

// How one channel runs over the grid.
struct ChannelRun
{
    GridIndex index = GridIndex::None;
    int direction = 0; // +1 rising, -1 falling as the index grows; 0 with None
    friend bool operator==(const ChannelRun &, const ChannelRun &) = default;
};

// Finds the index one channel runs along: of the two indices, those along
// which more than half of the steps between finite neighbours have one sign
// are candidates, and the candidate whose typical step in that direction (the
// median) is larger wins. None when the values do not tell: no finite step
// along one of the indices (a single row or column of finite values), no
// candidate (all values equal), or two candidates with equal steps.
ChannelRun FindChannelRun(const std::array<double, GridPoints> &values);

// "X вдоль строк (i)", "Y вдоль столбцов (j)"; empty for a run not found.
QString ChannelRunText(QChar channel, const ChannelRun &run);

// Said in the picture and by `zart-cli plot` when the runs are not known.
inline QString OrientationUnknownText()
{
    return QStringLiteral("Ориентация сетки не определена");
}

// Extremes of the finite values; invalid when there are none.
struct ValueRange
{
    double min = 0;
    double max = 0;
    bool valid = false;
};

struct CalibrationCheck
{
    std::array<quint8, GridPoints> faults{}; // PointFault bits per point
    // Cell c = row * 20 + column, corners (i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1).
    std::array<bool, GridCells> folded{};
    // The runs of X and Y found in the data.
    ChannelRun runX;
    ChannelRun runY;
    // Orientation most cells have: +1 counter-clockwise, -1 clockwise, 0 none.
    int orientation = 0;
    ValueRange xRange;
    ValueRange yRange;

    // The points with a fault, k ascending.
    QList<int> faultyPoints() const;
    // Whether both runs are found, along different indices; only then is the
    // order checked.
    bool runsKnown() const
    {
        return runX.index != GridIndex::None && runY.index != GridIndex::None
            && runX.index != runY.index;
    }
};

// Runs the three checks:
// - a point with a non-finite X or Y;
// - order: when the runs are known, every step of a channel along its index
//   between two finite values that does not go its direction (an equal pair
//   included) marks both its points; with the runs unknown no order is marked;
// - folds: a cell with four finite corners whose signed area (shoelace over the
//   corners in the order above) has another sign than most cells', zero included.
//   A tie of the two signs counts as counter-clockwise; with no cell of nonzero
//   area nothing is marked.
CalibrationCheck CheckCalibration(const CalibrationGrid &grid);

// The cell index of row i and column j (both 0..19).
inline constexpr int GridCell(int row, int column)
{
    return row * (GridSide - 1) + column;
}

// --- Placing the grid beside the mesh ---------------------------------------------

// How the nominal grid is laid out on the colour maps so that they read like the
// mesh (X to the right, Y up): across runs the index X runs along, the way X
// rises; up runs the index Y runs along, the way Y rises. With the runs not
// known, row i across and column j up, both rising.
struct MapAxes
{
    GridIndex across = GridIndex::Row;
    int acrossDirection = 1;
    GridIndex up = GridIndex::Column;
    int upDirection = 1;
    friend bool operator==(const MapAxes &, const MapAxes &) = default;
};
MapAxes MapAxesOf(const CalibrationCheck &check);

// The place of a grid point on the maps: cells from the left and from the bottom (0..20).
struct MapPlace
{
    int across;
    int up;
    friend bool operator==(const MapPlace &, const MapPlace &) = default;
};
MapPlace PlaceOnMap(const MapAxes &axes, int k);

// The row or column number at a place along an axis that runs that way (and
// the place of a number: the mapping is its own inverse).
inline constexpr int IndexAtPlace(int direction, int place)
{
    return direction < 0 ? GridSide - 1 - place : place;
}

// The nominal coordinate of row or column n: (n - 10) * step "0.###", or n - 10
// for a grid without a step.
QString NominalCoordinateText(const CalibrationGrid &grid, int n);

// The nominal position of point k, named by what its two numbers are:
// "номинал (X; Y) = (20.5; -6.15) мм" with the nominal coordinates along the
// indices X and Y run along; "номинал (i; j) = (...)" along row and column
// when the runs are not known; "шагов" instead of "мм" for a grid without a step.
QString NominalText(const CalibrationGrid &grid, const CalibrationCheck &check, int k);

// "строка i, столбец j, номинал (X; Y) = (x; y) мм: X=..., Y=... - reasons",
// values shown "0.###".
QString FaultyPointText(const CalibrationGrid &grid, const CalibrationCheck &check, int k);

// The verdict as text lines, for a bench script: "Ориентация сетки не
// определена" when the runs are not known, then one line per marked point, k
// ascending, TAB-separated: row, column, X, Y ("0.###"), the reasons and the
// nominal position (NominalText); last "Отмеченные точки: N".
QStringList MarkedPointLines(const CalibrationGrid &grid, const CalibrationCheck &check);
