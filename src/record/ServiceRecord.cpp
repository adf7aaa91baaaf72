#include "record/ServiceRecord.h"

#include "record/RecordLocation.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

// The record's tables, the same for both databases (portable SQL; only the
// self-numbering key differs). Times are milliseconds since 1970 UTC; serial
// numbers and words are kept as BIGINT so that every quint32 fits. Values
// reach the database as bound parameters only.
//
//   schema_version (version)
//   operations (id, started, ended, user_name, host, tool_version, port,
//               bus_address, serial?, firmware?, kind, result, message,
//               words_written)
//   operation_files (operation_id, seq, path, file_use, sha256)
//   operation_words (operation_id, seq, address, value, previous?)
//   reports (id, serial, made, number)

namespace {

std::atomic<quint64> connectionCount{0};

const char *const SqliteHeader = "SQLite format 3";

QString reasonOf(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("неизвестная ошибка базы данных");
    return text.simplified();
}

std::optional<FileUse> fileUseFromKey(const QString &key)
{
    for (const FileUse use : {FileUse::Read, FileUse::Written, FileUse::AsFound})
        if (FileUseKey(use) == key)
            return use;
    return std::nullopt;
}

QVariant optionalValue(const std::optional<quint32> &v)
{
    return v ? QVariant(qlonglong(*v)) : QVariant();
}

std::optional<quint32> optionalOf(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return quint32(v.toLongLong());
}

// An empty text goes in as '' (the columns are NOT NULL), never as NULL.
QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QDateTime timeOf(const QVariant &v)
{
    return QDateTime::fromMSecsSinceEpoch(v.toLongLong(), Qt::UTC);
}

} // namespace

struct ServiceRecord::Impl
{
    RecordLocation location;
    QString connection;
    bool sqlite = true;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }

    // A statement prepared on this connection; throws `failure` + reason.
    QSqlQuery prepared(const QString &sql, const QString &failure) const
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw RecordError(failure + reasonOf(q.lastError()));
        return q;
    }
    static void exec(QSqlQuery &q, const QString &failure)
    {
        if (!q.exec())
            throw RecordError(failure + reasonOf(q.lastError()));
    }
    void execText(const QString &sql, const QString &failure) const
    {
        QSqlQuery q(db());
        if (!q.exec(sql))
            throw RecordError(failure + reasonOf(q.lastError()));
    }

    // A write transaction. SQLite takes the write lock at once (BEGIN
    // IMMEDIATE): a deferred one that read first could not wait for another
    // writer and would fail at once instead of within the busy timeout.
    void begin(const QString &failure) const
    {
        execText(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), failure);
    }
    void commit(const QString &failure) const { execText(QStringLiteral("COMMIT"), failure); }
    void rollback() const
    {
        QSqlQuery q(db());
        q.exec(QStringLiteral("ROLLBACK"));
    }

    // Runs body inside one write transaction; any failure rolls it back.
    template <class F> void transaction(const QString &failure, F &&body)
    {
        begin(failure);
        try {
            body();
            commit(failure);
        } catch (...) {
            rollback();
            throw;
        }
    }

    void open();
    void refuseForeignFile() const;
    std::optional<int> storedVersion(const QString &failure) const;
    bool databaseEmpty(const QString &failure) const;
    void createSchema(const QString &failure);
};

// An SQLite file that exists and is not empty must start with SQLite's own
// header: anything else is refused before SQLite is let near it, and is never
// written.
void ServiceRecord::Impl::refuseForeignFile() const
{
    QFile file(location.path);
    if (!file.exists() || QFileInfo(file).isDir() || file.size() == 0)
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw RecordError(QStringLiteral("Журнал обслуживания %1 не открыт: %2")
                              .arg(location.display, file.errorString()));
    const QByteArray header = file.read(100);
    if (!header.startsWith(QByteArray(SqliteHeader, 16)))
        throw RecordError(
            QStringLiteral("Журнал обслуживания %1 не открыт: файл не является базой данных SQLite")
                .arg(location.display));
    // A file cut short (a copy that did not finish) still reads at its start:
    // the header's page count, valid while its two change counters agree,
    // tells that pages are missing before any of them is needed.
    const auto be = [&header](int at, int bytes) {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | quint8(header[at + i]);
        return v;
    };
    if (header.size() == 100) {
        const quint32 pageSize = be(16, 2) == 1 ? 65536 : be(16, 2);
        const quint32 pages = be(28, 4);
        if (be(24, 4) == be(92, 4) && pages > 0 && qint64(pageSize) * pages > file.size())
            throw RecordError(
                QStringLiteral("Журнал обслуживания %1 не открыт: файл обрезан (%2 байт из %3)")
                    .arg(location.display)
                    .arg(file.size())
                    .arg(qint64(pageSize) * pages));
    }
}

std::optional<int> ServiceRecord::Impl::storedVersion(const QString &failure) const
{
    if (!db().tables().contains(QStringLiteral("schema_version")))
        return std::nullopt;
    QSqlQuery q = prepared(QStringLiteral("SELECT MAX(version) FROM schema_version"), failure);
    exec(q, failure);
    if (!q.next() || q.value(0).isNull())
        throw RecordError(failure + QStringLiteral("нет версии схемы"));
    return q.value(0).toInt();
}

bool ServiceRecord::Impl::databaseEmpty(const QString &failure) const
{
    if (sqlite) {
        // A real read of the file's first page: a file SQLite cannot read
        // fails here, before anything is written to it.
        QSqlQuery q = prepared(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"), failure);
        exec(q, failure);
        return q.next() && q.value(0).toLongLong() == 0;
    }
    return db().tables().isEmpty();
}

void ServiceRecord::Impl::createSchema(const QString &failure)
{
    const QString key = sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                               : QStringLiteral("BIGSERIAL PRIMARY KEY");
    const QStringList statements = {
        QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
        QStringLiteral(
            "CREATE TABLE operations ("
            "id %1, started BIGINT NOT NULL, ended BIGINT NOT NULL, "
            "user_name TEXT NOT NULL, host TEXT NOT NULL, tool_version TEXT NOT NULL, "
            "port TEXT NOT NULL, bus_address INTEGER NOT NULL, serial BIGINT, firmware BIGINT, "
            "kind TEXT NOT NULL, result TEXT NOT NULL, message TEXT NOT NULL, "
            "words_written INTEGER NOT NULL)")
            .arg(key),
        QStringLiteral(
            "CREATE TABLE operation_files ("
            "operation_id BIGINT NOT NULL REFERENCES operations (id), seq INTEGER NOT NULL, "
            "path TEXT NOT NULL, file_use TEXT NOT NULL, sha256 TEXT NOT NULL, "
            "PRIMARY KEY (operation_id, seq))"),
        QStringLiteral(
            "CREATE TABLE operation_words ("
            "operation_id BIGINT NOT NULL REFERENCES operations (id), seq INTEGER NOT NULL, "
            "address INTEGER NOT NULL, value BIGINT NOT NULL, previous BIGINT, "
            "PRIMARY KEY (operation_id, seq))"),
        QStringLiteral("CREATE TABLE reports (id %1, serial BIGINT NOT NULL, made BIGINT NOT NULL, "
                       "number TEXT UNIQUE)")
            .arg(key),
        QStringLiteral("CREATE INDEX operations_by_serial ON operations (serial, started)"),
        QStringLiteral("CREATE INDEX operations_by_time ON operations (started)"),
        QStringLiteral("CREATE INDEX reports_by_serial ON reports (serial, made)"),
    };
    transaction(failure, [&] {
        // Two tools opening a new record at once: the second finds the
        // schema made by the first once it has the lock.
        if (!sqlite)
            execText(QStringLiteral("SELECT pg_advisory_xact_lock(2026061501)"), failure);
        if (storedVersion(failure))
            return;
        if (!databaseEmpty(failure))
            throw RecordError(
                failure +
                QStringLiteral("база данных не пуста и не является журналом обслуживания"));
        for (const QString &sql : statements)
            execText(sql, failure);
        QSqlQuery q =
            prepared(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"), failure);
        q.addBindValue(SchemaVersion);
        exec(q, failure);
    });
}

void ServiceRecord::Impl::open()
{
    const QString failure =
        QStringLiteral("Журнал обслуживания %1 не открыт: ").arg(location.display);
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw RecordError(failure + QStringLiteral("нет драйвера Qt SQL %1").arg(driver));
    if (sqlite)
        refuseForeignFile();

    connection = QStringLiteral("zart-record-%1").arg(++connectionCount);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection);
    if (sqlite) {
        db.setDatabaseName(location.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        // No password is ever set here: libpq takes it from ~/.pgpass or
        // PGPASSWORD.
        db.setHostName(location.host);
        db.setPort(location.port);
        db.setUserName(location.user);
        db.setDatabaseName(location.database);
        db.setConnectOptions(location.options.join(u';'));
    }
    if (!db.open())
        throw RecordError(failure + reasonOf(db.lastError()));

    // Read first, write only once the file has shown itself a record (or
    // empty): a damaged or foreign file is refused as it is.
    std::optional<int> version;
    bool empty = false;
    if (sqlite) {
        empty = databaseEmpty(failure);
        if (!empty)
            version = storedVersion(failure);
    } else {
        version = storedVersion(failure);
        empty = !version && databaseEmpty(failure);
    }
    if (version && *version > SchemaVersion)
        throw RecordError(
            QStringLiteral("Журнал обслуживания создан более новой версией программы (схема %1)")
                .arg(*version));
    if (!version && !empty)
        throw RecordError(
            failure + QStringLiteral("база данных не пуста и не является журналом обслуживания"));

    if (sqlite) {
        // Readers never wait for a writer in WAL mode; a writer waits for
        // another at most the busy timeout.
        QSqlQuery mode(db);
        if (!mode.exec(QStringLiteral("PRAGMA journal_mode")) || !mode.next())
            throw RecordError(failure + reasonOf(mode.lastError()));
        if (mode.value(0).toString().compare(u"wal", Qt::CaseInsensitive) != 0) {
            mode.finish();
            if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next())
                throw RecordError(failure + reasonOf(mode.lastError()));
            if (mode.value(0).toString().compare(u"wal", Qt::CaseInsensitive) != 0)
                throw RecordError(
                    failure +
                    QStringLiteral("режим WAL не включён (%1)").arg(mode.value(0).toString()));
        }
    }
    if (!version)
        createSchema(failure);
}

ServiceRecord::ServiceRecord(const QString &location) : d(std::make_unique<Impl>())
{
    d->location = ParseRecordLocation(location);
    d->sqlite = !d->location.server;
    try {
        d->open();
    } catch (...) {
        if (!d->connection.isEmpty()) {
            d->db().close();
            QSqlDatabase::removeDatabase(d->connection);
        }
        throw;
    }
}

ServiceRecord::~ServiceRecord()
{
    {
        QSqlDatabase db = d->db();
        db.close();
    }
    QSqlDatabase::removeDatabase(d->connection);
}

QString ServiceRecord::displayName() const
{
    return d->location.display;
}

void ServiceRecord::add(OperationEntry &entry)
{
    QList<OperationEntry> one{entry};
    add(one);
    entry.id = one[0].id;
}

void ServiceRecord::add(QList<OperationEntry> &entries)
{
    const QString failure = QStringLiteral("Журнал обслуживания не записан: ");
    QList<qint64> ids;
    d->transaction(failure, [&] {
        QSqlQuery op = d->prepared(
            QStringLiteral(
                "INSERT INTO operations (started, ended, user_name, host, tool_version, port, "
                "bus_address, serial, firmware, kind, result, message, words_written) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"),
            failure);
        QSqlQuery f = d->prepared(
            QStringLiteral(
                "INSERT INTO operation_files (operation_id, seq, path, file_use, sha256) "
                "VALUES (?, ?, ?, ?, ?)"),
            failure);
        QSqlQuery w = d->prepared(
            QStringLiteral(
                "INSERT INTO operation_words (operation_id, seq, address, value, previous) "
                "VALUES (?, ?, ?, ?, ?)"),
            failure);
        for (const OperationEntry &entry : std::as_const(entries)) {
            op.addBindValue(entry.started.toMSecsSinceEpoch());
            op.addBindValue(entry.ended.toMSecsSinceEpoch());
            op.addBindValue(notNull(entry.context.user));
            op.addBindValue(notNull(entry.context.host));
            op.addBindValue(notNull(entry.context.toolVersion));
            op.addBindValue(notNull(entry.port));
            op.addBindValue(entry.busAddress);
            op.addBindValue(optionalValue(entry.serial));
            op.addBindValue(optionalValue(entry.firmware));
            op.addBindValue(KindKey(entry.kind));
            op.addBindValue(ResultKey(entry.result));
            op.addBindValue(notNull(entry.message));
            op.addBindValue(entry.wordsWritten);
            Impl::exec(op, failure);
            if (!op.next())
                throw RecordError(failure + reasonOf(op.lastError()));
            const qint64 id = op.value(0).toLongLong();
            op.finish();
            for (int i = 0; i < entry.files.size(); ++i) {
                const RecordedFile &file = entry.files[i];
                f.addBindValue(id);
                f.addBindValue(i);
                f.addBindValue(notNull(file.path));
                f.addBindValue(FileUseKey(file.use));
                f.addBindValue(notNull(QString::fromLatin1(file.sha256)));
                Impl::exec(f, failure);
            }
            for (int i = 0; i < entry.words.size(); ++i) {
                const RecordedWord &word = entry.words[i];
                w.addBindValue(id);
                w.addBindValue(i);
                w.addBindValue(int(word.address));
                w.addBindValue(qlonglong(word.value));
                w.addBindValue(optionalValue(word.previous));
                Impl::exec(w, failure);
            }
            ids << id;
        }
    });
    // The ids only once all of them are stored.
    for (qsizetype i = 0; i < entries.size(); ++i)
        entries[i].id = ids[i];
}

QList<OperationEntry> ServiceRecord::history(const HistoryFilter &filter, bool details) const
{
    const QString failure = QStringLiteral("Журнал обслуживания не прочитан: ");
    // The conditions are fixed texts; the values they compare with are bound.
    QStringList conditions;
    QVariantList values;
    if (filter.serial) {
        conditions << QStringLiteral("o.serial = ?");
        values << qlonglong(*filter.serial);
    }
    if (filter.since.isValid()) {
        conditions << QStringLiteral("o.started >= ?");
        values << filter.since.toMSecsSinceEpoch();
    }
    if (filter.until.isValid()) {
        conditions << QStringLiteral("o.started <= ?");
        values << filter.until.toMSecsSinceEpoch();
    }
    const QString where =
        conditions.isEmpty() ? QString()
                             : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    const auto bindAll = [&values](QSqlQuery &q) {
        for (const QVariant &v : values)
            q.addBindValue(v);
    };

    QList<OperationEntry> entries;
    QHash<qint64, qsizetype> indexOf;
    {
        QSqlQuery q = d->prepared(
            QStringLiteral(
                "SELECT o.id, o.started, o.ended, o.user_name, o.host, o.tool_version, o.port, "
                "o.bus_address, o.serial, o.firmware, o.kind, o.result, o.message, o.words_written "
                "FROM operations o") +
                where + QStringLiteral(" ORDER BY o.started, o.id"),
            failure);
        bindAll(q);
        Impl::exec(q, failure);
        while (q.next()) {
            OperationEntry e;
            e.id = q.value(0).toLongLong();
            e.started = timeOf(q.value(1));
            e.ended = timeOf(q.value(2));
            e.context = {q.value(3).toString(), q.value(4).toString(), q.value(5).toString()};
            e.port = q.value(6).toString();
            e.busAddress = q.value(7).toInt();
            e.serial = optionalOf(q.value(8));
            e.firmware = optionalOf(q.value(9));
            const auto kind = KindFromKey(q.value(10).toString());
            const QString resultKey = q.value(11).toString();
            const auto result = [&resultKey]() -> std::optional<RecordedResult> {
                for (const RecordedResult r :
                     {RecordedResult::Success, RecordedResult::Failed, RecordedResult::Stopped})
                    if (ResultKey(r) == resultKey)
                        return r;
                return std::nullopt;
            }();
            if (!kind || !result)
                throw RecordError(
                    failure +
                    QStringLiteral("неизвестная операция «%1» или результат «%2» (запись %3)")
                        .arg(q.value(10).toString(), resultKey)
                        .arg(e.id));
            e.kind = *kind;
            e.result = *result;
            e.message = q.value(12).toString();
            e.wordsWritten = q.value(13).toInt();
            if (details)
                indexOf.insert(e.id, entries.size());
            entries.append(std::move(e));
        }
        if (q.lastError().isValid())
            throw RecordError(failure + reasonOf(q.lastError()));
    }
    if (!details || entries.isEmpty())
        return entries;

    {
        QSqlQuery q = d->prepared(
            QStringLiteral("SELECT f.operation_id, f.path, f.file_use, f.sha256 "
                           "FROM operation_files f JOIN operations o ON o.id = f.operation_id") +
                where + QStringLiteral(" ORDER BY f.operation_id, f.seq"),
            failure);
        bindAll(q);
        Impl::exec(q, failure);
        while (q.next()) {
            const auto at = indexOf.constFind(q.value(0).toLongLong());
            const auto use = fileUseFromKey(q.value(2).toString());
            if (at == indexOf.cend() || !use)
                continue;
            entries[*at].files.append(
                {q.value(1).toString(), *use, q.value(3).toString().toLatin1()});
        }
    }
    {
        QSqlQuery q = d->prepared(
            QStringLiteral("SELECT w.operation_id, w.address, w.value, w.previous "
                           "FROM operation_words w JOIN operations o ON o.id = w.operation_id") +
                where + QStringLiteral(" ORDER BY w.operation_id, w.seq"),
            failure);
        bindAll(q);
        Impl::exec(q, failure);
        while (q.next()) {
            const auto at = indexOf.constFind(q.value(0).toLongLong());
            if (at == indexOf.cend())
                continue;
            entries[*at].words.append({quint16(q.value(1).toInt()),
                                       quint32(q.value(2).toLongLong()), optionalOf(q.value(3))});
        }
    }
    return entries;
}

std::optional<quint32> ServiceRecord::lastSensorAt(const QString &port, int busAddress) const
{
    const QString failure = QStringLiteral("Журнал обслуживания не прочитан: ");
    QSqlQuery q = d->prepared(QStringLiteral("SELECT serial FROM operations WHERE port = ? AND "
                                             "bus_address = ? AND serial IS NOT NULL "
                                             "ORDER BY started DESC, id DESC LIMIT 1"),
                              failure);
    q.addBindValue(port);
    q.addBindValue(busAddress);
    Impl::exec(q, failure);
    if (!q.next() || q.value(0).isNull())
        return std::nullopt;
    return quint32(q.value(0).toLongLong());
}

std::optional<QDateTime> ServiceRecord::lastReport(quint32 serial) const
{
    const QString failure = QStringLiteral("Журнал обслуживания не прочитан: ");
    QSqlQuery q =
        d->prepared(QStringLiteral("SELECT MAX(made) FROM reports WHERE serial = ?"), failure);
    q.addBindValue(qlonglong(serial));
    Impl::exec(q, failure);
    if (!q.next() || q.value(0).isNull())
        return std::nullopt;
    return timeOf(q.value(0));
}

QString ServiceRecord::newReportNumber(quint32 serial, const QDateTime &at)
{
    const QString failure = QStringLiteral("Номер отчёта не выделен: ");
    QString number;
    d->transaction(failure, [&] {
        QSqlQuery q = d->prepared(
            QStringLiteral("INSERT INTO reports (serial, made) VALUES (?, ?) RETURNING id"),
            failure);
        q.addBindValue(qlonglong(serial));
        q.addBindValue(at.toMSecsSinceEpoch());
        Impl::exec(q, failure);
        if (!q.next())
            throw RecordError(failure + reasonOf(q.lastError()));
        const qint64 id = q.value(0).toLongLong();
        q.finish();
        // The id is the record's own and never given twice: the number is
        // unique however many tools allocate at once.
        number = QStringLiteral("%1-%2")
                     .arg(at.date().year(), 4, 10, QLatin1Char('0'))
                     .arg(id, 6, 10, QLatin1Char('0'));
        QSqlQuery set =
            d->prepared(QStringLiteral("UPDATE reports SET number = ? WHERE id = ?"), failure);
        set.addBindValue(number);
        set.addBindValue(id);
        Impl::exec(set, failure);
    });
    return number;
}

void ServiceRecord::withdrawReport(const QString &number)
{
    const QString failure = QStringLiteral("Номер отчёта не отозван: ");
    d->transaction(failure, [&] {
        QSqlQuery q = d->prepared(QStringLiteral("DELETE FROM reports WHERE number = ?"), failure);
        q.addBindValue(number);
        Impl::exec(q, failure);
    });
}
