#pragma once

#include <QString>
#include <memory>

class SimPtyServer;
class SimSensor;

// The simulated sensor of --demo on a pseudo-terminal: a front end opens
// devicePath() as its data port. It must outlive the links that use it.
class DemoSensor
{
public:
    // wander: how far the simulated spot drifts between readings (0: it stays).
    explicit DemoSensor(float wander = 0.0f);
    ~DemoSensor();
    DemoSensor(const DemoSensor &) = delete;
    DemoSensor &operator=(const DemoSensor &) = delete;

    // False with "Cannot start the simulated sensor: <reason>" in *error.
    bool start(QString *error);
    // The pseudo-terminal's device path; empty until started.
    QString devicePath() const;
    // The simulated sensor itself, for the tests that look into it.
    SimSensor &sensor() const { return *m_sensor; }

private:
    std::unique_ptr<SimSensor> m_sensor;
    std::unique_ptr<SimPtyServer> m_server;
};
