// zart-cli: the sensor's service commands from a shell or a script.

#include "cli/CliRunner.h"
#include "common/StopSignals.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <csignal>
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
    // Ctrl+C ends a watch after the reading under way; Ctrl+C or SIGTERM
    // stops a long operation after the request in flight. Either way the
    // port is closed on the way out, and a second signal ends the process at
    // once. Any other command is ended by them as usual.
    std::unique_ptr<StopSignals> stop;
    if (needs.catchStop)
        stop = std::make_unique<StopSignals>(std::initializer_list<int>{SIGINT, SIGTERM});
    else if (needs.catchInterrupt)
        stop = std::make_unique<StopSignals>(std::initializer_list<int>{SIGINT});

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliEnvironment env;
    env.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    env.interrupted = [&stop] { return stop && stop->caught() != 0; };
    env.stopSignal = [&stop] { return stop ? stop->caught() : 0; };
    return RunCli(app->arguments().mid(1), out, err, env);
}
