// zart-sensor-sim: the simulated sensor on a pseudo-terminal, for running the
// configurator and its command-line front end without hardware.

#include "common/StopSignals.h"

#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

[[noreturn]] void fail(const QString &text)
{
    std::fprintf(stderr, "zart-sensor-sim: %s\n", qPrintable(text));
    std::exit(2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zart-sensor-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated optical coordinate sensor: a Modbus RTU slave on a pseudo-terminal."));
    parser.addHelpOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("Make a symbolic link to the device at <path>."),
                                     QStringLiteral("path"));
    const QCommandLineOption addressOpt(QStringLiteral("address"),
                                        QStringLiteral("Bus address, 1..247 (default 1)."),
                                        QStringLiteral("n"));
    const QCommandLineOption serialOpt(QStringLiteral("serial"),
                                       QStringLiteral("Serial number, hexadecimal (default 0012AB7F)."),
                                       QStringLiteral("hex"));
    const QCommandLineOption flashInOpt(QStringLiteral("flash-in"),
                                        QStringLiteral("Load the flash image from a 4096-byte dump."),
                                        QStringLiteral("file"));
    const QCommandLineOption flashOutOpt(QStringLiteral("flash-out"),
                                         QStringLiteral("Write the flash image to a dump on exit."),
                                         QStringLiteral("file"));
    const QCommandLineOption loseOpt(QStringLiteral("lose-every"),
                                     QStringLiteral("Leave every <n>th request unanswered, as a noisy line loses replies."),
                                     QStringLiteral("n"));
    parser.addOptions({linkOpt, addressOpt, serialOpt, flashInOpt, flashOutOpt, loseOpt});
    parser.process(app);

    SimSensor sensor;
    QString error;
    if (parser.isSet(flashInOpt) && !sensor.loadDump(parser.value(flashInOpt), &error))
        fail(error);
    if (parser.isSet(addressOpt)) {
        bool ok = false;
        const uint a = parser.value(addressOpt).toUInt(&ok, 0);
        if (!ok || a < 1 || a > 247)
            fail(QStringLiteral("--address wants 1..247, not %1").arg(parser.value(addressOpt)));
        sensor.setAddress(quint8(a));
    }
    if (parser.isSet(serialOpt)) {
        QString text = parser.value(serialOpt);
        if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            text = text.mid(2);
        bool ok = false;
        const uint s = text.toUInt(&ok, 16);
        if (!ok || text.size() > 8)
            fail(QStringLiteral("--serial wants up to 8 hexadecimal digits, not %1")
                     .arg(parser.value(serialOpt)));
        sensor.setSerial(s);
    }
    if (parser.isSet(loseOpt)) {
        bool ok = false;
        const int n = parser.value(loseOpt).toInt(&ok);
        if (!ok || n < 1)
            fail(QStringLiteral("--lose-every wants a count of 1 or more, not %1").arg(parser.value(loseOpt)));
        sensor.addFault(SimFault::noReply().every(n).times(SimFault::Always));
    }
    if (sensor.address() < 1 || sensor.address() > 247)
        fail(QStringLiteral("the flash image holds bus address %1; give --address").arg(sensor.address()));

    // SIGINT, SIGTERM and SIGHUP end the event loop, so that the link is
    // removed and the flash image written as on any other exit; then the
    // process ends by that signal. A signal ignored at start stays ignored.
    StopSignals stop({SIGINT, SIGTERM, SIGHUP});
    stop.whenCaught([] { QCoreApplication::quit(); });

    SimPtyServer server(sensor);
    if (!server.start(parser.value(linkOpt)))
        fail(server.errorString());

    std::printf("%s\n", qPrintable(server.devicePath()));
    if (!server.linkPath().isEmpty())
        std::printf("link %s\n", qPrintable(server.linkPath()));
    std::printf("address %u, serial %08X\n", unsigned(sensor.address()), unsigned(sensor.serial()));
    std::fflush(stdout);

    const int rc = app.exec();
    server.stop();

    if (parser.isSet(flashOutOpt) && !sensor.saveDump(parser.value(flashOutOpt), &error)) {
        std::fprintf(stderr, "zart-sensor-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (const int signal = stop.caught()) {
        std::fflush(stdout);
        std::fflush(stderr);
        StopSignals::endBy(signal);
    }
    return rc;
}
