#pragma once

#include "serial/SerialDevice.h"

#include <QByteArray>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <memory>

// An ISerialDevice on a silent line that records every call and answers as its shared
// state says, so a test keeps reading the state after the device was handed to a SerialLink.
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

    explicit FakeSerialDevice(std::shared_ptr<State> state = std::make_shared<State>())
        : m_state(std::move(state))
    {
    }

    OpenResult open(const QString &devicePath, qint32 baudRate) override
    {
        m_state->calls << QStringLiteral("open %1 %2").arg(devicePath).arg(baudRate);
        if (m_state->open)
            return OpenResult::Ok;
        if (m_state->openResult != OpenResult::Ok) {
            m_lastError = m_state->failError;
            return m_state->openResult;
        }
        m_state->open = true;
        m_state->path = devicePath;
        m_state->baud = baudRate;
        m_state->dtr = m_state->rts = false;
        return OpenResult::Ok;
    }
    void close() override
    {
        if (m_state->open)
            m_state->calls << QStringLiteral("close");
        m_state->open = false;
    }
    bool isOpen() const override { return m_state->open; }
    bool setBaudRate(qint32 baudRate) override
    {
        return attempt(QStringLiteral("baud %1").arg(baudRate), m_state->failBaud) && ((m_state->baud = baudRate), true);
    }
    bool purge() override { return attempt(QStringLiteral("purge"), m_state->failPurge); }
    WriteResult write(const quint8 *data, qint32 count, int) override
    {
        const QByteArray bytes(reinterpret_cast<const char *>(data), qMax(0, count));
        const bool done = m_state->writeResult == WriteResult::Done;
        if (!attempt(QStringLiteral("write %1").arg(QString::fromLatin1(bytes.toHex(' '))), !done))
            return m_state->open ? m_state->writeResult : WriteResult::NotStarted;
        return WriteResult::Done;
    }
    // A silent line: the wait runs its course, and nothing is ever read.
    bool waitForBytes(std::chrono::nanoseconds timeout) override
    {
        if (timeout.count() > 0)
            QThread::usleep(quint64((timeout.count() + 999) / 1000));
        return false;
    }
    qint32 read(quint8 *, qint32) override { return attempt({}, m_state->failRead) ? 0 : -1; }
    bool setDtr(bool asserted) override
    {
        return attempt(QStringLiteral("dtr %1").arg(int(asserted)), m_state->failDtr) && ((m_state->dtr = asserted), true);
    }
    bool setRts(bool asserted) override
    {
        return attempt(QStringLiteral("rts %1").arg(int(asserted)), m_state->failRts) && ((m_state->rts = asserted), true);
    }
    int lastError() const override { return m_lastError; }

private:
    // Records call (unless empty) and tells whether it may go ahead: not on a
    // closed device (EBADF), not when staged to fail.
    bool attempt(const QString &call, bool fail)
    {
        if (!call.isEmpty())
            m_state->calls << call;
        m_lastError = !m_state->open ? EBADF : fail ? m_state->failError : m_lastError;
        return m_state->open && !fail;
    }

    std::shared_ptr<State> m_state;
    int m_lastError = -1;
};
