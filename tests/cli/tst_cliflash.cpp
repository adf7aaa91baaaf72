// The flash verbs of zart-cli in-process against the simulated sensor: a dump
// into a directory, the view of that dump, a restore refused and a restore run
// with --yes, the passport restore finding its settings beside the passport.
// The slots that read a dump or a passport share the files initTestCase writes
// of the sensor's image, so each slot also runs alone.

#include "CliTestUtil.h"
#include "flash/DumpFile.h"
#include "common/TestFiles.h"
#include "flash/Passport.h"
#include "record/ServiceRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <bit>

using namespace clitest;

namespace {

constexpr quint32 Serial = 0x0012ABCD;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The flash addresses of the writes (function 16) the sensor received, in order.
QList<int> writesOf(const QList<SimRequestRecord> &log)
{
    QList<int> out;
    for (const SimRequestRecord &r : log)
        if (r.request.size() > 4 && quint8(r.request[1]) == 16)
            out << ((quint8(r.request[2]) << 8) | quint8(r.request[3]));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(SimFault)

class TestCliFlash : public QObject, public SensorOnPty
{
    Q_OBJECT

private:
    QString dumpPath() const { return m_dir.filePath(hex8(Serial) + QStringLiteral(".dmp")); }
    QString passportPath() const { return m_dir.filePath(hex8(Serial) + QStringLiteral(".ini")); }
    QString passportIniPath() const { return m_dir.filePath(QStringLiteral("passport.ini")); }

    SimSensor::Flash m_image{}; // the sensor's image as it starts, and as the files hold it
    QTemporaryDir m_dir;        // the dump, the passport and passport.ini of m_image

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sensor.setSerial(Serial);
        sensor.setWord(SimSensor::WordExposureX, 0x123); // only the low byte counts: 35
        sensor.setWord(SimSensor::WordTableX, std::bit_cast<quint32>(1.0625f));
        sensor.setWord(SimSensor::WordTableY + 440, std::bit_cast<quint32>(-2.5f));
        QVERIFY2(start(), qPrintable(errorString()));

        m_image = sensor.flash();
        QVERIFY(testfiles::writeBytes(dumpPath(), testfiles::dumpBytesOf(m_image)));
        WritePassportFile(passportPath(), m_image);
        QVERIFY(testfiles::writeBytes(passportIniPath(), "[0012ABCD]\r\nExpLevel=35;40;118;42\r\n"));
    }

    void init()
    {
        sensor.clearFaults();
        sensor.clearRequestLog();
    }

    void cleanupTestCase() { stop(); }

    void failedReadWritesNoFile()
    {
        QTemporaryDir dir;
        sensor.addFault(SimFault::noReply().onAddress(0x1010));
        const CliRun run = runCli(onSensor({"--timeout-short", "100", "dump", dir.path()}));
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err), (QStringList{"Чтение флеш...", "Таймаут"}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(sensor.requestCount(), 0x11); // words 0 to 0x10, the last unanswered
    }

    void dumpWritesThreeFiles()
    {
        QTemporaryDir dir;
        const SimSensor::Flash image = sensor.flash();
        CliEnvironment env;
        env.stderrIsTerminal = true; // the progress line as well
        // Without DIR the files go into the current directory.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const CliRun run = runCli(onSensor({"dump"}), env);
        QDir::setCurrent(before);
        QCOMPARE(run.rc, 0);

        const QString dump = dir.filePath(hex8(Serial) + QStringLiteral(".dmp"));
        const QString passport = dir.filePath(hex8(Serial) + QStringLiteral(".ini"));
        const QString ini = dir.filePath(QStringLiteral("passport.ini"));
        QCOMPARE(lines(run.out), (QStringList{dump, passport, ini}));

        // One request per word, without traffic lines; the progress line counts to
        // 100 and is taken away by the next log line.
        QCOMPARE(sensor.requestCount(), 1024);
        QVERIFY(run.err.contains(QStringLiteral("\r\x1b[KЧтение флеш... 100%\r\x1b[K")));
        // Each progress line names its phase and is written once.
        QStringList progress = run.err.split(QStringLiteral("\r\x1b[K"));
        progress.removeIf([](const QString &part) { return part.isEmpty() || part.endsWith(u'\n'); });
        QCOMPARE(progress.size(), 100);
        for (const QString &part : progress)
            QVERIFY2(part.startsWith(QStringLiteral("Чтение флеш... ")), qPrintable(part));
        QVERIFY(!run.err.contains(QStringLiteral("Послано")));
        QStringList logLines;
        for (const QString &line : lines(run.err))
            logLines << line.split(QStringLiteral("\r\x1b[K")).last();
        QCOMPARE(logLines, (QStringList{"Чтение флеш...",
                                        "Дамп сохранён в файле 0012ABCD.dmp...",
                                        "Паспорт сохранён в файле 0012ABCD.ini...",
                                        "Данные паспорта сохранены в файле passport.ini..."}));

        // The dump is the image, least significant byte first.
        QByteArray expected;
        for (const quint32 w : image)
            for (int b = 0; b < 4; ++b)
                expected.append(char((w >> (8 * b)) & 0xFF));
        QCOMPARE(readAll(dump), expected);
        QCOMPARE(readAll(passport).count("\r\n"), 441);
        QVERIFY(readAll(ini).contains("ExpLevel=35;40;118;42"));
    }

    void viewShowsDump()
    {
        const CliRun run = runCli({"view", dumpPath()});
        QCOMPARE(run.rc, 0);
        QCOMPARE(run.err, QString());
        const QStringList rows = lines(run.out);
        QCOMPARE(rows.size(), 894);
        for (const QString &row : rows)
            QCOMPARE(row.count(QLatin1Char('\t')), 2);

        QCOMPARE(rows.at(0), QStringLiteral("Адрес\t0x01\t00000001"));
        QCOMPARE(rows.at(1), QStringLiteral("Серийный номер\t0x0012ABCD\t0012ABCD"));
        QCOMPARE(rows.at(2), QStringLiteral("Экспозиция X\t35\t00000123"));
        QCOMPARE(rows.at(12), QStringLiteral("X1\t1.063\t3F880000"));
        QCOMPARE(rows.at(893), QStringLiteral("Y441\t-2.5\tC0200000"));
        // Every calibration row shows its word.
        for (int k = 0; k < 441; ++k) {
            QCOMPARE(rows.at(12 + k).section(QLatin1Char('\t'), 2), hex8(m_image[128 + k]));
            QCOMPARE(rows.at(453 + k).section(QLatin1Char('\t'), 0, 0), QStringLiteral("Y%1").arg(k + 1));
            QCOMPARE(rows.at(453 + k).section(QLatin1Char('\t'), 2), hex8(m_image[570 + k]));
        }
    }

    void viewErasedImage()
    {
        // An erased flash: every bit set. 4099 bytes: the odd bytes after the last
        // whole word do not count.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("erased.dmp"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4099, '\xFF'));
        f.close();

        const CliRun run = runCli({"view", path});
        QCOMPARE(run.rc, 0);
        const QStringList rows = lines(run.out);
        QCOMPARE(rows.size(), 894);
        QCOMPARE(rows.at(0), QStringLiteral("Адрес\t0xFF\tFFFFFFFF"));
        QCOMPARE(rows.at(2), QStringLiteral("Экспозиция X\t255\tFFFFFFFF"));
        QCOMPARE(rows.at(9), QStringLiteral("CRC\t0xFFFF\tFFFFFFFF"));
        QCOMPARE(rows.at(12), QStringLiteral("X1\t-NAN\tFFFFFFFF"));
        QCOMPARE(rows.at(893), QStringLiteral("Y441\t-NAN\tFFFFFFFF"));
    }

    void badDumpFile_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<int>("size"); // -1: no file at all, -2: a folder in its place
        QTest::addColumn<QString>("failure"); // %1: the path

        const QString wrongSize = QStringLiteral("Размер файла неверен");
        QTest::newRow("view 4095 bytes") << QStringLiteral("view") << 4095 << wrongSize;
        QTest::newRow("view 4100 bytes") << QStringLiteral("view") << 4100 << wrongSize;
        QTest::newRow("restore 4100 bytes") << QStringLiteral("restore") << 4100 << wrongSize;
        QTest::newRow("verify 4095 bytes") << QStringLiteral("verify") << 4095 << wrongSize;
        QTest::newRow("verify missing file") << QStringLiteral("verify") << -1 << QStringLiteral("Файл %1 не найден");
        QTest::newRow("view missing file") << QStringLiteral("view") << -1 << QStringLiteral("Файл %1 не найден");
        QTest::newRow("restore missing file") << QStringLiteral("restore") << -1
                                              << QStringLiteral("Файл %1 не найден");
        QTest::newRow("passport-restore of a folder") << QStringLiteral("passport-restore") << -2
                                                      << QStringLiteral("%1 - папка, а не файл");
    }
    void badDumpFile()
    {
        QFETCH(QString, verb);
        QFETCH(int, size);
        QFETCH(QString, failure);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.dmp"));
        if (size >= 0) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(size, '\x01'));
        } else if (size == -2) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("bad.dmp")));
        }
        const CliRun run = runCli(onSensor({"--yes", verb, path}));
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        const QStringList err = lines(run.err);
        // A wrong size names the file and the size a dump has.
        QCOMPARE(err, QStringList{failure == QStringLiteral("Размер файла неверен") ? DumpSizeFailure(path, size)
                                  : failure.contains(u'%')                        ? failure.arg(path)
                                                                                  : failure});
        QCOMPARE(sensor.requestCount(), 0);
    }

    void restoreRefusedWithoutYes()
    {
        const CliRun run = runCli(onSensor({"restore", dumpPath()}));
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err),
                 (QStringList{"Серийный номер из файла - 0012ABCD. Записать дамп во флеш? Нет (ответ «Да» даёт --yes)",
                              "Запись отменена пользователем"}));
        QCOMPARE(sensor.requestCount(), 0);
    }

    void restoreWithYes()
    {
        // The sensor has moved on since the dump: other words, another address.
        sensor.setWord(SimSensor::WordThresholdY, 99);
        sensor.setWord(300, 0x12345678);
        sensor.setWord(SimSensor::WordIllumination, 2);
        sensor.setAddress(9);

        const CliRun run = runCli(onSensor({"--addr", "9", "--yes", "restore", dumpPath()}));
        QCOMPARE(run.rc, 0);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err),
                 (QStringList{"Серийный номер из файла - 0012ABCD. Записать дамп во флеш? Да",
                              "Запись дампа во флеш...", "Проверка записи...", "Коррекция CRC...",
                              "Новый адрес - $01. Записать? Да", "Восстановление успешно"}));

        // Every word but the illumination word is the dump's again, the address word
        // included (written last, on the question), and the checksum is corrected.
        const SimSensor::Flash now = sensor.flash();
        for (int n = 0; n < 1024; ++n) {
            if (n == SimSensor::WordIllumination || n >= SimSensor::WordCrcActual)
                continue;
            QCOMPARE(now[n], m_image[n]);
        }
        QCOMPARE(now[SimSensor::WordIllumination], 2u);
        QCOMPARE(int(sensor.address()), 1);
        QCOMPARE(now[SimSensor::WordCrcRequired], now[SimSensor::WordCrcActual]);
        // The address write went to the sensor's old address, as the last request.
        const QList<SimRequestRecord> log = sensor.requestLog();
        QVERIFY(!log.isEmpty());
        QCOMPARE(log.last().request.left(3), QByteArray::fromHex("091010"));
    }

    // A file of another sensor: --yes answers only the file's question; the
    // serial number question needs --other-serial.
    void otherSensor_data()
    {
        const QString no = QStringLiteral(" Нет (ответ «Да» даёт --other-serial)");
        QTest::addColumn<QStringList>("args"); // FILE is appended
        QTest::addColumn<bool>("passport");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QStringList>("errStart");

        const QString question =
            QStringLiteral("Серийный номер датчика - 0012ABCD, в файле - 00C0FFEE. Датчик получит серийный номер из файла. Всё равно записать?");
        const QString fileQuestion =
            QStringLiteral("Серийный номер из файла - 00C0FFEE. Записать дамп во флеш? Да");
        QTest::newRow("restore --yes") << QStringList{"--yes", "restore"} << false << 1
                                       << QStringList{fileQuestion, question + no,
                                                      "Запись отменена пользователем"};
        QTest::newRow("restore --yes --other-serial")
            << QStringList{"--yes", "--other-serial", "restore"} << false << 0
            << QStringList{fileQuestion, question + " Да", "Запись дампа во флеш..."};
        QTest::newRow("passport-restore --yes")
            << QStringList{"--yes", "passport-restore"} << true << 1
            << QStringList{"Серийный номер - 00C0FFEE. Записать паспорт во флеш? Да",
                           "Серийный номер датчика - 0012ABCD, в файле - 00C0FFEE. Всё равно записать?" + no,
                           "Запись отменена пользователем"};
        QTest::newRow("restore --differences --yes")
            << QStringList{"--yes", "restore", "--differences"} << false << 1
            << QStringList{"Сравнение с дампом...", "Отличается слов: 2",
                           "Записать отличающиеся слова (2) во флеш? Да", question + no,
                           "Запись отменена пользователем"};
    }
    void otherSensor()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, passport);
        QFETCH(int, rc);
        QFETCH(QStringList, errStart);

        const SimSensor::Flash saved = sensor.flash();
        const auto restoreSensor = qScopeGuard([&] { sensor.setFlash(saved); });
        sensor.setAddress(1);
        SimSensor::Flash other = sensor.flash();
        other[SimSensor::WordSerial] = 0x00C0FFEE;
        other[SimSensor::WordTableX + 5] ^= 0x10;
        QTemporaryDir dir;
        QString file;
        if (passport) {
            file = dir.filePath(QStringLiteral("00C0FFEE.ini"));
            QByteArray text;
            for (int k = 0; k < 441; ++k)
                text += "1.5\t-2\t0\t0\r\n";
            QVERIFY(testfiles::writeBytes(file, text));
            QVERIFY(testfiles::writeBytes(dir.filePath(QStringLiteral("passport.ini")),
                             "[00C0FFEE]\r\nExpLevel=120;40;118;42\r\n"));
        } else {
            file = dir.filePath(QStringLiteral("other.dmp"));
            QVERIFY(testfiles::writeBytes(file, testfiles::dumpBytesOf(other)));
        }
        sensor.clearRequestLog();

        const CliRun run = runCli(onSensor(args + QStringList{file}));
        QCOMPARE(run.rc, rc);
        const QStringList err = withoutLevels(lines(run.err));
        QCOMPARE(err.mid(0, errStart.size()), errStart);
        if (rc == 0) {
            QCOMPARE(lines(run.err).last(), QStringLiteral("Восстановление успешно"));
            const SimSensor::Flash now = sensor.flash();
            for (int n = 0; n < SimSensor::WordCrcActual; ++n)
                QCOMPARE(now[n], other[n]);
        } else {
            QCOMPARE(err.size(), errStart.size());
            QCOMPARE(writesOf(sensor.requestLog()), QList<int>());
            QCOMPARE(sensor.serial(), Serial);
        }
    }

    // Another sensor's dump: calibration-restore moves only its calibration;
    // --keep-address keeps the sensor's address through a whole restore;
    // --as-found keeps the sensor's flash in history/ of the data folder first.
    void identityKept_data()
    {
        QTest::addColumn<QStringList>("args"); // FILE is appended
        QTest::addColumn<int>("rc");
        QTest::addColumn<quint32>("serial");   // the sensor's afterwards
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("written");     // the file's calibration is in the sensor
        QTest::addColumn<int>("asFound");      // files kept in the data folder's history/

        QTest::newRow("calibration-restore --yes")
            << QStringList{"--yes", "calibration-restore"} << 0 << Serial << 1 << true << 0;
        QTest::newRow("calibration-restore --as-found")
            << QStringList{"--yes", "--as-found", "calibration-restore"} << 0 << Serial << 1 << true << 1;
        QTest::newRow("calibration-restore") << QStringList{"calibration-restore"} << 1 << Serial << 1 << false
                                             << 0;
        QTest::newRow("restore --keep-address")
            << QStringList{"--yes", "--other-serial", "--keep-address", "restore"} << 0 << 0x00C0FFEEu << 1
            << true << 0;
        QTest::newRow("restore") << QStringList{"--yes", "--other-serial", "restore"} << 0 << 0x00C0FFEEu << 5
                                 << true << 0;
    }
    void identityKept()
    {
        QFETCH(QStringList, args);
        QFETCH(int, rc);
        QFETCH(quint32, serial);
        QFETCH(int, address);
        QFETCH(bool, written);
        QFETCH(int, asFound);

        const SimSensor::Flash saved = sensor.flash();
        const auto restoreSensor = qScopeGuard([&] { sensor.setFlash(saved); });
        sensor.setAddress(1);
        SimSensor::Flash other = sensor.flash();
        other[SimSensor::WordSerial] = 0x00C0FFEE;
        other[SimSensor::WordAddress] = 5;
        other[SimSensor::WordTableX + 5] ^= 0x10;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("other.dmp"));
        QVERIFY(testfiles::writeBytes(file, testfiles::dumpBytesOf(other)));

        QTemporaryDir data;
        CliEnvironment env;
        env.dumpDir = data.path();
        const CliRun run = runCli(onSensor(args + QStringList{file}), env);
        QCOMPARE(run.rc, rc);
        QCOMPARE(QDir(data.filePath("history")).entryList({"*-asfound-*.dmp"}, QDir::Files).size(), asFound);
        QCOMPARE(sensor.serial(), serial);
        QCOMPARE(int(sensor.address()), address);
        QCOMPARE(sensor.word(SimSensor::WordTableX + 5),
                 (written ? other : saved)[SimSensor::WordTableX + 5]);
    }

    // restore --differences reads every word and writes only those that differ,
    // never the address and illumination words; the checksum is corrected.
    void restoreDifferences()
    {
        const SimSensor::Flash saved = sensor.flash();
        const auto restoreSensor = qScopeGuard([&] { sensor.setFlash(saved); });
        sensor.setAddress(1);
        const SimSensor::Flash file = sensor.flash();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("differences.dmp"));
        QVERIFY(testfiles::writeBytes(path, testfiles::dumpBytesOf(file)));
        // Two words the restore brings back, an address word that answers at the
        // same address, and the illumination word, which it leaves alone.
        sensor.setWord(0x020, file[0x020] + 1);
        sensor.setWord(SimSensor::WordTableY + 5, 0xFFFFFFFF);
        sensor.setWord(SimSensor::WordAddress, file[SimSensor::WordAddress] ^ 0x100);
        sensor.setWord(SimSensor::WordIllumination, file[SimSensor::WordIllumination] == 2 ? 1 : 2);
        sensor.clearRequestLog();

        const CliRun run = runCli(onSensor({"--yes", "restore", "--differences", path}));
        QCOMPARE(run.rc, 0);
        QCOMPARE(run.out, QString());
        QCOMPARE(lines(run.err),
                 (QStringList{"Сравнение с дампом...", "Отличаются невосстанавливаемые слова: 1",
                              "Отличается слов: 3", "Записать отличающиеся слова (2) во флеш? Да",
                              "Запись отличающихся слов во флеш...", "Проверка записи...",
                              "Коррекция CRC...", "Восстановление успешно"}));
        QCOMPARE(writesOf(sensor.requestLog()), (QList<int>{0x1020, 0x123F, 0x13FF}));
        // The comparison's 1024 reads, the serial number, 2 writes, 2 reads, the correction's 3.
        QCOMPARE(sensor.requestCount(), 1024 + 1 + 2 + 2 + 3);
        const SimSensor::Flash now = sensor.flash();
        QCOMPARE(now[0x020], file[0x020]);
        QCOMPARE(now[SimSensor::WordTableY + 5], file[SimSensor::WordTableY + 5]);
        QCOMPARE(now[SimSensor::WordAddress], file[SimSensor::WordAddress] ^ 0x100);
        QVERIFY(now[SimSensor::WordIllumination] != file[SimSensor::WordIllumination]);
        QCOMPARE(now[SimSensor::WordCrcRequired], now[SimSensor::WordCrcActual]);
    }

    void passportRestoreRefusals_data()
    {
        QTest::addColumn<bool>("iniBeside");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("errLines");

        // The settings are found beside the passport: the question is reached.
        QTest::newRow("passport.ini beside, no --yes")
            << true << QStringLiteral("0012ABCD.ini")
            << QStringList{"Серийный номер - 0012ABCD. Записать паспорт во флеш? Нет (ответ «Да» даёт --yes)",
                           "Запись отменена пользователем"};
        QTest::newRow("no passport.ini beside")
            << false << QStringLiteral("0012ABCD.ini")
            << QStringList{"Отсутствуют значения уровней и экспозиций в файле паспорта"};
        QTest::newRow("renamed passport: no section")
            << true << QStringLiteral("0012ABCE.ini")
            << QStringList{"Отсутствуют значения уровней и экспозиций в файле паспорта"};
    }
    void passportRestoreRefusals()
    {
        QFETCH(bool, iniBeside);
        QFETCH(QString, name);
        QFETCH(QStringList, errLines);

        QTemporaryDir dir;
        QVERIFY(QFile::copy(passportPath(), dir.filePath(name)));
        if (iniBeside)
            QVERIFY(QFile::copy(passportIniPath(), dir.filePath(QStringLiteral("passport.ini"))));

        const CliRun run = runCli(onSensor({"passport-restore", dir.filePath(name)}));
        QCOMPARE(run.rc, 1);
        QCOMPARE(run.out, QString());
        QCOMPARE(withoutLevels(lines(run.err)), errLines);
        QCOMPARE(sensor.requestCount(), 0);
    }

    // Every verb that reads or changes the sensor's state is one row of the
    // record, with what the front end told it (the serial number addressed,
    // the address found) and its outcome; the exit status stays the verb's.
    void recordsEachVerb_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("differingWord"); // made to differ in the sensor first; -1 none
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("result");
        QTest::addColumn<qint64>("serial"); // -1: none told
        QTest::addColumn<int>("busAddress");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QStringList>("before"); // run first on the same record; empty: none
        const QString dump = dumpPath();
        const qint64 s = Serial;
        const QStringList dumpFirst{"dump", m_dir.filePath("out")};
        QTest::newRow("dump") << QStringList{"dump", m_dir.filePath("out")} << -1 << "dump" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("restore") << QStringList{"--yes", "restore", dump} << -1 << "restore" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("restore refused") << QStringList{"restore", dump} << -1 << "restore" << "failed" << -1ll << 1 << 1 << QStringList{};
        QTest::newRow("restore --differences") << QStringList{"--yes", "restore", "--differences", dump} << 0x20
                                               << "restore-differences" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("passport-restore") << QStringList{"--yes", "passport-restore", passportPath()} << -1
                                          << "passport-restore" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("calibration-restore") << QStringList{"--yes", "calibration-restore", dump} << -1
                                             << "calibration-restore" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("verify, same") << QStringList{"verify", dump} << -1 << "compare" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("verify, a difference") << QStringList{"verify", dump} << 0x20 << "compare" << "failed" << s << 1 << 1 << QStringList{};
        QTest::newRow("write-word") << QStringList{"write-word", "1020", "5"} << -1 << "write-word" << "success" << -1ll << 1 << 0 << QStringList{};
        // A word write reads no serial number: after a dump on the same port
        // and address it is put down to the sensor the dump met.
        QTest::newRow("write-word after a dump") << QStringList{"write-word", "1020", "5"} << -1 << "write-word" << "success" << s << 1 << 0 << dumpFirst;
        QTest::newRow("crc-correct after a dump") << QStringList{"crc-correct"} << -1 << "correct-checksum" << "success" << s << 1 << 0 << dumpFirst;
        QTest::newRow("crc-correct") << QStringList{"crc-correct"} << -1 << "correct-checksum" << "success" << -1ll << 1 << 0 << QStringList{};
        QTest::newRow("set-address") << QStringList{"set-address", "0012ABCD", "1"} << -1 << "set-address" << "success" << s << 1 << 0 << QStringList{};
        QTest::newRow("set-address, nobody answers") << QStringList{"--timeout-short", "50", "set-address", "00000001", "7"}
                                                     << -1 << "set-address" << "failed" << 1ll << 7 << 1 << QStringList{};
        QTest::newRow("search") << QStringList{"--addr", "5", "search", "--find-timeout", "50"} << -1 << "search" << "success" << -1ll << 1 << 0 << QStringList{};
    }
    void recordsEachVerb()
    {
        QFETCH(QStringList, args);
        QFETCH(int, differingWord);
        QFETCH(QString, kind);
        QFETCH(QString, result);
        QFETCH(qint64, serial);
        QFETCH(int, busAddress);
        QFETCH(int, rc);
        QFETCH(QStringList, before);
        sensor.setFlash(m_image);
        sensor.setAddress(1);
        if (differingWord >= 0)
            sensor.setWord(differingWord, m_image[differingWord] + 1);
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("records.sqlite"));
        QVERIFY(QDir().mkpath(m_dir.filePath("out")));

        if (!before.isEmpty())
            QCOMPARE(runCli(onSensor(QStringList{"--record", record} + before)).rc, 0);
        const CliRun run = runCli(onSensor(QStringList{"--record", record} + args));
        QCOMPARE(run.rc, rc);
        QVERIFY2(!run.err.contains(QStringLiteral("Журнал обслуживания")), qPrintable(run.err));
        const QList<OperationEntry> entries = ServiceRecord(record).history({});
        QCOMPARE(entries.size(), before.isEmpty() ? 1 : 2);
        const OperationEntry &e = entries.last();
        QCOMPARE(KindKey(e.kind), kind);
        QCOMPARE(ResultKey(e.result), result);
        QCOMPARE(e.serial.has_value() ? qint64(*e.serial) : -1, serial);
        QCOMPARE(e.busAddress, busAddress);
        QCOMPARE(e.port, devicePath());
        sensor.setFlash(m_image);
    }

    // Where the record goes: the data folder's records.sqlite by default,
    // nowhere with --no-record; a record that cannot be opened is one red line
    // after the verb's own, and the verb stands.
    void recordPlace_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("before"); // records.sqlite of the data folder; empty: none
        QTest::addColumn<bool>("rowAdded");
        QTest::addColumn<QString>("redLine"); // the start of the one line after the result; empty: none
        QTest::newRow("default") << QStringList{} << QByteArray() << true << QString();
        QTest::newRow("--no-record") << QStringList{"--no-record"} << QByteArray() << false << QString();
        QTest::newRow("a folder") << QStringList{"--record", "DIR"} << QByteArray() << false
                                  << QStringLiteral("Журнал обслуживания DIR не открыт: ");
        QTest::newRow("a file that is no record, kept")
            << QStringList{} << QByteArray("notes\n") << false
            << QStringLiteral("Журнал обслуживания DIR/records.sqlite не открыт: файл не является базой данных SQLite");
    }
    void recordPlace()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, before);
        QFETCH(bool, rowAdded);
        QFETCH(QString, redLine);
        QTemporaryDir data;
        const QString file = data.filePath(QStringLiteral("records.sqlite"));
        if (!before.isEmpty())
            QVERIFY(testfiles::writeBytes(file, before));
        CliEnvironment env;
        env.dumpDir = data.path();
        options.replaceInStrings(QStringLiteral("DIR"), data.path());
        const CliRun run = runCliAsIs(onSensor(options + QStringList{"write-word", "1020", "5"}), env);
        QCOMPARE(run.rc, 0);
        QCOMPARE(run.out, QStringLiteral("Записано: 1020 = 00000005\n"));
        if (rowAdded)
            QCOMPARE(ServiceRecord(file).history({}).size(), 1);
        else if (before.isEmpty())
            QVERIFY(!QFileInfo::exists(file));
        else
            QCOMPARE(readAll(file), before);
        const QStringList err = lines(run.err);
        QCOMPARE(err.size(), redLine.isEmpty() ? 0 : 1);
        if (!redLine.isEmpty())
            QVERIFY2(err.first().startsWith(QString(redLine).replace(QStringLiteral("DIR"), data.path())),
                     qPrintable(err.first()));
        sensor.setFlash(m_image);
    }

private:
    // The lines that name where the levels came from, or were looked for: the
    // core's, and tested there.
    static QStringList withoutLevels(QStringList err)
    {
        err.removeIf([](const QString &l) {
            return l.startsWith(QStringLiteral("Уровни")) || l.contains(QStringLiteral("уровни берутся из"));
        });
        return err;
    }
};

QTEST_GUILESS_MAIN(TestCliFlash)
#include "tst_cliflash.moc"
