#include "FakeSerialDevice.h"

#include <QThread>

#include <cerrno>
#include <cstring>

FakeSerialDevice::FakeSerialDevice(std::shared_ptr<State> state) : m_state(std::move(state)) {}

bool FakeSerialDevice::failClosed()
{
    if (m_state->open)
        return false;
    m_lastError = EBADF;
    return true;
}

ISerialDevice::OpenResult FakeSerialDevice::open(const QString &devicePath, qint32 baudRate)
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
    m_state->dtr = false;
    m_state->rts = false;
    return OpenResult::Ok;
}

void FakeSerialDevice::close()
{
    if (!m_state->open)
        return;
    m_state->calls << QStringLiteral("close");
    m_state->open = false;
}

bool FakeSerialDevice::isOpen() const
{
    return m_state->open;
}

bool FakeSerialDevice::setBaudRate(qint32 baudRate)
{
    m_state->calls << QStringLiteral("baud %1").arg(baudRate);
    if (failClosed())
        return false;
    if (m_state->failBaud) {
        m_lastError = m_state->failError;
        return false;
    }
    m_state->baud = baudRate;
    return true;
}

bool FakeSerialDevice::purge()
{
    m_state->calls << QStringLiteral("purge");
    if (failClosed())
        return false;
    if (m_state->failPurge) {
        m_lastError = m_state->failError;
        return false;
    }
    m_state->input.clear();
    return true;
}

ISerialDevice::WriteResult FakeSerialDevice::write(const quint8 *data, qint32 count, int timeoutMs)
{
    Q_UNUSED(timeoutMs);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qMax(0, count));
    m_state->calls << QStringLiteral("write %1").arg(QString::fromLatin1(bytes.toHex(' ')));
    if (failClosed())
        return WriteResult::NotStarted;
    if (m_state->writeResult == WriteResult::Done)
        m_state->written += bytes;
    else
        m_lastError = m_state->failError;
    return m_state->writeResult;
}

bool FakeSerialDevice::waitForBytes(int timeoutMs)
{
    if (!m_state->input.isEmpty())
        return true;
    // A silent line: the wait runs its course.
    QThread::msleep(qMax(0, timeoutMs));
    return false;
}

qint32 FakeSerialDevice::read(quint8 *buffer, qint32 maxCount)
{
    if (failClosed())
        return -1;
    if (m_state->failRead) {
        m_lastError = m_state->failError;
        return -1;
    }
    const qint32 n = qMin<qint32>(maxCount, qint32(m_state->input.size()));
    if (n > 0) {
        std::memcpy(buffer, m_state->input.constData(), size_t(n));
        m_state->input.remove(0, n);
    }
    return n;
}

bool FakeSerialDevice::setDtr(bool asserted)
{
    m_state->calls << QStringLiteral("dtr %1").arg(asserted ? 1 : 0);
    if (failClosed())
        return false;
    if (m_state->failDtr) {
        m_lastError = m_state->failError;
        return false;
    }
    m_state->dtr = asserted;
    return true;
}

bool FakeSerialDevice::setRts(bool asserted)
{
    m_state->calls << QStringLiteral("rts %1").arg(asserted ? 1 : 0);
    if (failClosed())
        return false;
    if (m_state->failRts) {
        m_lastError = m_state->failError;
        return false;
    }
    m_state->rts = asserted;
    return true;
}
