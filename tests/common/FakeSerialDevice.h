#pragma once

#include "serial/SerialDevice.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

// An ISerialDevice that records every call and answers as its state says.
// The state is shared, so a test keeps reading it after the device has been
// handed to a TWinComPort.
//
// Recorded calls: "open <path> <baud>", "close", "baud <rate>", "purge",
// "write <hex bytes>", "dtr 1"/"dtr 0", "rts 1"/"rts 0". Calls on a closed
// device fail with EBADF, as a real device would.
class FakeSerialDevice final : public ISerialDevice
{
public:
    struct State {
        QStringList calls;

        // Line as the fake sees it.
        bool open = false;
        QString path;
        qint32 baud = 0;
        bool dtr = false;
        bool rts = false;
        QByteArray written;
        QByteArray input; // bytes read() hands out

        // Failures to stage.
        OpenResult openResult = OpenResult::Ok;
        bool failBaud = false;
        bool failPurge = false;
        bool failDtr = false;
        bool failRts = false;
        bool failRead = false;
        WriteResult writeResult = WriteResult::Done;
        int failError = 5; // error number reported by staged failures
    };

    explicit FakeSerialDevice(std::shared_ptr<State> state = std::make_shared<State>());

    std::shared_ptr<State> state() const { return m_state; }

    OpenResult open(const QString &devicePath, qint32 baudRate) override;
    void close() override;
    bool isOpen() const override;
    bool setBaudRate(qint32 baudRate) override;
    bool purge() override;
    WriteResult write(const quint8 *data, qint32 count, int timeoutMs) override;
    bool waitForBytes(int timeoutMs) override;
    qint32 read(quint8 *buffer, qint32 maxCount) override;
    bool setDtr(bool asserted) override;
    bool setRts(bool asserted) override;
    int lastError() const override { return m_lastError; }

private:
    bool failClosed();

    std::shared_ptr<State> m_state;
    int m_lastError = -1;
};
