// What the flash operations tell their recorder, and the flash kept as found
// before a restore writes, against the simulated sensor on a pseudo-terminal.

#include "FlashTestUtil.h"

#include "flash/DumpHistory.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace flashtest;

namespace {

constexpr qint32 kTimeoutMs = 1000;
const CommandTimeouts kTimeouts{3000, kTimeoutMs};

enum class Operation { Dump, Restore, Differences, Passport, Calibration, Compare };

// The sensor's own flash, and a dump of the same sensor that differs from it
// in five words a restore writes and in the address word.
SimSensor::Flash sensorFlash()
{
    SimSensor::Flash f = SimSensor::defaultFlash();
    f[SimSensor::WordFirmware] = 15;
    return f;
}

SimSensor::Flash fileFlash()
{
    SimSensor::Flash f = sensorFlash();
    f[SimSensor::WordAddress] = 5;
    f[SimSensor::WordExposureX] = 99;
    f[7] = 0x01020304;
    f[100] = 0xA5A5A5A5;
    f[SimSensor::WordTableX + 3] = bitsOf(-12.5f);
    f[SimSensor::WordTableY + 7] = bitsOf(3.25f);
    return f;
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestFlashTold : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void told_data();
    void told();
    void asFoundNotKept_data();
    void asFoundNotKept();
    void asFoundNeverReplaced();

private:
    testsim::SensorOnPty m_rig;
};

void TestFlashTold::initTestCase()
{
    QVERIFY2(m_rig.startWithEngine(), qPrintable(m_rig.errorString()));
}

void TestFlashTold::cleanupTestCase()
{
    m_rig.stop();
}

void TestFlashTold::told_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<bool>("asFound");
    QTest::addColumn<int>("requests");   // with as-found off
    QTest::addColumn<int>("words");      // word writes told
    QTest::addColumn<int>("serials");    // serial numbers told
    QTest::addColumn<bool>("firmware");  // the firmware version told
    QTest::addColumn<QStringList>("files"); // "name use", in the order told

    // Requests: the serial check, then per word written a write and a
    // read-back, the checksum correction (3) and the address word (1). The
    // differences restore writes the five words that differ but the address.
    const int restore = 1 + 2 * 1022 + 3 + 1;
    const int differences = 1024 + 1 + 2 * 5 + 3 + 1;
    const int passport = 1 + 2 * 886 + 3;
    const QStringList dumpFiles{"0012AB7F.dmp 1", "0012AB7F.ini 1", "passport.ini 1"};
    for (const bool asFound : {false, true}) {
        const char *tag = asFound ? ", as found" : "";
        const QStringList found = asFound ? QStringList{"asfound 2"} : QStringList();
        QTest::addRow("restore%s", tag) << Operation::Restore << asFound << restore << 1022 + 2 << 1
                                        << asFound << QStringList{"file.dmp 0"} + found;
        QTest::addRow("differences%s", tag) << Operation::Differences << asFound << differences << 5 + 2
                                            << 2 << true << QStringList{"file.dmp 0"} + found;
        QTest::addRow("passport%s", tag) << Operation::Passport << asFound << passport << 886 + 1 << 1
                                         << asFound
                                         << QStringList{"0012AB7F.ini 0", "passport.ini 0"} + found;
        QTest::addRow("calibration%s", tag) << Operation::Calibration << asFound << passport << 886 + 1
                                            << 1 << asFound << QStringList{"file.dmp 0"} + found;
    }
    // Reads only: the folder for the as-found flash changes nothing.
    QTest::newRow("dump") << Operation::Dump << true << 1024 << 0 << 1 << true << dumpFiles;
    QTest::newRow("compare") << Operation::Compare << true << 1024 << 0 << 1 << true << QStringList();
}

void TestFlashTold::told()
{
    QFETCH(Operation, operation);
    QFETCH(bool, asFound);
    QFETCH(int, requests);
    QFETCH(int, words);
    QFETCH(int, serials);
    QFETCH(bool, firmware);
    QFETCH(QStringList, files);

    QTemporaryDir source;
    QTemporaryDir data;
    QVERIFY(source.isValid() && data.isValid());
    const SimSensor::Flash file = fileFlash();
    const QString dumpPath = source.filePath("file.dmp");
    QVERIFY(writeBytes(dumpPath, dumpBytesOf(file)));
    RecordingHost quiet;
    const DumpFiles passport = SaveDumpFiles(quiet, imageOf(file), source.path());

    const SimSensor::Flash before = sensorFlash();
    m_rig.reset(before, 1);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true}; // the write, the dump's address
    if (asFound)
        op.asFound = data.path();
    const auto setAddress = [this](int a) { m_rig.host.address = a; };
    switch (operation) {
    case Operation::Dump: CreateDump(*m_rig.engine, op, data.path(), kTimeoutMs, 0); break;
    case Operation::Restore: RestoreDump(*m_rig.engine, op, dumpPath, kTimeouts, 0, setAddress); break;
    case Operation::Differences:
        RestoreDifferences(*m_rig.engine, op, dumpPath, kTimeouts, 0, setAddress);
        break;
    case Operation::Passport:
        RestorePassport(*m_rig.engine, op, passport.passport, passport.passportIni, kTimeouts, 0);
        break;
    case Operation::Calibration: RestoreCalibration(*m_rig.engine, op, dumpPath, kTimeouts, 0); break;
    case Operation::Compare: CompareFlash(*m_rig.engine, op, imageOf(file), kTimeoutMs, 0); break;
    }
    const RecordingRecorder &told = op.told;

    // The sensor as the operation met it.
    QCOMPARE(told.serials, QList<quint32>(serials, before[SimSensor::WordSerial]));
    QCOMPARE(told.firmwares, firmware ? QList<quint32>{before[SimSensor::WordFirmware]} : QList<quint32>());

    // The files, by name and use; each path absolute and the file there.
    QStringList toldFiles;
    for (const auto &[path, use] : told.files) {
        QVERIFY2(QFileInfo(path).isAbsolute() && QFileInfo(path).isFile(), qPrintable(path));
        const QString name = QFileInfo(path).fileName();
        toldFiles << (name.contains("-asfound-") ? QStringLiteral("asfound") : name) + u' '
                + QString::number(int(use));
    }
    QCOMPARE(toldFiles, files);

    // Every word told holds the last value told for it, and each value told
    // replaced the one before: the sensor's own where the operation had read
    // it (the comparison, the as-found read), else only what it wrote itself.
    const SimSensor::Flash after = m_rig.sensor.flash();
    const bool readBefore = asFound || operation == Operation::Differences;
    QMap<quint16, quint32> last;
    for (const RecordingRecorder::Word &w : told.words) {
        const int n = w.address - 0x1000;
        QVERIFY(n >= 0 && n < 1024);
        const std::optional<quint32> previous =
            last.contains(w.address) ? std::optional<quint32>(last[w.address])
            : readBefore            ? std::optional<quint32>(before[std::size_t(n)])
                                    : std::nullopt;
        QCOMPARE(w.previous.has_value(), previous.has_value());
        QCOMPARE(w.previous.value_or(0), previous.value_or(0));
        last[w.address] = w.value;
    }
    // (Word 0x3FE the sensor sets itself at the checksum read.)
    last.remove(0x13FE);
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        QCOMPARE(after[std::size_t(it.key() - 0x1000)], it.value());
    QCOMPARE(told.words.size(), words);

    // The requests: the restore's own, and with as-found a whole read of the
    // flash right after the serial check; the differences restore reuses its
    // comparison's.
    const QList<Request> sent = requestsOf(m_rig.sensor);
    const bool asFoundRead = asFound && words > 0 && operation != Operation::Differences;
    QCOMPARE(sent.size(), requests + (asFoundRead ? 1024 : 0));
    if (asFoundRead) {
        for (int n = 0; n < 1024; ++n) {
            QCOMPARE(sent[1 + n].function, 3);
            QCOMPARE(sent[1 + n].address, 0x1000 + n);
        }
    }

    // The flash as found: in history/ of the folder, word for word the sensor
    // before the write, and named in the log.
    const QStringList kept =
        QDir(data.filePath("history")).entryList({"0012AB7F-asfound-*Z.dmp"}, QDir::Files | QDir::Hidden);
    QCOMPARE(kept.size(), asFound && words > 0 ? 1 : 0);
    if (!kept.isEmpty()) {
        QCOMPARE(readBytes(data.filePath("history/" + kept[0])), dumpBytesOf(before));
        QCOMPARE(told.files.last().first, QDir(data.filePath("history")).absoluteFilePath(kept[0]));
        QVERIFY(m_rig.host.lines.contains(LogLine{"Исходный дамп сохранён в файле history/" + kept[0], 0}));
    }
}

void TestFlashTold::asFoundNotKept_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("requests"); // all reads

    QTest::newRow("restore") << Operation::Restore << 1 + 1024;
    QTest::newRow("differences") << Operation::Differences << 1024 + 1;
}

// A flash that cannot be kept stops the restore before its first write.
void TestFlashTold::asFoundNotKept()
{
    QFETCH(Operation, operation);
    QFETCH(int, requests);

    QTemporaryDir source;
    QVERIFY(source.isValid());
    const QString dumpPath = source.filePath("file.dmp");
    QVERIFY(writeBytes(dumpPath, dumpBytesOf(fileFlash())));
    // history/ cannot be made: a file has its name.
    QVERIFY(writeBytes(source.filePath("history"), "x"));

    const SimSensor::Flash before = sensorFlash();
    m_rig.reset(before, 1);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true};
    op.asFound = source.path();
    QString failure;
    try {
        if (operation == Operation::Restore)
            RestoreDump(*m_rig.engine, op, dumpPath, kTimeouts, 0, {});
        else
            RestoreDifferences(*m_rig.engine, op, dumpPath, kTimeouts, 0, {});
        QFAIL("the restore went on");
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }
    QVERIFY2(failure.startsWith("Исходный дамп не удалось сохранить в папке history ("), qPrintable(failure));
    QVERIFY(failure.endsWith("), запись не начата"));
    QCOMPARE(m_rig.host.lines.last(), (LogLine{failure, LogError}));
    QCOMPARE(m_rig.sensor.requestCount(), requests);
    QCOMPARE(m_rig.sensor.flash(), before);
    QVERIFY(op.told.words.isEmpty());
}

// A kept flash never replaces a file: the next free name is taken, and no
// part file is left behind.
void TestFlashTold::asFoundNeverReplaced()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime at(QDate(2024, 3, 5), QTime(7, 8, 9), QTimeZone::utc());
    const FlashImage image = imageOf(sensorFlash());
    QVERIFY(QDir(dir.path()).mkdir("history"));
    QVERIFY(writeBytes(dir.filePath("history/0012AB7F-asfound-20240305T070809Z.dmp"), "old"));

    QCOMPARE(KeepAsFoundDump(dir.path(), image, at), "history/0012AB7F-asfound-20240305T070809Z-2.dmp");
    QCOMPARE(KeepAsFoundDump(dir.path(), image, at), "history/0012AB7F-asfound-20240305T070809Z-3.dmp");
    QCOMPARE(readBytes(dir.filePath("history/0012AB7F-asfound-20240305T070809Z.dmp")), QByteArray("old"));
    QCOMPARE(readBytes(dir.filePath("history/0012AB7F-asfound-20240305T070809Z-3.dmp")),
             dumpBytesOf(sensorFlash()));
    QCOMPARE(QDir(dir.filePath("history")).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

QTEST_GUILESS_MAIN(TestFlashTold)
#include "tst_flashtold.moc"
