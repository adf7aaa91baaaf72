#include "ScriptedPeer.h"

#include "PtyPair.h"

#include <chrono>

ScriptedPeer::~ScriptedPeer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

qint64 ScriptedPeer::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ScriptedPeer::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

bool ScriptedPeer::wait(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_finished.load(); });
}

bool ScriptedPeer::ok() const
{
    std::lock_guard lock(m_mutex);
    return m_finished && m_failure.isEmpty();
}

QString ScriptedPeer::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

QList<qint64> ScriptedPeer::writeTimesNs() const
{
    std::lock_guard lock(m_mutex);
    return m_writeTimes;
}

// One step; false (with m_failure set) when it failed.
bool ScriptedPeer::runStep(qsizetype i)
{
    const Step &step = m_steps.at(i);
    QString why;
    if (step.kind == ExpectBytes) {
        // Read in slices so that a stop request is seen soon.
        QByteArray got;
        const qint64 endNs = nowNs() + qint64(step.ms) * 1000000;
        while (got.size() < step.bytes.size() && !m_stop && nowNs() < endNs)
            got += m_pty.peerRead(qint32(step.bytes.size() - got.size()),
                                  int(qMin<qint64>(50, (endNs - nowNs()) / 1000000 + 1)));
        if (got != step.bytes)
            why = QStringLiteral("expected %1, got %2")
                      .arg(QString::fromLatin1(step.bytes.toHex(' ')), QString::fromLatin1(got.toHex(' ')));
    } else if (step.kind == Write) {
        if (m_pty.peerWrite(step.bytes)) {
            const qint64 t = nowNs();
            std::lock_guard lock(m_mutex);
            m_writeTimes.append(t);
        } else {
            why = QStringLiteral("write failed");
        }
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
    }
    if (why.isEmpty())
        return true;
    std::lock_guard lock(m_mutex);
    m_failure = QStringLiteral("step %1: %2").arg(i).arg(why);
    return false;
}

void ScriptedPeer::run()
{
    for (qsizetype i = 0; i < m_steps.size() && !m_stop; ++i) {
        if (!runStep(i))
            break;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stop && m_failure.isEmpty())
            m_failure = QStringLiteral("stopped before the end of the script");
        m_finished = true;
    }
    m_done.notify_all();
}
