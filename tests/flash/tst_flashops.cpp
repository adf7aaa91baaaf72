// Dump creation against the simulated sensor on a pseudo-terminal, and a file
// that cannot be written stopping the later ones; what every operation tells
// its recorder, and the flash kept as found before a restore.

#include "FlashTestUtil.h"

#include "flash/DumpFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace flashtest;

Q_DECLARE_METATYPE(SimSensor::Flash)

namespace {

// Generous bound of one exchange; a good reply ends 40 ms after its last byte.
constexpr qint32 kTimeoutMs = 1000;

// A sensor whose image exercises the export: an exposure word beyond one byte,
// an erased calibration word, a large negative value, words the tool does not
// interpret filled with a pattern.
SimSensor::Flash dumpSubject()
{
    SimSensor::Flash f = SimSensor::defaultFlash();
    f[SimSensor::WordSerial] = 0x0012ABCD;
    f[SimSensor::WordExposureX] = 0x1F4;   // low byte 244
    f[SimSensor::WordThresholdY] = 0x12A;  // low byte 42
    f[SimSensor::WordTableX + 3] = 0xFFFFFFFF; // erased
    f[SimSensor::WordTableY + 7] = bitsOf(-1234.5678f);
    for (int n = 7; n < SimSensor::WordTableX; ++n)
        f[std::size_t(n)] = 0x9E3779B9u * quint32(n);
    f[569] = 0x5A5AA5A5;
    return f;
}

QStringList lines(const QByteArray &text)
{
    QStringList out = QString::fromLatin1(text).split(QStringLiteral("\r\n"));
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

enum class Operation { Dump, Restore, Passport, Compare, Calibration, Differences };

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(SimFault)
Q_DECLARE_METATYPE(LogLines)

class TestFlashOps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void createDump();
    void readFailureWritesNoFile();
    void fileFailureStopsLaterFiles_data();
    void fileFailureStopsLaterFiles();
    void missingFolderIsMade_data();
    void missingFolderIsMade();
    void stopAfterRequest_data();
    void stopAfterRequest();
    void retries_data();
    void retries();
    void requestKinds_data();
    void requestKinds();
    void history_data();
    void history();
    void told_data();
    void told();

private:
    // Runs the operation on the dump file at dumpPath, or its passport.
    void run(Operation operation, RecordingOpHost &op, const QString &dumpPath, const DumpFiles &passport,
             const QString &dumpDir, int pauseMs)
    {
        const CommandTimeouts timeouts{3000, kTimeoutMs};
        const auto setAddress = [this](int a) { m_rig.host.address = a; };
        const FlashImage file = ReadDumpFile(dumpPath);
        switch (operation) {
        case Operation::Dump: CreateDump(*m_rig.engine, op, dumpDir, kTimeoutMs, pauseMs); break;
        case Operation::Restore: RestoreDump(*m_rig.engine, op, dumpPath, timeouts, pauseMs, setAddress); break;
        case Operation::Differences:
            RestoreDifferences(*m_rig.engine, op, dumpPath, timeouts, pauseMs, setAddress);
            break;
        case Operation::Passport:
            RestorePassport(*m_rig.engine, op, passport.passport, passport.passportIni, timeouts, pauseMs);
            break;
        case Operation::Compare: CompareFlash(*m_rig.engine, op, file, kTimeoutMs, pauseMs); break;
        case Operation::Calibration: RestoreCalibration(*m_rig.engine, op, dumpPath, timeouts, pauseMs); break;
        }
    }

    testsim::SensorOnPty m_rig;
};

void TestFlashOps::initTestCase()
{
    QVERIFY2(m_rig.startWithEngine(), qPrintable(m_rig.errorString()));
}

void TestFlashOps::cleanupTestCase()
{
    m_rig.stop();
}

void TestFlashOps::createDump()
{
    const SimSensor::Flash flash = dumpSubject();
    m_rig.reset(flash, 1);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Another sensor's section and a stale entry of this one; an old dump.
    const QByteArray passportIni = "; bench passports\r\n[00000001]\r\nExpLevel=1;2;3;4\r\n"
                                   "Note=keep\r\n\r\n[0012ABCD]\r\nExpLevel = 9;9;9;9\r\nOther=stays\r\n";
    QVERIFY(writeBytes(dir.filePath("passport.ini"), passportIni));
    QVERIFY(writeBytes(dir.filePath("0012ABCD.dmp"), "old dump"));
    QVERIFY(setModified(dir.filePath("0012ABCD.dmp"), QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), Qt::UTC)));

    RecordingOpHost op(&m_rig.sensor);
    const DumpFiles files = CreateDump(*m_rig.engine, op, dir.path(), kTimeoutMs, 3);

    QCOMPARE(files.dump, dir.filePath("0012ABCD.dmp"));
    QCOMPARE(files.passport, dir.filePath("0012ABCD.ini"));
    QCOMPARE(files.passportIni, dir.filePath("passport.ini"));

    // The files hold what the sensor holds.
    QCOMPARE(readBytes(files.dump), dumpBytesOf(flash));
    const QByteArray passport = readBytes(files.passport);
    QCOMPARE(passport, expectedPassportText(flash));
    const QStringList rows = lines(passport);
    QCOMPARE(rows.size(), 441);
    QVERIFY(rows[0].endsWith(QStringLiteral("\t-20.5\t-20.5")));
    QVERIFY(rows[3].startsWith(QStringLiteral("-NAN\t")));
    QVERIFY(rows[220].endsWith(QStringLiteral("\t0\t0")));
    QCOMPARE(rows[7].section(u'\t', 1, 1), QStringLiteral("-1234.568"));

    // Only this sensor's value changed in passport.ini; every other byte stays.
    QCOMPARE(readBytes(files.passportIni),
             QByteArray(passportIni).replace("ExpLevel = 9;9;9;9", "ExpLevel = 244;40;118;42"));

    // The old dump is kept, named after its time.
    QCOMPARE(readBytes(dir.filePath("history/0012ABCD-20240305T070809Z.dmp")), QByteArray("old dump"));
    QCOMPARE(QDir(dir.filePath("history")).entryList(QDir::Files).size(), 1);

    // The log: start line, then the three files in order, no traffic lines.
    const LogLines expectedLog{{"Чтение флеш...", 0},
                               {"В калибровке нечисловые значения (1): X4", 3},
                               {"Прежний дамп сохранён в файле history/0012ABCD-20240305T070809Z.dmp", 0},
                               {"Дамп сохранён в файле 0012ABCD.dmp...", 0},
                               {"Паспорт сохранён в файле 0012ABCD.ini...", 0},
                               {"Данные паспорта сохранены в файле passport.ini...", 0}};
    QCOMPARE(m_rig.host.lines, expectedLog);

    // One read of two registers per word, in ascending order.
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1024);
    for (int n = 0; n < 1024; ++n) {
        QCOMPARE(requests[n].function, 3);
        QCOMPARE(requests[n].address, 0x1000 + n);
        QCOMPARE(requests[n].frame.mid(4, 2), QByteArray::fromHex("0002"));
    }

    // Gauge at 0 first, then n / 1023 after word n; events after every word;
    // the pause after every word but the last.
    const QList<int> gauge = op.values(HostEvent::Progress);
    QCOMPARE(gauge.size(), 1025);
    QCOMPARE(gauge.first(), 0);
    QCOMPARE(op.requestCounts(HostEvent::Progress).first(), 0);
    for (int n = 0; n < 1024; ++n)
        QCOMPARE(gauge[n + 1], qRound(n * 100.0 / 1023));
    QCOMPARE(gauge.last(), 100);

    QList<int> afterEachWord;
    for (int n = 1; n <= 1024; ++n)
        afterEachWord << n;
    QCOMPARE(op.requestCounts(HostEvent::Events), afterEachWord);
    afterEachWord.removeLast();
    QCOMPARE(op.requestCounts(HostEvent::Pause), afterEachWord);
    QCOMPARE(op.values(HostEvent::Pause), QList<int>(1023, 3));
    QCOMPARE(op.events.last().kind, HostEvent::Events);
    QVERIFY(op.questions.isEmpty());
}

void TestFlashOps::readFailureWritesNoFile()
{
    m_rig.reset(dumpSubject(), 1);
    m_rig.sensor.addFault(SimFault::noReply().onFunction(3).onAddress(0x13FF));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray ini = "[00000001]\r\nExpLevel=1;2;3;4\r\n";
    QVERIFY(writeBytes(dir.filePath("passport.ini"), ini));

    RecordingOpHost op(&m_rig.sensor);
    QString failure;
    try {
        CreateDump(*m_rig.engine, op, dir.path(), 150, 0);
        QFAIL("the dump was completed");
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }
    QCOMPARE(failure, QStringLiteral("Таймаут"));
    // The engine's line only, once.
    const LogLines expectedLog{{"Чтение флеш...", 0}, {"Таймаут", 3}};
    QCOMPARE(m_rig.host.lines, expectedLog);
    QCOMPARE(m_rig.sensor.requestCount(), 1024);
    QCOMPARE(op.values(HostEvent::Progress).size(), 1 + 1023);
    QVERIFY(op.values(HostEvent::Pause).isEmpty());

    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"passport.ini"});
    QCOMPARE(readBytes(dir.filePath("passport.ini")), ini);
}

// The dump's folder is made when missing (zart-cli dump DIR); one that cannot
// be made is named in the failure, and nothing is written.
void TestFlashOps::missingFolderIsMade_data()
{
    QTest::addColumn<bool>("blockedByFile");
    QTest::newRow("missing folders") << false;
    QTest::newRow("a file in the way") << true;
}

void TestFlashOps::missingFolderIsMade()
{
    QFETCH(bool, blockedByFile);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (blockedByFile)
        QVERIFY(writeBytes(dir.filePath("a"), "not a folder"));
    const QString target = dir.filePath("a/b");
    RecordingHost log;
    QString failure;
    try {
        SaveDumpFiles(log, imageOf(dumpSubject()), target);
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }
    if (!blockedByFile) {
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(readBytes(QDir(target).filePath("0012ABCD.dmp")), dumpBytesOf(dumpSubject()));
        return;
    }
    const QString expected = QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(target));
    QCOMPARE(failure, expected);
    QCOMPARE(log.lines, LogLines({{expected, 3}}));
}

void TestFlashOps::fileFailureStopsLaterFiles_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<int>("written"); // files written before the blocked one

    QTest::newRow("dump file") << "0012ABCD.dmp" << 0;
    QTest::newRow("passport text") << "0012ABCD.ini" << 1;
    QTest::newRow("passport.ini") << "passport.ini" << 2;
    // Another program edits passport.ini: its lock is not had in time.
    QTest::newRow("passport.ini locked") << "passport.ini.lock" << 2;
}

void TestFlashOps::fileFailureStopsLaterFiles()
{
    QFETCH(QString, blocked);
    QFETCH(int, written);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A directory of the file's name: the file can be neither created nor
    // replaced. A lock file: held, as by another program.
    QLockFile held(dir.filePath(blocked));
    if (blocked.endsWith(QStringLiteral(".lock")))
        QVERIFY(held.tryLock(0));
    else
        QVERIFY(QDir(dir.path()).mkdir(blocked));
    RecordingHost log;

    QString failure;
    try {
        SaveDumpFiles(log, imageOf(dumpSubject()), dir.path());
        QFAIL("the files were written");
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    const QStringList done{"Дамп сохранён в файле 0012ABCD.dmp...",
                           "Паспорт сохранён в файле 0012ABCD.ini...",
                           "Данные паспорта сохранены в файле passport.ini..."};
    // The system's reason for the file itself: a folder in the way holds no old
    // dump to keep.
    QVERIFY(!failure.isEmpty() && !failure.startsWith(QStringLiteral("Прежний")));
    if (held.isLocked())
        QCOMPARE(failure, QStringLiteral("Файл passport.ini занят другой программой (блокировка %1)")
                              .arg(QDir::toNativeSeparators(dir.filePath(blocked))));
    LogLines expectedLog;
    for (int i = 0; i < written; ++i)
        expectedLog.append({done[i], 0});
    expectedLog.append({failure, 3});
    QCOMPARE(log.lines, expectedLog);

    const QStringList names{"0012ABCD.dmp", "0012ABCD.ini", "passport.ini"};
    for (int i = 0; i < 3; ++i) {
        const QFileInfo info(dir.filePath(names[i]));
        if (i < written)
            QVERIFY2(info.isFile() && info.size() > 0, qPrintable(names[i]));
        else if (names[i] == blocked)
            QVERIFY(info.isDir());
        else
            QVERIFY2(!info.exists(), qPrintable(names[i]));
    }
    // Nothing left behind beside the files either.
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(),
             written + 1);
}

// A dump or passport text that a new dump would replace with other content is
// kept first in history/, named after its modification time; the same content
// is simply replaced, and a kept file is never overwritten.
void TestFlashOps::history_data()
{
    QTest::addColumn<SimSensor::Flash>("before"); // the sensor when the old files were written
    QTest::addColumn<QStringList>("taken");       // names in history/ already
    QTest::addColumn<bool>("blocked");            // history/ cannot be made
    QTest::addColumn<QStringList>("kept");        // names kept: the dump's, then the passport's
    QTest::addColumn<QString>("oldLevels");       // the sensor's ExpLevel in passport.ini; empty: none
    QTest::addColumn<QString>("keptLevels");      // its section in history/passport.ini; empty: none

    const SimSensor::Flash now = dumpSubject();
    SimSensor::Flash otherWord = now;
    otherWord[7] ^= 1; // not in the passport text
    SimSensor::Flash recalibrated = now;
    recalibrated[SimSensor::WordTableX + 100] = bitsOf(1.5f);
    // Named in UTC: 10:08:09 at UTC+3 (see history()) is 07:08:09Z.
    const QString dump = QStringLiteral("0012ABCD-20240305T070809Z.dmp");
    const QString passport = QStringLiteral("0012ABCD-20240305T070810Z.ini");

    const QString none;
    QTest::newRow("same content") << now << QStringList() << false << QStringList() << none << none;
    QTest::newRow("dump differs") << otherWord << QStringList() << false << QStringList{dump} << none << none;
    QTest::newRow("both differ") << recalibrated << QStringList() << false
                                 << QStringList{dump, passport} << none << none;
    QTest::newRow("names taken")
        << otherWord << QStringList{dump, "0012ABCD-20240305T070809Z-2.dmp"} << false
        << QStringList{"0012ABCD-20240305T070809Z-3.dmp"} << none << none;
    // Levels that a dump replaces are kept beside the passport copy of their
    // time, which is made for them when the passport text is the same.
    const QString passportStem = QStringLiteral("0012ABCD-20240305T070810Z");
    QTest::newRow("levels changed, passport the same")
        << now << QStringList() << false << QStringList{passport} << "9;9;9;9" << passportStem;
    QTest::newRow("levels and passport changed")
        << recalibrated << QStringList() << false << QStringList{dump, passport} << "9;9;9;9" << passportStem;
    QTest::newRow("levels the same") << now << QStringList() << false << QStringList() << "244;40;118;42"
                                     << none;
    // A name of the former, local-time form is another name: it stays, and
    // the new copy is named in UTC beside it.
    QTest::newRow("former name left as it is")
        << otherWord << QStringList{"0012ABCD-20240305-070809.dmp", "0012ABCD-20240305-100809.dmp"} << false
        << QStringList{dump} << none << none;
    QTest::newRow("history cannot be made") << recalibrated << QStringList() << true << QStringList() << none
                                            << none;
}

void TestFlashOps::history()
{
    QFETCH(SimSensor::Flash, before);
    QFETCH(QStringList, taken);
    QFETCH(bool, blocked);
    QFETCH(QStringList, kept);
    QFETCH(QString, oldLevels);
    QFETCH(QString, keptLevels);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir d(dir.path());
    if (!oldLevels.isEmpty())
        QVERIFY(writeBytes(d.filePath("passport.ini"), "[0012ABCD]\r\nExpLevel=" + oldLevels.toLatin1() + "\r\n"));
    // A zone that is not the machine's: the names must not depend on it.
    const QDateTime dumpTime(QDate(2024, 3, 5), QTime(10, 8, 9), QTimeZone(3 * 3600));
    const QDateTime passportTime = dumpTime.addSecs(1);
    const QByteArray oldDump = dumpBytesOf(before);
    const QByteArray oldPassport = expectedPassportText(before);
    QVERIFY(writeBytes(d.filePath("0012ABCD.dmp"), oldDump));
    QVERIFY(writeBytes(d.filePath("0012ABCD.ini"), oldPassport));
    QVERIFY(setModified(d.filePath("0012ABCD.dmp"), dumpTime));
    QVERIFY(setModified(d.filePath("0012ABCD.ini"), passportTime));
    if (blocked)
        QVERIFY(writeBytes(d.filePath("history"), "a file in the way"));
    if (!taken.isEmpty())
        QVERIFY(d.mkdir("history"));
    for (const QString &name : taken)
        QVERIFY(writeBytes(d.filePath("history/" + name), name.toLatin1()));
    RecordingHost log;

    QString failure;
    try {
        SaveDumpFiles(log, imageOf(dumpSubject()), dir.path());
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    if (blocked) {
        // Nothing replaced the dump that could not be kept, nothing came after it.
        QVERIFY2(failure.startsWith(QStringLiteral(
                     "Прежний дамп не удалось сохранить в папке history (")),
                 qPrintable(failure));
        QVERIFY(failure.endsWith(QStringLiteral("), дамп не записан")));
        QCOMPARE(log.lines, LogLines({{failure, 3}}));
        QCOMPARE(readBytes(d.filePath("0012ABCD.dmp")), oldDump);
        QCOMPARE(readBytes(d.filePath("0012ABCD.ini")), oldPassport);
        QVERIFY(!QFile::exists(d.filePath("passport.ini")));
        return;
    }
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(readBytes(d.filePath("0012ABCD.dmp")), dumpBytesOf(dumpSubject()));
    QCOMPARE(readBytes(d.filePath("0012ABCD.ini")), expectedPassportText(dumpSubject()));

    QStringList keptLines;
    for (const QString &name : kept) {
        const bool isDump = name.endsWith(QStringLiteral(".dmp"));
        const QString path = d.filePath("history/" + name);
        QCOMPARE(readBytes(path), isDump ? oldDump : oldPassport);
        QCOMPARE(QFileInfo(path).lastModified(), isDump ? dumpTime : passportTime);
        keptLines << (isDump ? QStringLiteral("Прежний дамп сохранён в файле history/")
                             : QStringLiteral("Прежний паспорт сохранён в файле history/"))
                         + name;
    }
    // No folder is made for nothing to keep.
    QCOMPARE(QFileInfo::exists(d.filePath("history")), !(taken + kept).isEmpty());
    QStringList history = QDir(d.filePath("history")).entryList(QDir::Files);
    QStringList expectedHistory = taken + kept;
    if (!keptLevels.isEmpty())
        expectedHistory << QStringLiteral("passport.ini");
    history.sort();
    expectedHistory.sort();
    QCOMPARE(history, expectedHistory);
    for (const QString &name : taken)
        QCOMPARE(readBytes(d.filePath("history/" + name)), name.toLatin1());
    QCOMPARE(texts(log, 0).filter(QStringLiteral("Прежний")), keptLines);
    // Each kept line comes right before its file's line (or the kept levels').
    for (int i = 0; i < log.lines.size(); ++i)
        if (log.lines[i].text.startsWith(QStringLiteral("Прежний")))
            QVERIFY(log.lines.value(i + 1).text.contains(QStringLiteral("сохранён в файле 0012ABCD"))
                    || log.lines.value(i + 1).text.startsWith(QStringLiteral("Прежние уровни")));
    // The replaced levels, restorable with their passport from history/.
    if (!keptLevels.isEmpty()) {
        QCOMPARE(ReadExpLevel(d.filePath("history/passport.ini"), keptLevels).ExposureX,
                 ParseExpLevel(oldLevels).ExposureX);
        QVERIFY(texts(log, 0).contains(QStringLiteral("Прежние уровни (%1) сохранены в файле "
                                                      "history/passport.ini [%2]")
                                           .arg(oldLevels, keptLevels)));
    }
}

void TestFlashOps::requestKinds_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<int>("retries");
    QTest::addColumn<QString>("failure");  // empty: the restore succeeds
    QTest::addColumn<QStringList>("lines"); // in this order among the log's
    QTest::addColumn<int>("address");      // the bus address the restore leaves
    QTest::addColumn<int>("addressWrites");

    const QString ok = QStringLiteral("Восстановление успешно");
    QTest::newRow("serial check lost once, 1 retry")
        << SimFault::noReply().onFunction(4).onAddress(0x0005) << 1 << QString()
        << QStringList{"Повтор 1 из 1: адрес 0x0005", "Запись дампа во флеш...", ok} << 5 << 1;
    QTest::newRow("checksum read lost once, 1 retry")
        << SimFault::noReply().onFunction(4).onAddress(0x0007) << 1 << QString()
        << QStringList{"Коррекция CRC...", "Повтор 1 из 1: адрес 0x0007", ok} << 5 << 1;
    // The sensor takes the address, its reply is damaged: never repeated, found
    // at the new address.
    QTest::newRow("address reply damaged, 3 retries")
        << SimFault::badCrc().onFunction(16).onAddress(0x1000) << 3 << QString()
        << QStringList{"Ошибка CRC", "Датчик отвечает по новому адресу $05", ok} << 5 << 1;
    QTest::newRow("address write not heard, 3 retries")
        << SimFault::noReply().onFunction(16).onAddress(0x1000) << 3 << "Таймаут"
        << QStringList{"Таймаут", "Датчик отвечает по прежнему адресу $01, адрес не изменён"} << 1 << 1;
}

// Each kind of request of a restore under its rule: repeated or not, and what
// the log says when one fails for good.
void TestFlashOps::requestKinds()
{
    QFETCH(SimFault, fault);
    QFETCH(int, retries);
    QFETCH(QString, failure);
    QFETCH(QStringList, lines);
    QFETCH(int, address);
    QFETCH(int, addressWrites);

    SimSensor::Flash file = SimSensor::defaultFlash();
    file[SimSensor::WordSerial] = 0x0012ABCD;
    file[SimSensor::WordAddress] = 5;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString dumpPath = dir.filePath("file.dmp");
    QVERIFY(writeBytes(dumpPath, dumpBytesOf(file)));
    SimSensor::Flash sensor = SimSensor::defaultFlash();
    sensor[SimSensor::WordSerial] = file[SimSensor::WordSerial];
    m_rig.reset(sensor, 1);
    m_rig.sensor.addFault(fault);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true};
    op.retryCount = retries;

    const QString outcome = failureOf([&] {
        RestoreDump(*m_rig.engine, op, dumpPath, {500, 500}, 0,
                    [&](int a) { m_rig.host.address = a; });
    });

    QCOMPARE(outcome, failure.isEmpty() ? QStringLiteral("<no failure>") : failure);
    QStringList log;
    for (const LogLine &l : m_rig.host.lines)
        log << l.text;
    qsizetype from = 0;
    for (const QString &line : lines) {
        from = log.indexOf(line, from);
        QVERIFY2(from >= 0, qPrintable(line));
    }
    QCOMPARE(log.contains(QStringLiteral("Восстановление успешно")), failure.isEmpty());
    QCOMPARE(m_rig.host.address, address);
    QCOMPARE(int(m_rig.sensor.address()), address);
    int writes = 0;
    for (const Request &r : requestsOf(m_rig.sensor))
        writes += r.function == 16 && r.address == 0x1000;
    QCOMPARE(writes, addressWrites);
}

QTEST_GUILESS_MAIN(TestFlashOps)
#include "tst_flashops.moc"

void TestFlashOps::stopAfterRequest_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("stopAt"); // requests the sensor has seen when the stop comes
    QTest::addColumn<int>("after");  // requests that still go out after it
    QTest::addColumn<LogLines>("tail");

    const LogLine stopped{"Остановлено пользователем", 3};
    const LogLine dumpHint{FinishHint(WriteJob::Dump, false), 0};
    const LogLine verifyHint{FinishHint(WriteJob::Dump, true), 0};
    const LogLine passportHint{FinishHint(WriteJob::Passport, false), 0};
    QTest::newRow("dump, word 10") << Operation::Dump << 10 << 0
                                   << LogLines{{"Чтение флеш...", 0}, stopped};
    // Between the last word and the files: none is written.
    QTest::newRow("dump, after the last word") << Operation::Dump << 1024 << 0
                                               << LogLines{{"Чтение флеш...", 0}, stopped};
    // The serial number is read first; words 0 and 6 are not written: 100
    // requests after it are words 1..101 but 6, and word 102 is next.
    QTest::newRow("restore, writing")
        << Operation::Restore << 1 + 100 << 0
        << LogLines{{"Запись дампа во флеш...", 0}, stopped, {"Прервано на адресе 0x1066", 0},
                    {"Записано слов: 100 из 1022", 0}, dumpHint};
    QTest::newRow("restore, verifying")
        << Operation::Restore << 1 + 1022 + 10 << 0
        << LogLines{{"Проверка записи...", 0}, stopped, {"Прервано на адресе 0x100C", 0},
                    {"Записано слов: 1022 из 1022", 0}, verifyHint};
    // Every word written and verified (the stop comes in the pause after the
    // last): the checksum is corrected (three requests), the address question
    // is not asked, and the stop is reported last.
    QTest::newRow("restore, pause after the last word")
        << Operation::Restore << 1 + 2 * 1022 << 3
        << LogLines{{"Адрес $05 не записан, датчик остался по адресу $01", 0}, stopped,
                    {"Записано слов: 1022 из 1022", 0}};
    // At the address question, after the checksum: no question, no address write.
    QTest::newRow("restore, address question")
        << Operation::Restore << 1 + 2 * 1022 + 3 << 0
        << LogLines{{"Адрес $05 не записан, датчик остался по адресу $01", 0}, stopped,
                    {"Записано слов: 1022 из 1022", 0}};
    // X and Y alternate: 51 writes are X0..X25 and Y0..Y24, Y25 is next.
    QTest::newRow("passport, tables")
        << Operation::Passport << 1 + 51 << 0
        << LogLines{{"Запись паспорта во флеш...", 0}, stopped, {"Прервано на адресе 0x1253", 0},
                    {"Записано слов: 51 из 886", 0}, passportHint};
    QTest::newRow("passport, exposure words")
        << Operation::Passport << 1 + 2 * 882 + 2 << 0
        << LogLines{{"Запись экспозиций и уровней...", 0}, stopped, {"Прервано на адресе 0x1004", 0},
                    {"Записано слов: 884 из 886", 0}, passportHint};
    QTest::newRow("passport, after the last read-back")
        << Operation::Passport << 1 + 2 * 886 << 3 << LogLines{stopped, {"Записано слов: 886 из 886", 0}};
    QTest::newRow("calibration, tables")
        << Operation::Calibration << 1 + 51 << 0
        << LogLines{{"Запись калибровки во флеш...", 0}, stopped, {"Прервано на адресе 0x1253", 0},
                    {"Записано слов: 51 из 886", 0}, {FinishHint(WriteJob::Calibration, false), 0}};
    QTest::newRow("comparison") << Operation::Compare << 300 << 0
                                << LogLines{{"Сравнение с дампом...", 0}, stopped};
}

void TestFlashOps::stopAfterRequest()
{
    QFETCH(Operation, operation);
    QFETCH(int, stopAt);
    QFETCH(int, after);
    QFETCH(LogLines, tail);

    SimSensor::Flash file = SimSensor::defaultFlash();
    file[SimSensor::WordSerial] = 0x0012ABCD;
    file[SimSensor::WordAddress] = 5; // the restore offers another address
    QTemporaryDir source;
    QTemporaryDir target;
    QVERIFY(source.isValid() && target.isValid());
    const QString dumpPath = source.filePath("file.dmp");
    QVERIFY(writeBytes(dumpPath, dumpBytesOf(file)));
    RecordingHost quiet;
    const DumpFiles passport = SaveDumpFiles(quiet, imageOf(file), source.path());

    // The sensor of the file's serial number: no second question.
    SimSensor::Flash sensor = SimSensor::defaultFlash();
    sensor[SimSensor::WordSerial] = file[SimSensor::WordSerial];
    m_rig.reset(operation == Operation::Dump ? file : sensor, 1);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true}; // the first question; a later one is answered No
    op.stopAtRequest = stopAt;
    QString failure;
    try {
        run(operation, op, dumpPath, passport, target.path(), 2);
        QFAIL("the operation was not stopped");
    } catch (const EOperationStopped &e) {
        failure = e.text();
    }
    QCOMPARE(failure, QStringLiteral("Остановлено пользователем"));

    // Not one request after the stop but those that finish a write, and the
    // log ends with the stop and what it left.
    QCOMPARE(m_rig.sensor.requestCount(), stopAt + after);
    QVERIFY(m_rig.host.lines.size() >= tail.size());
    QCOMPARE(m_rig.host.lines.mid(m_rig.host.lines.size() - tail.size()), tail);
    QCOMPARE(m_rig.host.address, 1);
    QCOMPARE(op.questions.size(), operation == Operation::Dump || operation == Operation::Compare ? 0 : 1);
    // A stop cuts short the pauses before the requests it keeps from going
    // out, never those before the checksum correction's; and a write that
    // went all the way leaves the sensor's checksum right.
    if (after > 0) {
        for (const HostEvent &e : op.events)
            if (e.kind == HostEvent::Pause)
                QCOMPARE(e.cutShort, e.requestsSoFar < stopAt);
        QCOMPARE(m_rig.sensor.word(SimSensor::WordCrcRequired),
                 quint32(SimSensor::flashChecksum(m_rig.sensor.flash())));
    }
    // A stopped dump leaves no file at all.
    QCOMPARE(QDir(target.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TestFlashOps::retries_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<int>("retries");
    QTest::addColumn<QString>("failure"); // empty: the dump completes
    QTest::addColumn<QStringList>("repeats"); // the first repeat lines
    QTest::addColumn<int>("requests");        // of a failed dump: requests sent in all
    QTest::addColumn<int>("failureLines");    // of a failed dump: red lines of the failure

    const SimFault everyHundredth = SimFault::noReply().onFunction(3).every(100).always();
    // Request 100 reads word 99 (0x1063).
    QTest::newRow("lost replies, 3 retries")
        << everyHundredth << 3 << QString() << QStringList{"Повтор 1 из 3: адрес 0x1063"} << 0 << 0;
    QTest::newRow("lost replies, no retries") << everyHundredth << 0 << "Таймаут" << QStringList() << 100 << 1;
    QTest::newRow("damaged replies, 1 retry")
        << SimFault::badCrc().onFunction(3).every(50).always() << 1 << QString()
        << QStringList{"Повтор 1 из 1: адрес 0x1031"} << 0 << 0;
    QTest::newRow("exception, never repeated")
        << SimFault::exception(4).onFunction(3).every(100).always() << 3
        << "Ошибка - Ошибка устройства [код ошибки 4]" << QStringList() << 100 << 2;
    // A word that never answers: the dump ends after the repeats, with the
    // engine's failure.
    QTest::newRow("silent for good, 2 retries")
        << SimFault::noReply().onFunction(3).onAddress(0x100A).always() << 2 << "Таймаут"
        << QStringList{"Повтор 1 из 2: адрес 0x100A", "Повтор 2 из 2: адрес 0x100A"} << 13 << 3;
}

void TestFlashOps::retries()
{
    QFETCH(SimFault, fault);
    QFETCH(int, retries);
    QFETCH(QString, failure);
    QFETCH(QStringList, repeats);
    QFETCH(int, requests);
    QFETCH(int, failureLines);

    const SimSensor::Flash flash = dumpSubject();
    m_rig.reset(flash, 1);
    m_rig.sensor.addFault(fault);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RecordingOpHost op(&m_rig.sensor);
    op.retryCount = retries;
    LineStatistics stats;
    m_rig.engine->setStatistics(&stats);

    const QString outcome = failureOf([&] { CreateDump(*m_rig.engine, op, dir.path(), 100, 2); });
    m_rig.engine->setStatistics(nullptr);

    QStringList repeatLines;
    for (const LogLine &l : m_rig.host.lines)
        if (l.text.startsWith(QStringLiteral("Повтор ")))
            repeatLines << l.text + (l.mark == 0 ? QString() : QStringLiteral(" <colour>"));
    if (failure.isEmpty()) {
        QCOMPARE(outcome, QStringLiteral("<no failure>"));
        QCOMPARE(readBytes(dir.filePath("0012ABCD.dmp")), dumpBytesOf(flash));
        // Each lost word costs one request more, and its repeat waits the group pause.
        QCOMPARE(repeatLines.size(), m_rig.sensor.requestCount() - 1024);
        QCOMPARE(op.values(HostEvent::Pause).size(), 1023 + repeatLines.size());
        QVERIFY(!repeatLines.isEmpty());
        QCOMPARE(repeatLines.first(), repeats.first());
    } else {
        QCOMPARE(outcome, failure);
        QCOMPARE(repeatLines, repeats);
        QVERIFY(QDir(dir.path()).isEmpty());
        QCOMPARE(m_rig.sensor.requestCount(), requests);
        QCOMPARE(texts(m_rig.host, 3).count(failure), failureLines);
    }
    // Every request is counted once; each repeat follows one failed exchange,
    // and a failed dump ends with one more.
    QCOMPARE(stats.exchanges(), qint64(m_rig.sensor.requestCount()));
    QCOMPARE(stats.repeats(), qint64(repeatLines.size()));
    QCOMPARE(stats.exchanges() - stats.count(ExchangeOutcome::Success),
             qint64(repeatLines.size() + (failure.isEmpty() ? 0 : 1)));
}

// What each operation tells, and with an as-found folder the flash kept in
// history/ before a restore writes: one whole read more, but for the
// differences restore, whose comparison has read it. Where history/ cannot be
// made, the restore stops before its first write.
void TestFlashOps::told_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("asFound");  // 0 off, 1 on, 2 on where history/ cannot be made
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("told"); // serials, firmware versions, words, then file:use

    const int restore = 1 + 2 * 1022 + 3 + 1;
    const int passport = 1 + 2 * 886 + 3;
    for (const int on : {0, 1}) {
        const char *tag = on ? ", as found" : "";
        const QString found = on ? " asfound:2" : "";
        QTest::addRow("restore%s", tag) << Operation::Restore << on << restore + 1024 * on
                                        << QString("1 %1 1024 file.dmp:0").arg(on) + found;
        QTest::addRow("differences%s", tag) << Operation::Differences << on << 1024 + 1 + 2 * 5 + 4
                                            << "2 1 7 file.dmp:0" + found;
        QTest::addRow("passport%s", tag) << Operation::Passport << on << passport + 1024 * on
                                         << QString("1 %1 887 0012AB7F.ini:0 passport.ini:0").arg(on) + found;
        QTest::addRow("calibration%s", tag) << Operation::Calibration << on << passport + 1024 * on
                                            << QString("1 %1 887 file.dmp:0").arg(on) + found;
    }
    QTest::newRow("restore, history/ not made") << Operation::Restore << 2 << 1 + 1024 << "1 1 0 file.dmp:0";
    QTest::newRow("differences, history/ not made") << Operation::Differences << 2 << 1025 << "2 1 0 file.dmp:0";
    QTest::newRow("dump") << Operation::Dump << 1 << 1024 << "1 1 0 0012AB7F.dmp:1 0012AB7F.ini:1 passport.ini:1";
    QTest::newRow("compare") << Operation::Compare << 1 << 1024 << "1 1 0";
}

void TestFlashOps::told()
{
    QFETCH(Operation, operation);
    QFETCH(int, asFound);
    QFETCH(int, requests);
    QFETCH(QString, told);

    // A dump of the sensor that differs in five words a restore writes and the address.
    const SimSensor::Flash before = SimSensor::defaultFlash();
    SimSensor::Flash file = before;
    file[SimSensor::WordAddress] = 5;
    for (const int n : {2, 7, 100, SimSensor::WordTableX + 3, SimSensor::WordTableY + 7})
        file[std::size_t(n)] ^= 0x11;
    QTemporaryDir source, data;
    QVERIFY(source.isValid() && data.isValid());
    QVERIFY(writeBytes(source.filePath("file.dmp"), dumpBytesOf(file)));
    if (asFound == 2)
        QVERIFY(writeBytes(data.filePath("history"), "x"));
    RecordingHost quiet;
    const DumpFiles passport = SaveDumpFiles(quiet, imageOf(file), source.path());
    m_rig.reset(before, 1);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true}; // the write, the dump's address
    op.asFound = asFound ? data.path() : QString();
    try {
        run(operation, op, source.filePath("file.dmp"), passport, data.path(), 0);
        QCOMPARE_NE(asFound, 2);
    } catch (const EOperationFailed &e) {
        QVERIFY2(asFound == 2 && e.text().startsWith("Исходный дамп не удалось сохранить в папке history ("),
                 qPrintable(e.text()));
    }

    const RecordingRecorder &r = op.told;
    QStringList summary{QString::number(r.serials.size()), QString::number(r.firmwares.size()),
                        QString::number(r.words.size())};
    for (const auto &[path, use] : r.files) {
        QVERIFY2(QFileInfo(path).isAbsolute() && QFileInfo(path).isFile(), qPrintable(path));
        const QString name = QFileInfo(path).fileName();
        summary << (name.contains("-asfound-") ? QStringLiteral("asfound") : name) + u':' + QString::number(int(use));
    }
    QCOMPARE(summary.join(u' '), told);
    QCOMPARE(r.serials, QList<quint32>(r.serials.size(), before[SimSensor::WordSerial]));
    QCOMPARE(r.firmwares, QList<quint32>(r.firmwares.size(), before[SimSensor::WordFirmware]));

    // Each word told replaced the sensor's own where the operation had read it
    // (the comparison, the as-found read), else only what it wrote itself; the
    // sensor ends with the last value told (but 0x3FE, which it computes).
    QMap<int, quint32> last;
    for (const RecordingRecorder::Word &w : r.words) {
        const int n = w.address - 0x1000;
        const bool known = last.contains(n) || asFound || operation == Operation::Differences;
        QCOMPARE(w.previous, known ? std::optional(last.value(n, before[std::size_t(n)])) : std::nullopt);
        last[n] = w.value;
    }
    last.remove(SimSensor::WordCrcActual);
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        QCOMPARE(m_rig.sensor.word(it.key()), it.value());

    // The as-found read comes right after the serial check; the flash kept is
    // the sensor's before the write.
    const bool keeps = asFound && !r.words.isEmpty();
    const bool reads = asFound && operation != Operation::Differences && operation != Operation::Dump
        && operation != Operation::Compare;
    const QList<Request> sent = requestsOf(m_rig.sensor);
    QCOMPARE(sent.size(), requests);
    for (int n = 0; reads && n < 1024; ++n)
        QCOMPARE(sent[1 + n].address, 0x1000 + n);
    const QStringList kept = QDir(data.filePath("history")).entryList({"0012AB7F-asfound-*Z.dmp"});
    QCOMPARE(kept.size(), keeps ? 1 : 0);
    if (keeps) {
        QCOMPARE(readBytes(data.filePath("history/" + kept[0])), dumpBytesOf(before));
        QVERIFY(m_rig.host.lines.contains(LogLine{"Исходный дамп сохранён в файле history/" + kept[0], 0}));
    }
}
