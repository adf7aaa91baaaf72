#include "demo/DemoSensor.h"

#include "sim/SimBus.h"
#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

DemoSensor::DemoSensor(float wander, DemoLine line)
    : m_bus(std::make_unique<SimBus>()), m_server(std::make_unique<SimPtyServer>(*m_bus))
{
    const int count = qBound(1, line.sensors, DemoLine::MaxSensors);
    for (int k = 0; k < count; ++k) {
        const bool shared = line.collide && count > 1 && k == count - 1;
        SimSensor &sensor = m_bus->addSensor(quint8(shared ? 1 : k + 1), DemoLine::FirstSerial + quint32(k));
        if (wander > 0.0f)
            sensor.setWander(wander);
    }
}

DemoSensor::~DemoSensor()
{
    m_server->stop(); // the thread goes before the sensors it answers for
}

bool DemoSensor::start(QString *error)
{
    if (m_server->start())
        return true;
    if (error)
        *error = QStringLiteral("Cannot start the simulated sensor: %1").arg(m_server->errorString());
    return false;
}

QString DemoSensor::devicePath() const
{
    return m_server->isRunning() ? m_server->devicePath() : QString();
}

SimSensor &DemoSensor::sensor() const
{
    return m_bus->sensor(0);
}
