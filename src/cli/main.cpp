// zart-cli: the sensor's service commands from a shell or a script.

#include "cli/CliRunner.h"
#include "common/StopSignals.h"
#include "ZartVersion.h"

#include "ZartVersion.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    // Drawing needs fonts, and so a GUI application; it never shows a window.
    const CliProcessNeeds needs = CliNeedsOf(args);
    std::unique_ptr<QTemporaryDir> runtimeDir; // outlives the application
    std::unique_ptr<QCoreApplication> app;
    if (needs.gui) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt warns when it has no runtime directory; a private one keeps plot quiet.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            runtimeDir = std::make_unique<QTemporaryDir>();
            if (runtimeDir->isValid())
                qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir->path()));
        }
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // The version the service record keeps with every operation.
    QCoreApplication::setApplicationVersion(QStringLiteral(ZART_VERSION_TEXT));
    // Ctrl+C, SIGTERM or SIGHUP ends a watch after the reading under way
    // (its summary still comes) and stops a long operation after the request
    // in flight. Either way the port is closed on the way out, and a second
    // signal ends the process at once. Any other command is ended by them as
    // usual. A signal ignored at start (nohup) stays ignored.
    std::unique_ptr<StopSignals> stop;
    if (needs.catchStop || needs.catchInterrupt)
        stop = std::make_unique<StopSignals>(std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP});

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliEnvironment env;
    env.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    env.interrupted = [&stop] { return stop && stop->caught() != 0; };
    env.stopSignal = [&stop] { return stop ? stop->caught() : 0; };
    const int result = RunCli(app->arguments().mid(1), out, err, env);

    // Stopped by a signal: once the port is closed and the lines are out, the
    // process ends by that signal, as the shell expects of a command it
    // interrupted (a loop in a script stops; $? is still 128 + the signal).
    const int signal = stop ? stop->caught() : 0;
    if (signal != 0) {
        out.flush();
        err.flush();
        std::fflush(stdout);
        std::fflush(stderr);
        stop.reset();
        app.reset();
        runtimeDir.reset();
        StopSignals::endBy(signal);
    }
    return result;
}
