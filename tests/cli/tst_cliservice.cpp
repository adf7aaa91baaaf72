// The service-bench verbs of zart-cli: plot (no sensor), verify against the
// simulated sensor, and the watch of coords and pixels, including Ctrl+C on the
// real executable.

#include "common/DefaultStopSignals.h"
#include "CliTestUtil.h"

#include "common/FakeSerialDevice.h"
#include "common/TestFiles.h"
#include "common/NumberFormat.h"
#include "flash/DumpFile.h"
#include "record/ServiceRecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace clitest;

namespace {

using testfiles::dumpBytesOf;
using testfiles::gridWord;
using testfiles::setGridValue;
using testfiles::transposedGrid;
using testfiles::writeBytes;

using FlashEdit = std::function<SimSensor::Flash(SimSensor::Flash)>;

// Only word reads reached the sensor.
bool onlyReads(const SimSensor &sensor)
{
    for (const SimRequestRecord &r : sensor.requestLog())
        if (quint8(r.request.at(1)) != 0x03)
            return false;
    return true;
}

} // namespace

Q_DECLARE_METATYPE(SimFault)
Q_DECLARE_METATYPE(FlashEdit)

class TestCliService : public QObject, public SensorOnPty
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_dump; // the sensor's image as it starts

private Q_SLOTS:
    void initTestCase()
    {
        defaultStopSignals();
        QVERIFY(m_dir.isValid());
        QVERIFY2(start(), qPrintable(errorString()));
        m_dump = m_dir.filePath(QStringLiteral("0012AB7F.dmp"));
        QVERIFY(writeBytes(m_dump, dumpBytesOf(sensor.flash())));
    }

    void init()
    {
        sensor.setFlash(SimSensor::defaultFlash());
        sensor.clearFaults();
        sensor.clearRequestLog();
    }

    void cleanupTestCase() { stop(); }

    // The picture, and on stdout the marked points and their count (the
    // calibration of the simulated sensor has X along the rows).
    void plot_data()
    {
        QTest::addColumn<QString>("out");
        QTest::addColumn<FlashEdit>("edit");
        QTest::addColumn<QStringList>("stdoutLines");

        const FlashEdit same = [](SimSensor::Flash f) { return f; };
        const QString none = QStringLiteral("Отмеченные точки: 0");
        QTest::newRow("png") << "cal.png" << same << QStringList{none};
        QTest::newRow("svg") << "cal.svg" << same << QStringList{none};
        QTest::newRow("X along the columns") << "cal.png" << FlashEdit(transposedGrid) << QStringList{none};
        // X of point (10, 10) pushed two and a half steps along its row: the
        // step to column 11 goes back, the two cells between them turn over.
        QStringList folded;
        SimSensor::Flash f = transposedGrid(SimSensor::defaultFlash());
        setGridValue(f, SimSensor::WordTableX, 10, 10, 2.5f * 2.05f);
        // Last the nominal position: X runs along the columns here.
        const QList<std::tuple<int, int, const char *, const char *>> marks{
            {9, 10, "складка", "0; -2.05"}, {9, 11, "складка", "2.05; -2.05"},
            {10, 10, "порядок X, складка", "0; 0"}, {10, 11, "порядок X, складка", "2.05; 0"},
            {11, 10, "складка", "0; 2.05"}, {11, 11, "складка", "2.05; 2.05"}};
        for (const auto &[i, j, reasons, nominal] : marks)
            folded << QStringLiteral("%1\t%2\t%3\t%4\t%5\tноминал (X; Y) = (%6) мм")
                          .arg(i)
                          .arg(j)
                          .arg(FormatSingleBits(gridWord(f, SimSensor::WordTableX, i, j)),
                               FormatSingleBits(gridWord(f, SimSensor::WordTableY, i, j)),
                               QString::fromUtf8(reasons), QString::fromUtf8(nominal));
        QTest::newRow("X along the columns, a fold") << "cal.svg" << FlashEdit([](SimSensor::Flash f) {
            f = transposedGrid(f);
            setGridValue(f, SimSensor::WordTableX, 10, 10, 2.5f * 2.05f);
            return f;
        }) << (folded << QStringLiteral("Отмеченные точки: 6"));
        // A blank grid: no marks, but no verdict of a sound grid either.
        QTest::newRow("blank grid") << "cal.png" << FlashEdit([](SimSensor::Flash f) {
            for (int k = 0; k < SimSensor::GridPoints; ++k)
                f[std::size_t(SimSensor::WordTableX + k)] = f[std::size_t(SimSensor::WordTableY + k)] = 0;
            return f;
        }) << QStringList{"Ориентация сетки не определена", none};
    }
    void plot()
    {
        QFETCH(QString, out);
        QFETCH(FlashEdit, edit);
        QFETCH(QStringList, stdoutLines);
        QTemporaryDir dir;
        const QString dump = dir.filePath(QStringLiteral("0012AB7F.dmp"));
        QVERIFY(writeBytes(dump, dumpBytesOf(edit(sensor.flash()))));
        const QString path = dir.filePath(out);
        const CliRun run = runCli({"--demo", "plot", dump, path});
        QCOMPARE(run.rc, 0);
        QCOMPARE(lines(run.out), stdoutLines);
        QCOMPARE(run.err, QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (out.endsWith(QLatin1String(".png")))
            QCOMPARE(QImage::fromData(bytes).size(), QSize(1200, 900));
        else
            QVERIFY(bytes.contains("<svg"));
        QCOMPARE(sensor.requestCount(), 0);
    }

    // compare needs no sensor: the report on stdout and exit 0, the picture in
    // OUT when given; a file that is not a dump is named, exit 1.
    void compareDumps_data()
    {
        QTest::addColumn<int>("secondSize"); // bytes of B; 0: a dump one word apart from A
        QTest::addColumn<QString>("out");    // the picture's name; empty: none asked for
        QTest::addColumn<int>("rc");
        QTest::newRow("two dumps") << 0 << QString() << 0;
        QTest::newRow("and a PNG") << 0 << "shift.png" << 0;
        QTest::newRow("and an SVG") << 0 << "shift.SVG" << 0;
        QTest::newRow("B is no dump") << 4100 << "shift.png" << 1;
    }
    void compareDumps()
    {
        QFETCH(int, secondSize);
        QFETCH(QString, out);
        QFETCH(int, rc);

        QTemporaryDir dir;
        const QString second = dir.filePath(QStringLiteral("b.dmp"));
        SimSensor::Flash other = sensor.flash();
        other[SimSensor::WordTableX + 9] ^= 1;
        QVERIFY(writeBytes(second, secondSize == 0 ? dumpBytesOf(other) : QByteArray(secondSize, '\x01')));
        QStringList args{"compare", m_dump, second};
        if (!out.isEmpty())
            args << dir.filePath(out);
        const CliRun run = runCli(args);
        QCOMPARE(run.rc, rc);
        if (rc != 0) {
            QCOMPARE(run.out, QString());
            QCOMPARE(lines(run.err), QStringList{DumpSizeFailure(second, secondSize)});
            QVERIFY(!QFile::exists(dir.filePath(out)));
            return;
        }
        QCOMPARE(run.err, QString());
        const QStringList stdoutLines = lines(run.out);
        QCOMPARE(stdoutLines.value(0), QStringLiteral("Дампы датчика 0012AB7F"));
        QVERIFY(stdoutLines.contains(QStringLiteral("Отличается слов: 1")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), out.isEmpty() ? 1 : 2);
        if (out.isEmpty())
            return;
        QFile file(dir.filePath(out));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (out.endsWith(QLatin1String(".png")))
            QCOMPARE(QImage::fromData(bytes).size(), QSize(1200, 900));
        else
            QVERIFY(bytes.contains("<svg") && bytes.contains("Смещение сетки от 0012AB7F.dmp"));
    }

    void plotRefused_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("failure"); // <in>, <out>: the paths
        QTest::addColumn<int>("rc");

        QTest::newRow("neither") << QByteArray(100, '\0') << "x.png"
                                 << "Файл in не является ни дампом, ни паспортом" << 2;
        QTest::newRow("passport of 2 points") << QByteArray("1\t2\t3\t4\r\n5\t6\t7\t8\r\n") << "x.png"
                                              << "Неверное количество точек (2)" << 2;
        QTest::newRow("picture format") << QByteArray(4096, '\0') << "x.jpg"
                                        << "zart-cli: plot: OUT must end in .png or .svg, not \"<out>\"" << 2;
        QTest::newRow("no such file") << QByteArray() << "x.png" << "Файл <in> не найден" << 2;
        // The picture cannot be written: a failure that names where it was to go.
        QTest::newRow("picture in a missing folder") << QByteArray(4096, '\0') << "missing/x.png"
                                                     << "Рисунок не записан в <out>: " << 1;
    }
    void plotRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, out);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in"));
        if (!content.isNull())
            QVERIFY(writeBytes(in, content));
        const QString outPath = dir.filePath(out);

        QFETCH(int, rc);
        const CliRun run = runCli({"plot", in, outPath});
        QCOMPARE(run.rc, rc);
        const QString expected =
            QString(failure).replace(QLatin1String("<in>"), in).replace(QLatin1String("<out>"), outPath);
        QVERIFY2(expected.endsWith(u' ') ? lines(run.err).first().startsWith(expected)
                                         : lines(run.err).first() == expected,
                 qPrintable(run.err));
        QVERIFY(!QFile::exists(outPath));
    }

    // report reads the record given (or the data folder's), never a sensor:
    // the two paths on stdout and exit 0; a record that is not there, exit 1
    // and no new record left behind.
    void report_data()
    {
        QTest::addColumn<bool>("given"); // --record; else the data folder's records.sqlite
        QTest::addColumn<bool>("recorded");
        QTest::newRow("--record") << true << true;
        QTest::newRow("data folder") << false << true;
        QTest::newRow("no record") << true << false;
    }
    void report()
    {
        QFETCH(bool, given);
        QFETCH(bool, recorded);
        QTemporaryDir dir;
        const QString location = dir.filePath(QStringLiteral("records.sqlite"));
        if (recorded) {
            ServiceRecord record(location);
            OperationEntry dump;
            dump.started = dump.ended = QDateTime::currentDateTimeUtc().addSecs(-60);
            dump.serial = 0x0012AB7F;
            dump.files = {{m_dump, FileUse::Written, FileSha256(m_dump)}};
            record.add(dump);
        }
        CliEnvironment env;
        env.dumpDir = dir.path();
        const QString pdf = dir.filePath(QStringLiteral("протокол.pdf"));
        const QStringList args = given ? QStringList{"--record", location, "report", "12ab7f", pdf}
                                       : QStringList{"report", "--since", "2020-01-01", "0012AB7F", pdf};
        const CliRun run = runCliAsIs(args, env);
        QCOMPARE(run.rc, recorded ? 0 : 1);
        const QStringList paths{pdf, dir.filePath(QStringLiteral("протокол.json"))};
        QCOMPARE(lines(run.out), recorded ? paths : QStringList());
        QCOMPARE(QFile::exists(pdf), recorded);
        QCOMPARE(QFile::exists(location), recorded);
        QCOMPARE(sensor.requestCount(), 0);
    }

    // The sensor as the dump has it, but for the illumination word: reported,
    // marked, not counted. On a terminal the comparison shows its progress too.
    void verifyUnchanged_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("pipe") << false;
        QTest::newRow("terminal") << true;
    }
    void verifyUnchanged()
    {
        QFETCH(bool, terminal);
        sensor.setWord(SimSensor::WordIllumination, 1);
        CliEnvironment env;
        env.stderrIsTerminal = terminal;
        const CliRun run = runCli(onSensor({"verify", m_dump}), env);
        QCOMPARE(run.rc, 0);
        QCOMPARE(lines(run.out), QStringList{"0x1006\t00000000\t00000001\t(не восстанавливается)"});
        const QString progress = QStringLiteral("\r\x1b[KСравнение с дампом... 100%\r\x1b[K");
        QCOMPARE(run.err.contains(progress), terminal);
        QStringList logLines; // each line as the terminal leaves it
        for (const QString &line : lines(run.err))
            logLines << line.split(QStringLiteral("\r\x1b[K")).last();
        QCOMPARE(logLines, (QStringList{"Сравнение с дампом...",
                                               "Отличаются невосстанавливаемые слова: 1", "Отличий нет"}));
        QCOMPARE(sensor.requestCount(), 1024);
        QVERIFY(onlyReads(sensor));
    }

    // One word changed by write-word: listed with its name, counted; nothing written.
    void verifyChangedWord()
    {
        const CliRun write = runCli(onSensor({"write-word", "1085", "3F800000"}));
        QCOMPARE(write.rc, 0);
        const quint32 original = SimSensor::defaultFlash()[SimSensor::WordTableX + 5];
        sensor.clearRequestLog();

        const CliRun run = runCli(onSensor({"verify", m_dump}));
        QCOMPARE(run.rc, 1);
        QCOMPARE(lines(run.out), QStringList{QStringLiteral("0x1085\t%1\t3F800000\tX6").arg(hex8(original))});
        QCOMPARE(lines(run.err).last(), QStringLiteral("Отличается слов: 1"));
        QCOMPARE(sensor.requestCount(), 1024);
        QVERIFY(onlyReads(sensor));
    }

    void verifyStops_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QStringList>("err");
        QTest::addColumn<int>("requests");

        QTest::newRow("no reply mid-run") << 4096 << 1 << QStringList{"Сравнение с дампом...", "Таймаут"} << 0x11;
        // A file that is not a dump fails as for restore: exit 1, the wrong size with the file named.
        QTest::newRow("wrong size") << 4100 << 1 << QStringList{DumpSizeFailure("%1", 4100)} << 0;
        QTest::newRow("no such file") << -1 << 1 << QStringList{"Файл %1 не найден"} << 0;
    }
    void verifyStops()
    {
        QFETCH(int, size);
        QFETCH(int, rc);
        QFETCH(QStringList, err);
        QFETCH(int, requests);
        const QString path = m_dir.filePath(size < 0 ? QStringLiteral("missing.dmp") : QStringLiteral("stops.dmp"));
        if (size >= 0)
            QVERIFY(writeBytes(path, dumpBytesOf(sensor.flash()).leftJustified(size, '\0')));
        sensor.addFault(SimFault::noReply().onAddress(0x1010));

        const CliRun run = runCli(onSensor({"--timeout-short", "1000", "verify", path}));
        QCOMPARE(run.rc, rc);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err), err.replaceInStrings(QStringLiteral("%1"), path));
        QCOMPARE(sensor.requestCount(), requests);
    }

    void watch_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<bool>("fault");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("stats");
        QTest::addColumn<int>("rc");
        QTest::addColumn<int>("readings");
        QTest::addColumn<QStringList>("summary");

        QTest::newRow("coords") << "coords" << false << 3 << false << 0 << 3 << QStringList{};
        QTest::newRow("pixels") << "pixels" << false << 3 << false << 0 << 3 << QStringList{};
        // The second reading is not answered: logged, the watch goes on, exit 1.
        QTest::newRow("coords, one failed") << "coords" << true << 3 << false << 1 << 2 << QStringList{};
        // With --stats a line per channel follows the last reading.
        QTest::newRow("coords, 20 with stats")
            << "coords" << false << 20 << true << 0 << 20
            << QStringList{"# X n=20 mean=1.25 sd=0 min=1.25 max=1.25 pp=0 failed=0",
                           "# Y n=20 mean=-3.5 sd=0 min=-3.5 max=-3.5 pp=0 failed=0"};
        QTest::newRow("pixels, stats of the readings that came")
            << "pixels" << true << 3 << true << 1 << 2
            << QStringList{"# nx n=2 mean=300 sd=0 min=300 max=300 pp=0 failed=1",
                           "# ny n=2 mean=412 sd=0 min=412 max=412 pp=0 failed=1"};
    }
    void watch()
    {
        QFETCH(QString, verb);
        QFETCH(bool, fault);
        QFETCH(int, count);
        QFETCH(bool, stats);
        QFETCH(int, rc);
        QFETCH(int, readings);
        QFETCH(QStringList, summary);
        if (fault)
            sensor.addFault(SimFault::noReply().onFunction(4).every(2));

        QStringList args{"--timeout", "200", verb, "--watch", "--count", QString::number(count),
                         "--interval", "10"};
        if (stats)
            args << "--stats";
        const CliRun run = runCli(onSensor(args));
        QCOMPARE(run.rc, rc);
        QStringList out = lines(run.out);
        QCOMPARE(out.size(), readings + summary.size());
        QCOMPARE(out.mid(readings), summary);
        out = out.mid(0, readings);
        for (const QString &line : out) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            QCOMPARE(fields.size(), 5);
            QVERIFY2(QDateTime::fromString(fields[0], Qt::ISODateWithMs).isValid(), qPrintable(line));
        }
        QCOMPARE(lines(run.err), fault ? QStringList{"Таймаут"} : QStringList{});
        QCOMPARE(sensor.requestCount(), count);
    }

    // A port that fails ends the watch at once: no reading could do better.
    void watchPortLost()
    {
        auto device = std::make_shared<FakeSerialDevice::State>();
        device->failRead = true;
        CliEnvironment env;
        env.makeSerialDevice = [&]() -> std::unique_ptr<ISerialDevice> {
            return std::make_unique<FakeSerialDevice>(device);
        };
        const CliRun run = runCli({"--port", "COM3", "coords", "--watch", "--count", "5", "--stats"}, env);
        QCOMPARE(run.rc, 1);
        // The summary counts the reading that failed.
        QCOMPARE(lines(run.out), QStringList({"# X n=0 failed=1", "# Y n=0 failed=1"}));
        QCOMPARE(lines(run.err), QStringList{"ReadFile function failed (Error: 5)"});
        QCOMPARE(device->calls.filter(QStringLiteral("write")).size(), 1);
    }

    void watchStoppedByInterrupt()
    {
        int asked = 0;
        CliEnvironment env;
        env.interrupted = [&] { return ++asked > 4; };
        const CliRun run = runCli(onSensor({"coords", "--watch", "--interval", "0", "--stats"}), env);
        QCOMPARE(run.rc, 0);
        // The readings, then the summary of as many.
        const QStringList out = lines(run.out);
        QVERIFY(out.size() > 2);
        const QString n = QString::number(out.size() - 2);
        QVERIFY2(out[out.size() - 2].startsWith("# X n=" + n + " mean=1.25 "), qPrintable(run.out));
        QVERIFY2(out.last().startsWith("# Y n=" + n + " mean=-3.5 "), qPrintable(run.out));
        QVERIFY(sensor.requestCount() < 5);
    }

    void watchUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        QTest::newRow("watch on another verb") << QStringList{"serial", "--watch"}
                                               << "--watch belongs to the coords and pixels commands";
        QTest::newRow("count without watch") << QStringList{"coords", "--count", "3"}
                                             << "--interval and --count go with --watch";
        QTest::newRow("stats without watch") << QStringList{"coords", "--stats"} << "--stats goes with --watch";
        QTest::newRow("count of zero") << QStringList{"coords", "--watch", "--count", "0"}
                                       << "--count wants a number from 1 to 100000000, not \"0\"";
    }
    void watchUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        const CliRun run = runCli(onSensor(args));
        QCOMPARE(run.rc, 2);
        QVERIFY2(run.err.startsWith(QStringLiteral("zart-cli: ") + reason), qPrintable(run.err));
        QCOMPARE(sensor.requestCount(), 0);
    }

    // The real executable draws without a display and without a word on stderr,
    // even where the session has no runtime directory.
    void plotProcessQuiet()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("cal.png"));
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(ZART_CLI_EXE), {"plot", m_dump, out});
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(cli.readAllStandardError(), QByteArray());
        QVERIFY(QFile::exists(out));
    }

    // A stop signal to the real executable: the watch ends as Ctrl+C ends it,
    // its summary out first, then the process ends by that signal.
    void interruptedProcess_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void interruptedProcess()
    {
        QFETCH(int, signal);
        QProcess cli;
        cli.start(QStringLiteral(ZART_CLI_EXE), {"--demo", "coords", "--watch", "--interval", "50", "--stats"});
        QVERIFY(cli.waitForStarted());
        QVERIFY(cli.waitForReadyRead(10000));
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
        QCOMPARE(cli.exitCode(), signal);
        const QStringList out = lines(QString::fromUtf8(cli.readAllStandardOutput()));
        QVERIFY2(out.size() >= 3, qPrintable(out.join(u'\n')));
        const QString n = QString::number(out.size() - 2);
        QVERIFY(out[0].count(u'\t') >= 4);
        QVERIFY2(out[out.size() - 2].startsWith("# X n=" + n + " mean="), qPrintable(out.join(u'\n')));
        QVERIFY2(out.last().startsWith("# Y n=" + n + " mean="), qPrintable(out.last()));
        QVERIFY2(out.last().endsWith(" failed=0"), qPrintable(out.last()));
    }

    // A signal to the real executable in the middle of a long operation (the
    // described 40 ms reply end: a dump takes 40 s): it stops after the request
    // in flight, says so, writes no file, and ends by the signal (a shell's $?
    // then reads 128 + the signal: see stoppedInShell).
    void stoppedBySignal_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("second"); // another signal at once: it ends the process; 0 none
        QTest::newRow("dump, SIGTERM") << QStringList{"dump"} << int(SIGTERM) << 0;
        QTest::newRow("dump, SIGINT") << QStringList{"dump"} << int(SIGINT) << 0;
        QTest::newRow("dump, SIGHUP") << QStringList{"dump"} << int(SIGHUP) << 0;
        QTest::newRow("verify, SIGTERM") << QStringList{"verify"} << int(SIGTERM) << 0;
        // Two different signals, so that the second is not merged into the first.
        QTest::newRow("dump, SIGINT then SIGTERM") << QStringList{"dump"} << int(SIGINT) << int(SIGTERM);
    }
    void stoppedBySignal()
    {
        QFETCH(QStringList, args);
        QFETCH(int, signal);
        QFETCH(int, second);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (args.first() == QStringLiteral("verify")) {
            SimSensor::Flash flash = SimSensor::defaultFlash();
            const QString path = dir.filePath(QStringLiteral("file.dmp"));
            QVERIFY(testfiles::writeBytes(path, testfiles::dumpBytesOf(flash)));
            args << path;
        } else {
            args << dir.filePath(QStringLiteral("out"));
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
        }

        QProcess cli;
        cli.setReadChannel(QProcess::StandardError);
        cli.start(QStringLiteral(ZART_CLI_EXE), QStringList{"--demo", "--no-record"} + args);
        QVERIFY(cli.waitForStarted());
        QByteArray err;
        // The operation has begun once its first line is out.
        while (!err.contains("...") && cli.waitForReadyRead(10000))
            err += cli.readAllStandardError();
        QVERIFY2(err.contains("..."), err.constData());
        ::kill(pid_t(cli.processId()), signal);
        if (second != 0) {
            // The stop has not finished the request in flight yet: the second
            // signal ends the process by its default action.
            ::kill(pid_t(cli.processId()), second);
            QVERIFY(cli.waitForFinished(10000));
            QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
            QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList());
            return;
        }
        QVERIFY(cli.waitForFinished(10000));
        err += cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
        QCOMPARE(cli.exitCode(), signal);
        QVERIFY2(err.contains("Остановлено пользователем"), err.constData());
        QVERIFY(cli.readAllStandardOutput().isEmpty());
        if (args.first() == QStringLiteral("dump"))
            QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList());
    }

    // zart-cli in a shell script, a dump of the simulated sensor on a pty (the
    // 40 ms reply end: a dump takes 40 s). Ctrl+C at the terminal reaches the
    // whole process group: the shell sees zart-cli die by SIGINT and stops the
    // loop. A SIGTERM to zart-cli alone: the script reads 143 in $?.
    void stoppedInShell_data()
    {
        QTest::addColumn<bool>("toGroup"); // the signal to the shell's process group, or to zart-cli
        QTest::addColumn<int>("signal");
        QTest::addColumn<QStringList>("out"); // what the script printed
        QTest::newRow("Ctrl+C stops the loop") << true << int(SIGINT) << QStringList{"run 1"};
        QTest::newRow("SIGTERM, $? of the script")
            << false << int(SIGTERM) << QStringList{"run 1", "status 143", "run 2", "status 143"};
    }
    void stoppedInShell()
    {
        QFETCH(bool, toGroup);
        QFETCH(int, signal);
        QFETCH(QStringList, out);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pidFile = dir.filePath(QStringLiteral("cli.pid"));
        // In the group case zart-cli runs in the foreground, as typed at a
        // terminal; otherwise in the background, so that the script knows its
        // process id (a background command has SIGINT ignored: SIGTERM then).
        const QString run = toGroup ? QStringLiteral("\"$cli\" --no-record --port \"$port\" dump \"$dir\"")
                                    : QStringLiteral("\"$cli\" --no-record --port \"$port\" dump \"$dir\" & "
                                                     "echo $! > \"$pidfile\"; wait $!");
        const QString script = QStringLiteral("cli=$1; port=$2; dir=$3; pidfile=$4; n=0; "
                                              "for i in 1 2; do n=$((n+1)); echo \"run $n\"; rm -f \"$pidfile\"; %1; "
                                              "echo \"status $?\"; done")
                                   .arg(run);
        QProcess shell;
        // Its own process group, as a job of an interactive shell has.
        shell.setChildProcessModifier([] { ::setpgid(0, 0); });
        shell.setReadChannel(QProcess::StandardError);
        shell.start(QStringLiteral("bash"),
                    {"-c", script, "loop", QStringLiteral(ZART_CLI_EXE), devicePath(), dir.path(), pidFile});
        QVERIFY(shell.waitForStarted());
        for (int round = 0; round < (toGroup ? 1 : 2); ++round) {
            QByteArray err;
            // The dump has begun once its first line is out.
            while (!err.contains("...") && shell.waitForReadyRead(10000))
                err += shell.readAllStandardError();
            QVERIFY2(err.contains("..."), err.constData());
            if (toGroup) {
                QCOMPARE(::kill(-pid_t(shell.processId()), signal), 0);
            } else {
                QVERIFY(QTest::qWaitFor([&] { return QFile::exists(pidFile) && QFile(pidFile).size() > 0; }, 5000));
                QFile f(pidFile);
                QVERIFY(f.open(QIODevice::ReadOnly));
                const pid_t cli = pid_t(f.readAll().trimmed().toInt());
                QVERIFY(cli > 0);
                QCOMPARE(::kill(cli, signal), 0);
            }
        }
        QVERIFY(shell.waitForFinished(20000));
        QCOMPARE(lines(QString::fromUtf8(shell.readAllStandardOutput())), out);
        if (toGroup) {
            // The shell went the same way: a loop around it stops as well.
            QCOMPARE(shell.exitStatus(), QProcess::CrashExit);
            QCOMPARE(shell.exitCode(), signal);
        } else {
            QCOMPARE(shell.exitStatus(), QProcess::NormalExit);
        }
        QVERIFY(sensor.requestCount() < 40); // each dump stopped at its start
    }
};

QTEST_MAIN(TestCliService)
#include "tst_cliservice.moc"
