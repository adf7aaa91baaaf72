#include "ScriptedPeer.h"

#include "PtyPair.h"

#include <chrono>

ScriptedPeer::ScriptedPeer(PtyPair &pty) : m_pty(pty) {}

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

ScriptedPeer &ScriptedPeer::expect(qint32 count, int timeoutMs)
{
    m_steps.append({Step::Expect, {}, count, timeoutMs});
    return *this;
}

ScriptedPeer &ScriptedPeer::expectBytes(const QByteArray &bytes, int timeoutMs)
{
    m_steps.append({Step::ExpectBytes, bytes, qint32(bytes.size()), timeoutMs});
    return *this;
}

ScriptedPeer &ScriptedPeer::write(const QByteArray &bytes)
{
    m_steps.append({Step::Write, bytes, 0, 0});
    return *this;
}

ScriptedPeer &ScriptedPeer::pause(int ms)
{
    m_steps.append({Step::Pause, {}, 0, ms});
    return *this;
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

QByteArray ScriptedPeer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

QList<qint64> ScriptedPeer::writeTimesNs() const
{
    std::lock_guard lock(m_mutex);
    return m_writeTimes;
}

void ScriptedPeer::fail(const QString &why)
{
    std::lock_guard lock(m_mutex);
    if (m_failure.isEmpty())
        m_failure = why;
}

void ScriptedPeer::run()
{
    for (qsizetype i = 0; i < m_steps.size() && !m_stop; ++i) {
        const Step &step = m_steps.at(i);
        bool good = true;
        switch (step.kind) {
        case Step::Expect:
        case Step::ExpectBytes: {
            // Read in slices so that a stop request is seen soon.
            QByteArray got;
            const qint64 endNs = nowNs() + qint64(step.ms) * 1000000;
            while (got.size() < step.count && !m_stop && nowNs() < endNs)
                got += m_pty.peerRead(step.count - qint32(got.size()),
                                      int(qMin<qint64>(50, (endNs - nowNs()) / 1000000 + 1)));
            {
                std::lock_guard lock(m_mutex);
                m_received += got;
            }
            if (got.size() < step.count) {
                fail(QStringLiteral("step %1: expected %2 bytes, got %3 (%4)")
                         .arg(i).arg(step.count).arg(got.size()).arg(QString::fromLatin1(got.toHex(' '))));
                good = false;
            } else if (step.kind == Step::ExpectBytes && got != step.bytes) {
                fail(QStringLiteral("step %1: expected %2, got %3")
                         .arg(i).arg(QString::fromLatin1(step.bytes.toHex(' ')),
                                     QString::fromLatin1(got.toHex(' '))));
                good = false;
            }
            break;
        }
        case Step::Write:
            if (!m_pty.peerWrite(step.bytes)) {
                fail(QStringLiteral("step %1: write failed").arg(i));
                good = false;
            } else {
                const qint64 t = nowNs();
                std::lock_guard lock(m_mutex);
                m_writeTimes.append(t);
            }
            break;
        case Step::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            break;
        }
        if (!good)
            break;
    }
    if (m_stop)
        fail(QStringLiteral("stopped before the end of the script"));
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
}
