#pragma once

#include "modbus/LineStatistics.h"
#include "serial/SerialLink.h"
#include "common/ZartError.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// Colours of the console log lines.
enum LogKind : quint8 { LogInfo = 0, LogSent = 1, LogReceived = 2, LogError = 3 };

// What the transaction engine needs from whoever runs it (the main window,
// the command-line front end, a test): the console log, the bus address and
// the busy cursor.
class IBusHost
{
public:
    virtual ~IBusHost() = default;
    virtual void Log(const QString &text, quint8 kind) = 0;
    virtual int busAddress() const = 0;         // 1..247
    virtual void setBusy(bool busy) { Q_UNUSED(busy); } // hourglass on / arrow
};

// Shows the host's busy cursor for the lifetime of the object and puts the arrow
// back however the scope is left.
class BusyScope
{
public:
    explicit BusyScope(IBusHost &host) : m_host(host) { m_host.setBusy(true); }
    ~BusyScope() { m_host.setBusy(false); }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    IBusHost &m_host;
};

// What made an exchange fail, told apart without reading the failure's text:
// a long operation repeats only the failures a noisy line explains (a reply
// that did not come, came damaged or came incomplete), never an exception reply
// of the sensor or a port failure.
enum class TransactFailure : quint8 {
    None,       // the last exchange succeeded
    Timeout,    // no complete read within the reply timeout
    Incomplete, // bytes read that are no whole reply
    Crc,        // the reply's CRC is wrong
    Length,     // the reply's length or byte count is wrong
    Exception,  // a Modbus exception reply
    Port,       // the link failed (SerialLinkError) or the read could not be started
    Other,      // any other broken rule (address, function, sub-function, ...)
};

// Whether a long operation may repeat an exchange that failed this way.
bool IsRepeatableFailure(TransactFailure failure);

struct ReplyFailure
{
    QString text;
    TransactFailure kind = TransactFailure::Other;
};

// The reply rules as a pure function: the received frame, the bus address and the
// request PDU (read back for function 4; null when unknown, which skips the
// register-quantity rule). Returns the failure text of the first rule broken, or
// nothing when the reply is good. A reply whose PDU would not fit ReplyBuf
// (more than ModbusMaster::BufSize bytes) fails with "Неверная длина пакета".
std::optional<QString> CheckReplyRules(const quint8 *rx, qint32 n, int busAddress,
                                       const quint8 *requestPdu);
// The same rules with the kind of the failure.
std::optional<ReplyFailure> CheckReplyFailure(const quint8 *rx, qint32 n, int busAddress,
                                              const quint8 *requestPdu);

// Text of a Modbus exception code.
QString ExceptionText(quint8 code);

// The outcome the line statistics count for an exchange that ended thus.
ExchangeOutcome OutcomeOf(TransactFailure failure);

// Request/reply exchange with validation on one link.
class ModbusMaster
{
public:
    static constexpr int BufSize = 1024;

    ModbusMaster(SerialLink &port, IBusHost &host);

    // Frames RequestBuf's PDU with the bus address (0 when noReply) and the CRC,
    // sends it, receives and validates the reply into ReplyBuf/ReplyLen.
    // Every failure is logged in red and thrown as ZartError (a port failure
    // keeps its class, SerialLinkError). A broadcast whose write could not start
    // fails with "Ошибка передачи", one that did not finish in time with
    // "Таймаут". The busy cursor is on for the whole call.
    // A pdu that is not RequestBuf itself is copied into it first, as the
    // reply check reads the request back from there.
    void Transact(const quint8 *pdu, qint32 pduLen, qint32 timeoutMs, bool noReply,
                  bool logTraffic);
    // The quiet variant used by the bus search: never throws; ReplyLen is 0 on failure.
    // Returns a port failure that left the link closed (the port cannot be
    // opened, or its device has gone), unlogged; nothing otherwise. LastFailure
    // tells how it went, as after Transact.
    std::optional<SerialLinkError> Probe(const quint8 *pdu, qint32 pduLen, qint32 timeoutMs);
    // Validates the link's RxBuf/RxCount, fills ReplyBuf/ReplyLen; a broken rule is
    // logged once in red and thrown.
    void CheckReply();

    SerialLink &port() { return m_port; }
    IBusHost &host() { return m_host; }

    // Where every exchange (Transact and Probe) is counted with its outcome and
    // its reply latency; none (the default): nothing is counted. The statistics
    // belong to whoever owns the engine and must outlive the setting.
    void setStatistics(LineStatistics *statistics) { m_statistics = statistics; }
    LineStatistics *statistics() const { return m_statistics; }
    // A long operation sends the request that failed again: counted as a repeat.
    void noteRepeat();

    std::array<quint8, BufSize> RequestBuf{};
    qint32 RequestLen = 0;
    std::array<quint8, BufSize> ReplyBuf{};
    qint32 ReplyLen = 0;
    // The kind of the last Transact's failure; None after a good exchange.
    TransactFailure LastFailure = TransactFailure::None;
    // While set, the red lines of a failure go here instead of the log: a
    // caller that may handle the failure itself (a refused block read) logs
    // them, or not, once it knows.
    QStringList *HeldFailureLines = nullptr;

private:
    void logFailure(const QString &text);
    quint8 requestAddress() const;
    void keepRequest(const quint8 *pdu, qint32 pduLen);
    qint32 receivedCount() const;
    QString receivedHexLine() const;
    void countExchange(TransactFailure failure) noexcept;

    SerialLink &m_port;
    IBusHost &m_host;
    LineStatistics *m_statistics = nullptr;
};
