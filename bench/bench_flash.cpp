// Time per exchange of the long flash operations against the simulated sensor
// on a pseudo-terminal, with no pause between requests: a full dump, a dump
// restore and a passport restore. A reply ends only after 40 ms of silence on
// the line, so that is the floor of every exchange; the figure of interest is
// what the tool adds above it.

#include "flash/FlashOperations.h"
#include "modbus/Transact.h"
#include "serial/UComWin.h"

#include "SimPtyServer.h"
#include "SimSensor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

class QuietHost : public IBusHost
{
public:
    void Log(const QString &text, quint8 kind) override
    {
        if (kind == LogError)
            std::fprintf(stderr, "log: %s\n", qPrintable(text));
    }
    int busAddress() const override { return 1; }
};

class YesHost : public IOperationHost
{
public:
    void progress(int) override {}
    void processEvents() override {}
    void pause(int) override {}
    bool ask(const QString &) override { return true; }
};

struct Figure
{
    const char *name;
    int exchanges;
    double seconds;
};

bool measure(SimSensor &sensor, const char *name, const std::function<void()> &run,
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
    std::printf("%-18s %10d %10.2f %14.2f %16.2f\n", f.name, f.exchanges, f.seconds, perExchange,
                perExchange - TWinComPort::SilenceMs);
    std::fflush(stdout);
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
    TWinComPort port;
    port.SetPortName(server.devicePath());
    QuietHost log;
    TModbusEngine engine(port, log);
    YesHost op;
    QTemporaryDir dir;
    const CommandTimeouts timeouts{3000, argc > 1 ? atoi(argv[1]) : 300};

    std::printf("reply timeout %d ms, no pause\n", timeouts.shortMs);
    std::printf("%-18s %10s %10s %14s %16s\n", "operation", "exchanges", "total s",
                "ms/exchange", "above 40 ms");
    QList<Figure> figures;
    DumpFiles files;
    bool ok = measure(sensor, "dump", [&] {
        files = CreateDump(engine, op, dir.path(), timeouts.shortMs, 0);
    }, figures);
    ok = ok && measure(sensor, "dump restore", [&] {
        RestoreDump(engine, op, files.dump, timeouts, 0, {});
    }, figures);
    ok = ok && measure(sensor, "passport restore", [&] {
        RestorePassport(engine, op, files.passport, files.passportIni, timeouts, 0);
    }, figures);
    if (!ok)
        return 1;

    int exchanges = 0;
    double seconds = 0;
    for (const Figure &f : figures) {
        exchanges += f.exchanges;
        seconds += f.seconds;
    }
    const double perExchange = seconds * 1000.0 / exchanges;
    std::printf("%-18s %10d %10.2f %14.2f %16.2f\n", "all", exchanges, seconds, perExchange,
                perExchange - TWinComPort::SilenceMs);
    return 0;
}
