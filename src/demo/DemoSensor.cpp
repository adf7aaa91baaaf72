#include "demo/DemoSensor.h"

#include "sim/SimPtyServer.h"
#include "sim/SimSensor.h"

DemoSensor::DemoSensor(float wander)
    : m_sensor(std::make_unique<SimSensor>()), m_server(std::make_unique<SimPtyServer>(*m_sensor))
{
    if (wander > 0.0f)
        m_sensor->setWander(wander);
}

DemoSensor::~DemoSensor()
{
    m_server->stop(); // the thread goes before the sensor it answers for
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
