// The service report: its text read back from the PDF by pdftotext, the dumps
// it chooses and names, the JSON file's stable bytes, and a report that cannot
// be written leaving the record as it was.

#include "report/ServiceReport.h"

#include "common/TestFiles.h"
#include "flash/DumpFile.h"
#include "flash/DumpHistory.h"
#include "sim/SimSensor.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <bit>

namespace {

using testfiles::writeBytes;

constexpr quint32 Serial = 0x0012AB7F;
const QString Odd = QStringLiteral("Пётр \"Бригадир\" O'Neil");
const RecordContext Maker{QStringLiteral("Мастер «Смены»"), QStringLiteral("стенд-2"),
                          QStringLiteral("1.2.3")};

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso) + u'Z', Qt::ISODate);
}

FlashImage defaultImage()
{
    const SimSensor::Flash flash = SimSensor::defaultFlash();
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    return image;
}

// The as-left flash: exposure X and two calibration words moved.
FlashImage asLeftImage()
{
    FlashImage image = defaultImage();
    image[2] = 121;
    image[XTableIndex + 5] = std::bit_cast<quint32>(std::bit_cast<float>(image[XTableIndex + 5]) + 0.25f);
    image[YTableIndex + 7] = std::bit_cast<quint32>(std::bit_cast<float>(image[YTableIndex + 7]) - 0.5f);
    return image;
}

QString hex8(quint32 v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

OperationEntry operation(const char *start, RecordedKind kind)
{
    OperationEntry e;
    e.started = utc(start);
    e.ended = e.started.addSecs(40);
    e.context = {Odd, QStringLiteral("стенд-1"), QStringLiteral("1.0.0.1")};
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.busAddress = 1;
    e.serial = Serial;
    e.firmware = 14;
    e.kind = kind;
    return e;
}

OperationEntry dumpOperation(const char *start, const QString &path)
{
    OperationEntry e = operation(start, RecordedKind::Dump);
    e.files = {{path, FileUse::Written, FileSha256(path)}};
    return e;
}

// A record of the bench: a dump as found, a word written, a dump as left that
// replaced the first one's file (which went to history/ as the tool keeps it).
struct Bench
{
    QTemporaryDir dir;
    std::unique_ptr<ServiceRecord> record;
    QString dump;   // the as-left dump, where the as-found one was

    Bench()
    {
        record = std::make_unique<ServiceRecord>(dir.filePath(QStringLiteral("records.sqlite")));
        dump = dir.filePath(QStringLiteral("0012AB7F.dmp"));
    }
    // leftContent: what the as-left file holds when it is recorded; null: the as-left dump.
    QList<OperationEntry> makeTwoDumps(const QByteArray &leftContent = {})
    {
        WriteDumpFile(dump, defaultImage());
        OperationEntry found = dumpOperation("2026-03-02T08:00:00", dump);
        OperationEntry word = operation("2026-03-02T08:10:00", RecordedKind::WriteWord);
        word.words = {{0x1002, 121, 120}};
        word.wordsWritten = 1;
        const FlashImage left = asLeftImage();
        KeepInHistory(dump, DumpBytes(left));
        WriteDumpFile(dump, left);
        if (!leftContent.isNull())
            writeBytes(dump, leftContent);
        OperationEntry leftOp = dumpOperation("2026-03-02T09:00:00", dump);
        QList<OperationEntry> all{found, word, leftOp};
        record->add(all);
        return all;
    }
};

// The text of a PDF as pdftotext lays it out.
QString pdfText(const QByteArray &pdf)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return QStringLiteral("<pdftotext not found>");
    QProcess p;
    p.start(tool, {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"),
                   QStringLiteral("-"), QStringLiteral("-")});
    p.write(pdf);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString reportText(const ServiceRecord &record, const QDateTime &since = {})
{
    ServiceReport r = BuildServiceReport(record, Serial, since, utc("2026-03-03T00:00:00"), Maker);
    r.number = QStringLiteral("2026-000042");
    return pdfText(ServiceReportPdf(r));
}

bool matches(const QString &text, const QString &pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text).hasMatch();
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pdfTellsTheWork()
    {
        Bench bench;
        bench.makeTwoDumps();
        const QString text = reportText(*bench.record);
        QVERIFY2(!text.startsWith(u'<'), qPrintable(text));

        // The number and "Страница N из M" on every page.
        const int pages = int(text.count(u'\f')) + (text.endsWith(u'\f') ? 0 : 1);
        QVERIFY(pages >= 2);
        QCOMPARE(text.count(QStringLiteral("Протокол обслуживания № 2026-000042")), pages);
        for (int n = 1; n <= pages; ++n)
            QVERIFY2(text.contains(QStringLiteral("Страница %1 из %2").arg(n).arg(pages)), qPrintable(text));

        for (const QString &pattern : {
                 QStringLiteral("Заводской номер\\s+0012AB7F"),
                 QStringLiteral("Идентификация устройства\\s+не прочитана"),
                 QStringLiteral("Версия прошивки\\s+14"),
                 QStringLiteral("Пользователь\\s+") + QRegularExpression::escape(Odd),
                 QStringLiteral("Составил: Мастер «Смены» на стенд-2, программа версии 1.2.3"),
                 QStringLiteral("Запись слова\\s+успешно\\s+1"),
                 QStringLiteral("0x1002 = 00000079 \\(было 00000078\\)"),
                 // The as-found file was replaced; its copy in history/ is read.
                 QStringLiteral("файл заменён; прочитана его копия"),
                 QStringLiteral("0x1002\\s+00000078\\s+00000079\\s+Экспозиция X"),
                 QStringLiteral("0x1085\\s+%1\\s+%2\\s+X6$").arg(hex8(defaultImage()[XTableIndex + 5]), hex8(asLeftImage()[XTableIndex + 5])),
                 QStringLiteral("0x1241\\s+\\S+\\s+\\S+\\s+Y8$"),
                 QStringLiteral("Отличается слов: 3"),
                 QStringLiteral("Смещение сетки от 0012AB7F-"),
                 QStringLiteral("Отмеченные точки: \\d+"),
                 QStringLiteral("Выполнил"),
                 QStringLiteral("Проверил"),
             })
            QVERIFY2(matches(text, pattern), qPrintable(pattern + u'\n' + text));
        QVERIFY(!text.contains(NoDumpsText()));
    }

    // Dumps the report cannot use are named with why, and nothing is compared.
    void unusableDump_data()
    {
        QTest::addColumn<QByteArray>("recorded"); // the as-left file when recorded; null: a dump
        QTest::addColumn<QByteArray>("after");    // and after; null: removed
        QTest::addColumn<QString>("why");
        const QByteArray noDump(100, 'x');
        QTest::newRow("gone") << QByteArray() << QByteArray() << "Файл не использован\\s+файл не найден";
        QTest::newRow("changed") << QByteArray() << DumpBytes(defaultImage())
                                 << "SHA-256 файла\\s+[0-9a-f\\s]+Файл не использован\\s+файл изменён после записи$";
        QTest::newRow("no dump") << noDump << noDump
                                 << "Файл не использован\\s+файл не является дампом \\(100 байт, ожидается 4096\\)";
    }
    void unusableDump()
    {
        QFETCH(QByteArray, recorded);
        QFETCH(QByteArray, after);
        QFETCH(QString, why);
        Bench bench;
        bench.makeTwoDumps(recorded);
        if (after.isNull())
            QVERIFY(QFile::remove(bench.dump));
        else
            QVERIFY(writeBytes(bench.dump, after));
        const QString text = reportText(*bench.record);
        QVERIFY2(matches(text, QStringLiteral("Как оставлено\\s*\\n\\s*Файл\\s+") +
                                   QRegularExpression::escape(bench.dump)),
                 qPrintable(text));
        QVERIFY2(matches(text, why), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Сравнение невозможно: дамп не прочитан")));
        QVERIFY(!text.contains(QStringLiteral("Отличается слов")));
    }

    void noDumps()
    {
        Bench bench;
        QList<OperationEntry> ops{operation("2026-03-02T08:10:00", RecordedKind::WriteWord)};
        bench.record->add(ops);
        const QString text = reportText(*bench.record);
        QVERIFY2(matches(text, QStringLiteral("^\\s*") + NoDumpsText() + u'$'), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("Как найдено")));
        QVERIFY(text.contains(QStringLiteral("Нет прочитанного дампа «как оставлено»")));
    }

    // Which dumps stand for the flash as found and as left.
    void dumpChoice_data()
    {
        QTest::addColumn<QStringList>("steps"); // "dump", "restore" (with its as-found file), "word"
        QTest::addColumn<int>("found");         // index of the step taken as found; -1: none
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("writesAfter");
        QTest::newRow("restore's as-found first") << QStringList{"restore", "dump"} << 0 << 1 << 0;
        QTest::newRow("dump first") << QStringList{"dump", "restore", "dump"} << 0 << 2 << 0;
        QTest::newRow("one dump") << QStringList{"dump"} << 0 << 0 << 0;
        QTest::newRow("no dump after the restore") << QStringList{"restore"} << 0 << -1 << 0;
        QTest::newRow("written after the last dump") << QStringList{"dump", "word", "restore"} << 0 << 0 << 2;
        QTest::newRow("failed dump") << QStringList{"failed dump", "word"} << -1 << -1 << 0;
    }
    void dumpChoice()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, found);
        QFETCH(int, left);
        QFETCH(int, writesAfter);
        QTemporaryDir dir;
        QList<OperationEntry> ops;
        for (const QString &step : steps) {
            const QString path = dir.filePath(QStringLiteral("%1.dmp").arg(ops.size()));
            WriteDumpFile(path, defaultImage());
            const QByteArray time = QStringLiteral("2026-03-02T08:0%1:00").arg(ops.size()).toLatin1();
            OperationEntry e = step.endsWith(u"dump") ? dumpOperation(time, path)
                                                       : operation(time, step == u"restore" ? RecordedKind::Restore : RecordedKind::WriteWord);
            if (step == u"failed dump")
                e.result = RecordedResult::Failed;
            if (step == u"restore")
                e.files = {{path, FileUse::AsFound, FileSha256(path)}};
            if (step != u"dump")
                e.wordsWritten = 1;
            e.id = ops.size() + 1;
            ops << e;
        }
        const ServiceReport r = BuildServiceReport(ops, Serial, {}, utc("2026-03-03T00:00:00"), Maker);
        QCOMPARE(r.asFound ? int(r.asFound->operationId - 1) : -1, found);
        QCOMPARE(r.asLeft ? int(r.asLeft->operationId - 1) : -1, left);
        QCOMPARE(r.writesAfterAsLeft.size(), writesAfter);
        QCOMPARE(r.comparison.has_value(), left >= 0);
        QCOMPARE(r.dumpChoice == NoDumpsText(), found < 0);
    }

    // Two reports of one record: the same JSON bytes but the report's time and
    // number; odd texts come back as they went in.
    void jsonStable()
    {
        Bench bench;
        bench.makeTwoDumps();
        const QString pdf = bench.dir.filePath(QStringLiteral("протокол \"1\".pdf"));
        const QDateTime since = utc("2026-03-01T00:00:00");
        const ServiceReportFiles first =
            MakeServiceReport(*bench.record, Serial, since, pdf, Maker, utc("2026-03-03T10:00:00"));
        const QByteArray firstJson = testfiles::readBytes(first.json);
        const ServiceReportFiles second =
            MakeServiceReport(*bench.record, Serial, since, pdf, Maker, utc("2026-03-04T11:30:00"));
        QCOMPARE(first.json, bench.dir.filePath(QStringLiteral("протокол \"1\".json")));
        QVERIFY(first.number != second.number);
        QVERIFY(testfiles::readBytes(first.pdf).startsWith("%PDF"));
        const QRegularExpression own(QStringLiteral("\"(made|number)\": \"[^\"]*\""));
        QString a = QString::fromUtf8(firstJson);
        QString b = QString::fromUtf8(testfiles::readBytes(second.json));
        QVERIFY(a != b);
        QCOMPARE(a.replace(own, QString()), b.replace(own, QString()));

        const QJsonObject root = QJsonDocument::fromJson(firstJson).object();
        QCOMPARE(root[u"operations"].toArray()[0].toObject()[u"context"].toObject()[u"user"].toString(), Odd);
        QCOMPARE(root[u"maker"].toObject()[u"user"].toString(), Maker.user);
        QCOMPARE(root[u"comparison"].toObject()[u"differences"].toArray().size(), 3);
    }

    // A report that cannot be written takes back its number: the next one's
    // default period still starts before it. A sensor never seen gets none.
    void notWritten_data()
    {
        QTest::addColumn<quint32>("serial");
        QTest::addColumn<QString>("pdfName");
        QTest::addColumn<QString>("failure");
        QTest::newRow("PDF path is a folder") << Serial << "busy.pdf" << "Протокол не записан: ";
        QTest::newRow("no folder") << Serial << "нет/r.pdf" << "Протокол не записан: нет папки ";
        QTest::newRow("unknown sensor") << 0x12345678u << "r.pdf" << "В журнале обслуживания ";
    }
    void notWritten()
    {
        QFETCH(quint32, serial);
        QFETCH(QString, pdfName);
        QFETCH(QString, failure);
        Bench bench;
        bench.makeTwoDumps();
        QVERIFY(QDir(bench.dir.path()).mkdir(QStringLiteral("busy.pdf")));
        const QString pdf = bench.dir.filePath(pdfName);
        const QString text = testfiles::failureOf([&] { MakeServiceReport(*bench.record, serial, {}, pdf, Maker); });
        QVERIFY2(text.startsWith(failure), qPrintable(text));
        QVERIFY(!bench.record->lastReport(serial));
        QVERIFY(!QFile::exists(ReportJsonPath(pdf)));
    }

    void defaultSince_data()
    {
        QTest::addColumn<QDateTime>("lastReport"); // invalid: none
        QTest::addColumn<QDateTime>("since");
        const QDateTime now(QDate(2026, 3, 4), QTime(15, 0), Qt::LocalTime);
        const QDateTime today(QDate(2026, 3, 4), QTime(0, 0), Qt::LocalTime);
        QTest::newRow("never") << QDateTime() << today;
        QTest::newRow("yesterday") << now.addDays(-1) << today;
        QTest::newRow("this morning") << now.addSecs(-5 * 3600) << now.addSecs(-5 * 3600);
    }
    void defaultSince()
    {
        QFETCH(QDateTime, lastReport);
        QFETCH(QDateTime, since);
        const QDateTime now(QDate(2026, 3, 4), QTime(15, 0), Qt::LocalTime);
        const auto last = lastReport.isValid() ? std::optional(lastReport.toUTC()) : std::nullopt;
        QCOMPARE(DefaultReportSince(last, now.toUTC()), since);
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
