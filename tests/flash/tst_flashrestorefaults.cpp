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
    void failedCorrectionDoesNotStop();

private:
    SimRig m_rig;
    QTemporaryDir m_dir;
};

void TestFlashRestoreFaults::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QString error;
    QVERIFY2(m_rig.start(&error), qPrintable(error));
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
    QCOMPARE(texts(m_rig.host, 0), QStringList({"Запись дампа во флеш...", "Проверка записи..."}));
    QCOMPARE(texts(m_rig.host, 3), QStringList{"Данные различаются по адресу 0x13FD"});
    QCOMPARE(m_rig.host.lines.last().kind, 3);

    // The serial number read, the write pass, and the verify pass stopped at
    // 0x13FD (its 1020th read): no later word read, no correction.
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 1022 + 1020);
    QCOMPARE(requests.last().function, 3);
    QCOMPARE(requests.last().address, 0x13FD);
    QCOMPARE(op.questions.size(), 2); // the file's, the other sensor's
    QCOMPARE(op.values(HostEvent::Progress).size(), 1024 + 0x3FD); // positions 0..0x3FC
}

void TestFlashRestoreFaults::failedCorrectionDoesNotStop()
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
    RestoreDump(*m_rig.engine, op, path, {150, kTimeoutMs}, 0,
                [&](int a) { addressesSet << a; });

    // The correction stopped at its first request; the restore went on to the
    // address and ended well.
    QCOMPARE(texts(m_rig.host, 0), QStringList({"Запись дампа во флеш...", "Проверка записи...",
                                               "Коррекция CRC...", "Восстановление успешно"}));
    QCOMPARE(texts(m_rig.host, 3), QStringList{"Таймаут"});
    QCOMPARE(op.questions.last(), QStringLiteral("Новый адрес - $07. Записать?"));
    QCOMPARE(addressesSet, QList<int>{7});
    QCOMPARE(int(m_rig.sensor.address()), 7);

    QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 2 * 1022 + 2);
    QCOMPARE(requests.takeFirst().function, 4); // the serial number
    QCOMPARE(requests[2044].function, 4);
    QCOMPARE(requests[2045].function, 16);
    QCOMPARE(requests[2045].address, 0x1000);
    QCOMPARE(requests[2045].value, 7u);
    // The address write is in the log with its traffic, after the correction's
    // request; the serial number read before them.
    QCOMPARE(texts(m_rig.host, 1).size(), 3);
    QCOMPARE(texts(m_rig.host, 2).size(), 2);
    QCOMPARE(m_rig.host.lines.last(), (LogLine{"Восстановление успешно", 0}));
}

QTEST_GUILESS_MAIN(TestFlashRestoreFaults)
#include "tst_flashrestorefaults.moc"
