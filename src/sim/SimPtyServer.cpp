#include "sim/SimPtyServer.h"

#include "sim/SimLine.h"
#include "codec/Crc16.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int ReadChunk = 1024;
constexpr int MaxPending = 1024;   // bytes kept while no frame is recognised
constexpr int WriteStallMs = 1000; // a reply nobody drains is dropped after this
constexpr int HangupBackoffMs = 50;
constexpr int IdleMs = 1000;       // quiet line: drop a stale exclusive-open flag

bool crcOk(const char *data, int size)
{
    return size >= 4 && Crc16(reinterpret_cast<const quint8 *>(data), size) == 0;
}

int lengthAt(const char *p, int size)
{
    if (size < 2)
        return 0;
    switch (quint8(p[1])) {
    case 3:
    case 4:
    case 8:
        return 8;
    case 16:
        return size < 7 ? 0 : 9 + quint8(p[6]);
    case 43:
        return 7;
    default:
        return -1;
    }
}

// First offset >= from at which a whole known-length request with a good CRC sits.
int findFrame(const QByteArray &buf, int from)
{
    const int size = int(buf.size());
    for (int o = from; o + 4 <= size; ++o) {
        const int len = lengthAt(buf.constData() + o, size - o);
        if (len > 0 && o + len <= size && crcOk(buf.constData() + o, len))
            return o;
    }
    return -1;
}

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimPtyServer::SimPtyServer(SimLine &line) : m_line(line) {}

SimPtyServer::~SimPtyServer()
{
    stop();
}

int SimPtyServer::requestLength(const QByteArray &buf)
{
    return lengthAt(buf.constData(), int(buf.size()));
}

bool SimPtyServer::start(const QString &linkPath)
{
    if (isRunning()) {
        m_error = QStringLiteral("already running on %1").arg(m_devicePath);
        return false;
    }
    m_error.clear();
    m_devicePath.clear();
    m_linkPath.clear();

    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (openpty(&m_master, &m_slave, nullptr, &raw, nullptr) != 0) {
        m_error = errnoText("openpty");
        m_master = m_slave = -1;
        return false;
    }
    // Make sure the slave is raw whatever openpty made of the settings.
    termios t{};
    if (tcgetattr(m_slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    const char *name = ttyname(m_slave);
    if (!name) {
        m_error = errnoText("ttyname");
        closeAll();
        return false;
    }
    m_devicePath = QString::fromLocal8Bit(name);

    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = errnoText("pipe");
        closeAll();
        return false;
    }

    if (!linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath);
        struct stat st{};
        if (lstat(link.constData(), &st) == 0) {
            // Replace only a symbolic link (left behind by an earlier run);
            // a real file at that path is not ours to delete.
            if (!S_ISLNK(st.st_mode)) {
                m_error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
                closeAll();
                return false;
            }
            ::unlink(link.constData());
        }
        if (::symlink(name, link.constData()) != 0) {
            m_error = errnoText("symlink");
            closeAll();
            return false;
        }
        m_linkPath = linkPath;
    }

    m_stopping = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void SimPtyServer::stop()
{
    if (m_thread.joinable()) {
        m_stopping = true;
        const char b = 'q';
        [[maybe_unused]] ssize_t w = ::write(m_wake[1], &b, 1);
        m_thread.join();
    }
    closeAll();
}

void SimPtyServer::closeAll()
{
    if (!m_linkPath.isEmpty()) {
        // Remove the link only while it still points at our slave.
        const QByteArray link = QFile::encodeName(m_linkPath);
        char target[512];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QByteArray(target, int(n)) == QFile::encodeName(m_devicePath))
            ::unlink(link.constData());
        m_linkPath.clear();
    }
    for (int *fd : {&m_master, &m_slave, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_error.isEmpty())
        m_devicePath.clear(); // a failed start leaves no device behind
}

void SimPtyServer::run()
{
    QByteArray buf;
    char chunk[ReadChunk];
    Clock::time_point lastRead = Clock::now(); // when the bytes in buf arrived
    while (!m_stopping) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        // Mid-frame the silence ends the wait; otherwise bytes, stop() or idle time.
        const int r = ::poll(fds, 2, buf.isEmpty() ? IdleMs : SilenceMs);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (r == 0) {
            if (buf.isEmpty()) {
                // A port user that dies holding the slave in exclusive mode
                // (TIOCEXCL) would lock every later open out, since our own slave
                // descriptor keeps the terminal alive: lift the flag on a quiet line.
                ::ioctl(m_slave, TIOCNXCL);
                continue;
            }
            takeFrames(buf, true, lastRead);
            continue;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n > 0) {
                lastRead = Clock::now();
                buf.append(chunk, int(n));
                if (buf.size() > MaxPending)
                    buf.remove(0, buf.size() - MaxPending);
                takeFrames(buf, false, lastRead);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        // Hang-up or error on the master (the slave has no other holder): back
        // off instead of spinning on a descriptor that stays readable.
        if (!sleepUnlessStopped(HangupBackoffMs))
            break;
    }
}

void SimPtyServer::takeFrames(QByteArray &buf, bool silence, Clock::time_point arrived)
{
    while (!buf.isEmpty() && !m_stopping) {
        const int len = requestLength(buf);
        if (len > 0 && buf.size() >= len && crcOk(buf.constData(), len)) {
            const QByteArray frame = buf.left(len);
            buf.remove(0, len);
            answer(frame, arrived);
            continue;
        }
        // Nothing good at the start: a good frame further on means the bytes
        // before it are noise.
        const int at = findFrame(buf, 1);
        if (at > 0) {
            m_line.process(buf.left(at)); // only recorded, never answered
            buf.remove(0, at);
            continue;
        }
        if (!silence)
            return; // wait for the rest of the frame or for the line to go quiet
        // The line is quiet and no known frame is there: the sensor judges the
        // bytes as they are (an intact frame of an unknown function gets its
        // exception reply, anything else is only recorded).
        const QByteArray rest = buf;
        buf.clear();
        answer(rest, arrived);
    }
}

void SimPtyServer::answer(const QByteArray &frame, Clock::time_point arrived)
{
    const std::optional<SimReply> reply = m_line.process(frame);
    if (!reply || reply->frame.isEmpty())
        return;
    // The sensor's own delay, then the line's time for both frames: the reply
    // is written when its last byte would have reached the master.
    const auto due = arrived + std::chrono::milliseconds(qMax(0, reply->delayMs))
                     + std::chrono::microseconds(qMax<qint64>(0, reply->wireUs));
    if (!sleepUntil(due))
        return;
    const int size = int(reply->frame.size());
    const int first = (reply->firstBurst > 0 && reply->firstBurst < size) ? reply->firstBurst : size;
    if (!writeAll(reply->frame.constData(), first))
        return;
    if (first < size) {
        if (!sleepUnlessStopped(reply->gapMs))
            return;
        writeAll(reply->frame.constData() + first, size - first);
    }
}

bool SimPtyServer::sleepUnlessStopped(int ms)
{
    return sleepUntil(Clock::now() + std::chrono::milliseconds(ms));
}

bool SimPtyServer::sleepUntil(Clock::time_point deadline)
{
    while (!m_stopping) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        pollfd fd{m_wake[0], POLLIN, 0};
        const timespec ts{time_t(left / 1000000000), long(left % 1000000000)};
        const int r = ::ppoll(&fd, 1, &ts, nullptr);
        if (r > 0)
            return false;
        if (r < 0 && errno != EINTR)
            return !m_stopping;
    }
    return false;
}

bool SimPtyServer::writeAll(const char *data, int size)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(WriteStallMs);
    while (size > 0 && !m_stopping) {
        const ssize_t n = ::write(m_master, data, size_t(size));
        if (n > 0) {
            data += n;
            size -= int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false; // nobody drains the slave: drop the rest of the reply
        pollfd fds[2] = {{m_master, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, int(left)) > 0 && fds[1].revents)
            return false;
    }
    return size == 0;
}
