// Dump restore against the simulated sensor on a pseudo-terminal: a whole run
// onto a sensor holding other content, the refused and declined files, a failed
// exchange in the write pass, and the address step on its own.

#include "FlashTestUtil.h"

#include "codec/FrameCodec.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace flashtest;

Q_DECLARE_METATYPE(SimFault)
Q_DECLARE_METATYPE(SimSensor::Flash)

namespace {

constexpr qint32 kTimeoutMs = 1000;
const CommandTimeouts kTimeouts{3000, kTimeoutMs};

// A dump unlike the sensor's own content in every word the restore writes.
SimSensor::Flash restoreFile()
{
    SimSensor::Flash f = SimSensor::defaultFlash();
    f[SimSensor::WordAddress] = 0x105; // low byte 5, whole word not 5
    f[SimSensor::WordSerial] = 0x00C0FFEE;
    f[SimSensor::WordExposureX] = 99;
    f[SimSensor::WordExposureY] = 98;
    f[SimSensor::WordThresholdX] = 30;
    f[SimSensor::WordThresholdY] = 31;
    f[SimSensor::WordIllumination] = 1;
    for (int n = 7; n < SimSensor::WordTableX; ++n)
        f[std::size_t(n)] = 0x01010101u * quint32(n);
    for (int k = 0; k < SimSensor::GridPoints; ++k) {
        f[std::size_t(SimSensor::WordTableX + k)] = bitsOf(float(k) * 0.5f - 100.0f);
        f[std::size_t(SimSensor::WordTableY + k)] = bitsOf(-float(k) * 0.25f);
    }
    f[569] = 0x12345678;
    for (int n = 1011; n <= 1017; ++n)
        f[std::size_t(n)] = 0xCAFE0000u + quint32(n);
    f[SimSensor::WordFirmware] = 12;
    f[SimSensor::WordDimension] = 100;
    f[SimSensor::WordCpu] = 1;
    f[SimSensor::WordCrc] = 0xBEEF;
    f[SimSensor::WordCrcActual] = 0x1111;
    f[SimSensor::WordCrcRequired] = 0x2222;
    return f;
}

bool skipped(int n)
{
    return n == 0 || n == 6;
}

QString sentLine(const QByteArray &frame)
{
    return QStringLiteral("Послано: ")
        + HexLine(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size()));
}

} // namespace

class TestFlashRestore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void restoreOntoOtherContent();
    void fileSize_data();
    void fileSize();
    void failedExchangeStops_data();
    void failedExchangeStops();
    void addressStep_data();
    void addressStep();
    void serialCheck_data();
    void serialCheck();
    void calibrationRestore_data();
    void calibrationRestore();

private:
    testsim::SensorOnPty m_rig;
    QTemporaryDir m_dir;
};

void TestFlashRestore::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_rig.startWithEngine(), qPrintable(m_rig.errorString()));
}

void TestFlashRestore::cleanupTestCase()
{
    m_rig.stop();
}

void TestFlashRestore::restoreOntoOtherContent()
{
    const SimSensor::Flash file = restoreFile();
    const QString path = m_dir.filePath("other.dmp");
    QVERIFY(writeBytes(path, dumpBytesOf(file)));
    SimSensor::Flash before = SimSensor::defaultFlash();
    before[SimSensor::WordIllumination] = 2;
    m_rig.reset(before, 5);

    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true, false}; // write the dump, into this sensor; keep the address
    QList<int> addressesSet;
    RestoreDump(*m_rig.engine, op, path, kTimeouts, 2,
                [&](int a) { addressesSet << a; });

    QCOMPARE(op.questions,
             QStringList({"Серийный номер из файла - 00C0FFEE. Записать дамп во флеш?",
                          "Серийный номер датчика - 0012AB7F, в файле - 00C0FFEE. Датчик получит серийный номер из файла. Всё равно записать?",
                          "Новый адрес - $05. Записать?"}));
    QVERIFY(addressesSet.isEmpty());

    // The sensor holds the file, but for the address and illumination words,
    // which it kept, and the checksum words, which the correction set to the
    // checksum of what it now holds.
    const SimSensor::Flash after = m_rig.sensor.flash();
    SimSensor::Flash expected = file;
    expected[SimSensor::WordAddress] = 5;
    expected[SimSensor::WordIllumination] = 2;
    const quint16 checksum = referenceChecksum(expected);
    expected[SimSensor::WordCrcActual] = checksum;
    expected[SimSensor::WordCrcRequired] = checksum;
    for (int n = 0; n < 1024; ++n)
        QCOMPARE(QString::asprintf("word %03X: %08X", n, after[std::size_t(n)]),
                 QString::asprintf("word %03X: %08X", n, expected[std::size_t(n)]));

    // The serial number read, 1022 writes, 1022 reads of the same words in the
    // same order, then the correction: checksum read, read of 0x13FE, write of
    // 0x13FF. Nothing more.
    QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 2 * 1022 + 3);
    QCOMPARE(requests.takeFirst().frame.mid(1, 5), QByteArray::fromHex("0400050002"));
    int i = 0;
    for (int n = 0; n < 1024; ++n) {
        if (skipped(n))
            continue;
        QCOMPARE(requests[i].function, 16);
        QCOMPARE(requests[i].address, 0x1000 + n);
        QCOMPARE(requests[i].value, file[std::size_t(n)]);
        QCOMPARE(requests[1022 + i].function, 3);
        QCOMPARE(requests[1022 + i].address, 0x1000 + n);
        ++i;
    }
    QCOMPARE(requests[2044].frame.mid(1, 5), QByteArray::fromHex("0400070001"));
    QCOMPARE(requests[2045].function, 3);
    QCOMPARE(requests[2045].address, 0x13FE);
    QCOMPARE(requests[2046].function, 16);
    QCOMPARE(requests[2046].address, 0x13FF);
    QCOMPARE(requests[2046].value, quint32(checksum));

    // The passes log no traffic; the serial number read and the correction do.
    const LogLines &log = m_rig.host.lines;
    QCOMPARE(texts(m_rig.host, 0), QStringList({"Запись дампа во флеш...", "Проверка записи...",
                                               "Коррекция CRC...", "Восстановление успешно"}));
    QCOMPARE(texts(m_rig.host, 1).size(), 4);
    QCOMPARE(texts(m_rig.host, 2).size(), 4);
    QVERIFY(texts(m_rig.host, 3).isEmpty());
    QCOMPARE(log.size(), 12);
    QCOMPARE(log[0].mark, 1);
    QCOMPARE(log[4], (LogLine{"Коррекция CRC...", 0}));
    QCOMPARE(log[5].text, sentLine(requests[2044].frame));
    QCOMPARE(log.last(), (LogLine{"Восстановление успешно", 0}));

    // Gauge, events and the pause at each of the 1024 positions of both passes,
    // skipped words and the last one included.
    QList<int> gauge;
    QList<int> requestsAtPause;
    int writes = 1; // after the serial number read
    for (int n = 0; n < 1024; ++n) {
        gauge << qRound(n * 100.0 / 1023);
        writes += skipped(n) ? 0 : 1;
        requestsAtPause << writes;
    }
    QCOMPARE(op.values(HostEvent::Progress), gauge + gauge);
    QCOMPARE(op.values(HostEvent::Events).size(), 2048);
    QCOMPARE(op.values(HostEvent::Pause), QList<int>(2048, 2));
    QList<int> secondPass;
    for (int c : requestsAtPause)
        secondPass << 1022 + c;
    QCOMPARE(op.requestCounts(HostEvent::Pause), requestsAtPause + secondPass);
    // The first question before anything is sent, the serial number question
    // after its read, the address question after the correction.
    QCOMPARE(op.requestCounts(HostEvent::Ask), QList<int>({0, 1, 2048}));
}

void TestFlashRestore::fileSize_data()
{
    QTest::addColumn<int>("size"); // -1: no file
    QTest::addColumn<bool>("accepted");

    QTest::newRow("4099") << 4099 << true;
    QTest::newRow("4095") << 4095 << false;
    QTest::newRow("4100") << 4100 << false;
    QTest::newRow("missing") << -1 << false;
}

void TestFlashRestore::fileSize()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);

    SimSensor::Flash file = restoreFile();
    file[SimSensor::WordSerial] = 0x0A0B0C0D;
    QByteArray bytes = dumpBytesOf(file);
    bytes.append(QByteArray(8192, '\x77'));
    const QString path = m_dir.filePath(QStringLiteral("size%1.dmp").arg(size));
    if (size >= 0)
        QVERIFY(writeBytes(path, bytes.left(size)));
    m_rig.reset(SimSensor::defaultFlash(), 1);

    RecordingOpHost op(&m_rig.sensor);
    op.answers = {false};
    QString failure;
    try {
        RestoreDump(*m_rig.engine, op, path, kTimeouts, 0, {});
        QFAIL("the restore went through");
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    if (accepted) {
        // Read, then declined at the question: nothing goes to the sensor.
        QCOMPARE(op.questions,
                 QStringList{"Серийный номер из файла - 0A0B0C0D. Записать дамп во флеш?"});
        QCOMPARE(failure, QStringLiteral("Запись отменена пользователем"));
    } else {
        QVERIFY(op.questions.isEmpty());
        if (size >= 0)
            QCOMPARE(failure, QStringLiteral("Размер файла неверен"));
        else
            QVERIFY(!failure.isEmpty() && failure != QStringLiteral("Размер файла неверен"));
    }
    QCOMPARE(m_rig.host.lines, LogLines({{failure, 3}}));
    QCOMPARE(m_rig.sensor.requestCount(), 0);
    QVERIFY(op.values(HostEvent::Progress).isEmpty());
}

// Short enough to run with the reply ended by 40 ms of silence as well.
void TestFlashRestore::failedExchangeStops_data()
{
    QTest::addColumn<bool>("fast");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QStringList>("engineLines"); // red lines, all from the engine

    const QString refused = QStringLiteral("Ошибка - Ошибка устройства [код ошибки 4]");
    for (const bool fast : {false, true}) {
        const char *mode = fast ? "fast" : "40 ms";
        QTest::addRow("%s, no reply", mode)
            << fast << SimFault::noReply().onFunction(16).onAddress(0x1010) << QStringList{"Таймаут"};
        QTest::addRow("%s, exception reply", mode)
            << fast << SimFault::exception(4).onFunction(16).onAddress(0x1010) << QStringList{refused, refused};
    }
}

void TestFlashRestore::failedExchangeStops()
{
    QFETCH(bool, fast);
    QFETCH(SimFault, fault);
    QFETCH(QStringList, engineLines);
    m_rig.port->FastReply = fast;
    const auto restoreMode = qScopeGuard([this] { m_rig.port->FastReply = true; });

    const QString path = m_dir.filePath("stop.dmp");
    QVERIFY(writeBytes(path, dumpBytesOf(restoreFile())));
    m_rig.reset(SimSensor::defaultFlash(), 1);
    m_rig.sensor.addFault(fault);

    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true, true};
    QVERIFY_THROWS_EXCEPTION(EOperationFailed,
                             RestoreDump(*m_rig.engine, op, path, {3000, 150}, 0, {}));

    // The serial number, then words 1..5 and 7..0x10 were sent, the last one
    // failed; nothing after it.
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 15);
    QCOMPARE(requests.last().address, 0x1010);
    // Words 1..0xF but 6 are written: the log says where the sensor stands.
    QCOMPARE(texts(m_rig.host, 0), QStringList({"Запись дампа во флеш...", "Прервано на адресе 0x1010",
                                               "Записано слов: 14 из 1022",
                                               FinishHint(WriteJob::Dump, false)}));
    QCOMPARE(texts(m_rig.host, 3), engineLines);
    QCOMPARE(op.questions.size(), 2); // the file's, and the serial number's
}

void TestFlashRestore::addressStep_data()
{
    QTest::addColumn<int>("busAddress");
    QTest::addColumn<quint32>("word");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("question"); // empty: none asked
    QTest::addColumn<bool>("sent");
    QTest::addColumn<int>("newAddress");   // 0: the address is not changed
    QTest::addColumn<QStringList>("redLines");

    const QString refused = QStringLiteral("Ошибка - Недопустимое значение [код ошибки 3]");
    QTest::newRow("same address") << 5 << 5u << true << "" << false << 0 << QStringList();
    QTest::newRow("whole word differs, declined")
        << 5 << 0x105u << false << "Новый адрес - $05. Записать?" << false << 0 << QStringList();
    // The whole word goes to the sensor, which refuses it here; the step stops.
    QTest::newRow("whole word differs, refused by the sensor")
        << 5 << 0x105u << true << "Новый адрес - $05. Записать?" << true << 0
        << QStringList{refused, refused};
    QTest::newRow("two upper-case digits")
        << 1 << 0x2Fu << true << "Новый адрес - $2F. Записать?" << true << 0x2F << QStringList();
    QTest::newRow("highest bus address")
        << 1 << 247u << true << "Новый адрес - $F7. Записать?" << true << 247 << QStringList();
    // A low byte that is no bus address would leave the sensor unreachable.
    QTest::newRow("low byte 0 is not offered")
        << 5 << 0x100u << true << "" << false << 0
        << QStringList{"Адрес в файле ($00) не является адресом прибора, адрес не изменён"};
    QTest::newRow("low byte 248 is not offered")
        << 5 << 0xF8u << true << "" << false << 0
        << QStringList{"Адрес в файле ($F8) не является адресом прибора, адрес не изменён"};
}

void TestFlashRestore::addressStep()
{
    QFETCH(int, busAddress);
    QFETCH(quint32, word);
    QFETCH(bool, answer);
    QFETCH(QString, question);
    QFETCH(bool, sent);
    QFETCH(int, newAddress);
    QFETCH(QStringList, redLines);

    m_rig.reset(SimSensor::defaultFlash(), busAddress);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {answer};
    QList<int> addressesSet;
    bool failed = false;
    try {
        RestoreAddress(*m_rig.engine, op, word, kTimeoutMs, [&](int a) { addressesSet << a; });
    } catch (const EOperationFailed &) {
        failed = true;
    }

    QCOMPARE(op.questions, question.isEmpty() ? QStringList() : QStringList{question});
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), sent ? 1 : 0);
    if (sent) {
        // The whole word, to the current address, with its traffic in the log.
        const QByteArray frame = requests[0].frame;
        QCOMPARE(frame.left(13).toHex(),
                 (QByteArray::number(busAddress, 16).rightJustified(2, '0') + "101000000306"
                  + QByteArray::number(word, 16).rightJustified(8, '0') + "a55a"));
        QCOMPARE(texts(m_rig.host, 1), QStringList{sentLine(frame)});
        QCOMPARE(texts(m_rig.host, 2).size(), 1);
    }
    QCOMPARE(texts(m_rig.host, 3), redLines);
    QCOMPARE(failed, sent && newAddress == 0);
    QCOMPARE(addressesSet, newAddress ? QList<int>{newAddress} : QList<int>());
    QCOMPARE(int(m_rig.sensor.address()), newAddress ? newAddress : busAddress);
}

// The sensor's serial number is read after the file's question and before the
// first write; a sensor that is not the file's takes the dump only on a second Yes.
void TestFlashRestore::serialCheck_data()
{
    QTest::addColumn<quint32>("sensorSerial");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QString>("otherSerialQuestion"); // empty: not asked
    QTest::addColumn<QString>("failure");             // empty: the dump was written

    const QString declined = QStringLiteral("Запись отменена пользователем");
    QTest::newRow("same sensor") << 0x00C0FFEEu << QList<bool>{true, false} << QString() << QString();
    QTest::newRow("another sensor, declined")
        << 0x0012AB7Fu << QList<bool>{true, false}
        << "Серийный номер датчика - 0012AB7F, в файле - 00C0FFEE. Датчик получит серийный номер из файла. Всё равно записать?" << declined;
    QTest::newRow("another sensor, written all the same")
        << 0x0012AB7Fu << QList<bool>{true, true, false}
        << "Серийный номер датчика - 0012AB7F, в файле - 00C0FFEE. Датчик получит серийный номер из файла. Всё равно записать?" << QString();
    QTest::newRow("erased sensor")
        << 0xFFFFFFFFu << QList<bool>{true, true, false}
        << "Серийный номер датчика - FFFFFFFF, в файле - 00C0FFEE. Датчик получит серийный номер из файла. Всё равно записать?" << QString();
    QTest::newRow("serial number unanswered") << 0x00C0FFEEu << QList<bool>{true, true, false}
                                              << QString() << "Таймаут";
}

void TestFlashRestore::serialCheck()
{
    QFETCH(quint32, sensorSerial);
    QFETCH(QList<bool>, answers);
    QFETCH(QString, otherSerialQuestion);
    QFETCH(QString, failure);

    const SimSensor::Flash file = restoreFile();
    const QString path = m_dir.filePath("serial.dmp");
    QVERIFY(writeBytes(path, dumpBytesOf(file)));
    SimSensor::Flash flash = SimSensor::defaultFlash();
    flash[SimSensor::WordSerial] = sensorSerial;
    m_rig.reset(flash, 5);
    const SimSensor::Flash before = m_rig.sensor.flash();
    if (failure == u"Таймаут")
        m_rig.sensor.addFault(SimFault::noReply().onFunction(4));

    RecordingOpHost op(&m_rig.sensor);
    op.answers = answers;
    QString actual;
    try {
        RestoreDump(*m_rig.engine, op, path, {3000, 150}, 0, {});
    } catch (const EOperationFailed &e) {
        actual = e.text();
    }

    QCOMPARE(actual, failure);
    QStringList questions{"Серийный номер из файла - 00C0FFEE. Записать дамп во флеш?"};
    if (!otherSerialQuestion.isEmpty())
        questions << otherSerialQuestion;
    if (failure.isEmpty())
        questions << "Новый адрес - $05. Записать?";
    QCOMPARE(op.questions, questions);
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QVERIFY(!requests.isEmpty());
    QCOMPARE(requests[0].frame.mid(1, 5), QByteArray::fromHex("0400050002"));
    if (failure.isEmpty()) {
        QCOMPARE(requests.size(), 1 + 2 * 1022 + 3);
        QCOMPARE(m_rig.sensor.word(SimSensor::WordSerial), file[SimSensor::WordSerial]);
        QVERIFY(texts(m_rig.host, 3).isEmpty());
    } else {
        // Nothing but the serial number read went to the sensor.
        QCOMPARE(requests.size(), 1);
        QVERIFY(m_rig.sensor.flash() == before);
        QCOMPARE(texts(m_rig.host, 3), QStringList{failure});
        QVERIFY(texts(m_rig.host, 0).isEmpty());
    }
}

// A calibration moved from another sensor's dump: exactly the passport
// restore's words, with the dump's bits; the sensor keeps everything else.
void TestFlashRestore::calibrationRestore_data()
{
    QTest::addColumn<SimSensor::Flash>("file");
    QTest::addColumn<QByteArray>("extra"); // bytes after the dump's
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("failure");  // empty: written
    QTest::addColumn<QStringList>("red");

    SimSensor::Flash other = SimSensor::defaultFlash();
    other[SimSensor::WordSerial] = 0x00C0FFEE;
    other[SimSensor::WordAddress] = 5;
    other[SimSensor::WordExposureX] = 0x1F4; // the whole word, not its low byte
    for (int k = 0; k < SimSensor::GridPoints; ++k) {
        other[std::size_t(SimSensor::WordTableX + k)] ^= 0x5;
        other[std::size_t(SimSensor::WordTableY + k)] ^= 0x3;
    }
    other[100] = 0xDEADBEEF; // another sensor's word outside the calibration
    SimSensor::Flash blank = other;
    blank[SimSensor::WordTableX + 5] = 0x7FC00000;
    blank[SimSensor::WordTableY + 7] = 0xFFFFFFFF;

    QTest::newRow("another sensor's dump") << other << QByteArray() << true << QString() << QStringList();
    QTest::newRow("declined") << other << QByteArray() << false << "Запись отменена пользователем"
                              << QStringList{"Запись отменена пользователем"};
    QTest::newRow("non-finite values, said and written")
        << blank << QByteArray() << true << QString()
        << QStringList{"В калибровке нечисловые значения (2): X6, Y8"};
    QTest::newRow("not a dump") << other << QByteArray(4, '\0') << true << "Размер файла неверен"
                                << QStringList{"Размер файла неверен"};
}

void TestFlashRestore::calibrationRestore()
{
    QFETCH(SimSensor::Flash, file);
    QFETCH(QByteArray, extra);
    QFETCH(bool, answer);
    QFETCH(QString, failure);
    QFETCH(QStringList, red);

    const QString path = m_dir.filePath("calibration.dmp");
    QVERIFY(writeBytes(path, dumpBytesOf(file) + extra));
    const SimSensor::Flash before = SimSensor::defaultFlash();
    m_rig.reset(before, 1);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {answer};

    const QString outcome = failureOf([&] { RestoreCalibration(*m_rig.engine, op, path, kTimeouts, 0); });

    QCOMPARE(outcome, failure.isEmpty() ? QStringLiteral("<no failure>") : failure);
    QCOMPARE(texts(m_rig.host, 3), red);
    const SimSensor::Flash now = m_rig.sensor.flash();
    if (!failure.isEmpty()) {
        QCOMPARE(now, before);
        QCOMPARE(m_rig.sensor.requestCount(), extra.isEmpty() ? 1 : 0); // the serial number only
        return;
    }
    QCOMPARE(op.questions, QStringList{"Калибровка датчика 00C0FFEE будет записана в датчик 0012AB7F. Записать?"});
    QCOMPARE(texts(m_rig.host, 0).last(), QStringLiteral("Калибровка записана успешно"));
    // The calibration words bit for bit; every other word but the checksum's as it was.
    for (int n = 0; n < SimSensor::WordCrc; ++n) {
        const bool calibration = (n >= SimSensor::WordExposureX && n <= SimSensor::WordThresholdY)
            || (n >= SimSensor::WordTableX && n < SimSensor::WordTableX + SimSensor::GridPoints)
            || (n >= SimSensor::WordTableY && n < SimSensor::WordTableY + SimSensor::GridPoints);
        QCOMPARE(now[std::size_t(n)], calibration ? file[std::size_t(n)] : before[std::size_t(n)]);
    }
    QCOMPARE(now[SimSensor::WordCrcRequired], quint32(SimSensor::flashChecksum(now)));
    QCOMPARE(int(m_rig.sensor.address()), 1);
}

QTEST_GUILESS_MAIN(TestFlashRestore)
#include "tst_flashrestore.moc"
