#include "modbus/ModbusMaster.h"

#include "codec/FrameCodec.h"
#include "serial/PortAccess.h"
#include "serial/SerialLink.h"

#include <algorithm>
#include <cstring>

namespace {

const quint8 *frameBytes(const QByteArray &frame)
{
    return reinterpret_cast<const quint8 *>(frame.constData());
}

} // namespace

bool IsRepeatableFailure(TransactFailure failure)
{
    switch (failure) {
    case TransactFailure::Timeout:
    case TransactFailure::Incomplete:
    case TransactFailure::Crc:
    case TransactFailure::Length:
        return true;
    case TransactFailure::None:
    case TransactFailure::Exception:
    case TransactFailure::Port:
    case TransactFailure::Other:
        break;
    }
    return false;
}

ExchangeOutcome OutcomeOf(TransactFailure failure)
{
    switch (failure) {
    case TransactFailure::None: return ExchangeOutcome::Success;
    case TransactFailure::Timeout: return ExchangeOutcome::Timeout;
    case TransactFailure::Incomplete: return ExchangeOutcome::Incomplete;
    case TransactFailure::Crc: return ExchangeOutcome::Crc;
    case TransactFailure::Length: return ExchangeOutcome::Length;
    case TransactFailure::Exception: return ExchangeOutcome::Exception;
    case TransactFailure::Port: return ExchangeOutcome::Port;
    case TransactFailure::Other: break;
    }
    return ExchangeOutcome::Other;
}

ModbusMaster::ModbusMaster(SerialLink &port, IBusHost &host) : m_port(port), m_host(host) {}

void ModbusMaster::noteRepeat()
{
    if (m_statistics)
        m_statistics->recordRepeat();
}

void ModbusMaster::countExchange(TransactFailure failure) noexcept
{
    if (!m_statistics)
        return;
    try {
        const SerialLink::ReplyTiming &timing = m_port.LastTiming;
        m_statistics->recordExchange(OutcomeOf(failure), timing.firstByteNs, timing.frameNs);
    } catch (...) {
        // Out of memory for a sample: the exchange itself is what matters.
    }
}

quint8 ModbusMaster::requestAddress() const
{
    return quint8(m_host.busAddress() & 0xFF);
}

void ModbusMaster::keepRequest(const quint8 *pdu, qint32 pduLen)
{
    // The commands build their PDU in RequestBuf itself; a PDU from elsewhere is
    // copied there, so that the reply is judged against the request really sent.
    if (pdu == nullptr || pdu == RequestBuf.data() || pduLen <= 0)
        return;
    std::memmove(RequestBuf.data(), pdu, size_t(std::min(pduLen, qint32(BufSize))));
}

void ModbusMaster::Transact(const quint8 *pdu, qint32 pduLen, qint32 timeoutMs, bool noReply,
                             bool logTraffic)
{
    BusyScope busy(m_host);
    // Until the exchange has got further, a failure is the link's.
    LastFailure = TransactFailure::Port;
    // Counted with the outcome LastFailure has however the call ends.
    struct Counted
    {
        ModbusMaster &engine;
        ~Counted() { engine.countExchange(engine.LastFailure); }
    } counted{*this};
    try {
        RequestLen = pduLen;
        keepRequest(pdu, pduLen);
        m_port.ReplyTimeout = timeoutMs;
        const QByteArray frame = BuildFrame(noReply ? 0 : requestAddress(), pdu, pduLen);

        // A request that did not go out shows up as the failure of the reply
        // wait; a broadcast has no reply, so its write is judged itself.
        m_port.Send(frameBytes(frame), int(frame.size()));
        if (logTraffic)
            m_host.Log(QStringLiteral("Послано: %1").arg(HexLine(frameBytes(frame), qint32(frame.size()))),
                       LogSent);
        if (noReply) {
            switch (m_port.LinkStatus) {
            case SerialLink::Ok:
                LastFailure = TransactFailure::None;
                return;
            case SerialLink::TimedOut:
                LastFailure = TransactFailure::Timeout;
                throw ZartError(QStringLiteral("Таймаут"));
            default:
                throw ZartError(QStringLiteral("Ошибка передачи"));
            }
        }

        m_port.Receive();
        switch (m_port.LinkStatus) {
        case SerialLink::Ok:
            if (logTraffic)
                m_host.Log(QStringLiteral("Принято: %1").arg(receivedHexLine()), LogReceived);
            CheckReply(); // records the kind of a broken rule
            LastFailure = TransactFailure::None;
            return;
        case SerialLink::TimedOut:
            LastFailure = TransactFailure::Timeout;
            throw ZartError(QStringLiteral("Таймаут"));
        case SerialLink::Incomplete:
            // Whatever arrived is shown even without traffic logging: it is the
            // only clue to what the sensor sent.
            m_host.Log(QStringLiteral("Принято: %1").arg(receivedHexLine()), LogReceived);
            LastFailure = TransactFailure::Incomplete;
            throw ZartError(QStringLiteral("Пакет не распознан"));
        case SerialLink::StartFailed:
        default:
            throw ZartError(QStringLiteral("Ошибка приема"));
        }
    } catch (const ZartError &e) {
        ReplyLen = 0;
        logFailure(e.text());
        if (const QString hint = PortAccessHint(e); !hint.isEmpty())
            logFailure(hint);
        throw; // a port failure keeps its class (SerialLinkError) for callers that look at it
    } catch (const std::exception &e) {
        // A failure from outside the tool's own classes (out of memory, for one)
        // still reaches the log and the caller with its text.
        const QString failure = QString::fromLocal8Bit(e.what());
        ReplyLen = 0;
        LastFailure = TransactFailure::Other;
        logFailure(failure);
        throw ZartError(failure);
    }
}

std::optional<SerialLinkError> ModbusMaster::Probe(const quint8 *pdu, qint32 pduLen, qint32 timeoutMs)
{
    // LastFailure tells the caller how the probe ended (two sensors on one
    // address garble their replies); the statistics count it as Transact's
    // exchanges are counted. Until the exchange has got further, a failure is
    // the link's.
    LastFailure = TransactFailure::Port;
    try {
        RequestLen = pduLen;
        keepRequest(pdu, pduLen);
        m_port.ReplyTimeout = timeoutMs;
        const QByteArray frame = BuildFrame(requestAddress(), pdu, pduLen);
        m_port.Send(frameBytes(frame), int(frame.size()));
        m_port.Receive();
        switch (m_port.LinkStatus) {
        case SerialLink::Ok:
            LastFailure = TransactFailure::Other; // until CheckReply says more
            CheckReply();                         // records the kind of a broken rule
            LastFailure = TransactFailure::None;
            break;
        case SerialLink::TimedOut:
            LastFailure = TransactFailure::Timeout;
            ReplyLen = 0;
            break;
        case SerialLink::Incomplete:
            LastFailure = TransactFailure::Incomplete;
            ReplyLen = 0;
            break;
        default:
            ReplyLen = 0;
            break;
        }
    } catch (const SerialLinkError &e) {
        ReplyLen = 0;
        LastFailure = TransactFailure::Port;
        countExchange(TransactFailure::Port);
        // The port cannot be opened, or its device has gone: no other
        // address can answer either.
        if (!m_port.isOpen())
            return e;
        return std::nullopt;
    } catch (const ZartError &) {
        // The search moves on to the next address; CheckReply has already
        // logged a broken rule and recorded its kind.
        ReplyLen = 0;
    } catch (const std::exception &) {
        ReplyLen = 0;
        LastFailure = TransactFailure::Other;
    }
    countExchange(LastFailure);
    return std::nullopt;
}

void ModbusMaster::CheckReply()
{
    const qint32 n = receivedCount();
    const quint8 *rx = m_port.RxBuf.data();

    // The reply PDU is the frame without its address byte and its two CRC
    // bytes; it is copied before the rules are tested, bounded by ReplyBuf.
    ReplyLen = std::clamp(n - 3, 0, qint32(BufSize));
    if (ReplyLen > 0)
        std::memcpy(ReplyBuf.data(), rx + 1, size_t(ReplyLen));

    if (const std::optional<ReplyFailure> failure =
            CheckReplyFailure(rx, n, m_host.busAddress(), RequestBuf.data())) {
        ReplyLen = 0;
        LastFailure = failure->kind;
        logFailure(failure->text);
        throw ZartError(failure->text);
    }
}

void ModbusMaster::logFailure(const QString &text)
{
    if (HeldFailureLines)
        HeldFailureLines->append(text);
    else
        m_host.Log(text, LogError);
}

qint32 ModbusMaster::receivedCount() const
{
    return std::clamp(m_port.RxCount, 0, qint32(m_port.RxBuf.size()));
}

QString ModbusMaster::receivedHexLine() const
{
    return HexLine(m_port.RxBuf.data(), receivedCount());
}
