#include "cli/CliArguments.h"

#include "picture/CalibrationPainter.h"
#include "record/RecordKeeper.h"
#include "flash/FlashPasses.h"
#include "sensor/HexField.h"
#include "sensor/RegisterMap.h"
#include "bus/BusCommissioning.h"

#include <initializer_list>
#include <map>
#include <optional>

// The options and the commands are each one table: the parser reads them, the
// help text is written from them, and the bash completion reads the help text,
// so the three cannot tell different stories.

namespace {

enum class Opt {
    Port,
    Demo,
    DemoSensors,
    DemoCollide,
    Speed,
    Addr,
    Timeout,
    TimeoutShort,
    Pause,
    Retries,
    Block,
    FloatPix,
    Fast,
    Verbose,
    LineStats,
    Yes,
    OtherSerial,
    KeepAddress,
    AsFound,
    Record,
    NoRecord,
    Help,
    FindTimeout,
    PowerPort,
    Differences,
    Watch,
    Interval,
    Count,
    Stats,
    Since,
    From,
    To,
    Csv,
    DumpDir,
    VerifyDir,
};

struct OptionRow
{
    Opt opt;
    const char *name;             // without the leading "--"
    const char *value = nullptr;  // the value's name in the help; none: a flag
    const char *help = nullptr;   // none: the option is told with its command
    bool CliCommand::*flag = nullptr;
    int CliCommand::*number = nullptr; // a decimal value within [min, max]
    int min = 0;
    int max = 0;
    bool withWatch = false;       // goes with --watch only
};

// In the order of the help text. A help text is wrapped to the screen's width;
// '\n' starts a new line.
constexpr OptionRow Options[] = {
    {.opt = Opt::Port, .name = "port", .value = "NAME|PATH",
     .help = "data port: COMN, a device path (/dev/ttyUSB0) or a device name in /dev; every command but "
             "%1 needs --port or --demo"},
    {.opt = Opt::Demo, .name = "demo",
     .help = "run a simulated sensor in the process, on a pseudo-terminal, and use it as the data port",
     .flag = &CliCommand::demo},
    {.opt = Opt::DemoSensors, .name = "demo-sensors", .value = "N",
     .help = "with --demo: N simulated sensors on one line, at the addresses 1..N, with the serial numbers "
             "0012AB7F, 0012AB80, ... (1..247, default 1)",
     .number = &CliCommand::demoSensors, .min = 1, .max = 247},
    {.opt = Opt::DemoCollide, .name = "demo-collide",
     .help = "with --demo-sensors N (2 or more): the last of them takes address 1 as well, so that two "
             "sensors answer there at once and their replies collide",
     .flag = &CliCommand::demoCollide},
    {.opt = Opt::Speed, .name = "speed", .value = "RATE", .help = "9600, 57600 or 115200 bit/s (default 9600)"},
    {.opt = Opt::Addr, .name = "addr", .value = "N", .help = "sensor bus address, 1..247 (default 1)",
     .number = &CliCommand::address, .min = MinBusAddress, .max = MaxBusAddress},
    {.opt = Opt::Timeout, .name = "timeout", .value = "MS",
     .help = "reply timeout of the measurements and the checksum read, 1..60000 (default 3000)",
     .number = &CliCommand::timeoutMs, .min = 1, .max = 60000},
    {.opt = Opt::TimeoutShort, .name = "timeout-short", .value = "MS",
     .help = "reply timeout of every other request, 1..60000 (default 300)",
     .number = &CliCommand::timeoutShortMs, .min = 1, .max = 60000},
    {.opt = Opt::Pause, .name = "pause", .value = "MS",
     .help = "pause between the requests of dump, restore and passport-restore, 0..60000 (default 0)",
     .number = &CliCommand::pauseMs, .min = 0, .max = 60000},
    {.opt = Opt::Retries, .name = "retries", .value = "N",
     .help = "repeat a request of dump, restore, passport-restore or verify that failed on the line "
             "(time-out, CRC, length) up to N times, 0..10 (default 0)",
     .number = &CliCommand::retries, .min = 0, .max = MaxRetries},
    {.opt = Opt::Block, .name = "block", .value = "N",
     .help = "read up to N consecutive flash words per request: in dump, verify, the read of "
             "--as-found and the read-back of restore, 0..62 (default 0: one word per request); a "
             "sensor that refuses a block is read one word per request for the rest of the command",
     .number = &CliCommand::blockWords, .min = 0, .max = MaxBlockWords},
    {.opt = Opt::FloatPix, .name = "float-pix", .help = "read the pixels as real numbers",
     .flag = &CliCommand::floatPix},
    {.opt = Opt::Fast, .name = "fast",
     .help = "fast reply end: a reply ends as soon as its bytes form a whole frame, not after 40 ms of "
             "silence (bytes trailing a whole frame go unnoticed)",
     .flag = &CliCommand::fastReply},
    {.opt = Opt::Verbose, .name = "verbose", .help = "log the frames sent and received as well",
     .flag = &CliCommand::verbose},
    {.opt = Opt::LineStats, .name = "line-stats",
     .help = "at the end, print on stderr what the data port saw: the exchanges by outcome, the "
             "repeats, the reply latency (median, 95 %, largest, a histogram) and the USB adapter "
             "(its latency timer, and the udev rule that sets it to 1 ms when it holds replies back)",
     .flag = &CliCommand::lineStats},
    {.opt = Opt::Yes, .name = "yes",
     .help = "answer Yes to the questions of restore and passport-restore (without it they are refused)",
     .flag = &CliCommand::yes},
    {.opt = Opt::OtherSerial, .name = "other-serial",
     .help = "write all the same when the sensor's serial number is not the file's (restore, "
             "passport-restore); without it such a restore writes nothing and fails",
     .flag = &CliCommand::otherSerial},
    {.opt = Opt::KeepAddress, .name = "keep-address",
     .help = "answer No to restore's question about the dump's bus address: the sensor keeps its own",
     .flag = &CliCommand::keepAddress},
    {.opt = Opt::AsFound, .name = "as-found",
     .help = "before restore, passport-restore or calibration-restore writes, read the whole flash "
             "and keep it as SERIAL-asfound-YYYYMMDDTHHMMSSZ.dmp in history/ of the current "
             "directory, where dump writes by default (restore --differences keeps the flash its "
             "comparison read); when it cannot be kept, nothing is written",
     .flag = &CliCommand::asFound},
    {.opt = Opt::Record, .name = "record", .value = "PATH|URL",
     .help = "the service record, where every command that reads or changes a sensor's state (dump, "
             "restore, passport-restore, calibration-restore, verify, write-word, crc-correct, "
             "set-address, search) is recorded: an SQLite file or postgresql://[user@]host[:port]/dbname "
             "(the password from ~/.pgpass or PGPASSWORD; default: records.sqlite in the current "
             "directory, where dump writes by default). A record that cannot be written is one red "
             "line; the command itself goes on. history and report read it"},
    {.opt = Opt::NoRecord, .name = "no-record", .help = "record nothing",
     .flag = &CliCommand::noRecord},
    {.opt = Opt::Help, .name = "help", .help = "print this text", .flag = &CliCommand::help},
    // Told with their commands: each belongs to the commands whose options list it.
    {.opt = Opt::FindTimeout, .name = "find-timeout", .value = "MS", .number = &CliCommand::findTimeoutMs,
     .min = 10, .max = 10000},
    {.opt = Opt::PowerPort, .name = "power-port", .value = "NAME|PATH"},
    {.opt = Opt::Differences, .name = "differences", .flag = &CliCommand::differences},
    {.opt = Opt::Watch, .name = "watch", .flag = &CliCommand::watch},
    {.opt = Opt::Interval, .name = "interval", .value = "MS", .number = &CliCommand::intervalMs, .min = 0,
     .max = 3600000, .withWatch = true},
    {.opt = Opt::Count, .name = "count", .value = "N", .number = &CliCommand::count, .min = 1,
     .max = 100000000, .withWatch = true},
    {.opt = Opt::Stats, .name = "stats", .flag = &CliCommand::stats, .withWatch = true},
    {.opt = Opt::Since, .name = "since", .value = "DATE"},
    {.opt = Opt::From, .name = "from", .value = "N", .number = &CliCommand::scanFrom, .min = MinBusAddress,
     .max = MaxBusAddress},
    {.opt = Opt::To, .name = "to", .value = "M", .number = &CliCommand::scanTo, .min = MinBusAddress,
     .max = MaxBusAddress},
    {.opt = Opt::Csv, .name = "csv", .flag = &CliCommand::csv},
    {.opt = Opt::DumpDir, .name = "dump", .value = "DIR"},
    {.opt = Opt::VerifyDir, .name = "verify", .value = "DIR"},
};

// A short list written in place in a table row: {a, b}; at most N items.
template <typename T, int N>
struct Few
{
    T items[N] = {};
    int size = 0;

    constexpr Few() = default;
    constexpr Few(std::initializer_list<T> list)
    {
        if (list.size() > std::size_t(N))
            throw "Few: too many items"; // a compile error in the constexpr tables
        for (const T &item : list)
            items[size++] = item;
    }
    constexpr const T *begin() const { return items; }
    constexpr const T *end() const { return items + size; }
    constexpr const T &operator[](int i) const { return items[i]; }
};

// One of the words an argument may be, and what it stands for.
struct Choice
{
    const char *word = nullptr;
    int code = 0;
};

// A positional argument of a command.
struct VerbArg
{
    const char *name = nullptr; // its name in the synopsis and the messages ("FILE")
    Few<Choice, 3> choices{};   // or one of these words, in the synopsis's order (on|off)
    bool optional = false;      // [DIR]: may be left out; only the last ones are
};

// An option that belongs to one or a few commands (OptionRow without help).
struct VerbOption
{
    Opt opt{};
    bool required = false; // the command needs it; else it is optional: [--watch]
};

struct VerbRow
{
    CliVerb verb;
    const char *name;
    Few<VerbArg, 3> args{};     // positional, in their order
    Few<VerbOption, 6> options{}; // the options of this command
    bool repeatsLast = false;     // the last argument may be given again and again
    bool needsPort = true;
    bool longOperation = false; // stopped by SIGINT, SIGTERM or SIGHUP after the request in flight
    const char *help = nullptr;
};

constexpr VerbRow Verbs[] = {
    {.verb = CliVerb::Serial, .name = "serial", .help = "serial number, 8 hexadecimal digits"},
    {.verb = CliVerb::Ping, .name = "ping", .help = "echo test: Ok or Ошибка"},
    {.verb = CliVerb::Reset, .name = "reset", .help = "communications restart: Ok or Ошибка"},
    {.verb = CliVerb::DevId, .name = "devid",
     .help = "Modbus device identification, one line per object"},
    {.verb = CliVerb::SetAddress, .name = "set-address",
     .args = {{.name = "SERIAL"}, {.name = "NEWADDR"}},
     .help =
     "broadcast: the sensor with the serial number SERIAL (hexadecimal) takes the bus address NEWADDR "
     "(1..247); then the serial number is read at NEWADDR: exit 0 when SERIAL answers there, 1 when "
     "nothing or another sensor does"},
    {.verb = CliVerb::Coords, .name = "coords", .options = {{.opt = Opt::Watch}},
     .help = "X, Y and their error codes, TAB-separated"},
    {.verb = CliVerb::Pixels, .name = "pixels", .options = {{.opt = Opt::Watch}}, .help =
     "nx, ny and their error codes, TAB-separated\n"
     "With --watch [--interval MS] [--count N] [--stats] either reads again and again, one line per "
     "reading: ISO time with the UTC offset, X, Y (shortest text that reads back to the value "
     "received), error texts; MS between readings (0..3600000, default 500); N readings, or "
     "until Ctrl+C, SIGTERM or SIGHUP (the summary comes, then the program ends by that signal).\n"
     "A failed reading is logged and the watch goes on; with --count the exit status is 1 if any "
     "failed.\n"
     "A port failure ends the watch (exit 1).\n"
     "With --stats, after the last reading (or at the signal) one line per channel on stdout:\n"
     "# X n=N mean=... sd=... min=... max=... pp=... failed=F (full precision)\n"
     "(sd: sample standard deviation; NaN and INF readings left out; F readings failed)"},
    {.verb = CliVerb::Light, .name = "light",
     .args = {{.choices = {{"x", 1}, {"y", 2}, {"off", 0}}}},
     .help = "illumination of the X or the Y channel, or off"},
    {.verb = CliVerb::ReadWord, .name = "read-word", .args = {{.name = "ADDR"}}, .help =
     "the flash word at ADDR (hexadecimal, 1000 to 13FF; the low 16 bits are sent): 8 hexadecimal "
     "digits"},
    {.verb = CliVerb::WriteWord, .name = "write-word", .args = {{.name = "ADDR"}, {.name = "VALUE"}},
     .help = "writes VALUE (hexadecimal) to the flash word at ADDR"},
    {.verb = CliVerb::Crc, .name = "crc", .help = "the sensor's checksum, 4 hexadecimal digits"},
    {.verb = CliVerb::CrcCorrect, .name = "crc-correct", .help =
     "makes the expected checksum equal to the computed one"},
    {.verb = CliVerb::Version, .name = "version",
     .help = "firmware version, device dimension, processor version"},
    {.verb = CliVerb::Search, .name = "search",
     .options = {{.opt = Opt::FindTimeout}}, .longOperation = true,
     .help =
     "probes the addresses 1..247 with a reply timeout of MS (10..10000, default 70); prints the "
     "address found. Without --fast a reply ends only after 40 ms of silence on the line, so a timeout "
     "below about 50 finds nothing; with --fast 10 is enough"},
    {.verb = CliVerb::Power, .name = "power", .args = {{.choices = {{"on", 1}, {"off", 0}}}},
     .options = {{.opt = Opt::PowerPort, .required = true}}, .needsPort = false, .help =
     "switches the sensor supply through the DTR and RTS lines of a second port (on: DTR off, RTS on; "
     "off: DTR on, RTS off); the lines keep that state when zart-cli ends and closes the port; prints "
     "Питание включено or Питание выключено"},
    {.verb = CliVerb::Dump, .name = "dump",
     .args = {{.name = "DIR", .optional = true}}, .longOperation = true,
     .help =
     "reads the whole flash and writes SERIAL.dmp, the passport SERIAL.ini and the ExpLevel entry of "
     "passport.ini into DIR (default: the current directory); prints the paths of the three files.\n"
     "A dump or passport that would be replaced by other content is kept first in DIR/history/ as "
     "SERIAL-YYYYMMDDTHHMMSSZ.dmp (.ini), of its modification time in UTC"},
    {.verb = CliVerb::View, .name = "view", .args = {{.name = "FILE"}}, .needsPort = false,
     .help = "a dump file as TAB-separated rows: name, value, raw"},
    {.verb = CliVerb::Restore, .name = "restore",
     .args = {{.name = "FILE"}}, .options = {{.opt = Opt::Differences}}, .longOperation = true,
     .help =
     "writes a dump into the sensor, verifies it, corrects the checksum and offers the dump's bus "
     "address.\n"
     "The sensor's serial number is read first; one that is not the dump's needs --other-serial.\n"
     "With --differences it reads the whole flash first and writes and verifies only the words that "
     "differ (never 0x1000 and 0x1006): the quick way to finish a restore that stopped"},
    {.verb = CliVerb::PassportRestore, .name = "passport-restore",
     .args = {{.name = "FILE"}}, .longOperation = true,
     .help =
     "writes a passport (the calibration tables, exposures and levels) into the sensor, verifies it and "
     "corrects the checksum; the ExpLevel entry is looked up in the passport.ini beside FILE, in the "
     "section named after FILE (0012AB7F.ini: section 0012AB7F); a sensor whose serial number is not "
     "that name needs --other-serial"},
    {.verb = CliVerb::CalibrationRestore, .name = "calibration-restore",
     .args = {{.name = "FILE"}}, .longOperation = true,
     .help =
     "moves the calibration of the dump FILE into the sensor: writes exactly the words a passport "
     "restore writes (the X and Y tables and the four exposure and threshold words), with the dump's "
     "own bits, verifies them and corrects the checksum; the serial number, the address and every "
     "other word stay as they are. Asks \"Калибровка датчика ... будет записана в датчик ...\" (--yes)"},
    {.verb = CliVerb::Verify, .name = "verify", .args = {{.name = "FILE"}}, .longOperation = true,
     .help =
     "reads the whole flash (writing nothing) and compares it with the dump FILE: one TAB-separated "
     "line per differing word (address, file, sensor, name); the words a restore does not bring back "
     "(0x1006 and the checksums) are marked and do not count. Exit 0: no difference, 1: a difference, "
     "a failed exchange or a FILE that is not a dump"},
    {.verb = CliVerb::Compare, .name = "compare",
     .args = {{.name = "A"}, {.name = "B"}, {.name = "OUT", .optional = true}}, .needsPort = false,
     .help =
     "compares two dump files without a sensor: first whose they are (\"Дампы разных датчиков: ...\" "
     "when the serial numbers differ), one TAB-separated line per differing word (address, A, B, "
     "name), \"Отличается слов: N\", then how far the calibration grid moved from A to B: the largest "
     "and the mean shift and the five points that moved most. With OUT (.png or .svg) it also draws "
     "the grid of A with an arrow from every point along its shift, magnified by a round factor the "
     "picture states. Exit 0"},
    {.verb = CliVerb::Plot, .name = "plot",
     .args = {{.name = "FILE"}, {.name = "OUT"}}, .needsPort = false,
     .help =
     "draws the calibration of a dump or a passport text FILE into OUT, a .png or .svg picture (no "
     "sensor), and prints one TAB-separated line per marked point (row, column, X, Y, reasons, "
     "\"номинал (X; Y) = (x; y) мм\": the nominal coordinates along the indices X and Y run along), then "
     "\"Отмеченные точки: N\"; first \"Ориентация сетки не определена\" when the data do not tell "
     "which index X and Y run along"},
    {.verb = CliVerb::Report, .name = "report",
     .args = {{.name = "SERIAL"}, {.name = "OUT"}}, .options = {{.opt = Opt::Since}}, .needsPort = false,
     .help =
     "makes the service report of the sensor SERIAL (hexadecimal) from the service record, without a "
     "sensor: OUT, a .pdf file (A4, a new report number on every page) with the sensor's identity, its "
     "operations since DATE, the flash as found and as left (the first and the last dump of the period, "
     "their SHA-256 checked on disk), the words that differ, the grid's displacement, the calibration "
     "checks of the as-left dump and the lines to sign; beside it the same facts as JSON (OUT with "
     ".json). DATE: YYYY-MM-DD (from its local midnight) or an ISO 8601 date-time; default: since the "
     "sensor's last report, else all its operations. Prints the paths of the two files"},
    {.verb = CliVerb::History, .name = "history",
     .args = {{.name = "SERIAL", .optional = true}},
     .options = {{.opt = Opt::Since}, {.opt = Opt::Csv}}, .needsPort = false,
     .help =
     "the operations of the service record (--record), oldest first, without a sensor: one "
     "TAB-separated line each after a heading line (local time, sensor, operation, result, user); "
     "only those of the sensor SERIAL (hexadecimal) when given, only those from DATE on with --since "
     "(YYYY-MM-DD: from the start of that day, local time; or an ISO date and time, "
     "2024-05-17T14:30, local unless it ends in Z or an offset). With --csv the same operations as CSV "
     "(RFC 4180, UTF-8): the times with their offset, the sensor, the operation, the result, the user, "
     "the computer, the program's version, the port, the address, the firmware word, the words "
     "written, the message and the files"},
    {.verb = CliVerb::Scan, .name = "scan",
     .options = {{.opt = Opt::From}, {.opt = Opt::To}, {.opt = Opt::FindTimeout}, {.opt = Opt::Csv},
                 {.opt = Opt::DumpDir}, {.opt = Opt::VerifyDir}},
     .longOperation = true,
     .help =
     "the inventory of the line: probes the addresses N..M (default 1..247) as search does, with its "
     "timeout MS, and reads the serial number, firmware version and device identification of each sensor "
     "that answers; an address whose replies keep colliding, or a serial number seen at two addresses, is "
     "marked \"возможен конфликт адресов\". Prints the table (address, serial, firmware, vendor, product, "
     "revision, status) TAB-separated with a header, or as CSV with --csv.\n"
     "With --dump DIR every sensor of the table is dumped into DIR, one after another; with --verify DIR "
     "each is compared with its dump DIR/SERIAL.dmp. A line per sensor follows the table (address, "
     "serial, outcome), the summary goes to stderr; a sensor that fails is skipped.\n"
     "Exit 0 when sensors were found without conflict and every dump or comparison went well (no "
     "difference); 1 otherwise"},
    {.verb = CliVerb::Assign, .name = "assign", .args = {{.name = "SERIAL=ADDR"}},
     .options = {{.opt = Opt::From}, {.opt = Opt::To}, {.opt = Opt::FindTimeout}},
     .repeatsLast = true, .longOperation = true,
     .help =
     "commissioning: the inventory of scan, then each sensor SERIAL (hexadecimal) takes the address ADDR "
     "by the broadcast of set-address and is checked there; SERIAL alone takes the lowest free address. "
     "A serial number not on the line (one behind a collision counts as on the line), one address for two "
     "sensors or an address in use refuses the whole command before anything is sent. Prints SERIAL, "
     "ADDR and the outcome per sensor; exit 0 when every sensor took its address"},
};

// What the parser and the help take for granted of the command table.
constexpr bool verbsAreWellFormed()
{
    for (const VerbRow &verb : Verbs) {
        bool optionalBefore = false;
        for (const VerbArg &arg : verb.args) {
            // A name or alternatives, not both; the optional arguments come last.
            if ((arg.name != nullptr) == (arg.choices.size > 0) || (optionalBefore && !arg.optional))
                return false;
            optionalBefore = arg.optional;
        }
        // A command's option is one told with its commands, not with the options of all.
        for (const VerbOption &option : verb.options) {
            bool toldWithCommand = false;
            for (const OptionRow &row : Options)
                toldWithCommand = toldWithCommand || (row.opt == option.opt && !row.help && !row.withWatch);
            if (!toldWithCommand)
                return false;
        }
    }
    return true;
}
static_assert(verbsAreWellFormed());

[[noreturn]] void usage(const QString &text)
{
    throw CliUsageError(text);
}

QString optionName(const OptionRow &row)
{
    return QStringLiteral("--") + QLatin1String(row.name);
}

const OptionRow *findOption(QStringView name)
{
    for (const OptionRow &row : Options)
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

const OptionRow &optionRow(Opt opt)
{
    for (const OptionRow &row : Options)
        if (row.opt == opt)
            return row;
    Q_UNREACHABLE();
}

const VerbRow *findVerb(QStringView name)
{
    for (const VerbRow &row : Verbs)
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

const VerbRow &verbRow(CliVerb verb)
{
    for (const VerbRow &row : Verbs)
        if (row.verb == verb)
            return row;
    Q_UNREACHABLE();
}

// "a", "a and b", "a, b and c" (or with another last word).
QString listed(const QStringList &items, const QString &last = QStringLiteral("and"))
{
    if (items.size() < 2)
        return items.join(QString());
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QLatin1Char(' ') + last
        + QLatin1Char(' ') + items.last();
}

const VerbOption *optionOf(const VerbRow &verb, Opt opt)
{
    for (const VerbOption &option : verb.options)
        if (option.opt == opt)
            return &option;
    return nullptr;
}

// The commands the option belongs to; empty: an option of every command.
QStringList commandsOf(Opt opt)
{
    QStringList names;
    for (const VerbRow &verb : Verbs)
        if (optionOf(verb, opt))
            names << QString::fromUtf8(verb.name);
    return names;
}

// The words of an argument's alternatives, in the synopsis's order.
QStringList choiceWords(const VerbArg &arg)
{
    QStringList words;
    for (const Choice &choice : arg.choices)
        words << QString::fromUtf8(choice.word);
    return words;
}

// An argument as the synopsis shows it: FILE, [DIR], on|off.
QString argumentText(const VerbArg &arg)
{
    const QString text =
        arg.choices.size > 0 ? choiceWords(arg).join(QLatin1Char('|')) : QString::fromUtf8(arg.name);
    return arg.optional ? QLatin1Char('[') + text + QLatin1Char(']') : text;
}

// An option of a command as the synopsis shows it: --power-port NAME|PATH, [--watch].
QString optionText(const VerbOption &option)
{
    const OptionRow &row = optionRow(option.opt);
    QString text = optionName(row);
    if (row.value)
        text += QLatin1Char(' ') + QLatin1String(row.value);
    return option.required ? text : QLatin1Char('[') + text + QLatin1Char(']');
}

// The synopsis after the command's name: its optional options, its arguments,
// then the options it needs ("[--differences] FILE", "on|off --power-port NAME|PATH").
QString synopsisText(const VerbRow &verb)
{
    QStringList words;
    for (const VerbOption &option : verb.options)
        if (!option.required)
            words << optionText(option);
    for (const VerbArg &arg : verb.args)
        words << argumentText(arg);
    if (verb.repeatsLast)
        words << QLatin1Char('[') + argumentText(verb.args[verb.args.size - 1]) + QStringLiteral(" ...]");
    for (const VerbOption &option : verb.options)
        if (option.required)
            words << optionText(option);
    return words.join(QLatin1Char(' '));
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

// Sets what an option given with value (none for a flag) stands for.
void apply(CliCommand &cmd, const OptionRow &row, const QString &value)
{
    if (row.flag) {
        cmd.*row.flag = true;
    } else if (row.number) {
        cmd.*row.number = decimalIn(value, row.min, row.max, optionName(row));
    } else if (row.opt == Opt::Port) {
        if (value.isEmpty())
            usage(QStringLiteral("--port needs a port name or a device path"));
        cmd.port = value;
    } else if (row.opt == Opt::Speed) {
        if (value != QLatin1String("9600") && value != QLatin1String("57600") && value != QLatin1String("115200"))
            usage(QStringLiteral("--speed wants 9600, 57600 or 115200, not \"%1\"").arg(value));
        cmd.speed = value;
    } else if (row.opt == Opt::PowerPort) {
        cmd.powerPort = value;
    } else if (row.opt == Opt::Record) {
        if (value.trimmed().isEmpty())
            usage(QStringLiteral("--record needs a file path or a postgresql:// URL"));
        cmd.recordLocation = value;
    } else if (row.opt == Opt::Since) {
        const std::optional<QDateTime> since = ParseHistoryDate(value);
        if (!since)
            usage(QStringLiteral("--since wants YYYY-MM-DD or an ISO date and time, not \"%1\"")
                      .arg(value));
        cmd.since = *since;
    } else if (row.opt == Opt::DumpDir || row.opt == Opt::VerifyDir) {
        if (value.isEmpty())
            usage(QStringLiteral("%1 needs a folder").arg(optionName(row)));
        (row.opt == Opt::DumpDir ? cmd.dumpDir : cmd.verifyDir) = value;
    }
}

// What the word given for an argument with alternatives stands for.
int choiceOf(const VerbRow &verb, const VerbArg &arg, const QString &text)
{
    for (const Choice &choice : arg.choices)
        if (text.compare(QLatin1String(choice.word), Qt::CaseInsensitive) == 0)
            return choice.code;
    usage(QStringLiteral("%1 wants %2, not \"%3\"")
              .arg(QLatin1String(verb.name), listed(choiceWords(arg), QStringLiteral("or")), text));
}

// The arguments of the command, checked and converted; their count is checked.
void readArguments(CliCommand &cmd, const VerbRow &verb, const QStringList &args)
{
    // "read-word: ADDR", as the messages name an argument.
    const auto what = [&](int i) {
        return QStringLiteral("%1: %2").arg(QLatin1String(verb.name),
                                              QLatin1String(verb.args[i].name));
    };
    // A path argument that may not be empty.
    const auto path = [&](int i) {
        if (args.at(i).isEmpty())
            usage(what(i) + QStringLiteral(" is empty"));
        return args.at(i);
    };
    switch (cmd.verb) {
    case CliVerb::SetAddress:
        cmd.serial = hexValue(args.at(0), what(0));
        cmd.newAddress = quint8(decimalIn(args.at(1), MinBusAddress, MaxBusAddress, what(1)));
        break;
    case CliVerb::Assign:
        for (const QString &a : args)
            if (!ParseAssignment(a))
                usage(QStringLiteral("assign wants SERIAL=ADDR (hexadecimal serial number, address 1..247) "
                                     "or SERIAL, not \"%1\"")
                          .arg(a));
        cmd.assignments = args;
        break;
    case CliVerb::Light:
        cmd.lightCode = quint8(choiceOf(verb, verb.args[0], args.at(0)));
        break;
    case CliVerb::ReadWord:
        cmd.wordAddress = quint16(hexValue(args.at(0), what(0)) & 0xFFFFu);
        break;
    case CliVerb::WriteWord:
        cmd.wordAddress = quint16(hexValue(args.at(0), what(0)) & 0xFFFFu);
        cmd.wordValue = hexValue(args.at(1), what(1));
        break;
    case CliVerb::Power:
        cmd.powerOn = choiceOf(verb, verb.args[0], args.at(0)) != 0;
        break;
    case CliVerb::Dump:
        if (!args.isEmpty())
            cmd.path = path(0);
        break;
    case CliVerb::History:
        if (!args.isEmpty()) {
            cmd.serial = hexValue(args.at(0), what(0));
            cmd.historySerialGiven = true;
        }
        break;
    case CliVerb::Plot:
        if (!IsPictureFileName(args.at(1)))
            usage(what(1)
                  + QStringLiteral(" must end in .png or .svg, not \"%1\"").arg(args.at(1)));
        cmd.picturePath = args.at(1);
        [[fallthrough]];
    case CliVerb::View:
    case CliVerb::Restore:
    case CliVerb::PassportRestore:
    case CliVerb::CalibrationRestore:
    case CliVerb::Verify:
        cmd.path = path(0);
        break;
    case CliVerb::Report:
        cmd.serial = hexValue(args.at(0), what(0));
        if (!args.at(1).endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
            usage(what(1) + QStringLiteral(" must end in .pdf, not \"%1\"").arg(args.at(1)));
        cmd.path = args.at(1);
        break;
    case CliVerb::Compare:
        cmd.path = path(0);
        cmd.secondPath = path(1);
        if (args.size() > 2) {
            if (!IsPictureFileName(args.at(2)))
                usage(what(2) + QStringLiteral(" must end in .png or .svg, not \"%1\"").arg(args.at(2)));
            cmd.picturePath = args.at(2);
        }
        break;
    default:
        break;
    }
}

// The help's layout: a heading in the first 22 columns, its text from column
// 25, wrapped before column 79; a heading too wide for its column stands alone.
constexpr int TextColumn = 24;
constexpr int LineWidth = 78;

// The option a word of the help text names ("--count", "[--count"); none for other words.
const OptionRow *optionNamedBy(QStringView word)
{
    while (word.startsWith(QLatin1Char('[')) || word.startsWith(QLatin1Char('(')))
        word = word.mid(1);
    if (!word.startsWith(QLatin1String("--")))
        return nullptr;
    word = word.mid(2);
    qsizetype end = 0;
    while (end < word.size()
           && (word.at(end).isLetterOrNumber() || word.at(end) == QLatin1Char('-')))
        ++end;
    return end == word.size() ? findOption(word) : nullptr;
}

// Whether a word of the help text is the value name of the option, closing
// brackets and punctuation after it allowed ("N]").
bool isValueWord(QStringView word, const OptionRow &option)
{
    while (!word.isEmpty() && QStringView(u"]),;.:").contains(word.back()))
        word.chop(1);
    return word == QLatin1String(option.value);
}

// Appends text to line, word by word, starting a new line with indent where
// the next word would pass the width; '\n' in text starts a new line too.
void appendWrapped(QString &out, QString line, const QString &text, const QString &indent)
{
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        // An option and its value ("[--count N]") stay on one line, so that
        // the completion sees which options take one.
        QStringList words;
        // The option the last word names, if it takes a value.
        const OptionRow *awaitingValue = nullptr;
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (awaitingValue && isValueWord(word, *awaitingValue)) {
                words.last() += QLatin1Char(' ') + word;
                awaitingValue = nullptr;
                continue;
            }
            words << word;
            awaitingValue = optionNamedBy(word);
            if (awaitingValue && !awaitingValue->value)
                awaitingValue = nullptr;
        }
        bool lineEmpty = line.isEmpty() || line.endsWith(QLatin1Char(' '));
        for (const QString &word : words) {
            if (!lineEmpty && line.size() + 1 + word.size() > LineWidth) {
                out += line + QLatin1Char('\n');
                line = indent;
                lineEmpty = true;
            }
            if (!lineEmpty)
                line += QLatin1Char(' ');
            line += word;
            lineEmpty = false;
        }
        out += line + QLatin1Char('\n');
        line = indent;
    }
}

void appendEntry(QString &out, const QString &heading, const QString &text)
{
    QString line = QStringLiteral("  ") + heading;
    if (line.size() > TextColumn - 2) {
        out += line + QLatin1Char('\n');
        line.clear();
    }
    appendWrapped(out, line.leftJustified(TextColumn, QLatin1Char(' ')), text, QString(TextColumn, QLatin1Char(' ')));
}

} // namespace

CliUsageError::CliUsageError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8())
{
}

bool CliCommand::usesDataPort() const
{
    return verbRow(verb).needsPort;
}

bool CliCommand::isLongOperation() const
{
    return verbRow(verb).longOperation;
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

    // Options of every command take effect at once; those of one command (or
    // of --watch) once the command is known.
    QStringList positionals;
    std::map<Opt, QString> deferred;
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
        const OptionRow *row = findOption(name);
        if (!row)
            usage(QStringLiteral("unknown option \"--%1\"").arg(name));
        if (row->value && !value) {
            if (i + 1 >= args.size())
                usage(QStringLiteral("--%1 needs a value").arg(name));
            value = args.at(++i);
        } else if (!row->value && value) {
            usage(QStringLiteral("--%1 takes no value").arg(name));
        }
        if (row->help)
            apply(cmd, *row, value.value_or(QString()));
        else
            deferred[row->opt] = value.value_or(QString());
    }

    if (!cmd.demo && (cmd.demoSensors > 0 || cmd.demoCollide))
        usage(QStringLiteral("--demo-sensors and --demo-collide go with --demo"));
    if (cmd.demoCollide && cmd.demoSensors < 2)
        usage(QStringLiteral("--demo-collide needs --demo-sensors 2 or more"));
    if (cmd.demo && !cmd.port.isEmpty())
        usage(QStringLiteral("--port and --demo exclude each other"));
    if (cmd.noRecord && !cmd.recordLocation.isEmpty())
        usage(QStringLiteral("--record and --no-record exclude each other"));
    if (positionals.isEmpty())
        usage(QStringLiteral("no command given"));

    cmd.verbName = positionals.takeFirst();
    const VerbRow *verb = findVerb(cmd.verbName);
    if (!verb)
        usage(QStringLiteral("unknown command \"%1\"").arg(cmd.verbName));
    cmd.verb = verb->verb;
    int minArgs = 0;
    for (const VerbArg &arg : verb->args)
        minArgs += arg.optional ? 0 : 1;
    const int maxArgs = verb->repeatsLast ? int(positionals.size()) : verb->args.size;
    if (positionals.size() < minArgs)
        usage(QStringLiteral("%1: missing argument").arg(cmd.verbName));
    if (positionals.size() > maxArgs)
        usage(QStringLiteral("%1: unexpected argument \"%2\"")
                  .arg(cmd.verbName, positionals.at(maxArgs)));

    for (const auto &[opt, value] : deferred) {
        const OptionRow &row = optionRow(opt);
        if (row.withWatch)
            continue;
        if (!optionOf(*verb, opt)) {
            const QStringList owners = commandsOf(opt);
            usage(QStringLiteral("%1 belongs to the %2 command%3")
                      .arg(optionName(row), listed(owners), owners.size() > 1 ? QStringLiteral("s") : QString()));
        }
    }
    // Never a port the user did not name.
    if (cmd.usesDataPort() && cmd.port.isEmpty() && !cmd.demo)
        usage(QStringLiteral("no data port: give --port NAME|PATH or --demo"));
    const bool watch = deferred.contains(Opt::Watch);
    if (!watch && (deferred.contains(Opt::Interval) || deferred.contains(Opt::Count)))
        usage(QStringLiteral("--interval and --count go with --watch"));
    if (!watch && deferred.contains(Opt::Stats))
        usage(QStringLiteral("--stats goes with --watch"));
    for (const auto &[opt, value] : deferred)
        apply(cmd, optionRow(opt), value);

    readArguments(cmd, *verb, positionals);
    if ((cmd.verb == CliVerb::History || cmd.verb == CliVerb::Report) && cmd.noRecord)
        usage(QStringLiteral("%1 reads the service record: --no-record leaves nothing to read")
                  .arg(cmd.verb == CliVerb::History ? QStringLiteral("history") : QStringLiteral("report")));
    if (cmd.scanFrom > cmd.scanTo)
        usage(QStringLiteral("--from %1 is above --to %2").arg(cmd.scanFrom).arg(cmd.scanTo));
    for (const VerbOption &option : verb->options) {
        const auto given = deferred.find(option.opt);
        if (option.required && (given == deferred.end() || given->second.isEmpty()))
            usage(QStringLiteral("%1 needs %2").arg(cmd.verbName, optionText(option)));
    }
    return cmd;
}

QString CliUsageText()
{
    QStringList portless;
    QStringList stoppable;
    for (const VerbRow &verb : Verbs) {
        if (!verb.needsPort)
            portless << QString::fromUtf8(verb.name);
        if (verb.longOperation)
            stoppable << QString::fromUtf8(verb.name);
    }

    QString text = QStringLiteral(
        "Usage: zart-cli [options] COMMAND [arguments]\n"
        "\n"
        "Service commands for the optical coordinate sensor, a Modbus RTU slave on a\n"
        "serial line. Results go to stdout, the log lines to stderr.\n"
        "\n"
        "Options (before or after the command):\n");
    for (const OptionRow &row : Options) {
        if (!row.help)
            continue;
        QString heading = optionName(row);
        if (row.value)
            heading += QLatin1Char(' ') + QLatin1String(row.value);
        if (row.opt == Opt::Help)
            heading = QStringLiteral("-h, ") + heading;
        QString help = QString::fromUtf8(row.help);
        if (row.opt == Opt::Port)
            help = help.arg(listed(portless));
        appendEntry(text, heading, help);
    }
    text += QStringLiteral("\nCommands:\n");
    for (const VerbRow &verb : Verbs) {
        QString heading = QString::fromUtf8(verb.name);
        const QString synopsis = synopsisText(verb);
        if (!synopsis.isEmpty())
            heading += QLatin1Char(' ') + synopsis;
        appendEntry(text, heading, QString::fromUtf8(verb.help));
    }
    text += QLatin1Char('\n');
    appendWrapped(text, QString(),
                  QStringLiteral("Exit status: 0 success; 1 a failed exchange with the sensor, a failed "
                                 "operation, an echo or restart answered with Ошибка, or nothing found by "
                                 "search; 2 bad usage; 130, 143 or 129 when SIGINT (Ctrl+C), SIGTERM or SIGHUP stopped %1 "
                                 "after the request in flight: the program then ends by that signal, as "
                                 "the shell expects (a second signal ends it at once). A signal ignored "
                                 "at start (nohup) stays ignored.")
                      .arg(listed(stoppable, QStringLiteral("or"))),
                  QString());
    return text;
}
