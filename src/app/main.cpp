#include "app/UMain.h"
#include "app/ZartApplication.h"
#include "app/ZartWindows.h"

#include "SimPtyServer.h"
#include "SimSensor.h"

#include <QCommandLineParser>
#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    ZartApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Start a simulated sensor on a pseudo-terminal and select it as the data port."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Offer the serial device PATH in the data port list and select it."),
        QStringLiteral("PATH"));
    parser.addOption(demoOption);
    parser.addOption(portOption);
    parser.process(app);

    QStringList extraPorts;
    QString preferredPort;

    // The simulated sensor lives for the whole run, beyond the windows that use it.
    std::unique_ptr<SimSensor> sensor;
    std::unique_ptr<SimPtyServer> server;
    if (parser.isSet(demoOption)) {
        sensor = std::make_unique<SimSensor>();
        server = std::make_unique<SimPtyServer>(*sensor);
        if (!server->start()) {
            std::fprintf(stderr, "Cannot start the simulated sensor: %s\n",
                         qPrintable(server->errorString()));
            return 1;
        }
        extraPorts << server->devicePath();
        preferredPort = server->devicePath();
    }
    if (parser.isSet(portOption)) {
        const QString path = parser.value(portOption);
        extraPorts << path;
        preferredPort = path;
    }

    int result = 0;
    {
        ZartWindows windows = createWindows();
        TForm1 *mainForm = windows.mainForm.get();
        mainForm->setExtraPortPaths(extraPorts);
        mainForm->setPreferredPort(preferredPort);
        app.setErrorReport([mainForm](const QString &text) { mainForm->showErrorReport(text); });
        mainForm->show();
        result = app.exec();
        app.setErrorReport({});
    }
    if (server)
        server->stop();
    return result;
}
