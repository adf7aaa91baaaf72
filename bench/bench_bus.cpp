// The inventory of a whole line (addresses 1..247) with the search's default
// probe timeout, three sensors on it, over a pseudo-terminal: its time beside
// 247 x the timeout plus the found sensors' reads (serial number, firmware
// word, identification; timed apart on the same line). Target: within 5 %.
// Both reply ends of the link: the 40 ms silence and the fast end.

#include "bus/BusInventory.h"
#include "flash/FlashPasses.h"
#include "sensor/RegisterMap.h"
#include "sensor/SensorCommands.h"

#include "common/SensorOnPty.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

class QuietHost : public IOperationHost
{
public:
    void progress(int) override {}
    void processEvents() override {}
    void pause(int) override {}
    bool ask(const QString &) override { return false; }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int ProbeMs = InventoryOptions{}.probeTimeoutMs;
    constexpr int Addresses = MaxBusAddress - MinBusAddress + 1;
    for (const bool fast : {false, true}) {
        testsim::SensorOnPty rig;
        rig.bus.addSensor(100, 0x00ABCDEF);
        rig.bus.addSensor(247, 0x01020304);
        if (!rig.startWithEngine(fast)) {
            std::fprintf(stderr, "%s\n", qPrintable(rig.errorString()));
            return 1;
        }
        ModbusMaster &engine = *rig.engine;
        // The reads of the three sensors alone.
        QElapsedTimer clock;
        clock.start();
        for (const int a : {1, 100, 247}) {
            rig.host.address = a;
            ReadSerialNumber(engine, 300, false);
            ReadFlashWord(engine, FirmwareVersionAddress, 300, false);
            ReadDeviceIdentification(engine, 300, false);
        }
        const double readsMs = double(clock.nsecsElapsed()) / 1e6;

        QuietHost op;
        clock.restart();
        const InventoryResult result = RunInventory(engine, op, {MinBusAddress, MaxBusAddress, ProbeMs, 300},
                                                    [&rig](int a) { rig.host.address = a; });
        const double inventoryMs = double(clock.nsecsElapsed()) / 1e6;
        const double expectedMs = Addresses * ProbeMs + readsMs;
        std::printf("%s reply end: inventory of %d addresses, %lld sensors found: %.0f ms; "
                    "247 x %d ms + reads %.0f ms = %.0f ms; ratio %.3f\n",
                    fast ? "fast" : "silence", Addresses, qlonglong(result.sensors.size()), inventoryMs, ProbeMs,
                    readsMs, expectedMs, inventoryMs / expectedMs);
    }
    return 0;
}
