#include "QtSerialDevice.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/types.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#endif

namespace {

// Error number for a QSerialPort failure that left errno untouched
// (the checks QSerialPort makes itself, before any system call).
int errnoForPortError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError: return -1;
    case QSerialPort::DeviceNotFoundError: return ENOENT;
    case QSerialPort::PermissionError: return EACCES;
    case QSerialPort::OpenError: return EBUSY;
    case QSerialPort::NotOpenError: return EBADF;
    case QSerialPort::ResourceError: return EIO;
    case QSerialPort::UnsupportedOperationError: return ENOTTY;
    case QSerialPort::TimeoutError: return ETIMEDOUT;
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::UnknownError:
    default: return EIO;
    }
}

// A Unix tty drops DTR and RTS on its last close when HUPCL is set, and
// QSerialPort puts back, on close, the settings it found at opening. The
// power switch must keep the levels it set when the link closes (and when
// the program ends), so HUPCL is cleared on the device before QSerialPort
// opens it. Nothing is lost when that fails: the lines then drop on close.
void keepModemLinesOnClose(const QString &devicePath)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return; // QSerialPort's own opening will report why
    termios tio {};
    if (::tcgetattr(fd, &tio) == 0 && (tio.c_cflag & HUPCL)) {
        tio.c_cflag &= ~tcflag_t(HUPCL);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::close(fd);
#else
    Q_UNUSED(devicePath);
#endif
}

#ifdef Q_OS_LINUX
// A USB serial adapter hands received bytes on in batches: an FTDI one waits
// up to 16 ms (its latency timer) before it passes on a short reply. In
// low-latency mode the driver passes them on at once. Drivers without the
// mode, and ptys, refuse the request; the port then works as it is.
// switchedOn: the mode was switched on here (it was off before).
ISerialDevice::LowLatency askLowLatency(int fd, bool &switchedOn)
{
    switchedOn = false;
    serial_struct serial {};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return ISerialDevice::LowLatency::Refused;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return ISerialDevice::LowLatency::On;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return ISerialDevice::LowLatency::Refused;
    // A driver may take the call and keep the flag off.
    switchedOn = true;
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || !(serial.flags & ASYNC_LOW_LATENCY))
        return ISerialDevice::LowLatency::Refused;
    return ISerialDevice::LowLatency::On;
}

// The mode is ours only while the port is: the adapter goes back to the
// flags it had when the link found it (its latency timer to the driver's
// setting), for whatever uses it next.
void endLowLatency(int fd)
{
    serial_struct serial {};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0 || !(serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}
#endif

int msLeft(const QElapsedTimer &timer, int totalMs)
{
    return int(qMax<qint64>(0, totalMs - timer.elapsed()));
}

} // namespace

QtSerialDevice::QtSerialDevice() = default;

QtSerialDevice::~QtSerialDevice()
{
    close();
}

bool QtSerialDevice::isPtyPath(const QString &devicePath)
{
#ifdef Q_OS_UNIX
    const QString real = QFileInfo(devicePath).canonicalFilePath();
    if (real.isEmpty())
        return false;
#ifdef Q_OS_LINUX
    struct stat st {};
    if (::stat(QFile::encodeName(real).constData(), &st) == 0 && S_ISCHR(st.st_mode)) {
        // Unix98 pty slaves have the majors 136..143.
        const unsigned maj = major(st.st_rdev);
        if (maj >= 136 && maj <= 143)
            return true;
    }
#endif
    return real.startsWith(QLatin1String("/dev/pts/"));
#else
    Q_UNUSED(devicePath);
    return false;
#endif
}

void QtSerialDevice::beginCall()
{
    errno = 0;
}

void QtSerialDevice::recordFailure()
{
    const int sysErr = errno;
    const QSerialPort::SerialPortError error = m_port.error();
    if (error == QSerialPort::NotOpenError)
        m_lastError = EBADF;
    else
        m_lastError = sysErr > 0 ? sysErr : errnoForPortError(error);
    m_port.clearError();
}

ISerialDevice::OpenResult QtSerialDevice::open(const QString &devicePath, qint32 baudRate)
{
    if (m_port.isOpen())
        return OpenResult::Ok;

    m_isPty = isPtyPath(devicePath);
    m_gone = false;
    m_port.setPortName(devicePath);
    // QSerialPort applies these when it opens the device.
    m_port.setBaudRate(baudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::EvenParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // Bounds what the port holds between reads, as the driver's receive queue would.
    m_port.setReadBufferSize(InputQueueSize);
    m_port.clearError();
    if (!m_isPty)
        keepModemLinesOnClose(devicePath);

    beginCall();
    if (!m_port.open(QIODevice::ReadWrite)) {
        const bool unsupported = m_port.error() == QSerialPort::UnsupportedOperationError;
        recordFailure();
        if (!(unsupported && m_isPty))
            return OpenResult::OpenFailed;
        // A pty that refuses even parity: open it without.
        m_port.setParity(QSerialPort::NoParity);
        beginCall();
        if (!m_port.open(QIODevice::ReadWrite)) {
            recordFailure();
            return OpenResult::OpenFailed;
        }
    }

    // Opening a tty raises DTR and RTS; the link wants both de-asserted.
    if (!modemLine(true, false) || !modemLine(false, false)) {
        const int err = m_lastError;
        m_port.close();
        m_port.clearError();
        m_lastError = err;
        return OpenResult::StateFailed;
    }
#ifdef Q_OS_LINUX
    m_lowLatency = askLowLatency(int(m_port.handle()), m_lowLatencySet);
#endif
    return OpenResult::Ok;
}

void QtSerialDevice::close()
{
    if (!m_port.isOpen())
        return;
#ifdef Q_OS_LINUX
    if (m_lowLatencySet)
        endLowLatency(int(m_port.handle()));
#endif
    m_lowLatencySet = false;
    m_lowLatency = LowLatency::Unknown;
    // QSerialPort drops its pending output on close; what the driver holds is left alone.
    m_port.close();
    m_port.clearError();
    m_isPty = false;
    m_gone = false;
}

bool QtSerialDevice::isOpen() const
{
    return m_port.isOpen();
}

bool QtSerialDevice::setBaudRate(qint32 baudRate)
{
    beginCall();
    if (!m_port.isOpen()) {
        m_lastError = EBADF;
        return false;
    }
    if (!m_port.setBaudRate(baudRate)) {
        recordFailure();
        return false;
    }
    return true;
}

bool QtSerialDevice::purge()
{
    beginCall();
    if (!m_port.isOpen()) {
        m_lastError = EBADF;
        return false;
    }
    if (!m_port.clear(QSerialPort::AllDirections)) {
        recordFailure();
        return false;
    }
    return true;
}

ISerialDevice::WriteResult QtSerialDevice::write(const quint8 *data, qint32 count, int timeoutMs)
{
    beginCall();
    if (!m_port.isOpen()) {
        m_lastError = EBADF;
        return WriteResult::NotStarted;
    }
    if (count <= 0)
        return WriteResult::Done;
    if (m_port.write(reinterpret_cast<const char *>(data), count) != count) {
        recordFailure();
        m_port.clear(QSerialPort::Output);
        return WriteResult::NotStarted;
    }

    QElapsedTimer timer;
    timer.start();
    while (m_port.bytesToWrite() > 0) {
        const int left = msLeft(timer, timeoutMs);
        if (left <= 0)
            break;
        beginCall();
        if (!m_port.waitForBytesWritten(left)) {
            if (m_port.error() == QSerialPort::TimeoutError || m_port.error() == QSerialPort::NoError) {
                m_port.clearError();
                continue; // the loop looks at the time left
            }
            recordFailure();
            m_port.clear(QSerialPort::Output);
            return WriteResult::Failed;
        }
    }
    if (m_port.bytesToWrite() > 0) {
        // Cancel the rest of the frame.
        m_port.clear(QSerialPort::Output);
        m_port.clearError();
        return WriteResult::TimedOut;
    }
    return WriteResult::Done;
}

bool QtSerialDevice::waitForBytes(std::chrono::nanoseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    const qint64 totalNs = qMax<qint64>(0, timeout.count());
    const auto nsLeft = [&] { return qMax<qint64>(0, totalNs - timer.nsecsElapsed()); };
    const auto sitOut = [&] { std::this_thread::sleep_for(std::chrono::nanoseconds(nsLeft())); };

    if (!m_port.isOpen()) {
        m_lastError = EBADF;
        sitOut();
        return false;
    }
    if (m_port.bytesAvailable() > 0)
        return true;

#ifdef Q_OS_UNIX
    // QSerialPort's own waits count in whole milliseconds; the end of a reply
    // is timed here to the microsecond, on the descriptor itself.
    for (;;) {
        const qint64 left = nsLeft();
        pollfd fd {int(m_port.handle()), POLLIN, 0};
        const timespec limit {time_t(left / 1000000000), long(left % 1000000000)};
        const int ready = ::ppoll(&fd, 1, &limit, nullptr);
        if (ready == 0)
            return false;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            m_lastError = errno;
            sitOut();
            return false;
        }
        if (fd.revents & POLLIN) {
            // Bytes are waiting: QSerialPort takes them into its buffer.
            m_port.waitForReadyRead(0);
            m_port.clearError();
            if (m_port.bytesAvailable() > 0)
                return true;
        }
        if (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The device has gone (an unplugged adapter, a pty whose master
            // was closed): the descriptor would report at once from now on
            // and no byte can come. The read that follows reports it.
            m_gone = true;
            m_lastError = (fd.revents & POLLNVAL) ? EBADF : EIO;
            return true;
        }
        // Readable, yet nothing came: sit out the rest of the wait rather
        // than spin on a descriptor that keeps saying so.
        sitOut();
        return m_port.bytesAvailable() > 0;
    }
#else
    for (;;) {
        const int left = int((nsLeft() + 999999) / 1000000);
        if (left <= 0)
            return false;
        if (m_port.waitForReadyRead(left))
            return true;
        const QSerialPort::SerialPortError error = m_port.error();
        m_port.clearError();
        if (m_port.bytesAvailable() > 0)
            return true;
        if (error == QSerialPort::ResourceError) {
            // The device has gone (an unplugged adapter); the read reports it.
            m_gone = true;
            m_lastError = EIO;
            return true;
        }
        if (error != QSerialPort::TimeoutError && error != QSerialPort::NoError) {
            sitOut();
            return m_port.bytesAvailable() > 0;
        }
    }
#endif
}

qint32 QtSerialDevice::read(quint8 *buffer, qint32 maxCount)
{
    beginCall();
    if (!m_port.isOpen()) {
        m_lastError = EBADF;
        return -1;
    }
    if (maxCount <= 0)
        return 0;
    const qint64 n = m_port.read(reinterpret_cast<char *>(buffer), maxCount);
    if (n < 0) {
        recordFailure();
        return -1;
    }
    if (n == 0 && m_gone) {
        // What arrived before the device went has been read.
        m_lastError = EIO;
        return -1;
    }
    return qint32(n);
}

bool QtSerialDevice::modemLine(bool dtr, bool asserted)
{
    beginCall();
    if (!m_port.isOpen()) {
        m_lastError = EBADF;
        return false;
    }
    const bool ok = dtr ? m_port.setDataTerminalReady(asserted) : m_port.setRequestToSend(asserted);
    if (ok)
        return true;
    if (m_isPty && m_port.error() == QSerialPort::UnsupportedOperationError) {
        // A pty has no modem lines: nothing to switch, and the data path is fine.
        m_port.clearError();
        return true;
    }
    recordFailure();
    return false;
}

bool QtSerialDevice::setDtr(bool asserted)
{
    return modemLine(true, asserted);
}

bool QtSerialDevice::setRts(bool asserted)
{
    return modemLine(false, asserted);
}
