#include "record/ServiceRecord.h"

#include "common/LogText.h"
#include "common/PostgresCluster.h"
#include "common/RecordingBusHost.h"
#include "common/TestFiles.h"
#include "flash/FlashPasses.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <map>
#include <tuple>
#include <memory>

namespace {

const QString Odd = QStringLiteral("Пётр \"Бригадир\" O'Neil; DROP TABLE operations; --");
using testfiles::failureOf;

QDateTime utc(const QString &iso)
{
    return QDateTime::fromString(iso + u'Z', Qt::ISODateWithMs);
}

OperationEntry entry(const char *start, RecordedKind kind, RecordedResult result,
                     std::optional<quint32> serial, const QString &message = {})
{
    OperationEntry e;
    e.started = utc(QString::fromLatin1(start));
    e.ended = e.started.addMSecs(90375);
    e.context = {Odd, QStringLiteral("стенд-1"), QStringLiteral("1.0.0.1")};
    e.port = QStringLiteral("/dev/ttyUSB0;\"x\"");
    e.busAddress = 1;
    std::tie(e.kind, e.result, e.serial, e.message) = std::tuple(kind, result, serial, message);
    return e;
}

// What every store case reads, added in this order (not the order of their times).
QList<OperationEntry> fixtureEntries()
{
    using K = RecordedKind;
    using R = RecordedResult;
    OperationEntry dump = entry("2026-01-10T08:00:00.125", K::Dump, R::Success, 0xABCD);
    dump.firmware = 0x102;
    dump.files = {
        {QStringLiteral("/данные/дамп \"1\";,.dmp"), FileUse::Written, QByteArray(64, 'a')}};
    OperationEntry restore = entry("2026-02-01T09:00:00", K::Restore, R::Failed, 0xABCD,
                                   QStringLiteral("Нет ответа от датчика; адрес \"1\""));
    restore.wordsWritten = 3;
    restore.files = {{QStringLiteral("/d/as-found.dmp"), FileUse::AsFound, QByteArray(64, 'b')},
                     {QStringLiteral("/d/old.dmp"), FileUse::Read, QByteArray()}};
    restore.words = {{0x1005, 0xFFFFFFFF, 0}, {0x1006, 7, std::nullopt}, {0x13FF, 1, 0xFFFFFFFF}};
    OperationEntry search = entry("2026-01-20T00:00:00", K::Search, R::Stopped, std::nullopt,
                                  QStringLiteral("Остановлено пользователем"));
    search.context = {};
    search.busAddress = 247;
    OperationEntry word = entry("2026-03-01T12:00:00", K::WriteWord, R::Success, 0xFFFFFFFF);
    word.wordsWritten = 1;
    word.words = {{0x1010, 42, 41}};
    return {dump, restore, search, word};
}

// Every field of each entry as one text, so that a comparison shows what differs.
QStringList describe(const QList<OperationEntry> &entries)
{
    const auto opt = [](const std::optional<quint32> &v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };
    QStringList out;
    for (const OperationEntry &e : entries) {
        QStringList p{e.started.toUTC().toString(Qt::ISODateWithMs),
                      e.ended.toUTC().toString(Qt::ISODateWithMs),
                      e.context.user,
                      e.context.host,
                      e.context.toolVersion,
                      e.port,
                      QString::number(e.busAddress),
                      opt(e.serial),
                      opt(e.firmware),
                      KindKey(e.kind),
                      ResultKey(e.result),
                      e.message,
                      QString::number(e.wordsWritten)};
        for (const RecordedFile &f : e.files)
            p << f.path << QString::number(int(f.use)) << QString::fromLatin1(f.sha256);
        for (const RecordedWord &w : e.words)
            p << QString::number(w.address) << QString::number(w.value) << opt(w.previous);
        out << p.join(u'|');
    }
    return out;
}

// Runs SQL on a record file apart from ServiceRecord, as another program would.
void rawSql(const QString &file, const QString &sql)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QVERIFY2(QSqlQuery(db).exec(sql), qPrintable(sql));
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
    std::map<QString, QList<qint64>> m_filled; // per database: the fixture's ids

    QString location(const QString &backend)
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
        if (!m_pg)
            return {QStringLiteral("sqlite")};
        return {QStringLiteral("sqlite"), QStringLiteral("postgresql"),
                QStringLiteral("postgresql ?host=")};
    }
    // The fixture's ids in the database of `backend`, added on first use, in one batch.
    QList<qint64> filled(const QString &backend)
    {
        const QString key =
            backend.startsWith(u"postgresql") ? QStringLiteral("postgresql") : backend;
        if (!m_filled.count(key)) {
            QList<OperationEntry> entries = fixtureEntries();
            ServiceRecord(location(key)).add(entries);
            for (const OperationEntry &e : entries)
                m_filled[key] << e.id;
        }
        return m_filled[key];
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        auto pg = std::make_unique<PostgresCluster>();
        if (pg->start(&m_pgSkipped) && pg->createDatabase(QStringLiteral("store"), &m_pgSkipped))
            m_pg = std::move(pg);
    }
    void cleanupTestCase() { m_pg.reset(); }
    // The PostgreSQL rows of the tables below run only with a cluster.
    void postgresqlCluster()
    {
        if (!m_pg)
            QSKIP(qPrintable(m_pgSkipped));
    }

    // The fixture read back through each filter, with and without details, on
    // every database at hand.
    void store_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("filter");      // serial|since|until
        QTest::addColumn<QList<int>>("expected"); // fixture indices, in order
        QTest::addColumn<bool>("details");
        const QList<std::tuple<const char *, const char *, QList<int>>> cases = {
            {"all, oldest first", "||", {0, 2, 1, 3}},
            {"one sensor", "0000ABCD||", {0, 1}},
            {"the highest serial", "FFFFFFFF||", {3}},
            {"no such sensor", "00000001||", {}},
            {"since, included", "|2026-01-20T00:00:00|", {2, 1, 3}},
            {"until, included", "||2026-01-20T00:00:00", {0, 2}},
            {"sensor and window", "0000ABCD|2026-01-10T08:00:00.126|2026-03-01T12:00:00", {1}},
        };
        for (const QString &backend : backends())
            for (const auto &[name, filter, expected] : cases)
                for (const bool details : {false, true})
                    QTest::addRow("%s, %s%s", qPrintable(backend), name, details ? ", details" : "")
                        << backend << filter << expected << details;
    }
    void store()
    {
        QFETCH(QString, backend);
        QFETCH(QString, filter);
        QFETCH(QList<int>, expected);
        QFETCH(bool, details);
        const QList<qint64> ids = filled(backend);
        const QStringList f = filter.split(u'|');
        HistoryFilter h{f[0].isEmpty() ? std::nullopt : std::optional(f[0].toUInt(nullptr, 16)),
                        f[1].isEmpty() ? QDateTime() : utc(f[1]),
                        f[2].isEmpty() ? QDateTime() : utc(f[2])};

        const QList<OperationEntry> got = ServiceRecord(location(backend)).history(h, details);
        QList<OperationEntry> want;
        QList<qint64> wantIds, gotIds;
        for (const int i : expected) {
            want << fixtureEntries()[i];
            if (!details)
                want.last().files.clear(), want.last().words.clear();
            wantIds << ids[i];
        }
        for (const OperationEntry &e : got) {
            gotIds << e.id;
            QVERIFY(e.started.toString(Qt::ISODateWithMs).endsWith(u'Z')); // UTC, not local
        }
        QCOMPARE(describe(got), describe(want));
        QCOMPARE(gotIds, wantIds);
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
        ServiceRecord record(location(backend));
        const quint32 serial = backend == u"sqlite" ? 0x51 : 0x52;
        QVERIFY(!record.lastReport(serial));
        const QString first =
            record.newReportNumber(serial, utc(QStringLiteral("2026-05-01T10:00:00")));
        const QString second =
            record.newReportNumber(serial, utc(QStringLiteral("2027-04-01T10:00:00")));
        const QString other =
            record.newReportNumber(serial + 1, utc(QStringLiteral("2028-01-01T10:00:00")));
        const QRegularExpression form(
            QStringLiteral("^(2026-\\d{6})\\|(2027-\\d{6})\\|2028-\\d{6}$"));
        QVERIFY2(form.match(first + u'|' + second + u'|' + other).hasMatch(),
                 qPrintable(first + second));
        QVERIFY(first.mid(5) < second.mid(5) && second.mid(5) < other.mid(5));
        QCOMPARE(record.lastReport(serial).value_or(QDateTime()),
                 utc(QStringLiteral("2027-04-01T10:00:00")));
    }

    // Records that are not opened, the files behind them left byte for byte.
    void refused_data()
    {
        QTest::addColumn<QString>("kind");     // what is made, or the location itself
        QTest::addColumn<QString>("expected"); // %1: the record's name; "…" ends a start
        const QString notOpened = QStringLiteral("Журнал обслуживания %1 не открыт: ");
        const QString notTaken = QStringLiteral("Адрес журнала обслуживания не принят: ");
        const QString password =
            notTaken +
            QStringLiteral("пароль в адресе не принимается, его берут из ~/.pgpass или PGPASSWORD");
        QTest::newRow("newer schema")
            << "newer schema"
            << "Журнал обслуживания создан более новой версией программы (схема 2)";
        QTest::newRow("text file")
            << "text file" << notOpened + QStringLiteral("файл не является базой данных SQLite");
        QTest::newRow("damaged after the header") << "damaged" << notOpened + QStringLiteral("…");
        QTest::newRow("cut short") << "cut short" << notOpened + QStringLiteral("файл обрезан …");
        QTest::newRow("another program's database")
            << "foreign"
            << notOpened +
                   QStringLiteral("база данных не пуста и не является журналом обслуживания");
        QTest::newRow("folder where not even root makes a file")
            << "/proc/self/records.sqlite"
            << notOpened + QStringLiteral("unable to open database file");
        QTest::newRow("server down") << "server down" << notOpened + QStringLiteral("…");
        QTest::newRow("password in the URL") << "postgresql://svc:secret@db/zart" << password;
        QTest::newRow("password parameter")
            << "postgresql://svc@db/zart?password=secret" << password;
        QTest::newRow("keyword smuggled in a value")
            << "postgresql://db/zart?sslmode=disable%20password%3Dx"
            << notTaken + QStringLiteral("неверное значение sslmode=disable password=x");
    }
    void refused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QString file = kind.startsWith(u'/') || kind.contains(u"://")
                           ? kind
                           : dir.filePath(QStringLiteral("records.sqlite"));
        if (kind == u"newer schema" || kind == u"cut short") {
            {
                QList<OperationEntry> many(50, fixtureEntries()[1]);
                ServiceRecord(file).add(many);
            }
            if (kind == u"newer schema")
                rawSql(file, QStringLiteral("UPDATE schema_version SET version = 2"));
            else
                QVERIFY(testfiles::writeBytes(file, testfiles::readBytes(file).left(12388)));
        } else if (kind == u"text file") {
            QVERIFY(testfiles::writeBytes(file, QByteArray("Время;Датчик\n").repeated(400)));
        } else if (kind == u"damaged") {
            QVERIFY(testfiles::writeBytes(file, QByteArray("SQLite format 3\0", 16) +
                                                    QByteArray(8176, 'Z')));
        } else if (kind == u"foreign") {
            rawSql(file, QStringLiteral("CREATE TABLE parts (name TEXT)"));
        } else if (kind == u"server down") {
            file = QStringLiteral("postgresql://zart@%1:5433/store")
                       .arg(QString::fromLatin1(QUrl::toPercentEncoding(dir.path())));
        }
        const QByteArray before = testfiles::readBytes(file);
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);

        const QString failure = failureOf([&] { ServiceRecord record(file); });
        QString want = QString(expected).replace(
            QStringLiteral("%1"), file.contains(u"://") ? file : QDir::toNativeSeparators(file));
        if (want.endsWith(u'…'))
            QVERIFY2(failure.startsWith(want.chopped(1)) && failure.size() > want.size() + 3,
                     qPrintable(failure));
        else
            QCOMPARE(failure, want);
        QVERIFY(!failure.contains(u"secret"));
        QCOMPARE(testfiles::readBytes(file), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), filesBefore);
    }

    // What an operation's outcome stores, and what a record that cannot be
    // written does to it: nothing but one red line.
    void recordedOperation_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("stored"); // result|message, "" for nothing
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
        const QString message = outcome == u"stopped" ? QStringLiteral("Остановлено пользователем")
                                                      : QStringLiteral("Нет ответа; «1»");
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
                        throw EOperationStopped(message);
                    if (outcome == u"failed")
                        throw ZartError(message);
                    return 7;
                });
            });
        }
        QCOMPARE(thrown, outcome == u"success" ? QStringLiteral("<no failure>") : message);
        QCOMPARE(returned, outcome == u"success" ? 7 : 0);
        QCOMPARE(log.lines.size(), stored.isEmpty() ? 1 : 0);
        if (stored.isEmpty()) {
            QVERIFY2(log.lines[0].text.startsWith(u"Журнал обслуживания не записан: "),
                     qPrintable(log.lines[0].text));
            QCOMPARE(log.lines[0].mark, int(LogError));
        }
        record.reset(); // read back by a new connection
        const QList<OperationEntry> got = ServiceRecord(file).history({}, true);
        QCOMPARE(got.size(), stored.isEmpty() || stored == u"none" ? 0 : 1);
        if (got.isEmpty())
            return;
        const OperationEntry &e = got[0];
        QCOMPARE(ResultKey(e.result) + u'|' + e.message, stored);
        QCOMPARE(
            QStringList({KindKey(e.kind), e.context.user, e.port, QString::number(e.busAddress)}),
            QStringList(
                {QStringLiteral("restore"), Odd, QStringLiteral("COM1"), QStringLiteral("5")}));
        QVERIFY(e.serial == 0x1234u && e.firmware == 0x300u);
        QCOMPARE(e.wordsWritten, 2);
        QCOMPARE(
            describe({e}).value(0).section(u'|', -6),
            QStringLiteral("4097|1|0|4098|2|-")); // the words, the second with no previous value
        QCOMPARE(e.files.size(), 1);
        QCOMPARE(e.files[0].path, used);
        // SHA-256 of "abc" (FIPS 180-2, appendix B.1).
        QCOMPARE(e.files[0].sha256,
                 QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QVERIFY(e.started >= before.addMSecs(-1) && e.started <= e.ended);
    }

    // A batch that cannot be written leaves none of it, and the record takes the next.
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
        QCOMPARE(describe(ServiceRecord(file).history({}, true)),
                 describe({entries[0], entries[3]}));
    }

    void texts()
    {
        QList<OperationEntry> entries = fixtureEntries();
        entries[0].started =
            QDateTime(QDate(2026, 1, 10), QTime(8, 0, 0, 125)).toUTC(); // 08:00 local
        const QStringList lines = HistoryLines(entries.mid(0, 3));
        QCOMPARE(lines, QStringList(
                            {QStringLiteral("Время\tДатчик\tОперация\tРезультат\tПользователь"),
                             QStringLiteral("2026-01-10 08:00:00\t0000ABCD\tДамп\tуспешно\t") + Odd,
                             lines.value(2),
                             lines.value(3).section(u'\t', 0, 0) +
                                 QStringLiteral("\t\tПоиск датчиков\tостановлено\t")}));

        const QStringList rows =
            QString::fromUtf8(HistoryCsv(entries.mid(0, 2))).split(QStringLiteral("\r\n"));
        QCOMPARE(rows.size(), 4); // the header, two entries, nothing after the last CRLF
        QCOMPARE(rows[0].count(u','), 13);
        QCOMPARE(rows[3], QString());
        const QString start = LogTimeText(entries[0].started.toLocalTime());
        QCOMPARE(rows[1].left(start.size() + 1), start + u',');
        const QString dump = QStringLiteral(",0000ABCD,Дамп,успешно,\"Пётр \"\"Бригадир\"\" "
                                            "O'Neil; DROP TABLE operations; --\",стенд-1,1.0.0.1,"
                                            "\"/dev/ttyUSB0;\"\"x\"\"\",1,00000102,0,,\"записан: "
                                            "/данные/дамп \"\"1\"\";,.dmp SHA-256 ");
        QVERIFY2(rows[1].endsWith(dump + QString(64, u'a') + u'"'), qPrintable(rows[1]));
        const QString restore =
            QStringLiteral(",3,\"Нет ответа от датчика; адрес \"\"1\"\"\",\"дамп до записи: "
                           "/d/as-found.dmp SHA-256 %1\nпрочитан: /d/old.dmp SHA-256 —\"");
        QVERIFY2(rows[2].endsWith(restore.arg(QString(64, u'b'))), qPrintable(rows[2]));
    }

#ifdef Q_OS_UNIX
    // Started by a service, cron or in a container, without USER and USERNAME.
    void userWithoutEnvironment()
    {
        const QByteArray user = qgetenv("USER"), userName = qgetenv("USERNAME");
        qunsetenv("USER");
        qunsetenv("USERNAME");
        const QString found = CurrentRecordContext().user;
        qputenv("USER", user);
        qputenv("USERNAME", userName);
        QVERIFY(!found.isEmpty());
    }
#endif

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
                      p == &a ? "A" : "B"});
        }
        for (QProcess *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }
        const QStringList numbers =
            QString::fromLatin1(a.readAllStandardOutput() + b.readAllStandardOutput())
                .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(QSet<QString>(numbers.cbegin(), numbers.cend()).size(), 2 * n);
        QMap<QString, int> perTool;
        for (const OperationEntry &e : ServiceRecord(file).history({}, true)) {
            QCOMPARE(e.words.size(), 64);
            ++perTool[e.message.left(1)];
        }
        QCOMPARE(perTool, (QMap<QString, int>{{QStringLiteral("A"), n}, {QStringLiteral("B"), n}}));
    }
};

// The other tool of twoProcesses: adds n operations of 64 words each and
// allocates n report numbers, printing them.
static int addOperations(const QString &file, int n, const QString &tag)
{
    try {
        ServiceRecord record(file);
        for (int i = 0; i < n; ++i) {
            OperationEntry e = entry("2026-01-01T00:00:00", RecordedKind::Dump,
                                     RecordedResult::Success, quint32(i), tag + QString::number(i));
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
