#pragma once

#include "sensor/SensorCommands.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <exception>

// The command line of zart-cli: options, then a verb and its arguments.
//
// Every argument is checked here, before a port is opened or a sensor started,
// so that a mistyped command never reaches the bus.

enum class CliVerb {
    Serial,
    Ping,
    Reset,
    DevId,
    SetAddress,
    Coords,
    Pixels,
    Light,
    ReadWord,
    WriteWord,
    Crc,
    CrcCorrect,
    Version,
    Search,
    Power,
    Dump,
    View,
    Restore,
    PassportRestore,
    CalibrationRestore,
    Compare,
    Plot,
    Verify,
    Report,
    History,
    Scan,
    Assign,
};

struct CliCommand
{
    // Options of the data link and the exchanges.
    QString port;                 // --port; empty: none given
    bool demo = false;            // --demo
    int demoSensors = 0;          // --demo-sensors N, 1..247; 0: not given (one sensor)
    bool demoCollide = false;     // --demo-collide: the last demo sensor shares address 1
    QString speed = QStringLiteral("9600");
    int address = 1;              // --addr, 1..247
    int timeoutMs = CommandTimeouts{}.longMs;       // --timeout: measurements and the checksum read
    int timeoutShortMs = CommandTimeouts{}.shortMs; // --timeout-short: everything else
    int pauseMs = 0;              // --pause: between the requests of group operations
    int retries = 0;              // --retries: repeats of a request that failed on the line
    int blockWords = 0;           // --block: flash words per read request, 0..62 (0: one)
    bool floatPix = false;        // --float-pix
    bool fastReply = false;       // --fast: a reply ends when its frame is whole
    bool verbose = false;         // --verbose: the traffic lines too
    bool lineStats = false;       // --line-stats: the line statistics on stderr at the end
    bool yes = false;             // --yes: answers the confirmation questions
    bool keepAddress = false;     // --keep-address: No to the restore's address question
    bool otherSerial = false;     // --other-serial: writes into a sensor whose serial
                                  // number is not the file's
    bool asFound = false;         // --as-found: a restore keeps the flash as found first
    QString recordLocation;       // --record: the service record; empty: the default file
    bool noRecord = false;        // --no-record: no operation is recorded
    bool help = false;            // --help / -h

    CliVerb verb = CliVerb::Serial;
    QString verbName;

    // Verb arguments (only those of the verb given are set).
    quint32 serial = 0;           // set-address and report SERIAL
    quint8 newAddress = 0;        // set-address NEWADDR
    quint8 lightCode = 0;         // light: 0 off, 1 X, 2 Y
    quint16 wordAddress = 0;      // read-word / write-word ADDR (low 16 bits)
    quint32 wordValue = 0;        // write-word VALUE
    int findTimeoutMs = 70;       // search --find-timeout, 10..10000
    bool powerOn = false;         // power on|off
    QString powerPort;            // power --power-port
    bool differences = false;     // restore --differences: only the words that differ
    QString path;                 // dump DIR (empty: default), view/restore/passport-restore/plot/verify FILE,
                                  // report OUT
    QString picturePath;          // plot and compare OUT (.png or .svg; compare: empty when not given)
    QString secondPath;           // compare B
    bool watch = false;           // coords/pixels --watch: read again and again
    int intervalMs = 500;         // --watch --interval MS, pause between readings
    int count = 0;                // --watch --count N; 0: until a stop signal
    bool stats = false;           // --watch --stats: a summary line per channel at the end
    QDateTime since;              // history and report --since DATE; invalid: from the first
    bool historySerialGiven = false; // history SERIAL (in serial)
    bool csv = false;             // history --csv, scan --csv: the table as CSV
    int scanFrom = 1;             // scan/assign --from N: the first address probed
    int scanTo = 247;             // scan/assign --to M: the last address probed
    QString dumpDir;              // scan --dump DIR: every sensor found dumped into DIR
    QString verifyDir;            // scan --verify DIR: every sensor compared with its dump in DIR
    QStringList assignments;      // assign SERIAL=ADDR ...: checked by the parser

    // Whether the verb talks to the sensor on the data port.
    bool usesDataPort() const;
    // Whether the verb is a long operation, which SIGINT, SIGTERM and SIGHUP stop after
    // the request in flight.
    bool isLongOperation() const;
};

// A command line that cannot be run; the text says why.
class CliUsageError : public std::exception
{
public:
    explicit CliUsageError(QString text);
    const QString &text() const noexcept { return m_text; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// Parses the arguments (without the program name). Throws CliUsageError.
// With --help or -h anywhere before "--" the rest is not examined.
CliCommand ParseCliArguments(const QStringList &args);

// The usage text printed by --help.
QString CliUsageText();
