// Dump creation against the simulated sensor on a pseudo-terminal, the writing
// of the three files on its own, and the rows of the dump viewer.

#include "FlashTestUtil.h"

#include "flash/FlashOperations.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

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

} // namespace

class TestFlashOps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void createDump();
    void readFailureWritesNoFile();
    void savedFiles_data();
    void savedFiles();
    void fileFailureStopsLaterFiles_data();
    void fileFailureStopsLaterFiles();
    void viewRows_data();
    void viewRows();
    void viewRowsCoverTables();

private:
    SimRig m_rig;
};

void TestFlashOps::initTestCase()
{
    QString error;
    QVERIFY2(m_rig.start(&error), qPrintable(error));
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
    QVERIFY(writeBytes(dir.filePath("passport.ini"),
                       "[00000001]\r\nExpLevel=1;2;3;4\r\nNote=keep\r\n\r\n"
                       "[0012ABCD]\r\nExpLevel=9;9;9;9\r\nOther=stays\r\n"));
    QVERIFY(writeBytes(dir.filePath("0012ABCD.dmp"), "old dump"));

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

    const auto ini = parseIni(readBytes(files.passportIni));
    QCOMPARE(ini.value("0012ABCD").value("ExpLevel"), QStringLiteral("244;40;118;42"));
    QCOMPARE(ini.value("0012ABCD").value("Other"), QStringLiteral("stays"));
    QCOMPARE(ini.value("00000001").value("ExpLevel"), QStringLiteral("1;2;3;4"));
    QCOMPARE(ini.value("00000001").value("Note"), QStringLiteral("keep"));

    // The log: start line, then the three files in order, no traffic lines.
    const LogLines expectedLog{{"Чтение флеш...", 0},
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

void TestFlashOps::savedFiles_data()
{
    QTest::addColumn<int>("firmware");
    QTest::addColumn<int>("dimension");
    QTest::addColumn<QString>("firstCoords");
    QTest::addColumn<QString>("secondColumn");
    QTest::addColumn<QString>("lastCoords");

    // Fine grid: 2 mm for versions 11 and 15, else 2.05 mm; coarse grid: 5 mm for
    // 11, 12, 13 and 15, else 5.05 mm.
    QTest::newRow("2 mm, version 11") << 11 << 40 << "-20\t-20" << "-18" << "20\t20";
    QTest::newRow("2.05 mm, version 12") << 12 << 40 << "-20.5\t-20.5" << "-18.45" << "20.5\t20.5";
    QTest::newRow("5 mm, version 13") << 13 << 100 << "-50\t-50" << "-45" << "50\t50";
    QTest::newRow("5 mm, version 12") << 12 << 0 << "-50\t-50" << "-45" << "50\t50";
    QTest::newRow("5.05 mm, version 14") << 14 << 100 << "-50.5\t-50.5" << "-45.45" << "50.5\t50.5";
    QTest::newRow("5.05 mm, version 16") << 16 << 41 << "-50.5\t-50.5" << "-45.45" << "50.5\t50.5";
    // Only the low bytes of the two words choose the step.
    QTest::newRow("dimension word 0x128") << 11 << 0x128 << "-20\t-20" << "-18" << "20\t20";
}

void TestFlashOps::savedFiles()
{
    QFETCH(int, firmware);
    QFETCH(int, dimension);
    QFETCH(QString, firstCoords);
    QFETCH(QString, secondColumn);
    QFETCH(QString, lastCoords);

    SimSensor::Flash flash = dumpSubject();
    flash[SimSensor::WordFirmware] = quint32(firmware);
    flash[SimSensor::WordDimension] = quint32(dimension);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RecordingBusHost log;
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());

    const DumpFiles files = SaveDumpFiles(log, image, dir.path());

    QCOMPARE(readBytes(files.dump), dumpBytesOf(flash));
    const QByteArray passport = readBytes(files.passport);
    QCOMPARE(passport, expectedPassportText(flash));
    const QStringList rows = lines(passport);
    QCOMPARE(rows.size(), 441);
    for (const QString &row : rows)
        QCOMPARE(row.count(u'\t'), 3);
    QCOMPARE(passport.count("\r\n"), 441);
    QVERIFY(passport.endsWith("\r\n"));
    QVERIFY2(rows[0].endsWith(u'\t' + firstCoords), qPrintable(rows[0]));
    QCOMPARE(rows[1].section(u'\t', 3, 3), secondColumn);
    QCOMPARE(rows[21].section(u'\t', 2, 2), secondColumn); // row 1, column 0
    QVERIFY2(rows[220].endsWith(QStringLiteral("\t0\t0")), qPrintable(rows[220]));
    QVERIFY2(rows[440].endsWith(u'\t' + lastCoords), qPrintable(rows[440]));

    QCOMPARE(parseIni(readBytes(files.passportIni)).value("0012ABCD").value("ExpLevel"),
             QStringLiteral("244;40;118;42"));
    QCOMPARE(log.texts(0), QStringList({"Дамп сохранён в файле 0012ABCD.dmp...",
                                        "Паспорт сохранён в файле 0012ABCD.ini...",
                                        "Данные паспорта сохранены в файле passport.ini..."}));
    QVERIFY(log.texts(3).isEmpty());
}

void TestFlashOps::fileFailureStopsLaterFiles_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<int>("written"); // files written before the blocked one

    QTest::newRow("dump file") << "0012ABCD.dmp" << 0;
    QTest::newRow("passport text") << "0012ABCD.ini" << 1;
    QTest::newRow("passport.ini") << "passport.ini" << 2;
}

void TestFlashOps::fileFailureStopsLaterFiles()
{
    QFETCH(QString, blocked);
    QFETCH(int, written);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A directory of the file's name: the file can be neither created nor replaced.
    QVERIFY(QDir(dir.path()).mkdir(blocked));
    const SimSensor::Flash flash = dumpSubject();
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    RecordingBusHost log;

    QString failure;
    try {
        SaveDumpFiles(log, image, dir.path());
        QFAIL("the files were written");
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    const QStringList done{"Дамп сохранён в файле 0012ABCD.dmp...",
                           "Паспорт сохранён в файле 0012ABCD.ini...",
                           "Данные паспорта сохранены в файле passport.ini..."};
    QVERIFY(!failure.isEmpty());
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

void TestFlashOps::viewRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("raw");

    QTest::newRow("address") << 0 << "Адрес" << "0x05" << "00000005";
    QTest::newRow("serial") << 1 << "Серийный номер" << "0x0012ABCD" << "0012ABCD";
    QTest::newRow("exposure X, low byte") << 2 << "Экспозиция X" << "35" << "00000123";
    QTest::newRow("threshold Y") << 5 << "Порог компарации Y" << "255" << "000000FF";
    QTest::newRow("firmware") << 6 << "Версия прошивки" << "14" << "0000000E";
    QTest::newRow("crc, low half") << 9 << "CRC" << "0x1234" << "ABCD1234";
    QTest::newRow("real crc") << 10 << "Реальное CRC" << "0x2345" << "00012345";
    QTest::newRow("required crc") << 11 << "Требуемое CRC" << "0xBEEF" << "0000BEEF";
    QTest::newRow("X1") << 12 << "X1" << "1.5" << "3FC00000";
    QTest::newRow("X2, three decimals") << 13 << "X2" << "-20.123" << "C1A0FBE7";
    QTest::newRow("X441") << 452 << "X441" << "-2.25" << "C0100000";
    QTest::newRow("Y1, erased") << 453 << "Y1" << "-NAN" << "FFFFFFFF";
    QTest::newRow("Y441") << 893 << "Y441" << "0" << "00000000";
}

void TestFlashOps::viewRows()
{
    QFETCH(int, row);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, raw);

    FlashImage image{};
    image[0x000] = 5;
    image[0x001] = 0x0012ABCD;
    image[0x002] = 0x123;
    image[0x003] = 118;
    image[0x004] = 40;
    image[0x005] = 0xFF;
    image[0x3FA] = 14;
    image[0x3FB] = 40;
    image[0x3FC] = 2;
    image[0x3FD] = 0xABCD1234;
    image[0x3FE] = 0x12345;
    image[0x3FF] = 0xBEEF;
    image[128] = 0x3FC00000;       // 1.5
    image[129] = 0xC1A0FBE7;       // -20.12300...
    image[568] = 0xC0100000;       // -2.25
    image[570] = 0xFFFFFFFF;       // erased
    image[1010] = 0;

    const QList<QStringList> rows = DumpViewRows(image);
    QCOMPARE(rows.size(), 894);
    QCOMPARE(rows[row], QStringList({name, value, raw}));
}

void TestFlashOps::viewRowsCoverTables()
{
    // Every table word shows in its own row; the words outside the named fields
    // and the tables (7..127, 569, 1011..1017) show nowhere.
    FlashImage image{};
    for (int n = 0; n < FlashWords; ++n)
        image[std::size_t(n)] = 0x40000000u + quint32(n); // positive singles near 2
    const QList<QStringList> rows = DumpViewRows(image);
    QCOMPARE(rows.size(), 894);
    QStringList raws;
    for (const QStringList &r : rows) {
        QCOMPARE(r.size(), 3);
        raws << r[2];
    }
    for (int k = 0; k < 441; ++k) {
        QCOMPARE(rows[12 + k][0], QStringLiteral("X%1").arg(k + 1));
        QCOMPARE(rows[12 + k][2], QString::asprintf("%08X", 0x40000000u + 128 + k));
        QCOMPARE(rows[453 + k][0], QStringLiteral("Y%1").arg(k + 1));
        QCOMPARE(rows[453 + k][2], QString::asprintf("%08X", 0x40000000u + 570 + k));
    }
    for (int n : {7, 127, 569, 1011, 1017})
        QVERIFY(!raws.contains(QString::asprintf("%08X", 0x40000000u + n)));
}

QTEST_GUILESS_MAIN(TestFlashOps)
#include "tst_flashops.moc"
