// The read passes in blocks of flash words against the simulated sensor on a
// pseudo-terminal: the same image as one word per request, the fallback to
// single words when the sensor refuses a block, and the read-back of a restore.

#include "FlashTestUtil.h"

#include "flash/DumpFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace flashtest;

namespace {

enum class Operation { Dump, Compare, Restore };

// The default timeout of a word's exchange, at the rig's 9600 bit/s.
constexpr qint32 kTimeoutMs = 300;

const QString kFallback = QStringLiteral("Датчик не читает блоками (%1), чтение по одному слову");

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(SimFault)

class TestFlashBlocks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_rig.startWithEngine(), qPrintable(m_rig.errorString())); }
    void cleanupTestCase() { m_rig.stop(); }

    void readPass_data();
    void readPass();

private:
    testsim::SensorOnPty m_rig;
};

void TestFlashBlocks::readPass_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<bool>("refused");     // the sensor reads single words only
    QTest::addColumn<SimFault>("fault");   // delay(0): none
    QTest::addColumn<int>("requests");     // the sensor receives in all
    QTest::addColumn<QString>("fallback"); // the reason in the fallback line; empty: none
    QTest::addColumn<QStringList>("red");  // the red lines
    QTest::addColumn<QString>("failure");  // empty: the operation succeeds

    struct Row
    {
        const char *name;
        Operation operation = Operation::Dump;
        int blocks = 62;
        int requests = 17; // 1024 words: 16 blocks of 62 and one of 32
        bool refused = false;
        SimFault fault = SimFault::delay(0);
        QString fallback;
        QStringList red;
        QString failure;
    };
    const QString refusal = QStringLiteral("Ошибка - Недопустимый адрес [код ошибки 2]");
    const QString differs = QStringLiteral("Данные различаются по адресу 0x1064");
    // The restore: the serial number, 1022 writes, the read-back of words 1..5
    // and 7..1023 (1 + 17 blocks), the checksum correction.
    const QList<Row> rows{
        {.name = "dump, 1 word", .blocks = 1, .requests = 1024},
        {.name = "dump, 7 words", .blocks = 7, .requests = 147}, // the last block of 2
        {.name = "dump, 62 words"},
        // The refused block is read again word by word: one request more.
        {.name = "dump, blocks refused", .requests = 1 + 1024, .refused = true, .fallback = refusal},
        {.name = "dump, a block answered with one word", .requests = 1 + 1024,
         .fault = SimFault::shortData(4).onFunction(3), .fallback = "Неверная длина данных"},
        // A lost reply is the line's: repeated, in blocks still.
        {.name = "dump, block reply lost, repeated", .requests = 17 + 1, .fault = SimFault::noReply().onAddress(0x103E),
         .red = {"Таймаут"}},
        // 62 words take some 300 ms at 9600 bit/s: more than a word's timeout.
        {.name = "dump, a slow block reply", .fault = SimFault::delay(350).onAddress(0x1000)},
        {.name = "comparison, 62 words", .operation = Operation::Compare, .red = {"Отличается слов: 2"}},
        {.name = "restore, 62 words", .operation = Operation::Restore, .requests = 1 + 1022 + 18 + 3},
        {.name = "restore, blocks refused", .operation = Operation::Restore, .requests = 1 + 1022 + 1 + 1022 + 3, .refused = true,
         .fallback = refusal},
        // A word the sensor did not keep, inside the third block of the read-back.
        {.name = "restore, difference inside a block", .operation = Operation::Restore, .requests = 1 + 1022 + 3,
         .fault = SimFault::ignoreWrite(100), .red = {differs}, .failure = differs},
    };
    for (const Row &r : rows)
        QTest::newRow(r.name) << r.operation << r.blocks << r.refused << r.fault << r.requests << r.fallback
                              << r.red << r.failure;
}

void TestFlashBlocks::readPass()
{
    QFETCH(Operation, operation);
    QFETCH(int, blocks);
    QFETCH(bool, refused);
    QFETCH(SimFault, fault);
    QFETCH(int, requests);
    QFETCH(QString, fallback);
    QFETCH(QStringList, red);
    QFETCH(QString, failure);

    SimSensor::Flash flash = SimSensor::defaultFlash();
    for (int n = 7; n < SimSensor::WordTableX; ++n)
        flash[std::size_t(n)] = 0x9E3779B9u * quint32(n);
    SimSensor::Flash file = flash; // the restore's and the comparison's file
    file[100] ^= 1u;
    file[500] ^= 0x00FF0000u;
    file[SimSensor::WordIllumination] = 2; // never written nor read back
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString dumpPath = dir.filePath("file.dmp");
    QVERIFY(writeBytes(dumpPath, dumpBytesOf(file)));

    m_rig.reset(flash, 1);
    m_rig.sensor.setBlockReads(!refused);
    m_rig.sensor.addFault(fault);
    RecordingOpHost op(&m_rig.sensor);
    op.blocks = blocks;
    op.retryCount = 1;
    op.answers = {true};

    FlashComparison comparison;
    const QString outcome = failureOf([&] {
        switch (operation) {
        case Operation::Dump: CreateDump(*m_rig.engine, op, dir.path(), kTimeoutMs, 2); break;
        case Operation::Compare: comparison = CompareFlash(*m_rig.engine, op, imageOf(file), kTimeoutMs, 2); break;
        case Operation::Restore: RestoreDump(*m_rig.engine, op, dumpPath, {3000, kTimeoutMs}, 2, {}); break;
        }
    });

    QCOMPARE(outcome, failure.isEmpty() ? QStringLiteral("<no failure>") : failure);
    QCOMPARE(m_rig.sensor.requestCount(), requests);
    QCOMPARE(texts(m_rig.host, LogError), red);
    const QStringList fallbackLines = texts(m_rig.host, LogInfo).filter(QStringLiteral("блоками"));
    QCOMPARE(fallbackLines, fallback.isEmpty() ? QStringList() : QStringList{kFallback.arg(fallback)});

    // Every read asks for whole words within the flash, no more than a block.
    for (const Request &r : requestsOf(m_rig.sensor))
        if (const int words = quint8(r.frame[5]) / 2; r.function == 3)
            QVERIFY(r.frame[4] == 0 && words >= 1 && words <= blocks && r.address + words <= 0x1400);
    if (operation != Operation::Restore) {
        // A pause between every two requests; the gauge rises to 100.
        QCOMPARE(op.values(HostEvent::Pause).size(), requests - 1);
        const QList<int> gauge = op.values(HostEvent::Progress);
        QVERIFY(std::is_sorted(gauge.begin(), gauge.end()));
        QCOMPARE(gauge.last(), 100);
    }
    switch (operation) {
    case Operation::Dump:
        QCOMPARE(readBytes(dir.filePath("0012AB7F.dmp")), dumpBytesOf(flash));
        break;
    case Operation::Compare:
        QCOMPARE(comparison.differences.size(), 3);
        QCOMPARE(comparison.differences[2].index, 500);
        QCOMPARE(comparison.differences[2].sensorValue, flash[500]);
        break;
    case Operation::Restore:
        if (failure.isEmpty()) {
            SimSensor::Flash restored = m_rig.sensor.flash();
            restored[SimSensor::WordIllumination] = file[SimSensor::WordIllumination];
            for (const int n : {SimSensor::WordCrcRequired, SimSensor::WordCrcActual})
                restored[std::size_t(n)] = file[std::size_t(n)];
            QVERIFY(restored == file);
        } else {
            QVERIFY(texts(m_rig.host, LogInfo).contains(QStringLiteral("Прервано на адресе 0x1064")));
        }
        break;
    }
}

QTEST_GUILESS_MAIN(TestFlashBlocks)
#include "tst_flashblocks.moc"
