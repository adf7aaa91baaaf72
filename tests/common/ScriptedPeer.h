#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class PtyPair;

// The far end of a PtyPair, run on a thread of its own from a script:
//
//     ScriptedPeer peer(pty);
//     peer.expectBytes(request).write(reply).pause(50).write(more);
//     peer.start();
//     ... the link sends and receives ...
//     QVERIFY(peer.wait(2000));
//
// expectBytes() waits for the link's bytes, so a reply never goes out before its
// request. Each write() records the moment its last byte was handed to the pty
// on the steady clock (nowNs()), for tests that measure the link against it.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(PtyPair &pty) : m_pty(pty) {}
    ~ScriptedPeer(); // stops the script and joins the thread
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    // Script building (before start()).
    // Reads bytes from the link and fails the script unless they equal bytes within timeoutMs.
    ScriptedPeer &expectBytes(const QByteArray &bytes, int timeoutMs = 5000) { return add(ExpectBytes, bytes, timeoutMs); }
    ScriptedPeer &write(const QByteArray &bytes) { return add(Write, bytes, 0); }
    // Holds the line for ms milliseconds (the stimulus: a gap between bursts, a late reply).
    ScriptedPeer &pause(int ms) { return add(Pause, {}, ms); }

    void start();
    // Waits at most timeoutMs for the script to end; true when it has ended.
    bool wait(int timeoutMs);

    // After the script (or a wait that returned true):
    bool ok() const;                    // every step succeeded
    QString failure() const;            // why a step failed
    QList<qint64> writeTimesNs() const; // steady clock, one per write() step

    // The steady clock the write times are on.
    static qint64 nowNs();

private:
    enum Kind { ExpectBytes, Write, Pause };
    struct Step {
        Kind kind;
        QByteArray bytes;
        int ms;
    };

    ScriptedPeer &add(Kind kind, const QByteArray &bytes, int ms)
    {
        m_steps.append({kind, bytes, ms});
        return *this;
    }
    bool runStep(qsizetype i);
    void run();

    PtyPair &m_pty;
    QList<Step> m_steps;
    std::thread m_thread;
    std::atomic_bool m_stop {false};
    std::atomic_bool m_finished {false};
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    QString m_failure;
    QList<qint64> m_writeTimes;
};
