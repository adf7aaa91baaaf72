// Time per exchange of the long flash operations against the simulated sensor
// on a pseudo-terminal, with no pause between requests: a full dump, a dump
// restore and a passport restore, once with the reply ended by 40 ms of
// silence (the floor of every exchange; the figure of interest is what the
// tool adds above it) and once with the fast reply end (the whole exchange is
// overhead). Last, a bus search sweep of all 247 addresses on a silent line
// with the fast end and a 10 ms probe timeout.
// Then the cost of the line statistics: fast dumps with and without them,
// taken in turns, and the statistics' own work for a dump (1024 exchanges
// recorded and the lines made) timed alone, as a share of a dump's time.

#include "BenchHosts.h"
#include "flash/FlashOperations.h"
#include "modbus/LineStatistics.h"
#include "modbus/ModbusMaster.h"
#include "sensor/SensorCommands.h"
#include "serial/SerialLink.h"

#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <functional>

namespace {

struct Figure
{
    const char *name;
    int exchanges;
    double seconds;
};

bool measure(SimSensor &sensor, const char *name, double floorMs, const std::function<void()> &run,
             QList<Figure> &out)
{
    sensor.clearRequestLog();
    QElapsedTimer clock;
    clock.start();
    try {
        run();
    } catch (const ZartError &e) {
        std::fprintf(stderr, "%s failed: %s\n", name, e.what());
        return false;
    }
    const Figure f{name, sensor.requestCount(), double(clock.nsecsElapsed()) / 1e9};
    out.append(f);
    const double perExchange = f.seconds * 1000.0 / f.exchanges;
    std::printf("%-18s %10d %10.2f %14.2f %14.2f\n", f.name, f.exchanges, f.seconds, perExchange,
                perExchange - floorMs);
    std::fflush(stdout);
    return true;
}

// Dump, restore and passport restore in one reply mode; false when one failed.
bool measureMode(SimSensor &sensor, SerialLink &port, ModbusMaster &engine, bool fast,
                 const CommandTimeouts &timeouts, const QString &dir)
{
    port.FastReply = fast;
    const double floorMs = fast ? 0.0 : double(SerialLink::SilenceMs);
    std::printf("\n%s reply end, reply timeout %d ms, no pause\n",
                fast ? "fast (frame length)" : "described (40 ms of silence)", timeouts.shortMs);
    std::printf("%-18s %10s %10s %14s %14s\n", "operation", "exchanges", "total s", "ms/exchange",
                fast ? "overhead" : "above 40 ms");
    YesOperationHost op;
    QList<Figure> figures;
    DumpFiles files;
    bool ok = measure(sensor, "dump", floorMs, [&] {
        files = CreateDump(engine, op, dir, timeouts.shortMs, 0);
    }, figures);
    ok = ok && measure(sensor, "dump restore", floorMs, [&] {
        RestoreDump(engine, op, files.dump, timeouts, 0, {});
    }, figures);
    ok = ok && measure(sensor, "passport restore", floorMs, [&] {
        RestorePassport(engine, op, files.passport, files.passportIni, timeouts, 0);
    }, figures);
    if (!ok)
        return false;

    int exchanges = 0;
    double seconds = 0;
    for (const Figure &f : figures) {
        exchanges += f.exchanges;
        seconds += f.seconds;
    }
    const double perExchange = seconds * 1000.0 / exchanges;
    std::printf("%-18s %10d %10.2f %14.2f %14.2f\n", "all", exchanges, seconds, perExchange,
                perExchange - floorMs);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    SimSensor sensor;
    sensor.setFlash(SimSensor::defaultFlash());
    SimPtyServer server(sensor);
    if (!server.start()) {
        std::fprintf(stderr, "simulated sensor: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    SerialLink port;
    port.SetPortName(server.devicePath());
    QuietBusHost log;
    ModbusMaster engine(port, log);
    QTemporaryDir dir;
    // bench_flash [SHORT_TIMEOUT_MS] [--line-stats-only]
    const QStringList args = app.arguments().mid(1);
    const bool statsOnly = args.contains(QStringLiteral("--line-stats-only"));
    const CommandTimeouts timeouts{3000, !args.isEmpty() && !args[0].startsWith(QLatin1Char('-')) ? args[0].toInt() : 300};

    if (!statsOnly) {
        if (!measureMode(sensor, port, engine, false, timeouts, dir.path())
            || !measureMode(sensor, port, engine, true, timeouts, dir.path()))
            return 1;

        // A search that finds nothing: every probe waits out its 10 ms.
        sensor.addFault(SimFault::noReply().always());
        port.FastReply = true;
        QElapsedTimer clock;
        clock.start();
        const int found = SearchSensor(engine, 10, [](int) {}, [] {});
        const double sweep = double(clock.nsecsElapsed()) / 1e9;
        std::printf("\nsearch sweep, fast reply end, 10 ms probe timeout, silent line: %.2f s for 247"
                    " probes (%.2f ms per probe)%s\n",
                    sweep, sweep * 1000.0 / 247, found ? ", yet something answered" : "");
        sensor.clearFaults();
    }
    port.FastReply = true;

    // The line statistics: dumps in turns without and with them, which one
    // first changing every round; the median of each.
    constexpr int Rounds = 9;
    YesOperationHost op;
    LineStatistics stats;
    std::vector<double> withoutTimes;
    std::vector<double> withTimes;
    for (int round = 0; round < Rounds; ++round) {
        for (const bool counting : {round % 2 == 0, round % 2 != 0}) {
            engine.setStatistics(counting ? &stats : nullptr);
            QElapsedTimer dumpClock;
            dumpClock.start();
            try {
                CreateDump(engine, op, dir.path(), timeouts.shortMs, 0);
            } catch (const ZartError &e) {
                std::fprintf(stderr, "dump failed: %s\n", e.what());
                return 1;
            }
            (counting ? withTimes : withoutTimes).push_back(double(dumpClock.nsecsElapsed()) / 1e9);
        }
    }
    engine.setStatistics(nullptr);
    // The statistics' own work for one dump, alone: 1024 exchanges with the
    // latencies the last dumps had, then the lines.
    const LatencySeries::Summary typical = stats.frame().summary().value_or(LatencySeries::Summary{});
    const auto ns = qint64(typical.medianMs * 1e6);
    QElapsedTimer own;
    own.start();
    constexpr int Repeats = 100;
    qsizetype lineCount = 0;
    for (int r = 0; r < Repeats; ++r) {
        LineStatistics one;
        for (int i = 0; i < 1024; ++i)
            one.recordExchange(ExchangeOutcome::Success, ns, ns);
        lineCount += LineStatisticsLines(one, port, true).size();
    }
    const double ownPerDump = double(own.nsecsElapsed()) / 1e9 / Repeats;
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double without = median(withoutTimes);
    const double with = median(withTimes);
    const double dumpSeconds = without;
    std::printf("\nline statistics, fast dump (median of %d each, in turns): %.4f s without, %.4f s with"
                " (%+.2f %%, the machine's noise included)\n",
                Rounds, without, with, 100.0 * (with - without) / without);
    std::printf("their own work for a dump (1024 exchanges recorded, %lld lines made): %.3f ms ="
                " %.3f %% of a dump (bound 1 %%: %s)\n",
                static_cast<long long>(lineCount / Repeats), ownPerDump * 1000.0,
                100.0 * ownPerDump / dumpSeconds, ownPerDump < 0.01 * dumpSeconds ? "met" : "MISSED");
    return 0;
}
