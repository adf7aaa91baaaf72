#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <thread>

class SimLine;

// Puts a SimSensor, or a SimBus of several, on a pseudo-terminal: the tool opens
// devicePath() (or the symbolic link) as its serial port, the server's thread
// reads request frames from the master side and writes the replies back,
// honouring the reply delays and split bursts of injected faults and a paced
// line's time (a reply goes out when its last byte would have arrived, counted
// from the request's arrival).
//
// Frame end: a request's length follows from its function code (3, 4, 8: 8
// bytes; 16: 9 + byte count; 43: 7). Bytes that make no frame with a good CRC
// are dropped after a short silence on the line, which resynchronises the
// reader on garbage.
//
// The server keeps its own descriptor of the slave open, so the tool may close
// and reopen the port as often as it likes. The line must outlive the server.
class SimPtyServer
{
public:
    // Silence that ends an unrecognised run of bytes.
    static constexpr int SilenceMs = 5;

    explicit SimPtyServer(SimLine &line);
    ~SimPtyServer();
    SimPtyServer(const SimPtyServer &) = delete;
    SimPtyServer &operator=(const SimPtyServer &) = delete;

    // Opens the pty pair and starts the thread. With linkPath, a symbolic link to
    // the slave is made there (a stale symbolic link is replaced, any other file is
    // left alone and fails the start). False with errorString() on failure.
    bool start(const QString &linkPath = QString());
    // Ends the thread (promptly, also in the middle of a reply delay), closes the
    // pty and removes the symbolic link. Safe to call more than once.
    void stop();

    bool isRunning() const { return m_thread.joinable(); }
    QString devicePath() const { return m_devicePath; } // e.g. /dev/pts/7
    QString linkPath() const { return m_linkPath; }
    QString errorString() const { return m_error; }

    // Length of the request frame at the start of buf: > 0 the full length,
    // 0 more bytes are needed to tell, -1 the function code has no known length.
    static int requestLength(const QByteArray &buf);

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void takeFrames(QByteArray &buf, bool silence, Clock::time_point arrived);
    void answer(const QByteArray &frame, Clock::time_point arrived);
    bool sleepUntil(Clock::time_point deadline);
    bool sleepUnlessStopped(int ms);
    bool writeAll(const char *data, int size);
    void closeAll();

    SimLine &m_line;
    int m_master = -1;
    int m_slave = -1;
    int m_wake[2] = {-1, -1}; // self-pipe: stop() writes, the thread polls it
    QString m_devicePath;
    QString m_linkPath;
    QString m_error;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
