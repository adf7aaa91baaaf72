#pragma once

#include "cli/CliRunner.h"
#include "common/ModbusFrames.h"

#include "common/SensorOnPty.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

// Helpers of the zart-cli tests: the front end run in-process on string streams.
namespace clitest {

struct CliRun
{
    int rc = -1;
    QString out;
    QString err;
};

// The command line as it is: the default record (records.sqlite in the data
// folder) is written unless the arguments say otherwise.
inline CliRun runCliAsIs(const QStringList &args, const CliEnvironment &env = {})
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.rc = RunCli(args, out, err, env);
    out.flush();
    err.flush();
    return run;
}

// As runCliAsIs, but a run records nothing unless the test names a record
// (--record or --no-record): no test leaves records in the tests' folder.
inline CliRun runCli(const QStringList &args, const CliEnvironment &env = {})
{
    const bool named = args.contains(QStringLiteral("--no-record"))
        || args.contains(QStringLiteral("--record"))
        || !args.filter(QStringLiteral("--record=")).isEmpty();
    return runCliAsIs(named ? args : QStringList{QStringLiteral("--no-record")} + args, env);
}

// The lines of an output, without the empty one after the last line end.
inline QStringList lines(const QString &text)
{
    QStringList list = text.split(QLatin1Char('\n'));
    if (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

using modbustest::hexLine;
using modbustest::withCrc;

inline QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// The simulated sensor on a pseudo-terminal for a whole test case.
class SensorOnPty : public testsim::SensorOnPty
{
protected:
    // The arguments with the sensor's line as the data port, with the fast
    // reply end unless the described 40 ms end is asked for.
    QStringList onSensor(const QStringList &args, bool fast = true) const
    {
        return QStringList{QStringLiteral("--port"), devicePath()}
            + (fast ? QStringList{QStringLiteral("--fast")} : QStringList{}) + args;
    }
};

} // namespace clitest
