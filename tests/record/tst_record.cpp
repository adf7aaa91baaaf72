#include "record/RecordLocation.h"
#include "record/ServiceRecord.h"

#include "common/PostgresCluster.h"
#include "common/RecordingBusHost.h"
#include "common/TestFiles.h"
#include "common/LogText.h"
#include "flash/FlashPasses.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <unistd.h>

namespace {

const QString Odd = QStringLiteral("Пётр \"Бригадир\" O'Neil; DROP TABLE operations; --");

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso) + u'Z', Qt::ISODateWithMs);
}

// The entries every store case starts from, added in this order (not the
// order of their times).
QList<OperationEntry> fixtureEntries()
{
    OperationEntry dump;
    dump.started = utc("2026-01-10T08:00:00.125");
    dump.ended = utc("2026-01-10T08:01:30.500");
    dump.context = {Odd, QStringLiteral("стенд-1"), QStringLiteral("1.0.0.1")};
    dump.port = QStringLiteral("/dev/ttyUSB0;\"x\"");
    dump.busAddress = 1;
    dump.serial = 0x0000ABCD;
    dump.firmware = 0x00000102;
    dump.files = {
        {QStringLiteral("/данные/дамп \"1\";,.dmp"), FileUse::Written, QByteArray(64, 'a')}};

    OperationEntry restore = dump;
    restore.started = utc("2026-02-01T09:00:00");
    restore.ended = utc("2026-02-01T09:05:00");
    restore.kind = RecordedKind::Restore;
    restore.result = RecordedResult::Failed;
    restore.message = QStringLiteral("Нет ответа от датчика; адрес \"1\"");
    restore.wordsWritten = 3;
    restore.files = {{QStringLiteral("/d/as-found.dmp"), FileUse::AsFound, QByteArray(64, 'b')},
                     {QStringLiteral("/d/old.dmp"), FileUse::Read, QByteArray()}};
    restore.words = {
        {0x1005, 0xFFFFFFFF, 0}, {0x1006, 7, std::nullopt}, {0x13FF, 0x80000000, 0xFFFFFFFF}};

    OperationEntry search;
    search.started = utc("2026-01-20T00:00:00");
    search.ended = utc("2026-01-20T00:00:10");
    search.context = {QString(), QString(), QString()};
    search.port = QStringLiteral("COM3");
    search.busAddress = 247;
    search.kind = RecordedKind::Search;
    search.result = RecordedResult::Stopped;
    search.message = QStringLiteral("Остановлено пользователем");

    OperationEntry word = dump;
    word.started = utc("2026-03-01T12:00:00");
    word.ended = utc("2026-03-01T12:00:01");
    word.serial = 0xFFFFFFFF;
    word.firmware.reset();
    word.kind = RecordedKind::WriteWord;
    word.wordsWritten = 1;
    word.files.clear();
    word.words = {{0x1010, 42, 41}};
    return {dump, restore, search, word};
}

// Every field of an entry as one text, for comparisons that show what differs.
QString describe(const OperationEntry &e)
{
    QStringList parts{e.started.toUTC().toString(Qt::ISODateWithMs),
                      e.ended.toUTC().toString(Qt::ISODateWithMs),
                      e.context.user,
                      e.context.host,
                      e.context.toolVersion,
                      e.port,
                      QString::number(e.busAddress),
                      e.serial ? QString::number(*e.serial) : QStringLiteral("-"),
                      e.firmware ? QString::number(*e.firmware) : QStringLiteral("-"),
                      KindKey(e.kind),
                      ResultKey(e.result),
                      e.message,
                      QString::number(e.wordsWritten)};
    for (const RecordedFile &f : e.files)
        parts << QStringLiteral("file %1 %2 %3")
                     .arg(f.path)
                     .arg(int(f.use))
                     .arg(QString::fromLatin1(f.sha256));
    for (const RecordedWord &w : e.words)
        parts << QStringLiteral("word %1 %2 %3")
                     .arg(w.address)
                     .arg(w.value)
                     .arg(w.previous ? QString::number(*w.previous) : QStringLiteral("-"));
    return parts.join(u'|');
}

QStringList describeAll(const QList<OperationEntry> &entries)
{
    QStringList out;
    for (const OperationEntry &e : entries)
        out << describe(e);
    return out;
}

QString failureOf(const std::function<void()> &f)
{
    return testfiles::failureOf(f);
}

// Runs SQL on a record file apart from ServiceRecord, as another program would.
void rawSql(const QString &file, const QStringList &statements)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &sql : statements)
            QVERIFY2(q.exec(sql), qPrintable(sql));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

} // namespace

class tst_record : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    std::unique_ptr<PostgresCluster> m_pg;
    QString m_pgSkipped;
    // Per backend: the record the store cases read, filled once.
    std::map<QString, QList<qint64>> m_filled;

    QString storeLocation(const QString &backend)
    {
        if (backend == u"sqlite")
            return m_tmp.filePath(QStringLiteral("store.sqlite"));
        if (backend == u"postgresql")
            return m_pg->url(QStringLiteral("store"));
        // The same database, its socket folder given as a parameter.
        return QStringLiteral("postgresql:///store?host=%1&port=%2&user=%3")
            .arg(QString::fromLatin1(QUrl::toPercentEncoding(m_pg->socketDir())),
                 QString::number(PostgresCluster::Port),
                 QString::fromLatin1(PostgresCluster::User));
    }
    QStringList backends() const
    {
        QStringList b{QStringLiteral("sqlite")};
        if (m_pg)
            b << QStringLiteral("postgresql") << QStringLiteral("postgresql ?host=");
        return b;
    }
    // The fixture's ids in the record of `backend`, added on first use.
    QList<qint64> filled(const QString &backend)
    {
        const QString key =
            backend.startsWith(u"postgresql") ? QStringLiteral("postgresql") : backend;
        auto it = m_filled.find(key);
        if (it == m_filled.end()) {
            ServiceRecord record(storeLocation(key));
            QList<OperationEntry> entries = fixtureEntries();
            record.add(entries);
            QList<qint64> ids;
            for (const OperationEntry &e : entries)
                ids << e.id;
            it = m_filled.emplace(key, ids).first;
        }
        return it->second;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        auto pg = std::make_unique<PostgresCluster>();
        QString why;
        if (pg->start(&why) && pg->createDatabase(QStringLiteral("store"), &why))
            m_pg = std::move(pg);
        else
            m_pgSkipped = why;
    }
    void cleanupTestCase() { m_pg.reset(); }
    // The PostgreSQL rows of the tables below run only with a cluster.
    void postgresqlCluster()
    {
        if (!m_pg)
            QSKIP(qPrintable(m_pgSkipped));
    }

    void locations_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("expected"); // host|port|user|database|options, or the failure
        const QString refusedPassword =
            QStringLiteral("Адрес журнала обслуживания не принят: пароль в адресе не принимается, "
                           "его берут из ~/.pgpass или PGPASSWORD");
        QTest::newRow("host and port") << "postgresql://svc@db.example:6432/zart"
                                       << "db.example|6432|svc|zart|connect_timeout=5";
        QTest::newRow("socket folder in the host")
            << "postgres://svc@%2Fvar%2Frun%2Fpostgresql:5433/zart"
            << "/var/run/postgresql|5433|svc|zart|connect_timeout=5";
        QTest::newRow("IPv6, defaults") << "postgresql://[::1]"
                                        << "::1|-1|||connect_timeout=5";
        QTest::newRow("parameters") << "postgresql:///zart?host=/tmp/"
                                       "pg%20x&port=5&user=%D0%B8&sslmode=require&connect_timeout=2"
                                    << "/tmp/pg x|5|и|zart|sslmode=require;connect_timeout=2";
        QTest::newRow("password in the user part")
            << "postgresql://svc:secret@db/zart" << refusedPassword;
        QTest::newRow("empty password") << "postgresql://svc:@db/zart" << refusedPassword;
        QTest::newRow("password parameter")
            << "postgresql://svc@db/zart?password=secret" << refusedPassword;
        QTest::newRow("keyword smuggled in a value")
            << "postgresql://db/zart?sslmode=disable%20password%3Dx"
            << "Адрес журнала обслуживания не принят: неверное значение sslmode=disable password=x";
        QTest::newRow("unknown parameter")
            << "postgresql://db/zart?options=-c%20x"
            << "Адрес журнала обслуживания не принят: неизвестный параметр «options»";
        QTest::newRow("bad port") << "postgresql://db:99999/zart"
                                  << "Адрес журнала обслуживания не принят: неверный порт «99999»";
        QTest::newRow("other scheme") << "mysql://db/zart"
                                      << "Адрес журнала обслуживания не принят: неизвестная схема "
                                         "«mysql», ожидается файл или postgresql://";
    }
    void locations()
    {
        QFETCH(QString, location);
        QFETCH(QString, expected);
        QString got;
        try {
            const RecordLocation loc = ParseRecordLocation(location);
            QVERIFY(loc.server);
            QCOMPARE(loc.display, location);
            got = QStringList{loc.host, QString::number(loc.port), loc.user, loc.database,
                              loc.options.join(u';')}
                      .join(u'|');
        } catch (const RecordError &e) {
            got = e.text();
            QVERIFY(!got.contains(u"secret"));
        }
        QCOMPARE(got, expected);
    }

    // The fixture read back through each filter, with and without details, on
    // every database at hand.
    void store_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("since");
        QTest::addColumn<QString>("until");
        QTest::addColumn<QList<int>>("expected"); // fixture indices, in order
        QTest::addColumn<bool>("details");
        struct Case
        {
            const char *name, *serial, *since, *until;
            QList<int> expected;
        };
        const QList<Case> cases = {
            {"all, oldest first", "", "", "", {0, 2, 1, 3}},
            {"one sensor", "0000ABCD", "", "", {0, 1}},
            {"the highest serial", "FFFFFFFF", "", "", {3}},
            {"no such sensor", "00000001", "", "", {}},
            {"since, included", "", "2026-01-20T00:00:00", "", {2, 1, 3}},
            {"until, included", "", "", "2026-01-20T00:00:00", {0, 2}},
            {"sensor and window",
             "0000ABCD",
             "2026-01-10T08:00:00.126",
             "2026-03-01T12:00:00",
             {1}},
        };
        for (const QString &backend : backends())
            for (const Case &c : cases)
                for (const bool details : {false, true})
                    QTest::addRow("%s, %s%s", qPrintable(backend), c.name,
                                  details ? ", details" : "")
                        << backend << c.serial << c.since << c.until << c.expected << details;
    }
    void store()
    {
        QFETCH(QString, backend);
        QFETCH(QString, serial);
        QFETCH(QString, since);
        QFETCH(QString, until);
        QFETCH(QList<int>, expected);
        QFETCH(bool, details);
        const QList<qint64> ids = filled(backend);
        HistoryFilter filter;
        if (!serial.isEmpty())
            filter.serial = serial.toUInt(nullptr, 16);
        filter.since = since.isEmpty() ? QDateTime() : utc(qPrintable(since));
        filter.until = until.isEmpty() ? QDateTime() : utc(qPrintable(until));

        ServiceRecord record(storeLocation(backend));
        const QList<OperationEntry> got = record.history(filter, details);
        QList<OperationEntry> want;
        QList<qint64> wantIds, gotIds;
        for (const int i : expected) {
            OperationEntry e = fixtureEntries()[i];
            if (!details) {
                e.files.clear();
                e.words.clear();
            }
            want << e;
            wantIds << ids[i];
        }
        for (const OperationEntry &e : got)
            gotIds << e.id;
        QCOMPARE(describeAll(got), describeAll(want));
        QCOMPARE(gotIds, wantIds);
        for (const OperationEntry &e : got)
            QVERIFY(e.started.toString(Qt::ISODateWithMs).endsWith(u'Z')); // UTC, not local
    }

    void reports_data()
    {
        QTest::addColumn<QString>("backend");
        for (const QString &backend : backends().mid(0, 2))
            QTest::newRow(qPrintable(backend)) << backend;
    }
    void reports()
    {
        QFETCH(QString, backend);
        ServiceRecord record(storeLocation(backend));
        const quint32 serial = backend == u"sqlite" ? 0x51 : 0x52;
        QVERIFY(!record.lastReport(serial));
        const QString first = record.newReportNumber(serial, utc("2026-05-01T10:00:00"));
        const QString second = record.newReportNumber(serial, utc("2027-04-01T10:00:00"));
        const QString other = record.newReportNumber(serial + 1, utc("2027-12-01T10:00:00"));
        QVERIFY2(QRegularExpression(QStringLiteral("^2026-\\d{6}$")).match(first).hasMatch(),
                 qPrintable(first));
        QVERIFY2(QRegularExpression(QStringLiteral("^2027-\\d{6}$")).match(second).hasMatch(),
                 qPrintable(second));
        QCOMPARE(QSet<QString>({first.mid(5), second.mid(5), other.mid(5)}).size(), 3);
        QCOMPARE(record.lastReport(serial).value_or(QDateTime()), utc("2027-04-01T10:00:00"));
    }

    // Records that must not be opened, and the files behind them left as they are.
    void refused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected"); // the failure's text, or its start ending in "…"
        QTest::newRow("newer schema")
            << "newer schema"
            << "Журнал обслуживания создан более новой версией программы (схема 2)";
        QTest::newRow("text file") << "text file"
                                   << "%1 не открыт: файл не является базой данных SQLite";
        QTest::newRow("damaged after the header") << "damaged"
                                                  << "%1 не открыт: …";
        QTest::newRow("cut short") << "cut short"
                                   << "%1 не открыт: файл обрезан …";
        QTest::newRow("another program's database")
            << "foreign"
            << "%1 не открыт: база данных не пуста и не является журналом обслуживания";
        QTest::newRow("folder where no file can be made")
            << "no folder"
            << "%1 не открыт: unable to open database file";
        QTest::newRow("read-only folder") << "read-only folder"
                                          << "%1 не открыт: unable to open database file";
        QTest::newRow("server down") << "server down"
                                     << "%1 не открыт: …";
    }
    void refused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QString file = dir.filePath(QStringLiteral("records.sqlite"));
        if (kind == u"newer schema" || kind == u"cut short") {
            {
                ServiceRecord made(file);
                OperationEntry e = fixtureEntries()[1];
                for (int i = 0; i < 50; ++i)
                    made.add(e);
            }
            if (kind == u"newer schema")
                rawSql(file, {QStringLiteral("UPDATE schema_version SET version = 2")});
            else
                QVERIFY(
                    testfiles::writeBytes(file, testfiles::readBytes(file).left(3 * 4096 + 100)));
        } else if (kind == u"text file") {
            QVERIFY(testfiles::writeBytes(file, QByteArray("Время;Датчик\n").repeated(400)));
        } else if (kind == u"damaged") {
            QVERIFY(testfiles::writeBytes(file, QByteArray("SQLite format 3\0", 16) +
                                                    QByteArray(8176, '\x5A')));
        } else if (kind == u"foreign") {
            rawSql(file, {QStringLiteral("CREATE TABLE parts (name TEXT)"),
                          QStringLiteral("INSERT INTO parts VALUES ('винт')")});
        } else if (kind == u"no folder") {
            // Not even root makes a file here.
            file = QStringLiteral("/proc/self/records.sqlite");
        } else if (kind == u"read-only folder") {
            if (::geteuid() == 0)
                QSKIP("permissions do not stop root (the folder where no file can be made stands "
                      "for it)");
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        } else if (kind == u"server down") {
            file = QStringLiteral("postgresql://zart@%1:5433/store")
                       .arg(QString::fromLatin1(
                           QUrl::toPercentEncoding(dir.filePath(QStringLiteral("no-server")))));
        }
        const QByteArray before = QFile::exists(file) ? testfiles::readBytes(file) : QByteArray();
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);

        const QString failure = failureOf([&] { ServiceRecord record(file); });
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const QString name = file.contains(u"://") ? file : QDir::toNativeSeparators(file);
        QString want = expected.contains(u"%1")
                           ? QStringLiteral("Журнал обслуживания %1").arg(name) + expected.mid(2)
                           : expected;
        if (want.endsWith(u'…')) {
            want.chop(1);
            QVERIFY2(failure.startsWith(want) && failure.size() > want.size() + 3,
                     qPrintable(failure));
        } else {
            QCOMPARE(failure, want);
        }
        if (!before.isEmpty()) {
            QCOMPARE(testfiles::readBytes(file), before);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), filesBefore);
        }
    }

    // What an operation's outcome stores, and what a record that cannot be
    // written does to it: nothing but one red line.
    void recordedOperation_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("stored"); // result key and message, or "" for nothing
        QTest::newRow("success") << "success" << false << "success|";
        QTest::newRow("stopped") << "stopped" << false << "stopped|Остановлено пользователем";
        QTest::newRow("failed") << "failed" << false << "failed|Нет ответа; «1»";
        QTest::newRow("success, disk full") << "success" << true << "";
        QTest::newRow("failed, disk full") << "failed" << true << "";
        QTest::newRow("no record") << "failed" << false << "none";
    }
    void recordedOperation()
    {
        QFETCH(QString, outcome);
        QFETCH(bool, full);
        QFETCH(QString, stored);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("records.sqlite"));
        const QString used = dir.filePath(QStringLiteral("used \"дамп\".dmp"));
        QVERIFY(testfiles::writeBytes(used, "abc"));
        auto record = std::make_unique<ServiceRecord>(file);
        testhost::RecordingHost log;
        const QDateTime before = QDateTime::currentDateTimeUtc();
        QString thrown;
        int returned = 0;
        {
            std::unique_ptr<testfiles::FileSizeLimit> limit;
            if (full)
                limit = std::make_unique<testfiles::FileSizeLimit>(1024);
            RecordedOperation op(stored == u"none" ? nullptr : record.get(), log,
                                 {Odd, QStringLiteral("h"), QStringLiteral("9")},
                                 RecordedKind::Restore, QStringLiteral("COM1"), 5);
            thrown = failureOf([&] {
                returned = op.run([&] {
                    op.sensorSerial(0x1234);
                    op.firmwareVersion(0x300);
                    op.fileUsed(used, FileUse::Read);
                    op.wordWritten(0x1001, 1, 0);
                    op.wordWritten(0x1002, 2, std::nullopt);
                    if (outcome == u"stopped")
                        throw EOperationStopped(QStringLiteral("Остановлено пользователем"));
                    if (outcome == u"failed")
                        throw ZartError(QStringLiteral("Нет ответа; «1»"));
                    return 7;
                });
            });
        }
        QCOMPARE(thrown,
                 outcome == u"success" ? QStringLiteral("<no failure>") : fixtureMessage(outcome));
        QCOMPARE(returned, outcome == u"success" ? 7 : 0);
        QCOMPARE(log.lines.size(), stored.isEmpty() ? 1 : 0);
        if (stored.isEmpty()) {
            QVERIFY2(log.lines[0].text.startsWith(u"Журнал обслуживания не записан: "),
                     qPrintable(log.lines[0].text));
            QCOMPARE(log.lines[0].mark, int(LogError));
        }
        // What the record holds, read by a new connection.
        record.reset();
        const QList<OperationEntry> got = ServiceRecord(file).history({}, true);
        if (stored.isEmpty() || stored == u"none") {
            QCOMPARE(got.size(), 0);
            return;
        }
        QCOMPARE(got.size(), 1);
        const OperationEntry &e = got[0];
        QCOMPARE(ResultKey(e.result) + u'|' + e.message, stored);
        QCOMPARE(e.kind, RecordedKind::Restore);
        QCOMPARE(e.context.user, Odd);
        QCOMPARE(e.port, QStringLiteral("COM1"));
        QCOMPARE(e.busAddress, 5);
        QVERIFY(e.serial == 0x1234u);
        QVERIFY(e.firmware == 0x300u);
        QCOMPARE(e.wordsWritten, 2);
        QCOMPARE(e.words.size(), 2);
        QVERIFY(!e.words[1].previous);
        QCOMPARE(e.files.size(), 1);
        QCOMPARE(e.files[0].path, used);
        // SHA-256 of "abc" (FIPS 180-2, appendix B.1).
        QCOMPARE(e.files[0].sha256,
                 QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QVERIFY(e.started >= before.addMSecs(-1) && e.started <= e.ended);
        QVERIFY(e.ended <= QDateTime::currentDateTimeUtc());
    }

    // A failed write leaves the record as it was, none of a batch stored, and
    // the record still takes the next.
    void fullDiskKeepsRecord()
    {
        const QString file = m_tmp.filePath(QStringLiteral("full.sqlite"));
        ServiceRecord record(file);
        QList<OperationEntry> entries = fixtureEntries();
        record.add(entries[0]);
        QString failure;
        {
            testfiles::FileSizeLimit limit(1024);
            QVERIFY(limit.active());
            QList<OperationEntry> batch = entries.mid(1, 2);
            failure = failureOf([&] { record.add(batch); });
        }
        QVERIFY2(failure.startsWith(u"Журнал обслуживания не записан: "), qPrintable(failure));
        record.add(entries[3]);
        QCOMPARE(describeAll(ServiceRecord(file).history({}, true)),
                 describeAll({entries[0], entries[3]}));
    }

    void texts()
    {
        QList<OperationEntry> entries = fixtureEntries();
        entries[0].started =
            QDateTime(QDate(2026, 1, 10), QTime(8, 0, 0, 125)).toUTC(); // 08:00 local
        const QStringList lines = HistoryLines(entries.mid(0, 3));
        QCOMPARE(lines.value(0),
                 QStringLiteral("Время\tДатчик\tОперация\tРезультат\tПользователь"));
        QCOMPARE(lines.value(1),
                 QStringLiteral("2026-01-10 08:00:00\t0000ABCD\tДамп\tуспешно\t") + Odd);
        QCOMPARE(lines.value(3).section(u'\t', 1),
                 QStringLiteral("\tПоиск датчиков\tостановлено\t"));

        const QString csv = QString::fromUtf8(HistoryCsv(entries.mid(0, 2)));
        const QStringList rows = csv.split(QStringLiteral("\r\n"));
        QCOMPARE(rows.size(), 4); // header, two entries, the empty rest after the last CRLF
        QCOMPARE(rows[3], QString());
        QCOMPARE(rows[0].count(u','), 13);
        const QString start = LogTimeText(entries[0].started.toLocalTime());
        QCOMPARE(rows[1].left(start.size() + 1), start + u',');
        QVERIFY2(
            rows[1].endsWith(
                QStringLiteral(",0000ABCD,Дамп,успешно,\"Пётр \"\"Бригадир\"\" O'Neil; DROP TABLE "
                               "operations; --\",стенд-1,1.0.0.1,\"/dev/ttyUSB0;\"\"x\"\"\",1,"
                               "00000102,0,,\"записан: /данные/дамп \"\"1\"\";,.dmp SHA-256 ") +
                QString(64, u'a') + u'"'),
            qPrintable(rows[1]));
        QVERIFY2(
            rows[2].endsWith(
                QStringLiteral(",3,\"Нет ответа от датчика; адрес \"\"1\"\"\",\"дамп до записи: "
                               "/d/as-found.dmp SHA-256 ") +
                QString(64, u'b') + QStringLiteral("\nпрочитан: /d/old.dmp SHA-256 —\"")),
            qPrintable(rows[2]));
    }

    void kindKeys()
    {
        QSet<QString> keys;
        for (int k = 0; k <= int(RecordedKind::Inventory); ++k) {
            const auto kind = RecordedKind(k);
            QVERIFY(KindFromKey(KindKey(kind)) == kind);
            QVERIFY(!KindTitle(kind).isEmpty());
            keys.insert(KindKey(kind));
        }
        QCOMPARE(keys.size(), int(RecordedKind::Inventory) + 1);
        QVERIFY(!KindFromKey(QStringLiteral("Dump")));
    }

    // Two tools writing to one file at once: every operation and every report
    // number of both is kept, and no number is given twice.
    void twoProcesses()
    {
        const QString file = m_tmp.filePath(QStringLiteral("shared.sqlite"));
        {
            ServiceRecord made(file);
        }
        const int n = 150;
        QProcess a, b;
        for (QProcess *p : {&a, &b}) {
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--add-operations"), file, QString::number(n),
                      p == &a ? QStringLiteral("A") : QStringLiteral("B")});
        }
        for (QProcess *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }
        const QStringList numbers =
            QString::fromLatin1(a.readAllStandardOutput() + b.readAllStandardOutput())
                .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(numbers.size(), 2 * n);
        QCOMPARE(QSet<QString>(numbers.cbegin(), numbers.cend()).size(), 2 * n);
        QMap<QString, int> perTool;
        for (const OperationEntry &e : ServiceRecord(file).history({}, true)) {
            QCOMPARE(e.words.size(), 64);
            ++perTool[e.message.left(1)];
        }
        QCOMPARE(perTool, (QMap<QString, int>{{QStringLiteral("A"), n}, {QStringLiteral("B"), n}}));
    }

private:
    static QString fixtureMessage(const QString &outcome)
    {
        return outcome == u"stopped" ? QStringLiteral("Остановлено пользователем")
                                     : QStringLiteral("Нет ответа; «1»");
    }
};

// The other tool of twoProcesses: adds n operations (each with 64 words) and
// allocates n report numbers, printing them.
static int addOperations(const QString &file, int n, const QString &tag)
{
    try {
        ServiceRecord record(file);
        for (int i = 0; i < n; ++i) {
            OperationEntry e;
            e.started = e.ended = QDateTime::currentDateTimeUtc();
            e.serial = quint32(i);
            e.message = tag + QString::number(i);
            for (int w = 0; w < 64; ++w)
                e.words.append({quint16(0x1000 + w), quint32(i), std::nullopt});
            record.add(e);
            std::printf("%s\n", qPrintable(record.newReportNumber(quint32(i), e.started)));
        }
    } catch (const ZartError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--add-operations")
        return addOperations(args[2], args[3].toInt(), args[4]);
    tst_record test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
