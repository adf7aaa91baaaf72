#include "cli/CliArguments.h"

#include "picture/CalibrationPainter.h"
#include "sensor/HexField.h"

#include <array>
#include <optional>

namespace {

struct VerbInfo
{
    const char *name;
    CliVerb verb;
    int minArgs;
    int maxArgs;
};

constexpr std::array<VerbInfo, 21> Verbs = {{
    {"serial", CliVerb::Serial, 0, 0},
    {"ping", CliVerb::Ping, 0, 0},
    {"reset", CliVerb::Reset, 0, 0},
    {"devid", CliVerb::DevId, 0, 0},
    {"set-address", CliVerb::SetAddress, 2, 2},
    {"coords", CliVerb::Coords, 0, 0},
    {"pixels", CliVerb::Pixels, 0, 0},
    {"light", CliVerb::Light, 1, 1},
    {"read-word", CliVerb::ReadWord, 1, 1},
    {"write-word", CliVerb::WriteWord, 2, 2},
    {"crc", CliVerb::Crc, 0, 0},
    {"crc-correct", CliVerb::CrcCorrect, 0, 0},
    {"version", CliVerb::Version, 0, 0},
    {"search", CliVerb::Search, 0, 0},
    {"power", CliVerb::Power, 1, 1},
    {"dump", CliVerb::Dump, 0, 1},
    {"view", CliVerb::View, 1, 1},
    {"restore", CliVerb::Restore, 1, 1},
    {"passport-restore", CliVerb::PassportRestore, 1, 1},
    {"plot", CliVerb::Plot, 2, 2},
    {"verify", CliVerb::Verify, 1, 1},
}};

enum class Opt {
    Port,
    Demo,
    Speed,
    Addr,
    Timeout,
    TimeoutShort,
    Pause,
    FloatPix,
    Fast,
    Verbose,
    Yes,
    Help,
    FindTimeout,
    PowerPort,
    Watch,
    Interval,
    Count,
    Retries,
    OtherSerial,
    Differences,
    Stats,
};

struct OptInfo
{
    const char *name;
    Opt opt;
    bool takesValue;
};

constexpr std::array<OptInfo, 21> Options = {{
    {"port", Opt::Port, true},
    {"demo", Opt::Demo, false},
    {"speed", Opt::Speed, true},
    {"addr", Opt::Addr, true},
    {"timeout", Opt::Timeout, true},
    {"timeout-short", Opt::TimeoutShort, true},
    {"pause", Opt::Pause, true},
    {"float-pix", Opt::FloatPix, false},
    {"fast", Opt::Fast, false},
    {"verbose", Opt::Verbose, false},
    {"yes", Opt::Yes, false},
    {"help", Opt::Help, false},
    {"find-timeout", Opt::FindTimeout, true},
    {"power-port", Opt::PowerPort, true},
    {"watch", Opt::Watch, false},
    {"interval", Opt::Interval, true},
    {"count", Opt::Count, true},
    {"retries", Opt::Retries, true},
    {"other-serial", Opt::OtherSerial, false},
    {"differences", Opt::Differences, false},
    {"stats", Opt::Stats, false},
}};

[[noreturn]] void usage(const QString &text)
{
    throw CliUsageError(text);
}

// A decimal number of plain digits within [min, max]; anything else is a usage error.
int decimalIn(const QString &text, int min, int max, const QString &what)
{
    bool digitsOnly = !text.isEmpty() && text.size() <= 9;
    for (const QChar c : text)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int value = digitsOnly ? text.toInt() : -1;
    if (!digitsOnly || value < min || value > max)
        usage(QStringLiteral("%1 wants a number from %2 to %3, not \"%4\"")
                  .arg(what)
                  .arg(min)
                  .arg(max)
                  .arg(text));
    return value;
}

// A hexadecimal number as the tool's hexadecimal fields take it: up to eight
// significant digits; an optional "0x" in front is allowed here.
quint32 hexValue(const QString &text, const QString &what)
{
    QString digits = text;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    const HexFieldValue read = ReadHexField(digits);
    if (!read.complete)
        usage(QStringLiteral("%1 wants up to eight hexadecimal digits, not \"%2\"").arg(what, text));
    return read.value;
}

const OptInfo *findOption(const QString &name)
{
    for (const OptInfo &info : Options) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

const VerbInfo *findVerb(const QString &name)
{
    for (const VerbInfo &info : Verbs) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

} // namespace

CliUsageError::CliUsageError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8())
{
}

bool CliCommand::usesDataPort() const
{
    return verb != CliVerb::Power && verb != CliVerb::View && verb != CliVerb::Plot;
}

CliCommand ParseCliArguments(const QStringList &args)
{
    CliCommand cmd;

    for (const QString &a : args) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            cmd.help = true;
            return cmd;
        }
    }

    QStringList positionals;
    std::optional<QString> findTimeout;
    std::optional<QString> powerPort;
    std::optional<QString> interval;
    std::optional<QString> count;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            positionals << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!a.startsWith(QLatin1String("--")))
            usage(QStringLiteral("unknown option \"%1\"").arg(a));

        QString name = a.mid(2);
        std::optional<QString> value;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        const OptInfo *info = findOption(name);
        if (!info)
            usage(QStringLiteral("unknown option \"--%1\"").arg(name));
        if (info->takesValue && !value) {
            if (i + 1 >= args.size())
                usage(QStringLiteral("--%1 needs a value").arg(name));
            value = args.at(++i);
        } else if (!info->takesValue && value) {
            usage(QStringLiteral("--%1 takes no value").arg(name));
        }

        switch (info->opt) {
        case Opt::Port:
            if (value->isEmpty())
                usage(QStringLiteral("--port needs a port name or a device path"));
            cmd.port = *value;
            break;
        case Opt::Demo: cmd.demo = true; break;
        case Opt::Speed:
            if (*value != QLatin1String("9600") && *value != QLatin1String("57600")
                && *value != QLatin1String("115200"))
                usage(QStringLiteral("--speed wants 9600, 57600 or 115200, not \"%1\"").arg(*value));
            cmd.speed = *value;
            break;
        case Opt::Addr: cmd.address = decimalIn(*value, 1, 247, QStringLiteral("--addr")); break;
        case Opt::Timeout: cmd.timeoutMs = decimalIn(*value, 1, 60000, QStringLiteral("--timeout")); break;
        case Opt::TimeoutShort:
            cmd.timeoutShortMs = decimalIn(*value, 1, 60000, QStringLiteral("--timeout-short"));
            break;
        case Opt::Pause: cmd.pauseMs = decimalIn(*value, 0, 60000, QStringLiteral("--pause")); break;
        case Opt::Retries: cmd.retries = decimalIn(*value, 0, 10, QStringLiteral("--retries")); break;
        case Opt::FloatPix: cmd.floatPix = true; break;
        case Opt::Fast: cmd.fastReply = true; break;
        case Opt::Verbose: cmd.verbose = true; break;
        case Opt::Yes: cmd.yes = true; break;
        case Opt::Help: cmd.help = true; break; // not reached: handled above
        case Opt::FindTimeout: findTimeout = *value; break;
        case Opt::PowerPort: powerPort = *value; break;
        case Opt::Watch: cmd.watch = true; break;
        case Opt::Interval: interval = *value; break;
        case Opt::Count: count = *value; break;
        case Opt::OtherSerial: cmd.otherSerial = true; break;
        case Opt::Differences: cmd.differences = true; break;
        case Opt::Stats: cmd.stats = true; break;
        }
    }

    if (cmd.demo && !cmd.port.isEmpty())
        usage(QStringLiteral("--port and --demo exclude each other"));
    if (positionals.isEmpty())
        usage(QStringLiteral("no command given"));

    cmd.verbName = positionals.takeFirst();
    const VerbInfo *verb = findVerb(cmd.verbName);
    if (!verb)
        usage(QStringLiteral("unknown command \"%1\"").arg(cmd.verbName));
    cmd.verb = verb->verb;
    if (positionals.size() < verb->minArgs)
        usage(QStringLiteral("%1: missing argument").arg(cmd.verbName));
    if (positionals.size() > verb->maxArgs)
        usage(QStringLiteral("%1: unexpected argument \"%2\"")
                  .arg(cmd.verbName, positionals.at(verb->maxArgs)));
    if (findTimeout && cmd.verb != CliVerb::Search)
        usage(QStringLiteral("--find-timeout belongs to the search command"));
    if (powerPort && cmd.verb != CliVerb::Power)
        usage(QStringLiteral("--power-port belongs to the power command"));
    // Never a port the user did not name.
    if (cmd.usesDataPort() && cmd.port.isEmpty() && !cmd.demo)
        usage(QStringLiteral("no data port: give --port NAME|PATH or --demo"));
    if (cmd.differences && cmd.verb != CliVerb::Restore)
        usage(QStringLiteral("--differences belongs to the restore command"));
    if (cmd.watch && cmd.verb != CliVerb::Coords && cmd.verb != CliVerb::Pixels)
        usage(QStringLiteral("--watch belongs to the coords and pixels commands"));
    if ((interval || count) && !cmd.watch)
        usage(QStringLiteral("--interval and --count go with --watch"));
    if (cmd.stats && !cmd.watch)
        usage(QStringLiteral("--stats goes with --watch"));
    if (interval)
        cmd.intervalMs = decimalIn(*interval, 0, 3600000, QStringLiteral("--interval"));
    if (count)
        cmd.count = decimalIn(*count, 1, 100000000, QStringLiteral("--count"));

    switch (cmd.verb) {
    case CliVerb::SetAddress:
        cmd.serial = hexValue(positionals.at(0), QStringLiteral("set-address: SERIAL"));
        cmd.newAddress = quint8(decimalIn(positionals.at(1), 1, 247, QStringLiteral("set-address: NEWADDR")));
        break;
    case CliVerb::Light: {
        const QString which = positionals.at(0).toLower();
        if (which == QLatin1String("x"))
            cmd.lightCode = 1;
        else if (which == QLatin1String("y"))
            cmd.lightCode = 2;
        else if (which == QLatin1String("off"))
            cmd.lightCode = 0;
        else
            usage(QStringLiteral("light wants x, y or off, not \"%1\"").arg(positionals.at(0)));
        break;
    }
    case CliVerb::ReadWord:
        cmd.wordAddress = quint16(hexValue(positionals.at(0), QStringLiteral("read-word: ADDR")) & 0xFFFFu);
        break;
    case CliVerb::WriteWord:
        cmd.wordAddress = quint16(hexValue(positionals.at(0), QStringLiteral("write-word: ADDR")) & 0xFFFFu);
        cmd.wordValue = hexValue(positionals.at(1), QStringLiteral("write-word: VALUE"));
        break;
    case CliVerb::Search:
        if (findTimeout)
            cmd.findTimeoutMs = decimalIn(*findTimeout, 10, 10000, QStringLiteral("--find-timeout"));
        break;
    case CliVerb::Power: {
        const QString state = positionals.at(0).toLower();
        if (state == QLatin1String("on"))
            cmd.powerOn = true;
        else if (state == QLatin1String("off"))
            cmd.powerOn = false;
        else
            usage(QStringLiteral("power wants on or off, not \"%1\"").arg(positionals.at(0)));
        if (!powerPort || powerPort->isEmpty())
            usage(QStringLiteral("power needs --power-port NAME|PATH"));
        cmd.powerPort = *powerPort;
        break;
    }
    case CliVerb::Dump:
        if (!positionals.isEmpty()) {
            if (positionals.at(0).isEmpty())
                usage(QStringLiteral("dump: DIR is empty"));
            cmd.path = positionals.at(0);
        }
        break;
    case CliVerb::Plot:
        if (!IsPictureFileName(positionals.at(1)))
            usage(QStringLiteral("plot: OUT must end in .png or .svg, not \"%1\"").arg(positionals.at(1)));
        cmd.picturePath = positionals.at(1);
        [[fallthrough]];
    case CliVerb::View:
    case CliVerb::Restore:
    case CliVerb::PassportRestore:
    case CliVerb::Verify:
        if (positionals.at(0).isEmpty())
            usage(QStringLiteral("%1: FILE is empty").arg(cmd.verbName));
        cmd.path = positionals.at(0);
        break;
    default:
        break;
    }
    return cmd;
}

QString CliUsageText()
{
    return QStringLiteral(
        "Usage: zart-cli [options] COMMAND [arguments]\n"
        "\n"
        "Service commands for the optical coordinate sensor, a Modbus RTU slave on a\n"
        "serial line. Results go to stdout, the log lines to stderr.\n"
        "\n"
        "Options (before or after the command):\n"
        "  --port NAME|PATH      data port: COMN, a device path (/dev/ttyUSB0) or a\n"
        "                        device name in /dev; every command but power and\n"
        "                        view needs --port or --demo\n"
        "  --demo                run a simulated sensor in the process, on a\n"
        "                        pseudo-terminal, and use it as the data port\n"
        "  --speed RATE          9600, 57600 or 115200 bit/s (default 9600)\n"
        "  --addr N              sensor bus address, 1..247 (default 1)\n"
        "  --timeout MS          reply timeout of the measurements and the checksum\n"
        "                        read, 1..60000 (default 3000)\n"
        "  --timeout-short MS    reply timeout of every other request, 1..60000\n"
        "                        (default 300)\n"
        "  --pause MS            pause between the requests of dump, restore and\n"
        "                        passport-restore, 0..60000 (default 0)\n"
        "  --retries N           repeat a request of dump, restore, passport-restore\n"
        "                        or verify that failed on the line (time-out, CRC,\n"
        "                        length) up to N times, 0..10 (default 0)\n"
        "  --float-pix           read the pixels as real numbers\n"
        "  --fast                fast reply end: a reply ends as soon as its bytes\n"
        "                        form a whole frame, not after 40 ms of silence\n"
        "                        (bytes trailing a whole frame go unnoticed)\n"
        "  --verbose             log the frames sent and received as well\n"
        "  --yes                 answer Yes to the questions of restore and\n"
        "                        passport-restore (without it they are refused)\n"
        "  --other-serial        write all the same when the sensor's serial number\n"
        "                        is not the file's (restore, passport-restore); without\n"
        "                        it such a restore writes nothing and fails\n"
        "  -h, --help            print this text\n"
        "\n"
        "Commands:\n"
        "  serial                serial number, 8 hexadecimal digits\n"
        "  ping                  echo test: Ok or Ошибка\n"
        "  reset                 communications restart: Ok or Ошибка\n"
        "  devid                 Modbus device identification, one line per object\n"
        "  set-address SERIAL NEWADDR\n"
        "                        broadcast: the sensor with the serial number SERIAL\n"
        "                        (hexadecimal) takes the bus address NEWADDR (1..247)\n"
        "  coords                X, Y and their error codes, TAB-separated\n"
        "  pixels                nx, ny and their error codes, TAB-separated\n"
        "                        With --watch [--interval MS] [--count N] [--stats]\n"
        "                        either reads again and again, one line per reading\n"
        "                        with the ISO time first; MS between readings\n"
        "                        (0..3600000, default 500); N readings, or until\n"
        "                        Ctrl+C (exit 0).\n"
        "                        A failed reading is logged and the watch goes on;\n"
        "                        with --count the exit status is 1 if any failed.\n"
        "                        A port failure ends the watch (exit 1).\n"
        "                        With --stats, after the last reading (or at\n"
        "                        Ctrl+C) one line per channel on stdout:\n"
        "                        # X n=N mean=... sd=... min=... max=... pp=...\n"
        "                        (sd: sample standard deviation; NaN and INF\n"
        "                        readings left out)\n"
        "  light x|y|off         illumination of the X or the Y channel, or off\n"
        "  read-word ADDR        the flash word at ADDR (hexadecimal, 1000 to 13FF;\n"
        "                        the low 16 bits are sent): 8 hexadecimal digits\n"
        "  write-word ADDR VALUE\n"
        "                        writes VALUE (hexadecimal) to the flash word at ADDR\n"
        "  crc                   the sensor's checksum, 4 hexadecimal digits\n"
        "  crc-correct           makes the expected checksum equal to the computed one\n"
        "  version               firmware version, device dimension, processor version\n"
        "  search [--find-timeout MS]\n"
        "                        probes the addresses 1..247 with a reply timeout of\n"
        "                        MS (10..10000, default 70); prints the address found.\n"
        "                        Without --fast a reply ends only after 40 ms of\n"
        "                        silence on the line, so a timeout below about 50\n"
        "                        finds nothing; with --fast 10 is enough\n"
        "  power on|off --power-port NAME|PATH\n"
        "                        switches the sensor supply through the DTR and RTS\n"
        "                        lines of a second port (on: DTR off, RTS on; off: DTR\n"
        "                        on, RTS off); the lines keep that state when\n"
        "                        zart-cli ends and closes the port\n"
        "  dump [DIR]            reads the whole flash and writes SERIAL.dmp, the\n"
        "                        passport SERIAL.ini and the ExpLevel entry of\n"
        "                        passport.ini into DIR (default: the current\n"
        "                        directory); prints the paths of the three files.\n"
        "                        A dump or passport that would be replaced by other\n"
        "                        content is kept first in DIR/history/ as\n"
        "                        SERIAL-YYYYMMDD-HHMMSS.dmp (.ini), of its time\n"
        "  view FILE             a dump file as TAB-separated rows: name, value, raw\n"
        "  restore [--differences] FILE\n"
        "                        writes a dump into the sensor, verifies it, corrects\n"
        "                        the checksum and offers the dump's bus address.\n"
        "                        The sensor's serial number is read first; one that\n"
        "                        is not the dump's needs --other-serial.\n"
        "                        With --differences it reads the whole flash first\n"
        "                        and writes and verifies only the words that differ\n"
        "                        (never 0x1000 and 0x1006): the quick way to finish\n"
        "                        a restore that stopped\n"
        "  passport-restore FILE\n"
        "                        writes a passport (the calibration tables, exposures\n"
        "                        and levels) into the sensor, verifies it and corrects\n"
        "                        the checksum; the ExpLevel entry is looked up in the\n"
        "                        passport.ini beside FILE, in the section named after\n"
        "                        FILE (0012AB7F.ini: section 0012AB7F); a sensor whose\n"
        "                        serial number is not that name needs --other-serial\n"
        "  verify FILE           reads the whole flash (writing nothing) and compares\n"
        "                        it with the dump FILE: one TAB-separated line per\n"
        "                        differing word (address, file, sensor, name); the\n"
        "                        words a restore does not bring back (0x1006 and the\n"
        "                        checksums) are marked and do not count. Exit 0: no\n"
        "                        difference, 1: a difference or a failed exchange\n"
        "  plot FILE OUT         draws the calibration of a dump or a passport text\n"
        "                        FILE into OUT, a .png or .svg picture (no sensor),\n"
        "                        and prints one TAB-separated line per marked point\n"
        "                        (row, column, X, Y, reasons), then \"Отмеченные\n"
        "                        точки: N\"; first \"Ориентация сетки не определена\"\n"
        "                        when the data do not tell which index X and Y run\n"
        "                        along\n"
        "\n"
        "Exit status: 0 success; 1 a failed exchange with the sensor, a failed\n"
        "operation, an echo or restart answered with Ошибка, or nothing found by\n"
        "search; 2 bad usage; 130 or 143 when SIGINT (Ctrl+C) or SIGTERM stopped dump,\n"
        "restore, passport-restore, verify or search after the request in flight\n"
        "(a second signal ends the program at once).\n");
}
