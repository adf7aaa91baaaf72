#pragma once

#include "app/ZartWindows.h"

#include "demo/DemoSensor.h"

#include <QString>
#include <QStringList>
#include <memory>

class SimSensor;

// What the command line asks for.
struct StartOptions
{
    bool demo = false; // a simulated sensor on a pseudo-terminal, selected as the data port
    QString port;      // a device path to offer in the data port list and select
    QString powerPort; // a device path to offer in the power port list and select
    DemoLine demoLine; // with demo: how many simulated sensors, and whether two share address 1
};

// Reads the options from the arguments (the program name first). False with
// the message in *error for an unknown option or a missing value.
bool parseStartOptions(const QStringList &arguments, StartOptions &options, QString *error);

// One run of the tool: the simulated sensor when asked for, and the five
// windows with the data port list set up from the options. The windows go
// before the sensor, so that the links close before the pseudo-terminal does.
class ZartSession
{
public:
    ZartSession();
    ~ZartSession();
    ZartSession(const ZartSession &) = delete;
    ZartSession &operator=(const ZartSession &) = delete;

    // False with *error when the simulated sensor cannot be started.
    bool start(const StartOptions &options, QString *error);

    MainWindow *mainWindow() const { return m_windows.mainWindow.get(); }
    const ZartWindows &windows() const { return m_windows; }
    SimSensor *demoSensor() const;
    // Device path of the simulated sensor; empty without one.
    QString demoDevicePath() const;

private:
    std::unique_ptr<DemoSensor> m_demo;
    ZartWindows m_windows;
};
