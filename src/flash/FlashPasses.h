#pragma once

#include "flash/FlashImage.h"
#include "flash/OperationRecorder.h"
#include "sensor/SensorCommands.h"
#include "sensor/SensorRequests.h"
#include "common/ZartError.h"

#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class IBusHost;
class ModbusMaster;

// The passes of the long flash operations, on one engine: a read pass over the
// whole flash, a write-and-verify pass over a list of words, and the steps that
// finish a write (the checksum correction, the address word). Every request of
// a long operation goes through FlashPasses::request, which applies the rule of
// the request's kind (RuleOf): whether a failure on the line may be repeated,
// and whether a stop asked for may end the operation before it.

// What the caller of a long operation provides: the gauge, the pending window
// events, the pause between requests, the questions, the stop and the retries.
class IOperationHost
{
public:
    virtual ~IOperationHost() = default;
    // The gauge, 0 to 100.
    virtual void progress(int percent) = 0;
    // Lets the user interface run what is pending (repaint, input).
    virtual void processEvents() = 0;
    // Waits ms milliseconds (called only with ms > 0).
    virtual void pause(int ms) = 0;
    // The same pause, ended early once stopRequested() says yes: taken when
    // the request that follows it would not be sent after a stop.
    virtual void pauseUnlessStopped(int ms) { pause(ms); }
    // A Yes/No question; true only for Yes.
    virtual bool ask(const QString &question) = 0;
    // Whether the user has asked to stop the operation.
    virtual bool stopRequested() { return false; }
    // How many times a request that failed on the line is repeated (0..MaxRetries).
    virtual int retries() const { return 0; }
    // The question asked when the sensor's serial number is not the file's, after
    // the restore's own question was answered Yes. The window asks it as any
    // other; the command line answers it apart from the first (--other-serial).
    virtual bool askOtherSerial(const QString &question) { return ask(question); }
    // The question of a dump restore about the dump's bus address, asked after
    // every word is written (zart-cli answers it apart: --keep-address).
    virtual bool askNewAddress(const QString &question) { return ask(question); }
    // Where the operation tells what it did (the service record); none: nobody
    // is told. Telling sends nothing to the sensor.
    virtual IOperationRecorder *recorder() { return nullptr; }
    // The folder whose history/ receives the sensor's flash as it was found,
    // read before a restore writes anything; empty: no such read, and the
    // restore sends only its own requests.
    virtual QString asFoundDir() const { return {}; }
    // Flash words read per request by the read passes (the dump, the
    // comparison, the as-found read, a restore's read-back), 1..MaxBlockWords;
    // 0 or 1: one word per request.
    virtual int blockWords() const { return 0; }
};

// A failure of a long operation, already reported in the log.
class EOperationFailed : public ZartError
{
public:
    using ZartError::ZartError;
};

// A long operation that the user stopped: logged, and still an EOperationFailed
// for callers that do not tell the two apart.
class EOperationStopped : public EOperationFailed
{
public:
    using EOperationFailed::EOperationFailed;
};

// The most repeats of one request the settings and the command line allow.
inline constexpr int MaxRetries = 10;

// The kinds of request a long operation sends.
enum class RequestKind : quint8 {
    Read,         // a flash word read: the dump, the comparison, a read-back
    WordWrite,    // a flash word write: writing the same value again is harmless
    AddressWrite, // the bus address word: the sensor takes the new address as it
                  // executes the write, so a repeat would go to an address it has left
    Checksum,     // the checksum read and correction once every word is verified
    SerialCheck,  // the serial number read before a restore writes
};

struct RequestRule
{
    bool repeatable; // a failure on the line (IsRepeatableFailure) is sent again
    bool stoppable;  // a stop asked for ends the operation before this request
};

// The one rule per kind. Once every word of a write is written and verified,
// the checksum correction and the address word run to their end whatever is
// asked meanwhile: a stop then would leave a sensor whose words are all right
// and whose checksum is stale.
constexpr RequestRule RuleOf(RequestKind kind)
{
    switch (kind) {
    case RequestKind::Read:
    case RequestKind::WordWrite:
    case RequestKind::SerialCheck:
        return {true, true};
    case RequestKind::Checksum:
        return {true, false};
    case RequestKind::AddressWrite:
        break;
    }
    return {false, false};
}

// One word of a write pass: its sensor address, the value it receives and the
// value its read-back must give (the same but where the sensor keeps only part
// of what was meant: the exposure words are written as their low byte and
// checked against the whole value).
struct PassWord
{
    quint16 address;
    quint32 value;
    quint32 expected;
};

// A write pass and its verify pass over the same words. The words are grouped
// into positions: a pause separates two words of a position, and after each
// position come the gauge (when gaugeLast > 0: (n + gaugeOffset) / gaugeLast of
// position n), the pending events and the pause.
struct WritePass
{
    QString writeTitle;  // logged before the writes
    QString verifyTitle; // logged before the read-back
    QList<QList<PassWord>> positions;
    int gaugeOffset = 0;
    int gaugeLast = 0;
};

// What the log says when the writes end early, so that the user can finish the job.
enum class WriteJob { Dump, Differences, Passport, Calibration };

class FlashPasses
{
public:
    FlashPasses(ModbusMaster &engine, IOperationHost &opHost, int pauseMs,
                const CommandTimeouts &timeouts);

    IBusHost &log();
    IOperationHost &host() { return m_opHost; }
    const CommandTimeouts &timeouts() const { return m_timeouts; }
    ModbusMaster &engine() { return m_engine; }

    // One request under its kind's rule: the stop check before it (stoppable
    // kinds), the exchange, and the repeats after the group pause, each logged as
    // "Повтор %d из %d: адрес 0x%.4X". A failed exchange (logged by the
    // transaction engine) leaves as EOperationFailed; a port failure is never
    // repeated. With refusal given, a refusal of the request (an exception
    // reply, a reply of the wrong length) is neither logged nor repeated: its
    // text goes to refusal and the call returns false.
    bool request(RequestKind kind, const RequestPdu &pdu, quint16 address, qint32 timeoutMs,
                 bool logTraffic = false, QString *refusal = nullptr);
    quint32 readWord(quint16 address, RequestKind kind = RequestKind::Read, bool logTraffic = false);

    // The pause before a request of kind next: cut short by a stop when the stop
    // would keep that request from being sent.
    void pauseBefore(RequestKind next);
    // Logs "Остановлено пользователем" in red and leaves as EOperationStopped
    // when a stop has been asked for.
    void stopIfRequested();
    // A question; a No that comes with a stop request stops the operation.
    bool ask(const QString &question);

    // Logs title, then reads the 1024 flash words, one or a block per request:
    // after each request the gauge at n / 1023 of its last word n, the pending
    // events and (but after the last) the pause.
    FlashImage readAll(const QString &title);

    // Writes and verifies the passes in order. A stop or a failure on the way
    // ends the operation with what a user needs to go on: the word address
    // where it ended, "Записано слов: N из M" and how to finish the job.
    void writeAndVerify(const QList<WritePass> &passes, WriteJob job);

    // After the writes: "Коррекция CRC...", the checksum read, word 0x3FE read
    // and copied into 0x3FF, with the traffic lines. A failure fails the
    // operation, and the log says that only the checksum is left.
    void correctChecksum();

    // The address word last of all: when the bus address differs from the whole
    // word, asks "Новый адрес - $%.2X. Записать?" and writes it, never repeated.
    // When the write fails on the line, the new and then the old address are
    // probed once each; the one that answers is passed to setAddress and named
    // in the log. A stop asked for before the question leaves the address as it is.
    void writeAddress(quint32 addressWord, const std::function<void(int)> &setAddress);

    // The end of a write: a stop asked for during the steps that run to their
    // end is reported now.
    void reportDeferredStop();

    int written() const { return m_written; }

    // The host's recorder, or none.
    IOperationRecorder *recorder() { return m_opHost.recorder(); }
    // What the sensor is known to hold, word by word, besides what this
    // operation reads itself: a comparison made before it.
    void knowFlash(const FlashImage &image);

private:
    // A flash word's write that has taken effect: told to the recorder with
    // the value it replaced where that is known.
    void wrote(quint16 address, quint32 value);

    // Reads count words from address on in one request into values; false when
    // the sensor refuses blocks: then "Датчик не читает блоками (...), чтение по
    // одному слову" is logged, the pause taken, and every later read of this
    // operation is one word.
    bool readBlock(quint16 address, int count, quint32 *values);

    [[noreturn]] void endWritesEarly(quint16 address, WriteJob job, bool verifying);
    bool probeAddress(int address, const std::function<void(int)> &setAddress);

    ModbusMaster &m_engine;
    IOperationHost &m_opHost;
    int m_pauseMs;
    CommandTimeouts m_timeouts;
    int m_blockWords; // words per read request; 0 or 1: one
    int m_written = 0;
    int m_total = 0;
    // Each flash word as last read or written by this operation; none before.
    std::array<std::optional<quint32>, FlashWords> m_known{};
};

// The line that tells how to finish a write that ended early at the given stage.
QString FinishHint(WriteJob job, bool verifying);
