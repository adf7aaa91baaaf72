#pragma once

#include "record/ServiceRecord.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

class IBusHost;
class SerialLink;
struct FlashComparison;

// The service record as the window and zart-cli keep it: where it lives, the
// record opened when the first operation ends, and each operation on a sensor
// made a RecordedOperation with the user, the port and the address filled in.

// The record's file in a data folder, where the dumps go.
inline constexpr char16_t RecordFileName[] = u"records.sqlite";

// The location given (an SQLite path or a postgresql:// URL), or, when none is
// given, records.sqlite in dataDir.
QString RecordLocationOr(const QString &given, const QString &dataDir);

// The port as the record names it: its stable link (/dev/serial/by-id/...)
// when it has one, else the device path it opens (COM3 on Windows).
QString RecordPortName(const SerialLink &link);

class RecordKeeper
{
public:
    explicit RecordKeeper(RecordContext context = CurrentRecordContext());
    ~RecordKeeper();
    RecordKeeper(const RecordKeeper &) = delete;
    RecordKeeper &operator=(const RecordKeeper &) = delete;

    // Where the record lives; empty: no record is kept. Another location
    // closes the record opened.
    void setLocation(const QString &location);
    const QString &location() const { return m_location; }
    const RecordContext &context() const { return m_context; }

    // The record, opened at the first call. None when no record is kept, or
    // when it cannot be opened: then one red line in log says why, and the
    // next call tries again (a server back, a file put right). A file that is
    // no record is never written.
    ServiceRecord *open(IBusHost &log);

    // One operation on the sensor at busAddress on link. The record is opened
    // when the operation ends (open()); the operation never waits for it.
    RecordedOperation operation(IBusHost &log, RecordedKind kind, const SerialLink &link,
                                int busAddress);

    // The operations that match, oldest first (with their files and words
    // when details). An SQLite file that does not exist yet has none, and is
    // not made by the reading. Throws RecordError (also when no record is kept).
    QList<OperationEntry> history(const HistoryFilter &filter, bool details = false);
    // Whether the record holds nothing yet because its file does not exist.
    bool fileMissing() const;

private:
    ServiceRecord &openOrThrow();
    // A word write or checksum correction that read no serial number gets the
    // sensor the record last met at its port and address.
    static void attributeSensor(OperationEntry &entry, ServiceRecord &record);

    RecordContext m_context;
    QString m_location;
    std::unique_ptr<ServiceRecord> m_record;
};

// What the front ends tell the record of the operations that return normally
// whatever their outcome.
// A bus search (SearchSensor's result): the address found; nothing found is
// kept as failed ("Ничего не найдено!"), a stop as stopped.
void TellSearchResult(RecordedOperation &operation, int found);
// A comparison of the sensor with the dump at path: the file read, and
// differences that count kept as failed ("Отличается слов: N").
void TellComparison(RecordedOperation &operation, const QString &path,
                    const FlashComparison &comparison);

// A date of a history filter: YYYY-MM-DD (the start of that day, local
// time), or an ISO 8601 date and time (local time unless it carries an offset
// or Z). None for any other text.
std::optional<QDateTime> ParseHistoryDate(const QString &text);

// The filter of the window's table: a serial number typed in hexadecimal
// (empty: every sensor) and the days from and to, both included (an invalid
// date leaves that end open). None when the serial number is not one to
// eight hexadecimal digits.
std::optional<HistoryFilter> HistoryFilterOf(const QString &serialText, const QDate &from,
                                             const QDate &to);
