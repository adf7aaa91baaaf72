#pragma once

#include "cli/CliRunner.h"

#include "SimPtyServer.h"
#include "SimSensor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

// Helpers of the zart-cli tests: the front end run in-process on string streams.
namespace clitest {

struct CliRun
{
    int rc = -1;
    QString out;
    QString err;
};

inline CliRun runCli(const QStringList &args, const CliEnvironment &env = {})
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.rc = RunCli(args, out, err, env);
    out.flush();
    err.flush();
    return run;
}

// The lines of an output, without the empty one after the last line end.
inline QStringList lines(const QString &text)
{
    QStringList list = text.split(QLatin1Char('\n'));
    if (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

// The Modbus serial line CRC, bit by bit: independent of the tool's table.
inline QByteArray withCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}

inline QString hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

inline QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// The simulated sensor on a pseudo-terminal for a whole test case.
class SensorOnPty
{
protected:
    SimSensor m_sensor;
    std::unique_ptr<SimPtyServer> m_server;

    // Call through QVERIFY2(startSensor(), ...) from initTestCase().
    bool startSensor()
    {
        m_server = std::make_unique<SimPtyServer>(m_sensor);
        return m_server->start();
    }
    // The arguments with the sensor's line as the data port.
    QStringList onSensor(const QStringList &args) const
    {
        return QStringList{QStringLiteral("--port"), m_server->devicePath()} + args;
    }
};

} // namespace clitest
