// A dump's read pass on a paced line (the simulated sensor answers when its
// request and its reply would have crossed a wire of that speed), with the fast
// reply end: one word per request, then blocks of 62 words. Beside each, the
// wire's time for the same exchanges and the wire's limit for the 4096 data
// bytes alone (11-bit characters); last, whether the two images are the same.

#include "BenchHosts.h"
#include "flash/FlashOperations.h"
#include "modbus/ModbusMaster.h"
#include "serial/SerialLink.h"

#include "sim/SimBus.h"
#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

// Microseconds the exchanges of a whole read take on the wire: request frames of
// 8 bytes, replies of 5 bytes around 4 data bytes per word.
qint64 wireUs(int blockWords, int baud)
{
    qint64 us = 0;
    for (int n = 0; n < FlashWords; n += blockWords)
        us += SimBus::wireTimeUs(8, 5 + 4 * std::min(blockWords, FlashWords - n), baud);
    return us;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    SimSensor sensor;
    SimSensor::Flash flash = SimSensor::defaultFlash();
    for (int n = 7; n < SimSensor::WordTableX; ++n)
        flash[std::size_t(n)] = 0x9E3779B9u * quint32(n);
    sensor.setFlash(flash);
    SimBus bus;
    bus.attach(sensor);
    SimPtyServer server(bus);
    if (!server.start()) {
        std::fprintf(stderr, "simulated sensor: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    SerialLink port;
    port.SetPortName(server.devicePath());
    port.FastReply = true;
    QuietBusHost log;
    ModbusMaster engine(port, log);

    std::printf("dump read pass, fast reply end, no pause\n");
    std::printf("%7s %7s %9s %9s %9s %7s %9s %7s %6s\n", "bit/s", "words", "requests", "dump s",
                "wire s", "+%", "data s", "+%", "exact");
    for (const int baud : {9600, 115200}) {
        bus.setWireBaud(baud);
        const double dataSeconds = double(FlashWords) * 4 * SimBus::BitsPerCharacter / baud;
        double singleSeconds = 0;
        for (const int words : {1, MaxBlockWords}) {
            YesOperationHost op;
            op.blocks = words;
            sensor.clearRequestLog();
            QElapsedTimer clock;
            clock.start();
            FlashImage image{};
            try {
                image = ReadFlashImage(engine, op, 1000, 0);
            } catch (const ZartError &e) {
                std::fprintf(stderr, "dump at %d bit/s in blocks of %d failed: %s\n", baud, words, e.what());
                return 1;
            }
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            const double wire = double(wireUs(words, baud)) / 1e6;
            const bool exact = std::equal(image.begin(), image.end(), flash.begin());
            std::printf("%7d %7d %9d %9.3f %9.3f %7.1f %9.3f %7.1f %6s\n", baud, words, sensor.requestCount(),
                        seconds, wire, (seconds / wire - 1) * 100, dataSeconds,
                        (seconds / dataSeconds - 1) * 100, exact ? "yes" : "NO");
            if (words == 1)
                singleSeconds = seconds;
            else
                std::printf("%7d blocks of %d: %.2f times faster than one word per request\n", baud, words,
                            singleSeconds / seconds);
            std::fflush(stdout);
        }
    }
    return 0;
}
