// zart-cli's command line, run in-process.
//
// Input: the arguments, separated by NUL bytes (UTF-8). The serial device never
// opens, so no exchange reaches a port; the run starts in an empty scratch
// directory holding one dump, one passport and its "passport.ini". Command lines
// that would start the simulated sensor (--demo), draw a picture (plot: that
// wants the GUI application main() makes for it) or name a file outside that
// directory are only parsed, not run.
//
// Invariants: the exit status is 0, 1 or 2, and 2 exactly when the parser
// refuses the line; a refusal prints "zart-cli: " and the reason, a failure its
// reason on stderr, a success something on stdout; what the parser accepts lies
// within the ranges the usage text gives.

#include "FuzzSupport.h"

#include "cli/CliArguments.h"
#include "cli/CliRunner.h"
#include "flash/DumpFile.h"
#include "flash/Passport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// The scratch directory, the working directory of every run.
const QString &scratch()
{
    static QTemporaryDir dir;
    static const bool ready = [] {
        FlashImage image{};
        image[WordAddress] = 1;
        image[WordSerial] = 0x0012AB7F;
        WriteDumpFile(dir.filePath(QStringLiteral("0012AB7F.dmp")), image);
        WritePassportFile(dir.filePath(QStringLiteral("0012AB7F.ini")), image);
        QFile ini(dir.filePath(QString::fromUtf16(PassportIniName)));
        return ini.open(QIODevice::WriteOnly) && ini.write("[0012AB7F]\r\nExpLevel=120;40;118;42\r\n") > 0;
    }();
    FUZZ_CHECK(ready, "no scratch directory");
    static const QString path = dir.path();
    return path;
}

bool staysInScratch(const QString &path)
{
    return path.isEmpty() || (!QDir::isAbsolutePath(path) && !path.contains(QLatin1String(".."))
                              && !path.startsWith(u'~'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    const QString dir = scratch();
    QStringList args;
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    for (const QByteArray &part : parts)
        args << QString::fromUtf8(part);
    if (args.size() > 24)
        return -1;

    std::optional<CliCommand> cmd;
    try {
        cmd = ParseCliArguments(args);
    } catch (const CliUsageError &e) {
        FUZZ_CHECK(!e.text().isEmpty(), "a refusal without a reason");
    }
    if (cmd && !cmd->help) {
        FUZZ_CHECK(cmd->address >= 1 && cmd->address <= 247, "--addr %d", cmd->address);
        FUZZ_CHECK(cmd->timeoutMs >= 1 && cmd->timeoutMs <= 60000 && cmd->timeoutShortMs >= 1
                       && cmd->timeoutShortMs <= 60000 && cmd->pauseMs >= 0 && cmd->pauseMs <= 60000,
                   "timeouts %d %d, pause %d", cmd->timeoutMs, cmd->timeoutShortMs, cmd->pauseMs);
        FUZZ_CHECK(cmd->findTimeoutMs >= 10 && cmd->findTimeoutMs <= 10000, "--find-timeout %d", cmd->findTimeoutMs);
        FUZZ_CHECK(!(cmd->demo && !cmd->port.isEmpty()), "--demo with --port");
        if (cmd->verb == CliVerb::SetAddress)
            FUZZ_CHECK(cmd->newAddress >= 1 && cmd->newAddress <= 247, "new address %d", cmd->newAddress);
        // plot and report draw (they need a GUI application); report reads a
        // record anywhere, a server's too. A record named elsewhere, or on a
        // server, and the folders of scan are kept to the scratch directory too.
        const bool recordInScratch = staysInScratch(cmd->recordLocation)
                                     && !cmd->recordLocation.contains(u':') && !cmd->recordLocation.contains(u'?');
        if (cmd->demo || cmd->verb == CliVerb::Plot || cmd->verb == CliVerb::Report
            || !staysInScratch(cmd->path) || !staysInScratch(cmd->picturePath) || !recordInScratch
            || !staysInScratch(cmd->dumpDir) || !staysInScratch(cmd->verifyDir))
            return 0;
    }

    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    CliEnvironment env;
    env.dumpDir = dir;
    env.makeSerialDevice = [] { return std::make_unique<ClosedSerialDevice>(); };
    // Back to the fuzzer's own directory afterwards: it names its files relative to it.
    const QString home = QDir::currentPath();
    QDir::setCurrent(dir);
    const int status = RunCli(args, out, err, env);
    QDir::setCurrent(home);
    FUZZ_CHECK(status >= 0 && status <= 2, "exit status %d", status);
    FUZZ_CHECK((status == 2) == !cmd.has_value(), "exit status %d for a line the parser %s", status,
               cmd ? "took" : "refused");
    if (status == 2)
        FUZZ_CHECK(errText.startsWith(QLatin1String("zart-cli: ")), "refused with \"%s\"", utf8(errText));
    if (status == 1)
        FUZZ_CHECK(!errText.trimmed().isEmpty(), "failed without a reason");
    if (status == 0)
        FUZZ_CHECK(!outText.isEmpty(), "succeeded without a result");
    return 0;
}
