#include "flash/CalibrationGrid.h"

#include "flash/DumpFile.h"
#include "common/NumberFormat.h"
#include "sensor/SensorRequests.h"
#include "common/ZartError.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// Larger than any passport text or dump; a bigger file is neither.
constexpr qint64 MaxCalibrationFileSize = 1 << 20;

bool isFinite(const CalibrationGrid &grid, int k)
{
    return std::isfinite(grid.X[std::size_t(k)]) && std::isfinite(grid.Y[std::size_t(k)]);
}

bool looksLikeText(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return false;
    for (const char c : bytes) {
        const auto b = quint8(c);
        if (!(b == '\t' || b == '\n' || b == '\r' || (b >= 0x20 && b < 0x7F)))
            return false;
    }
    return true;
}

int sign(double v)
{
    return v > 0 ? 1 : v < 0 ? -1 : 0;
}

// The majority sign of the counts, a tie counting as +1; 0 when both are 0.
int majority(int positive, int negative)
{
    if (positive == 0 && negative == 0)
        return 0;
    return positive >= negative ? 1 : -1;
}

ValueRange rangeOf(const std::array<double, GridPoints> &values)
{
    ValueRange r;
    for (const double v : values) {
        if (!std::isfinite(v))
            continue;
        if (!r.valid) {
            r = {v, v, true};
        } else {
            r.min = std::min(r.min, v);
            r.max = std::max(r.max, v);
        }
    }
    return r;
}

// The point at position pos (0..20) of line `line` along an index: along the
// row index the lines are the columns, along the column index the rows.
int pointAlong(GridIndex index, int line, int pos)
{
    return index == GridIndex::Row ? GridPoint(pos, line) : GridPoint(line, pos);
}

// Calls step(ka, kb, a, b) for every pair of neighbours along an index whose
// values a (at ka) and b (at kb, one further) are both finite.
template <typename Step>
void forEachStep(const std::array<double, GridPoints> &values, GridIndex index, Step step)
{
    for (int line = 0; line < GridSide; ++line) {
        for (int pos = 0; pos + 1 < GridSide; ++pos) {
            const int ka = pointAlong(index, line, pos);
            const int kb = pointAlong(index, line, pos + 1);
            const double a = values[std::size_t(ka)];
            const double b = values[std::size_t(kb)];
            if (std::isfinite(a) && std::isfinite(b))
                step(ka, kb, a, b);
        }
    }
}

// What the steps along one index say.
struct IndexSteps
{
    int count = 0;      // steps between finite values
    int direction = 0;  // the sign more than half of them have, or 0
    double typical = 0; // median of the steps taken in that direction
};

IndexSteps stepsAlong(const std::array<double, GridPoints> &values, GridIndex index)
{
    QList<double> steps;
    steps.reserve(GridSide * (GridSide - 1));
    int rising = 0;
    int falling = 0;
    forEachStep(values, index, [&](int, int, double a, double b) {
        steps.append(b - a);
        rising += b > a;
        falling += b < a;
    });
    IndexSteps out;
    out.count = int(steps.size());
    out.direction = 2 * rising > out.count ? 1 : 2 * falling > out.count ? -1 : 0;
    if (out.direction == 0)
        return out;
    for (double &d : steps)
        d *= out.direction;
    // Upper median: more than half of the steps are positive, so it is too.
    const auto middle = steps.begin() + steps.size() / 2;
    std::nth_element(steps.begin(), middle, steps.end());
    out.typical = *middle;
    return out;
}

// Marks both points of every step of a channel that does not go its direction.
void checkOrder(const std::array<double, GridPoints> &values, const ChannelRun &run,
                std::array<quint8, GridPoints> &faults, quint8 fault)
{
    forEachStep(values, run.index, [&](int ka, int kb, double a, double b) {
        if (sign(b - a) != run.direction) {
            faults[std::size_t(ka)] |= fault;
            faults[std::size_t(kb)] |= fault;
        }
    });
}

// The corners of cell (i, j) in the order of its outline.
std::array<int, 4> cellCorners(int i, int j)
{
    return {GridPoint(i, j), GridPoint(i + 1, j), GridPoint(i + 1, j + 1), GridPoint(i, j + 1)};
}

QString faultNames(quint8 faults)
{
    QStringList names;
    if (faults & FaultNonFinite)
        names << QStringLiteral("NaN/INF");
    if (faults & FaultOrderX)
        names << QStringLiteral("порядок X");
    if (faults & FaultOrderY)
        names << QStringLiteral("порядок Y");
    if (faults & FaultFold)
        names << QStringLiteral("складка");
    return names.join(QStringLiteral(", "));
}

} // namespace

CalibrationGrid GridOfImage(const FlashImage &image, const QString &fileName)
{
    CalibrationGrid grid;
    for (int k = 0; k < GridPoints; ++k) {
        grid.X[std::size_t(k)] = std::bit_cast<float>(image[std::size_t(XTableIndex + k)]);
        grid.Y[std::size_t(k)] = std::bit_cast<float>(image[std::size_t(YTableIndex + k)]);
    }
    grid.step = double(GridStepOf(image));
    grid.serial = SerialText(image[WordSerial]);
    grid.fileName = QFileInfo(fileName).fileName();
    return grid;
}

CalibrationGrid GridOfPassport(const QList<PassportPoint> &points, const QString &fileName)
{
    CalibrationGrid grid;
    for (int k = 0; k < GridPoints && k < points.size(); ++k) {
        grid.X[std::size_t(k)] = double(points[k].X);
        grid.Y[std::size_t(k)] = double(points[k].Y);
    }
    if (points.size() == GridPoints) {
        const double step = double((points.last().Coord1 - points.first().Coord1) / (GridSide - 1));
        if (std::isfinite(step) && step > 0)
            grid.step = step;
    }
    grid.serial = PassportSection(fileName);
    grid.fileName = QFileInfo(fileName).fileName();
    return grid;
}

CalibrationGrid ReadCalibrationFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ZartError(file.errorString());
    const QString name = QFileInfo(path).fileName();
    const auto neither = [&name] {
        return ZartError(QStringLiteral("Файл %1 не является ни дампом, ни паспортом").arg(name));
    };
    if (file.size() > MaxCalibrationFileSize)
        throw neither();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ZartError(file.errorString());

    if (looksLikeText(bytes)) {
        const QList<PassportPoint> points = ParsePassportText(bytes);
        if (points.size() != GridPoints)
            throw ZartError(QStringLiteral("Неверное количество точек (%1)").arg(points.size()));
        return GridOfPassport(points, path);
    }
    if (bytes.size() / 4 == FlashWords)
        return GridOfImage(ImageFromDump(bytes), path);
    throw neither();
}

ChannelRun FindChannelRun(const std::array<double, GridPoints> &values)
{
    const IndexSteps rows = stepsAlong(values, GridIndex::Row);
    const IndexSteps columns = stepsAlong(values, GridIndex::Column);
    // Both indices must have been seen to tell one from the other.
    if (rows.count == 0 || columns.count == 0)
        return {};
    if (rows.direction != 0 && (columns.direction == 0 || rows.typical > columns.typical))
        return {GridIndex::Row, rows.direction};
    if (columns.direction != 0 && (rows.direction == 0 || columns.typical > rows.typical))
        return {GridIndex::Column, columns.direction};
    return {};
}

QString ChannelRunText(QChar channel, const ChannelRun &run)
{
    switch (run.index) {
    case GridIndex::Row: return QStringLiteral("%1 вдоль строк (i)").arg(channel);
    case GridIndex::Column: return QStringLiteral("%1 вдоль столбцов (j)").arg(channel);
    case GridIndex::None: break;
    }
    return {};
}

QList<MeshSegment> MeshSegments(const CalibrationGrid &grid)
{
    QList<MeshSegment> segments;
    for (int i = 0; i < GridSide; ++i) {
        for (int j = 0; j < GridSide; ++j) {
            const int k = GridPoint(i, j);
            if (!isFinite(grid, k))
                continue;
            if (j + 1 < GridSide && isFinite(grid, k + 1))
                segments.append({k, k + 1});
            if (i + 1 < GridSide && isFinite(grid, k + GridSide))
                segments.append({k, k + GridSide});
        }
    }
    return segments;
}

QList<int> CalibrationCheck::faultyPoints() const
{
    QList<int> out;
    for (int k = 0; k < GridPoints; ++k) {
        if (faults[std::size_t(k)] != 0)
            out.append(k);
    }
    return out;
}

CalibrationCheck CheckCalibration(const CalibrationGrid &grid)
{
    CalibrationCheck check;
    for (int k = 0; k < GridPoints; ++k) {
        if (!isFinite(grid, k))
            check.faults[std::size_t(k)] |= FaultNonFinite;
    }
    check.xRange = rangeOf(grid.X);
    check.yRange = rangeOf(grid.Y);

    check.runX = FindChannelRun(grid.X);
    check.runY = FindChannelRun(grid.Y);
    if (check.runsKnown()) {
        checkOrder(grid.X, check.runX, check.faults, FaultOrderX);
        checkOrder(grid.Y, check.runY, check.faults, FaultOrderY);
    }

    std::array<int, GridCells> cellSign{};
    std::array<bool, GridCells> measured{};
    int ccw = 0;
    int cw = 0;
    for (int i = 0; i + 1 < GridSide; ++i) {
        for (int j = 0; j + 1 < GridSide; ++j) {
            const std::array<int, 4> c = cellCorners(i, j);
            bool finite = true;
            for (const int k : c)
                finite = finite && isFinite(grid, k);
            if (!finite)
                continue;
            // Twice the signed area; long double keeps products of singles near
            // their largest value finite.
            long double area = 0;
            for (int n = 0; n < 4; ++n) {
                const auto a = std::size_t(c[std::size_t(n)]);
                const auto b = std::size_t(c[std::size_t((n + 1) % 4)]);
                area += (long double)grid.X[a] * grid.Y[b] - (long double)grid.X[b] * grid.Y[a];
            }
            const int cell = GridCell(i, j);
            measured[std::size_t(cell)] = true;
            cellSign[std::size_t(cell)] = area > 0 ? 1 : area < 0 ? -1 : 0;
            ccw += area > 0;
            cw += area < 0;
        }
    }
    check.orientation = majority(ccw, cw);
    if (check.orientation != 0) {
        for (int i = 0; i + 1 < GridSide; ++i) {
            for (int j = 0; j + 1 < GridSide; ++j) {
                const auto cell = std::size_t(GridCell(i, j));
                if (!measured[cell] || cellSign[cell] == check.orientation)
                    continue;
                check.folded[cell] = true;
                for (const int k : cellCorners(i, j))
                    check.faults[std::size_t(k)] |= FaultFold;
            }
        }
    }
    return check;
}

MapAxes MapAxesOf(const CalibrationCheck &check)
{
    if (!check.runsKnown())
        return {};
    return {check.runX.index, check.runX.direction, check.runY.index, check.runY.direction};
}

MapPlace PlaceOnMap(const MapAxes &axes, int k)
{
    const auto indexOf = [k](GridIndex index) {
        return index == GridIndex::Column ? GridColumn(k) : GridRow(k);
    };
    return {IndexAtPlace(axes.acrossDirection, indexOf(axes.across)),
            IndexAtPlace(axes.upDirection, indexOf(axes.up))};
}

QString NominalCoordinateText(const CalibrationGrid &grid, int n)
{
    const int steps = n - GridSide / 2;
    return grid.step ? FormatFloat(steps * *grid.step) : QString::number(steps);
}

QString NominalText(const CalibrationGrid &grid, const CalibrationCheck &check, int k)
{
    const MapAxes axes = MapAxesOf(check);
    const auto along = [&](GridIndex index) {
        return NominalCoordinateText(grid, index == GridIndex::Column ? GridColumn(k) : GridRow(k));
    };
    return QStringLiteral("номинал (%1) = (%2; %3) %4")
        .arg(check.runsKnown() ? QStringLiteral("X; Y") : QStringLiteral("i; j"), along(axes.across),
             along(axes.up), grid.step ? QStringLiteral("мм") : QStringLiteral("шагов"));
}

QString FaultyPointText(const CalibrationGrid &grid, const CalibrationCheck &check, int k)
{
    return QStringLiteral("строка %1, столбец %2, %3: X=%4, Y=%5 - %6")
        .arg(QString::number(GridRow(k)), QString::number(GridColumn(k)), NominalText(grid, check, k),
             FormatFloat(grid.X[std::size_t(k)]), FormatFloat(grid.Y[std::size_t(k)]),
             faultNames(check.faults[std::size_t(k)]));
}

QStringList MarkedPointLines(const CalibrationGrid &grid, const CalibrationCheck &check)
{
    QStringList lines;
    if (!check.runsKnown())
        lines << OrientationUnknownText();
    const QList<int> marked = check.faultyPoints();
    for (const int k : marked) {
        lines << QStringList{QString::number(GridRow(k)), QString::number(GridColumn(k)),
                             FormatFloat(grid.X[std::size_t(k)]), FormatFloat(grid.Y[std::size_t(k)]),
                             faultNames(check.faults[std::size_t(k)]), NominalText(grid, check, k)}
                     .join(QLatin1Char('\t'));
    }
    lines << QStringLiteral("Отмеченные точки: %1").arg(marked.size());
    return lines;
}
