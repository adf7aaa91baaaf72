#include "app/ZartSession.h"

#include "app/MainWindow.h"

#include "demo/DemoSensor.h"

#include <QCommandLineParser>
#include <QDir>

namespace {

const QString DemoName = QStringLiteral("demo");
const QString PortName = QStringLiteral("port");
const QString PowerPortName = QStringLiteral("power-port");

void describeOptions(QCommandLineParser &parser)
{
    parser.addHelpOption();
    parser.addOption({DemoName, QStringLiteral("Start a simulated sensor on a pseudo-terminal "
                                               "and select it as the data port.")});
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
        m_demo = std::make_unique<DemoSensor>(4.0f); // something for the spot view to follow
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
