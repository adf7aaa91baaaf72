#include "app/ZartSession.h"

#include "app/MainWindow.h"

#include "demo/DemoSensor.h"

#include <QCommandLineParser>
#include <QDir>

namespace {

const QString DemoName = QStringLiteral("demo");
const QString DemoSensorsName = QStringLiteral("demo-sensors");
const QString DemoCollideName = QStringLiteral("demo-collide");
const QString PortName = QStringLiteral("port");
const QString PowerPortName = QStringLiteral("power-port");

void describeOptions(QCommandLineParser &parser)
{
    parser.addHelpOption();
    parser.addOption({DemoName, QStringLiteral("Start a simulated sensor on a pseudo-terminal "
                                               "and select it as the data port.")});
    parser.addOption({DemoSensorsName,
                      QStringLiteral("With --demo: N simulated sensors on one line, at the addresses "
                                     "1..N (1..247, default 1)."),
                      QStringLiteral("N")});
    parser.addOption({DemoCollideName,
                      QStringLiteral("With --demo-sensors N (2 or more): the last sensor takes "
                                     "address 1 as well, and the replies there collide.")});
    parser.addOption({PortName,
                      QStringLiteral("Offer the serial device PATH in the data port list and "
                                     "select it."),
                      QStringLiteral("PATH")});
    parser.addOption({PowerPortName,
                      QStringLiteral("Offer the serial device PATH in the power port list and "
                                     "select it."),
                      QStringLiteral("PATH")});
}

} // namespace

bool parseStartOptions(const QStringList &arguments, StartOptions &options, QString *error)
{
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(arguments)) {
        if (error)
            *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        if (error)
            *error = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        if (error)
            *error = parser.helpText();
        return false;
    }
    options.demo = parser.isSet(DemoName);
    auto refuse = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (!options.demo && (parser.isSet(DemoSensorsName) || parser.isSet(DemoCollideName)))
        return refuse(QStringLiteral("--demo-sensors and --demo-collide go with --demo"));
    if (parser.isSet(DemoSensorsName)) {
        bool ok = false;
        const QString text = parser.value(DemoSensorsName);
        options.demoLine.sensors = text.toInt(&ok, 10);
        if (!ok || options.demoLine.sensors < 1 || options.demoLine.sensors > DemoLine::MaxSensors)
            return refuse(QStringLiteral("--demo-sensors wants a number from 1 to %1, not \"%2\"")
                              .arg(DemoLine::MaxSensors)
                              .arg(text));
    }
    options.demoLine.collide = parser.isSet(DemoCollideName);
    if (options.demoLine.collide && options.demoLine.sensors < 2)
        return refuse(QStringLiteral("--demo-collide needs --demo-sensors 2 or more"));
    options.port = parser.value(PortName);
    options.powerPort = parser.value(PowerPortName);
    return true;
}

ZartSession::ZartSession() = default;

ZartSession::~ZartSession()
{
    m_windows = {};
    m_demo.reset();
}

QString ZartSession::demoDevicePath() const
{
    return m_demo ? m_demo->devicePath() : QString();
}

SimSensor *ZartSession::demoSensor() const
{
    return m_demo ? &m_demo->sensor() : nullptr;
}

bool ZartSession::start(const StartOptions &options, QString *error)
{
    QStringList extraPorts;
    QString preferredPort;
    if (options.demo) {
        m_demo = std::make_unique<DemoSensor>(4.0f, options.demoLine); // the spot view has something to follow
        if (!m_demo->start(error)) {
            m_demo.reset();
            return false;
        }
        extraPorts << m_demo->devicePath();
        preferredPort = m_demo->devicePath();
    }
    if (!options.port.isEmpty()) {
        extraPorts << options.port;
        preferredPort = options.port; // an explicit port wins
    }
    m_windows = createWindows();
    MainWindow *form = m_windows.mainWindow.get();
    const ZartPlaces places = SystemPlaces();
    form->setPlaces(places);
    form->Log(QStringLiteral("Файл настроек: %1").arg(QDir::toNativeSeparators(places.settingsFile)),
              LogInfo);
    if (const QString problem = PrepareSettingsPlace(places.settingsFile); !problem.isEmpty())
        form->Log(QStringLiteral("Нет доступа на запись: %1").arg(QDir::toNativeSeparators(problem)),
                  LogError);
    m_windows.mainWindow->setExtraPortPaths(extraPorts);
    m_windows.mainWindow->setPreferredPort(preferredPort);
    m_windows.mainWindow->setPreferredPowerPort(options.powerPort);
    if (options.demo)
        m_windows.mainWindow->offerServiceTab(); // the dump, the restores and the picture to try

    return true;
}
