#pragma once

#include "flash/OperationRecorder.h"
#include "common/ZartError.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

class IBusHost;

// The service record: every operation on a sensor, kept in a database (an
// SQLite file by default, or a PostgreSQL server shared by several benches).

// The kinds of operation kept. Their keys are what the database stores: they
// never change once written.
enum class RecordedKind : quint8 {
    Dump,
    Restore,
    RestoreDifferences,
    PassportRestore,
    CalibrationRestore,
    Compare,
    WriteWord,
    CorrectChecksum,
    SetAddress,
    Search,
    Inventory,
};
QString KindKey(RecordedKind kind);                         // "dump", "restore", ...
std::optional<RecordedKind> KindFromKey(const QString &key);
QString KindTitle(RecordedKind kind);                       // "Дамп", "Восстановление дампа", ...

enum class RecordedResult : quint8 { Success, Failed, Stopped };
QString ResultKey(RecordedResult result);                   // "success", "failed", "stopped"
QString ResultTitle(RecordedResult result);                 // "успешно", "ошибка", "остановлено"

// "read", "written", "as-found": what the database and the report's JSON store.
QString FileUseKey(FileUse use);
// "прочитан", "записан", "дамп до записи".
QString FileUseTitle(FileUse use);

struct RecordedFile
{
    QString path;       // absolute, as the operation named it
    FileUse use = FileUse::Read;
    QByteArray sha256;  // lower-case hex; empty when the file could not be read
};

struct RecordedWord
{
    quint16 address = 0; // register address, 0x1000 + n
    quint32 value = 0;
    std::optional<quint32> previous;
};

// Who ran the tool, where, and which tool: decided once at start-up.
struct RecordContext
{
    QString user;
    QString host;
    QString toolVersion;
};
// The user (USER, else USERNAME, else the account the process runs under on
// Unix), the machine's host name and the
// application's version.
RecordContext CurrentRecordContext();

struct OperationEntry
{
    qint64 id = 0;
    QDateTime started; // UTC
    QDateTime ended;   // UTC
    RecordContext context;
    QString port;      // the port's stable name
    int busAddress = 0;
    std::optional<quint32> serial;
    std::optional<quint32> firmware;
    RecordedKind kind = RecordedKind::Dump;
    RecordedResult result = RecordedResult::Success;
    QString message;   // the red line that ended a failed or stopped operation
    int wordsWritten = 0;
    QList<RecordedFile> files;
    QList<RecordedWord> words;
};

struct HistoryFilter
{
    std::optional<quint32> serial;
    QDateTime since; // invalid: from the first
    QDateTime until; // invalid: to the last
};

// A record that cannot be opened, read or written; the text says why.
class RecordError : public ZartError
{
public:
    using ZartError::ZartError;
};

class ServiceRecord
{
public:
    static constexpr int SchemaVersion = 1;

    // location: an SQLite file path, or postgresql://user@host:port/dbname
    // (record/RecordLocation.h tells the URL's forms). Creates the schema in a
    // new database; refuses a newer schema, a file that is no database (and
    // never writes to it), and a URL that carries a password. Throws RecordError.
    // An SQLite file is used in WAL mode; a writer waits up to 5 s for another.
    explicit ServiceRecord(const QString &location);
    ~ServiceRecord();
    ServiceRecord(const ServiceRecord &) = delete;
    ServiceRecord &operator=(const ServiceRecord &) = delete;

    // The file path, or the server's URL (never with a password).
    QString displayName() const;

    // Stores the entry, its files and its words in one transaction; sets entry.id.
    void add(OperationEntry &entry);
    // Stores the entries in one transaction, all or none; sets their ids.
    void add(QList<OperationEntry> &entries);
    // Operations that match (since and until both included), oldest first;
    // with details, their files and words.
    QList<OperationEntry> history(const HistoryFilter &filter, bool details = false) const;
    // The serial number of the latest operation at that port and bus address
    // that knew one, if any.
    std::optional<quint32> lastSensorAt(const QString &port, int busAddress) const;
    // When the last report for the sensor was made, if ever.
    std::optional<QDateTime> lastReport(quint32 serial) const;
    // Allocates a report number that no other report of this record has,
    // "<year of at>-<the report's id, six digits or more>", and records that
    // the sensor's report was made at `at`.
    QString newReportNumber(quint32 serial, const QDateTime &at);
    // Forgets a report whose files were never written, so that lastReport()
    // does not count it; its number is never given again.
    void withdrawReport(const QString &number);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The lower-case hex SHA-256 of the file, empty when it cannot be read.
QByteArray FileSha256(const QString &path);

// The history table: "Время\tДатчик\tОперация\tРезультат\tПользователь" and one
// line per entry (local time), as zart-cli history prints it.
QStringList HistoryLines(const QList<OperationEntry> &entries);
// The same as CSV (RFC 4180: comma-separated, fields with a comma, a quote or
// a line break quoted, CRLF line ends; UTF-8 without a byte order mark): the
// times as ISO 8601 with their offset (local time), then the sensor, the
// operation, the result, the user, the host, the tool's version, the port, the
// address, the firmware word, the words written, the message and the files
// (one line each: use, path, SHA-256).
QByteArray HistoryCsv(const QList<OperationEntry> &entries);

// One operation on a sensor, recorded: collects what the operation tells
// (IOperationRecorder), and when run() ends stores the entry with its result:
// success, stopped (EOperationStopped) or failed (any ZartError, with its text).
// The exception goes on to the caller. A record that cannot be written never
// stops the operation: one red line in the log says that it was not written
// and why. With no record (nullptr) nothing is stored. run() is called once;
// the start time is taken when the object is made.
class RecordedOperation : public IOperationRecorder
{
public:
    RecordedOperation(ServiceRecord *record, IBusHost &log, const RecordContext &context,
                      RecordedKind kind, const QString &port, int busAddress);
    // The record is asked for only when the operation ends: a record that is
    // opened then (and may fail to open) never delays the operation's start.
    // openRecord returns none when there is no record to write; it reports
    // its own failure.
    RecordedOperation(std::function<ServiceRecord *(OperationEntry &)> openRecord, IBusHost &log,
                      const RecordContext &context, RecordedKind kind, const QString &port,
                      int busAddress);

    // The bus address the operation ended at, when it is not the one it
    // started at (a search: the address found; an address assignment: the new one).
    void setBusAddress(int address) { m_entry.busAddress = address; }
    // An operation that returns normally but whose outcome is no success (a
    // comparison that found differences, a search that found nothing): kept
    // with this result and message when run() returns.
    void endedAs(RecordedResult result, const QString &message)
    {
        m_outcome = result;
        m_outcomeMessage = message;
    }

    void sensorSerial(quint32 serial) override;
    void firmwareVersion(quint32 version) override;
    void wordWritten(quint16 address, quint32 value, std::optional<quint32> previous) override;
    void fileUsed(const QString &path, FileUse use) override;

    template <class F>
    decltype(auto) run(F &&operation)
    {
        try {
            if constexpr (std::is_void_v<decltype(operation())>) {
                operation();
                finish(m_outcome, m_outcomeMessage);
            } else {
                decltype(auto) result = operation();
                finish(m_outcome, m_outcomeMessage);
                return result;
            }
        } catch (const ZartError &e) {
            finishFailed(e);
            throw;
        }
    }

    const OperationEntry &entry() const { return m_entry; }

private:
    void finish(RecordedResult result, const QString &message);
    void finishFailed(const ZartError &e);

    ServiceRecord *m_record;
    std::function<ServiceRecord *(OperationEntry &)> m_openRecord;
    IBusHost &m_log;
    OperationEntry m_entry;
    RecordedResult m_outcome = RecordedResult::Success;
    QString m_outcomeMessage;
};
