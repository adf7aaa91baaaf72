#pragma once

#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

#include <QString>
#include <memory>

namespace testsim {

// The simulated sensor answering on a pseudo-terminal, for a whole test case.
class SensorOnPty
{
public:
    // Call through QVERIFY2(start(), qPrintable(errorString())) from initTestCase().
    // With linkPath, the pty is reached through a symbolic link there, as a
    // USB adapter is through /dev/serial/by-id; a new start after stop() makes
    // a new pty behind the same link.
    bool start(const QString &linkPath = QString())
    {
        m_server.reset();
        m_server = std::make_unique<SimPtyServer>(sensor);
        return m_server->start(linkPath);
    }
    void stop() { m_server.reset(); }

    QString errorString() const { return m_server ? m_server->errorString() : QString(); }
    // The slave side of the pty, where the tool opens its link.
    QString devicePath() const { return m_server->devicePath(); }

    // A sensor at `address` holding `flash`, without faults or request history.
    void reset(const SimSensor::Flash &flash = SimSensor::defaultFlash(), int address = 1)
    {
        sensor.clearFaults();
        sensor.setFlash(flash);
        sensor.setAddress(quint8(address));
        sensor.clearRequestLog();
    }

    SimSensor sensor;

private:
    std::unique_ptr<SimPtyServer> m_server;
};

} // namespace testsim
