#pragma once

#include "common/RecordingBusHost.h"
#include "serial/SerialLink.h"
#include "sim/SimBus.h"
#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

#include <QString>
#include <memory>

namespace testsim {

// The simulated sensor answering on a pseudo-terminal, for a whole test case.
// `sensor` is the first on the line; a test may add more to `bus` before start().
class SensorOnPty
{
public:
    SensorOnPty() { bus.attach(sensor); }

    // Call through QVERIFY2(start(), qPrintable(errorString())) from initTestCase().
    // With linkPath, the pty is reached through a symbolic link there, as a
    // USB adapter is through /dev/serial/by-id; a new start after stop() makes
    // a new pty behind the same link.
    bool start(const QString &linkPath = QString())
    {
        m_server.reset();
        m_server = std::make_unique<SimPtyServer>(bus);
        return m_server->start(linkPath);
    }
    // start(), then the link and the engine. The link ends a reply by the
    // frame's length unless told otherwise: long operations then take seconds.
    bool startWithEngine(bool fastReply = true)
    {
        if (!start())
            return false;
        port = std::make_unique<SerialLink>();
        port->SetPortName(devicePath());
        port->FastReply = fastReply;
        engine = std::make_unique<ModbusMaster>(*port, host);
        return true;
    }
    void stop()
    {
        engine.reset();
        port.reset();
        m_server.reset();
    }

    QString errorString() const { return m_server ? m_server->errorString() : QString(); }
    // The slave side of the pty, where the tool opens its link.
    QString devicePath() const { return m_server->devicePath(); }

    // A sensor at `address` holding `flash`, without faults or request history;
    // the host at the same address with an empty log.
    void reset(const SimSensor::Flash &flash = SimSensor::defaultFlash(), int address = 1)
    {
        sensor.clearFaults();
        sensor.setBlockReads(true);
        sensor.setFlash(flash);
        sensor.setAddress(quint8(address));
        sensor.clearRequestLog();
        host.lines.clear();
        host.address = address;
    }

    SimSensor sensor;
    SimBus bus;
    std::unique_ptr<SerialLink> port;
    testhost::RecordingHost host;
    std::unique_ptr<ModbusMaster> engine;

private:
    std::unique_ptr<SimPtyServer> m_server;
};

} // namespace testsim
