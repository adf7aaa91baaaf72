// zart-sensor-sim: the simulated sensor on a pseudo-terminal, for running the
// configurator and its command-line front end without hardware.

#include "common/StopSignals.h"

#include "sim/SimBus.h"
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
    const QCommandLineOption sensorsOpt(
        QStringLiteral("sensors"),
        QStringLiteral("Several sensors on the line, each with its own flash: address:serial pairs "
                       "(serial hexadecimal), e.g. 1:0012AB7F,5:00ABCDEF. An address given twice "
                       "makes both sensors answer at once, and their replies collide."),
        QStringLiteral("list"));
    const QCommandLineOption wireOpt(
        QStringLiteral("wire"),
        QStringLiteral("Pace the line like a wire at <baud> bit/s (8E1): each reply comes when its "
                       "last byte would, after the request, the reply and the 3.5-character "
                       "silence."),
        QStringLiteral("baud"));
    const QCommandLineOption noBlockOpt(
        QStringLiteral("no-block"),
        QStringLiteral("Read one flash word per request only; block reads are refused (exception 2)."));
    parser.addOptions({linkOpt, addressOpt, serialOpt, flashInOpt, flashOutOpt, loseOpt, sensorsOpt,
                       wireOpt, noBlockOpt});
    parser.process(app);

    SimBus bus;
    SimSensor sensor; // the one sensor of --address and --serial
    QString error;
    if (parser.isSet(sensorsOpt)) {
        for (const QCommandLineOption *one : {&addressOpt, &serialOpt, &flashInOpt, &flashOutOpt})
            if (parser.isSet(*one))
                fail(QStringLiteral("--%1 goes with one sensor, not with --sensors").arg(one->names().first()));
        const std::optional<QList<SimBus::Member>> members =
            SimBus::parseMembers(parser.value(sensorsOpt), &error);
        if (!members)
            fail(QStringLiteral("--sensors: %1").arg(error));
        for (const SimBus::Member &m : *members)
            bus.addSensor(m.address, m.serial);
    } else {
        bus.attach(sensor);
    }
    if (parser.isSet(wireOpt)) {
        bool ok = false;
        const int baud = parser.value(wireOpt).toInt(&ok);
        if (!ok || baud < 300 || baud > 4000000)
            fail(QStringLiteral("--wire wants a rate of 300..4000000 bit/s, not %1").arg(parser.value(wireOpt)));
        bus.setWireBaud(baud);
    }

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
        for (int i = 0; i < bus.size(); ++i)
            bus.sensor(i).addFault(SimFault::noReply().every(n).times(SimFault::Always));
    }
    for (int i = 0; i < bus.size(); ++i)
        bus.sensor(i).setBlockReads(!parser.isSet(noBlockOpt));
    if (!parser.isSet(sensorsOpt) && (sensor.address() < 1 || sensor.address() > 247))
        fail(QStringLiteral("the flash image holds bus address %1; give --address").arg(sensor.address()));

    // SIGINT, SIGTERM and SIGHUP end the event loop, so that the link is
    // removed and the flash image written as on any other exit; then the
    // process ends by that signal. A signal ignored at start stays ignored.
    StopSignals stop({SIGINT, SIGTERM, SIGHUP});
    stop.whenCaught([] { QCoreApplication::quit(); });

    SimPtyServer server(bus);
    if (!server.start(parser.value(linkOpt)))
        fail(server.errorString());

    std::printf("%s\n", qPrintable(server.devicePath()));
    if (!server.linkPath().isEmpty())
        std::printf("link %s\n", qPrintable(server.linkPath()));
    for (int i = 0; i < bus.size(); ++i)
        std::printf("address %u, serial %08X\n", unsigned(bus.sensor(i).address()),
                    unsigned(bus.sensor(i).serial()));
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
