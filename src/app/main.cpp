#include "app/MainWindow.h"
#include "app/ZartApplication.h"
#include "app/ZartSession.h"
#include "common/StopSignals.h"

#include "ZartVersion.h"

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    ZartApplication app(argc, argv);
    // The version the service record keeps with every operation.
    QCoreApplication::setApplicationVersion(QStringLiteral(ZART_VERSION_TEXT));
    // The desktop entry that starts this program: its name and icon on the desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("zart-configurator"));

    StartOptions options;
    QString message;
    if (!parseStartOptions(QCoreApplication::arguments(), options, &message)) {
        const bool help = QCoreApplication::arguments().contains(QStringLiteral("--help")) ||
                          QCoreApplication::arguments().contains(QStringLiteral("-h"));
        std::fprintf(help ? stdout : stderr, "%s\n", qPrintable(message));
        return help ? 0 : 2;
    }

    ZartSession session;
    if (!session.start(options, &message)) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    MainWindow *mainWindow = session.mainWindow();
    app.setErrorReport([mainWindow](const QString &text) { mainWindow->showErrorReport(text); });
    mainWindow->show();
    // Asked to stop (the session ends, kill): the window closes as on the
    // user's click, so the settings are saved (without a report box when
    // they cannot be). A signal ignored at start (nohup) stays ignored.
    StopSignals stop({SIGTERM, SIGINT, SIGHUP});
    stop.whenCaught([mainWindow] {
        mainWindow->FormActivate();
        mainWindow->closeOnSignal();
    });
    const int result = app.exec();
    app.setErrorReport({});
    // With the settings saved, the process ends by the signal that closed
    // it, so that whoever started it sees a death by that signal.
    if (const int signal = stop.caught()) {
        std::fflush(stdout);
        std::fflush(stderr);
        StopSignals::endBy(signal);
    }
    return result;
}
