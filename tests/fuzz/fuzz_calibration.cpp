// The calibration file reader of the picture and the checks that judge the grid.
//
// Input: any bytes as a calibration file (a dump or a passport text).
//
// Invariants: the reader takes the file or refuses it with its text; the checks
// mark exactly the points with a non-finite value as such and only known faults,
// an order break only when both runs are found along different indices, and a
// channel's order break only along its run;
// mesh lines join neighbouring points with finite values; scale positions lie in
// 0..1 (NaN for a non-finite value); axis ticks are rising, inside their range and
// no more than asked for.

#include "FuzzSupport.h"

#include "flash/CalibrationGrid.h"
#include "picture/Scales.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <tuple>

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.cal"));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                   && file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
               "cannot write %s", utf8(path));
    file.close();

    CalibrationGrid grid;
    try {
        grid = ReadCalibrationFile(path);
    } catch (const ZartError &e) {
        FUZZ_CHECK(!e.text().isEmpty(), "refused without a reason");
        return 0;
    }

    const CalibrationCheck check = CheckCalibration(grid);
    for (int k = 0; k < GridPoints; ++k) {
        const bool finite = std::isfinite(grid.X[k]) && std::isfinite(grid.Y[k]);
        const quint8 f = check.faults[std::size_t(k)];
        FUZZ_CHECK((f & ~quint8(FaultNonFinite | FaultOrderX | FaultOrderY | FaultFold)) == 0, "faults %02X", f);
        FUZZ_CHECK(bool(f & FaultNonFinite) == !finite, "point %d: faults %02X", k, f);
        if (f != 0)
            FUZZ_CHECK(!FaultyPointText(grid, check, k).isEmpty(), "point %d without a text", k);
        if (f & (FaultOrderX | FaultOrderY))
            FUZZ_CHECK(check.runsKnown(), "point %d: order marked without runs", k);
    }
    // An order break marks two finite neighbours along the run that step against
    // its direction; so every marked point has such a neighbour.
    for (const auto &[values, run, fault] :
         {std::tuple{&grid.X, check.runX, FaultOrderX}, std::tuple{&grid.Y, check.runY, FaultOrderY}}) {
        for (int k = 0; k < GridPoints; ++k) {
            if (!(check.faults[std::size_t(k)] & fault))
                continue;
            const int i = GridRow(k);
            const int j = GridColumn(k);
            bool broken = false;
            for (const int d : {-1, 1}) {
                const int ni = run.index == GridIndex::Row ? i + d : i;
                const int nj = run.index == GridIndex::Column ? j + d : j;
                if (ni < 0 || nj < 0 || ni >= GridSide || nj >= GridSide)
                    continue;
                const double a = (*values)[std::size_t(k)];
                const double b = (*values)[std::size_t(GridPoint(ni, nj))];
                const double stepUp = d > 0 ? b - a : a - b;
                broken = broken || (std::isfinite(a) && std::isfinite(b) && !(stepUp * run.direction > 0));
            }
            FUZZ_CHECK(broken, "point %d marked without a broken step along its run", k);
        }
    }
    for (const MeshSegment &s : MeshSegments(grid)) {
        const int d = s.to - s.from;
        FUZZ_CHECK(s.from >= 0 && s.to < GridPoints && (d == GridSide || (d == 1 && GridColumn(s.from) < GridSide - 1)),
                   "segment %d-%d", s.from, s.to);
        for (int k : {s.from, s.to})
            FUZZ_CHECK(std::isfinite(grid.X[k]) && std::isfinite(grid.Y[k]), "segment to point %d", k);
    }
    for (const ValueRange &range : {check.xRange, check.yRange}) {
        const ValueRange drawn = DrawableRange(range);
        FUZZ_CHECK(std::isfinite(drawn.min) && std::isfinite(drawn.max) && drawn.min < drawn.max,
                   "drawn range %g..%g", drawn.min, drawn.max);
        for (int k = 0; k < GridPoints; ++k) {
            for (double v : {grid.X[k], grid.Y[k]}) {
                const double t = ScalePosition(drawn, v);
                FUZZ_CHECK(std::isfinite(v) ? (t >= 0 && t <= 1) : std::isnan(t), "position %g of %g", t, v);
            }
        }
        const QList<double> ticks = AxisTicks(drawn.min, drawn.max, 8);
        FUZZ_CHECK(ticks.size() <= 9, "%d ticks", int(ticks.size()));
        for (int i = 0; i < ticks.size(); ++i)
            FUZZ_CHECK(ticks[i] >= drawn.min && ticks[i] <= drawn.max && (i == 0 || ticks[i] > ticks[i - 1]),
                       "tick %g in %g..%g", ticks[i], drawn.min, drawn.max);
    }
    return 0;
}
