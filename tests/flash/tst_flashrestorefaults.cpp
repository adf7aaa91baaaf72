// Dump restore runs that meet a fault late: a word that reads back different
// from the file, and a checksum correction that fails after both passes.

#include "FlashTestUtil.h"

#include <QTemporaryDir>
#include <QTest>

using namespace flashtest;

namespace {

constexpr qint32 kTimeoutMs = 1000;

SimSensor::Flash fileImage()
{
    SimSensor::Flash f = SimSensor::defaultFlash();
    f[SimSensor::WordSerial] = 0x00ABCDEF;
    for (int k = 0; k < SimSensor::GridPoints; ++k)
        f[std::size_t(SimSensor::WordTableX + k)] = bitsOf(float(k) / 8.0f);
    f[SimSensor::WordCrc] = 0x1234;
    return f;
}

} // namespace

class TestFlashRestoreFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void readBackDifferenceStops();
    void failedCorrectionFails();

private:
    testsim::SensorOnPty m_rig;
    QTemporaryDir m_dir;
};

void TestFlashRestoreFaults::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_rig.startWithEngine(), qPrintable(m_rig.errorString()));
}

void TestFlashRestoreFaults::cleanupTestCase()
{
    m_rig.stop();
}

void TestFlashRestoreFaults::readBackDifferenceStops()
{
    const SimSensor::Flash file = fileImage();
    const QString path = m_dir.filePath("diff.dmp");
    QVERIFY(writeBytes(path, dumpBytesOf(file)));
    m_rig.reset(SimSensor::defaultFlash(), 1);
    // The sensor acknowledges the write of CRC word 0x3FD but keeps its old value.
    m_rig.sensor.addFault(SimFault::ignoreWrite(0x3FD));
    QVERIFY(m_rig.sensor.word(0x3FD) != file[0x3FD]);

    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true};
    QString failure;
    try {
        RestoreDump(*m_rig.engine, op, path, {3000, kTimeoutMs}, 0, {});
        QFAIL("the restore went through");
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    QCOMPARE(failure, QStringLiteral("Данные различаются по адресу 0x13FD"));
    QCOMPARE(texts(m_rig.host, 0), QStringList({"Запись дампа во флеш...", "Проверка записи...",
                                               "Прервано на адресе 0x13FD", "Записано слов: 1022 из 1022",
                                               FinishHint(WriteJob::Dump, true)}));
    QCOMPARE(texts(m_rig.host, 3), QStringList{"Данные различаются по адресу 0x13FD"});

    // The serial number read, the write pass, and the verify pass stopped at
    // 0x13FD (its 1020th read): no later word read, no correction.
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 1022 + 1020);
    QCOMPARE(requests.last().function, 3);
    QCOMPARE(requests.last().address, 0x13FD);
    QCOMPARE(op.questions.size(), 2); // the file's, the other sensor's
    QCOMPARE(op.values(HostEvent::Progress).size(), 1024 + 0x3FD); // positions 0..0x3FC
}

void TestFlashRestoreFaults::failedCorrectionFails()
{
    SimSensor::Flash file = fileImage();
    file[SimSensor::WordAddress] = 7;
    const QString path = m_dir.filePath("crc.dmp");
    QVERIFY(writeBytes(path, dumpBytesOf(file)));
    m_rig.reset(SimSensor::defaultFlash(), 1);
    // The checksum read of the correction goes unanswered.
    m_rig.sensor.addFault(SimFault::noReply().onFunction(4).onAddress(7));

    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true, true}; // the file, the other sensor, the address
    QList<int> addressesSet;
    const QString failure = failureOf([&] {
        RestoreDump(*m_rig.engine, op, path, {150, kTimeoutMs}, 0, [&](int a) { addressesSet << a; });
    });

    // Every word is written and verified; the restore fails at the checksum,
    // says that only the correction is left, and goes no further.
    QCOMPARE(failure, QStringLiteral("Таймаут"));
    QCOMPARE(texts(m_rig.host, 0),
             QStringList({"Запись дампа во флеш...", "Проверка записи...", "Коррекция CRC...",
                          "Все слова записаны и проверены, осталась коррекция CRC: «Корректировать CRC» "
                          "(zart-cli crc-correct)"}));
    QCOMPARE(texts(m_rig.host, 3), QStringList{"Таймаут"});
    QCOMPARE(op.questions.size(), 2); // no address question
    QCOMPARE(addressesSet, QList<int>());
    QCOMPARE(int(m_rig.sensor.address()), 1);

    QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 2 * 1022 + 1);
    QCOMPARE(requests.last().function, 4);
}

QTEST_GUILESS_MAIN(TestFlashRestoreFaults)
#include "tst_flashrestorefaults.moc"
