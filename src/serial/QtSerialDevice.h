#pragma once

#include "SerialDevice.h"

#include <QSerialPort>

// ISerialDevice on QSerialPort, used from one thread without an event loop
// of its own (the blocking waitFor* calls do the I/O).
//
// On Linux a USB serial adapter is put in low-latency mode where its driver
// allows it, so that a reply is passed on as soon as it arrives; the mode
// is switched off again when the device closes, if it was off before.
//
// Pseudo-terminals (the simulated sensor, the tests) have no modem lines and
// refuse parity: on a pty such refusals are ignored so that the data path
// works; on a real port they are failures like any other.
class QtSerialDevice final : public ISerialDevice
{
public:
    static constexpr qint64 InputQueueSize = 10000;

    QtSerialDevice();
    ~QtSerialDevice() override;

    OpenResult open(const QString &devicePath, qint32 baudRate) override;
    void close() override;
    bool isOpen() const override;
    bool setBaudRate(qint32 baudRate) override;
    bool purge() override;
    WriteResult write(const quint8 *data, qint32 count, int timeoutMs) override;
    bool waitForBytes(std::chrono::nanoseconds timeout) override;
    qint32 read(quint8 *buffer, qint32 maxCount) override;
    bool setDtr(bool asserted) override;
    bool setRts(bool asserted) override;
    int lastError() const override { return m_lastError; }
    LowLatency lowLatency() const override { return m_lowLatency; }

    // Whether a path names a pseudo-terminal slave device.
    static bool isPtyPath(const QString &devicePath);

private:
    void beginCall();
    void recordFailure();
    bool modemLine(bool dtr, bool asserted);

    QSerialPort m_port;
    bool m_isPty = false;
    bool m_gone = false; // a wait found the device gone; the next empty read fails
    bool m_lowLatencySet = false; // switched on at opening, to be switched off at closing
    LowLatency m_lowLatency = LowLatency::Unknown;
    int m_lastError = -1;
};
