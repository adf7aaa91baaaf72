// The service record's cost on a fast dump: dumps of the simulated sensor on a
// pseudo-terminal, with the fast reply end and no pause, taken in turns with
// the record off and on (an SQLite record in a temporary folder, written the
// way the front ends write it: the recorded operation, its three files with
// their SHA-256, one transaction). Prints the median of each and the share.

#include "BenchHosts.h"
#include "flash/FlashOperations.h"
#include "modbus/ModbusMaster.h"
#include "record/RecordKeeper.h"
#include "serial/SerialLink.h"

#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
    port.FastReply = true;
    QuietBusHost log;
    ModbusMaster engine(port, log);
    QTemporaryDir dir;
    RecordKeeper records;
    records.setLocation(dir.filePath(QStringLiteral("records.sqlite")));

    // Rounds in turns, which side first changing every round.
    constexpr int Rounds = 11;
    std::vector<double> off;
    std::vector<double> on;
    for (int round = 0; round < Rounds; ++round) {
        for (const bool recording : {round % 2 == 0, round % 2 != 0}) {
            YesOperationHost host;
            QElapsedTimer clock;
            clock.start();
            try {
                if (recording) {
                    RecordedOperation op = records.operation(log, RecordedKind::Dump, port, 1);
                    host.record = &op;
                    op.run([&] { CreateDump(engine, host, dir.path(), 300, 0); });
                } else {
                    CreateDump(engine, host, dir.path(), 300, 0);
                }
            } catch (const ZartError &e) {
                std::fprintf(stderr, "dump failed: %s\n", e.what());
                return 1;
            }
            (recording ? on : off).push_back(double(clock.nsecsElapsed()) / 1e9);
        }
    }
    const double without = median(off);
    const double with = median(on);
    const double share = 100.0 * (with - without) / without;
    std::printf("fast dump (median of %d each, in turns): %.4f s without the record, %.4f s with it: "
                "%+.2f %% (bound 5 %%: %s)\n",
                Rounds, without, with, share, share <= 5.0 ? "met" : "MISSED");
    std::printf("operations in the record: %lld\n",
                static_cast<long long>(records.history({}).size()));
    return 0;
}
