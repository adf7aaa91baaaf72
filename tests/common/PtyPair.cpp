#include "PtyPair.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    termios tio {};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPair::peerWrite(const QByteArray &bytes)
{
    if (m_master < 0)
        return false;
    qsizetype done = 0;
    QDeadlineTimer deadline(5000);
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        pollfd pfd {m_master, POLLOUT, 0};
        ::poll(&pfd, 1, 20);
    }
    return true;
}

QByteArray PtyPair::peerRead(qint32 count, int timeoutMs)
{
    QByteArray out;
    if (m_master < 0)
        return out;
    QDeadlineTimer deadline(timeoutMs);
    char buf[4096];
    while (out.size() < count) {
        const ssize_t n = ::read(m_master, buf, size_t(qMin<qint64>(sizeof buf, count - out.size())));
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // EIO: no slave is open at the moment; wait like for silence.
            if (deadline.hasExpired())
                break;
            QThread::msleep(qMin<qint64>(5, deadline.remainingTime()));
            continue;
        }
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            break;
        pollfd pfd {m_master, POLLIN, 0};
        ::poll(&pfd, 1, int(qMin<qint64>(left, 50)));
    }
    return out;
}

QByteArray PtyPair::peerReadAvailable()
{
    QByteArray out;
    char buf[4096];
    for (ssize_t n; m_master >= 0 && (n = ::read(m_master, buf, sizeof buf)) > 0;)
        out.append(buf, n);
    return out;
}

bool PtyPair::waitForPendingInput(qint64 count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    for (int n = 0; m_slave >= 0 && ::ioctl(m_slave, FIONREAD, &n) == 0; QThread::msleep(1)) {
        if (n >= count)
            return true;
        if (deadline.hasExpired())
            break;
    }
    return false;
}

void PtyPair::closeMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

qint32 PtyPair::lineSpeed() const
{
    static constexpr std::pair<speed_t, qint32> Speeds[] = {
        {B110, 110},     {B300, 300},     {B600, 600},     {B1200, 1200},     {B2400, 2400},
        {B4800, 4800},   {B9600, 9600},   {B19200, 19200}, {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}};
    termios tio {};
    if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0)
        return 0;
    for (const auto &[code, rate] : Speeds) {
        if (::cfgetospeed(&tio) == code)
            return rate;
    }
    return 0;
}
