#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>

class ISerialDevice;

// What zart-cli takes from the process it runs in. main() fills it from the
// real process; tests run the front end in-process with their own.
struct CliEnvironment
{
    // stderr is a terminal: failures in colour, a progress line for long operations.
    bool stderrIsTerminal = false;
    // Where dump writes its files when no DIR is given; empty: the current
    // directory.
    QString dumpDir;
    // Makes the serial device of each link; empty: the system's serial port.
    std::function<std::unique_ptr<ISerialDevice>()> makeSerialDevice;
    // Whether the user asked to stop (Ctrl+C, SIGTERM, SIGHUP); asked between
    // the readings of a watch. Empty: never.
    std::function<bool()> interrupted;
    // The signal (SIGINT, SIGTERM, SIGHUP) that asked a long operation (dump, restore,
    // passport-restore, verify, search) to stop, 0 while none has; asked before
    // every request. Empty: never.
    std::function<int()> stopSignal;
};

// What a command line needs of its process: a QGuiApplication for drawing a
// picture or a report (fonts, on the offscreen platform), the stop signals
// (Ctrl+C, SIGTERM, SIGHUP) caught to end a watch cleanly or to stop a long operation
// after the request in flight (any other command is ended by them as usual).
struct CliProcessNeeds
{
    bool gui = false;
    bool catchInterrupt = false;
    bool catchStop = false;
};
CliProcessNeeds CliNeedsOf(const QStringList &args);

// Runs one zart-cli command line (args without the program name): results on
// out, log lines on err. Returns the exit status: 0 success, 1 a failed
// exchange or operation (or nothing found by the search), 2 bad usage, 128 plus
// the signal's number for a long operation stopped by a signal (130 SIGINT,
// 143 SIGTERM, 129 SIGHUP). main() then ends the process by that signal.
int RunCli(const QStringList &args, QTextStream &out, QTextStream &err,
           const CliEnvironment &env = {});
