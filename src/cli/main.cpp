// zart-cli: the sensor's service commands from a shell or a script.

#include "cli/CliRunner.h"

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

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_stopSignal = 0;

// Ctrl+C: the watch ends after the reading under way, and the port is closed
// on the way out. The handler goes back to the default at once, so a second
// Ctrl+C ends the process the usual way.
void onInterrupt(int)
{
    g_interrupted = 1;
}

void catchInterrupt()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

// Ctrl+C or SIGTERM during a long operation: it stops after the request in
// flight and the port is closed on the way out. A second signal of either kind
// ends the process at once, by the default action of the signal.
void onStop(int signal)
{
    if (g_stopSignal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_stopSignal = signal;
}

void catchStop()
{
    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

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
    if (needs.catchInterrupt)
        catchInterrupt();
    if (needs.catchStop)
        catchStop();

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliEnvironment env;
    env.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    env.interrupted = [] { return g_interrupted != 0; };
    env.stopSignal = [] { return int(g_stopSignal); };
    return RunCli(app->arguments().mid(1), out, err, env);
}
