#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A pseudo-terminal pair for tests and benchmarks: a link opens slavePath() like
// any serial device, and the test plays the far end on the master. The pair keeps
// the slave open in raw mode for its whole life, so the master never sees a
// hang-up when the link closes and reopens, and nothing the peer writes is echoed.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0 && m_slave >= 0; }
    QString errorString() const { return m_error; }
    QString slavePath() const { return m_slavePath; }

    // Far end: writes bytes that the link will receive. False on failure.
    bool peerWrite(const QByteArray &bytes);
    // Far end: reads what the link sent, exactly count bytes unless timeoutMs runs out first.
    QByteArray peerRead(qint32 count, int timeoutMs);
    // Far end: everything the link sent that has arrived by now.
    QByteArray peerReadAvailable();
    // Waits at most timeoutMs until the link's input queue holds at least count bytes.
    bool waitForPendingInput(qint64 count, int timeoutMs) const;
    // The far end goes away: the master is closed and the link's device hangs up.
    void closeMaster();
    // Line speed currently set on the tty (as the link configured it), 0 if unknown.
    qint32 lineSpeed() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
};
