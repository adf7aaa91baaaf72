#pragma once

#include <QString>
#include <memory>

class SimBus;
class SimPtyServer;
class SimSensor;

// The line of simulated sensors that --demo starts.
struct DemoLine
{
    static constexpr int MaxSensors = 247;
    static constexpr quint32 FirstSerial = 0x0012AB7F;

    int sensors = 1;      // addresses 1..sensors, serials FirstSerial + k
    bool collide = false; // the last sensor takes address 1 as well (needs 2 sensors or more)
};

// The simulated sensors of --demo on a pseudo-terminal: a front end opens
// devicePath() as its data port. It must outlive the links that use it.
class DemoSensor
{
public:
    // wander: how far the simulated spot drifts between readings (0: it stays).
    explicit DemoSensor(float wander = 0.0f, DemoLine line = {});
    ~DemoSensor();
    DemoSensor(const DemoSensor &) = delete;
    DemoSensor &operator=(const DemoSensor &) = delete;

    // False with "Cannot start the simulated sensor: <reason>" in *error.
    bool start(QString *error);
    // The pseudo-terminal's device path; empty until started.
    QString devicePath() const;
    // The first simulated sensor (address 1, serial 0012AB7F), for the tests that look into it.
    SimSensor &sensor() const;
    // All of them.
    SimBus &bus() const { return *m_bus; }

private:
    std::unique_ptr<SimBus> m_bus;
    std::unique_ptr<SimPtyServer> m_server;
};
