#include "SerialLink.h"

#include "PortAccess.h"

#include "PortNaming.h"
#include "QtSerialDevice.h"
#include "SerialDevice.h"
#include "codec/FrameCodec.h"


#include <cerrno>
#include <chrono>
#include <utility>

namespace {

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct SpeedText {
    const char *text;
    qint32 rate;
};

constexpr SpeedText Speeds[] = {
    {"110", 110},       {"300", 300},       {"600", 600},       {"1200", 1200},
    {"2400", 2400},     {"4800", 4800},     {"9600", 9600},     {"14400", 14400},
    {"19200", 19200},   {"38400", 38400},   {"56000", 56000},   {"57600", 57600},
    {"115200", 115200}, {"128000", 128000}, {"256000", 256000},
};

} // namespace

QString ComExceptionText(TComExceptions code)
{
    switch (code) {
    case TComExceptions::CE_OpenFailed: return QStringLiteral("Unable to open com port");
    case TComExceptions::CE_SetupComFailed: return QStringLiteral("SetupComm function failed");
    case TComExceptions::CE_SetStateFailed: return QStringLiteral("SetCommState function failed");
    case TComExceptions::CE_TimeoutsFailed: return QStringLiteral("SetCommTimeouts failed");
    case TComExceptions::CE_PurgeFailed: return QStringLiteral("PurgeComm function failed");
    case TComExceptions::CE_WriteFailed: return QStringLiteral("WriteFile function failed");
    case TComExceptions::CE_ReadFailed: return QStringLiteral("ReadFile function failed");
    case TComExceptions::CE_EscapeComFailed: return QStringLiteral("EscapeCommFunction function failed");
    }
    return {};
}

SerialLinkError::SerialLinkError(TComExceptions code, int winCode, const QString &baseText,
                   const QString &detail, const QString &devicePath)
    : ZartError(detail.isEmpty() ? composeText(baseText, winCode)
                                 : composeText(baseText, winCode) + QStringLiteral(": ") + detail),
      m_code(code),
      m_winCode(winCode),
      m_devicePath(devicePath)
{
}

QString SerialLinkError::composeText(const QString &baseText, int winCode)
{
    if (winCode > 0)
        return baseText + QStringLiteral(" (Error: %1)").arg(winCode);
    return baseText;
}

qint32 SerialLink::SpeedFromText(const QString &text)
{
    for (const SpeedText &speed : Speeds) {
        if (text.compare(QLatin1String(speed.text), Qt::CaseInsensitive) == 0)
            return speed.rate;
    }
    return 9600;
}

SerialLink::SerialLink(std::unique_ptr<ISerialDevice> device)
    : RxBuf(RxBufSize, 0), m_device(device ? std::move(device) : std::make_unique<QtSerialDevice>())
{
}

SerialLink::~SerialLink()
{
    try {
        close();
    } catch (...) {
        // Nothing can be done about a failing close on the way out.
    }
}

QString SerialLink::GetPortName() const
{
    return m_portName;
}

void SerialLink::SetPortName(const QString &name)
{
    if (name.isEmpty())
        return;
    const QString stable = PortNaming::stableLinkFor(PortNaming::devicePathForPortName(name));
    if (name == m_portName) {
        // The same port picked again: a link found now is the better one,
        // while an adapter that is away keeps the link it had.
        if (!stable.isEmpty())
            m_stablePath = stable;
        return;
    }
    m_portName = name;
    m_stablePath = stable;
    if (m_device->isOpen()) {
        close();
        open(); // a failure leaves the link closed, with the new name
    }
}

QString SerialLink::stablePathLine() const
{
    if (m_stablePath.isEmpty() || m_stablePath == PortNaming::devicePathForPortName(m_portName))
        return {};
    return QStringLiteral("Постоянное имя порта: %1").arg(m_stablePath);
}

void SerialLink::SetSpeed(const QString &text)
{
    const qint32 rate = SpeedFromText(text);
    if (rate == m_baud)
        return;
    m_baud = rate;
    if (m_device->isOpen() && !m_device->setBaudRate(rate))
        raise(TComExceptions::CE_SetStateFailed);
}

bool SerialLink::isOpen() const
{
    return m_device->isOpen();
}

bool SerialLink::IsDeviceGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

void SerialLink::dropIfGone()
{
    if (IsDeviceGone(m_device->lastError()))
        close();
}

void SerialLink::raise(TComExceptions code)
{
    const int error = m_device->lastError();
    // A device that has gone is let go of: the next exchange opens the port
    // again by its stable link or its name, so an adapter that comes back
    // works again.
    dropIfGone();
    throw SerialLinkError(code, error, ComExceptionText(code));
}

void SerialLink::open()
{
    if (m_device->isOpen())
        return;
    // By the stable link where the device has one: after a reconnection the
    // adapter is found behind it, whatever /dev/ttyUSB<n> it came back as.
    const QString path =
        m_stablePath.isEmpty() ? PortNaming::devicePathForPortName(m_portName) : m_stablePath;
    if (path.isEmpty()) // a COM number with no device
        raiseOpenFailed(m_portName, ENOENT);
    switch (m_device->open(path, m_baud)) {
    case ISerialDevice::OpenResult::Ok:
        return;
    case ISerialDevice::OpenResult::OpenFailed:
        raiseOpenFailed(path, m_device->lastError());
    case ISerialDevice::OpenResult::SetupFailed:
        raise(TComExceptions::CE_SetupComFailed);
    case ISerialDevice::OpenResult::StateFailed:
        raise(TComExceptions::CE_SetStateFailed);
    case ISerialDevice::OpenResult::TimeoutsFailed:
        raise(TComExceptions::CE_TimeoutsFailed);
    }
}

void SerialLink::raiseOpenFailed(const QString &port, int error)
{
    // A port held by another process is named as such, whatever number its
    // refusal left (a lock file gives none that fits).
    if (const std::optional<QString> busy = PortBusyFailure(port))
        throw SerialLinkError(TComExceptions::CE_OpenFailed, -1, *busy);
    // The system's reason as a clause: "permission denied", not "Permission denied."
    QString reason = error > 0 ? qt_error_string(error).trimmed() : QString();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    const TComExceptions code = TComExceptions::CE_OpenFailed;
    const QString detail = reason.isEmpty() ? port : QStringLiteral("%1: %2").arg(port, reason);
    throw SerialLinkError(code, error, ComExceptionText(code), detail, port);
}

void SerialLink::close()
{
    // Every exchange has finished (or been cancelled) by the time Send and
    // Receive return, so closing only has to drop what is still pending.
    m_device->close();
}

void SerialLink::Send(const quint8 *frame, int count)
{
    LastTiming = {};
    m_writeEndNs = -1;
    open();
    LinkStatus = Ok;
    m_sentCount = qMax(0, count);
    // Whatever arrived since the last exchange is stale.
    if (!m_device->purge())
        raise(TComExceptions::CE_PurgeFailed);
    switch (m_device->write(frame, qMax(0, count), WriteWaitMs)) {
    case ISerialDevice::WriteResult::Done:
        m_writeEndNs = steadyNs();
        break;
    case ISerialDevice::WriteResult::NotStarted:
        LinkStatus = StartFailed;
        dropIfGone();
        break;
    case ISerialDevice::WriteResult::TimedOut:
        LinkStatus = TimedOut;
        break;
    case ISerialDevice::WriteResult::Failed:
        raise(TComExceptions::CE_WriteFailed);
    }
}

void SerialLink::Receive()
{
    LinkStatus = Ok;
    RxCount = 0;
    LastTiming = {};
    // The reply is timed from the write of this exchange only.
    const qint64 writeEndNs = std::exchange(m_writeEndNs, -1);
    if (!m_device->isOpen()) {
        LinkStatus = StartFailed;
        return;
    }

    // A reply ends when SilenceMs pass after a byte without another one; that
    // end must come within ReplyTimeout of the start of Receive. With
    // FastReply it ends as soon as the bytes form a whole frame.
    constexpr qint64 NsPerMs = 1000000;
    const qint64 silenceNs = qint64(SilenceMs) * NsPerMs;
    const qint64 deadlineNs = qint64(qMax(0, ReplyTimeout)) * NsPerMs;
    const qint64 startNs = steadyNs();
    // The reply's timing, once it is known to count.
    const auto keepTiming = [&](qint64 firstNs, qint64 frameNs) {
        if (writeEndNs < 0)
            return;
        const qint64 before = startNs - writeEndNs; // from the write's end to this call
        LastTiming = {before + firstNs, frameNs >= 0 ? before + frameNs : -1};
    };

    qint32 count = 0;
    qint64 firstByteNs = -1;
    qint64 lastByteNs = -1;
    for (;;) {
        const qint32 n = m_device->read(RxBuf.data() + count, RxBufSize - count);
        if (n < 0)
            raise(TComExceptions::CE_ReadFailed);
        const qint64 now = steadyNs() - startNs;
        if (n > 0) {
            count += n;
            lastByteNs = now;
            if (firstByteNs < 0)
                firstByteNs = now;
            // Every read follows a wait that ended by the deadline, so a frame
            // that is whole now was whole in time. Bytes after it are left to
            // the purge before the next request.
            const qint32 frameLen = FastReply ? ReplyFrameLength(RxBuf.data(), count, m_sentCount) : 0;
            if (frameLen > 0 && count >= frameLen) {
                RxCount = frameLen;
                keepTiming(firstByteNs, now);
                return;
            }
        }
        const bool full = count >= RxBufSize;
        const bool silent = lastByteNs >= 0 && now - lastByteNs >= silenceNs;
        if (full || silent) {
            // The read ended at the last byte (full) or when the silence ran
            // out; either must lie within the reply timeout.
            const qint64 endNs = full ? lastByteNs : lastByteNs + silenceNs;
            if (endNs < deadlineNs) {
                RxCount = count;
                if (!IsFrameComplete())
                    LinkStatus = Incomplete;
                keepTiming(firstByteNs, LinkStatus == Ok ? lastByteNs : -1);
                return;
            }
            break;
        }
        if (now >= deadlineNs)
            break;
        const qint64 untilNs = lastByteNs >= 0 ? qMin(lastByteNs + silenceNs, deadlineNs) : deadlineNs;
        m_device->waitForBytes(std::chrono::nanoseconds(untilNs - now));
    }
    // Timed out: whatever the read had collected is dropped.
    RxCount = 0;
    LinkStatus = TimedOut;
}

void SerialLink::SetPower(bool on)
{
    if (on) {
        open(); // leaves DTR and RTS de-asserted
        if (!m_device->setDtr(false))
            raise(TComExceptions::CE_EscapeComFailed);
        if (!m_device->setRts(true))
            raise(TComExceptions::CE_EscapeComFailed);
    } else {
        // On a closed link the first call fails, as it should.
        if (!m_device->setDtr(true))
            raise(TComExceptions::CE_EscapeComFailed);
        if (!m_device->setRts(false))
            raise(TComExceptions::CE_EscapeComFailed);
        close();
    }
}

bool SerialLink::IsFrameComplete() const
{
    return ::IsFrameComplete(RxBuf.data(), RxCount);
}
