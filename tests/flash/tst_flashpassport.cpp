// Passport restore against the simulated sensor on a pseudo-terminal: the round
// trip through the saved files, the checks of the passport text and of its
// "ExpLevel" entry before anything is sent, and the exposure and threshold words.

#include "FlashTestUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include <cmath>

using namespace flashtest;

namespace {

constexpr qint32 kTimeoutMs = 1000;
const CommandTimeouts kTimeouts{3000, kTimeoutMs};

const QString Declined = QStringLiteral("Запись отменена пользователем");
// Marks a row whose failure is the reading error of the passport text.
const QString ReadingError = QStringLiteral("<reading error>");

QList<QByteArray> passportLines()
{
    QList<QByteArray> lines = expectedPassportText(SimSensor::defaultFlash()).split('\n');
    lines.removeLast(); // after the last line end
    for (QByteArray &l : lines)
        l.chop(1); // CR
    return lines;
}

QByteArray joined(const QList<QByteArray> &lines, const QByteArray &end = "\r\n")
{
    QByteArray out;
    for (const QByteArray &l : lines)
        out += l + end;
    return out;
}

// A passport value as the sensor must receive it: the decimal text rounded to
// the nearest single.
quint32 wordOfText(const QByteArray &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok ? bitsOf(float(v)) : 0xDEADBEEF;
}

} // namespace

class TestFlashPassport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void roundTrip();
    void checkedBeforeSending_data();
    void checkedBeforeSending();
    void expLevelWords_data();
    void expLevelWords();
    void serialCheck_data();
    void serialCheck();

private:
    testsim::SensorOnPty m_rig;
};

void TestFlashPassport::initTestCase()
{
    QVERIFY2(m_rig.startWithEngine(), qPrintable(m_rig.errorString()));
}

void TestFlashPassport::cleanupTestCase()
{
    m_rig.stop();
}

void TestFlashPassport::roundTrip()
{
    // Words that are no finite single come back with their bits: erased, the
    // quiet NaN and both infinities.
    SimSensor::Flash original = SimSensor::defaultFlash();
    const std::map<int, quint32> nonFinite{{SimSensor::WordTableX + 3, 0xFFFFFFFFu},
                                           {SimSensor::WordTableY + 7, 0x7F800000u},
                                           {SimSensor::WordTableX + 9, 0xFF800000u},
                                           {SimSensor::WordTableY + 11, 0x7FC00000u}};
    for (const auto &[n, w] : nonFinite)
        original[std::size_t(n)] = w;
    m_rig.reset(original, 1);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RecordingHost log;
    const DumpFiles files = SaveDumpFiles(log, imageOf(original), dir.path());

    // The sensor loses its calibration and its exposures and thresholds.
    SimSensor::Flash changed = original;
    for (int k = 0; k < SimSensor::GridPoints; ++k) {
        changed[std::size_t(SimSensor::WordTableX + k)] = bitsOf(123.0f + float(k));
        changed[std::size_t(SimSensor::WordTableY + k)] = 0xFFFFFFFF;
    }
    for (int n = SimSensor::WordExposureX; n <= SimSensor::WordThresholdY; ++n)
        changed[std::size_t(n)] = 0x1FF;
    m_rig.reset(changed, 1);

    RecordingOpHost op(&m_rig.sensor);
    op.answers = {true};
    RestorePassport(*m_rig.engine, op, files.passport, files.passportIni, kTimeouts, 1);

    QCOMPARE(op.questions, QStringList{"Серийный номер - 0012AB7F. Записать паспорт во флеш?"});
    QVERIFY(texts(m_rig.host, 0).first().startsWith(QStringLiteral("Уровни и экспозиции из файла ")));
    QCOMPARE(texts(m_rig.host, 0).mid(1),
             QStringList({"Запись паспорта во флеш...", "Проверка записи...",
                          "Запись экспозиций и уровней...", "Проверка экспозиций и уровней...",
                          "Коррекция CRC...", "Паспорт записан успешно"}));
    QVERIFY(texts(m_rig.host, 3).isEmpty());

    // The tables hold the passport's three-decimal values as singles: the
    // original values to within the rounding of the text.
    const SimSensor::Flash after = m_rig.sensor.flash();
    const QList<QByteArray> lines = readBytes(files.passport).split('\n');
    for (int k = 0; k < SimSensor::GridPoints; ++k) {
        const QList<QByteArray> fields = lines[k].trimmed().split('\t');
        const quint32 x = after[std::size_t(SimSensor::WordTableX + k)];
        const quint32 y = after[std::size_t(SimSensor::WordTableY + k)];
        if (nonFinite.count(SimSensor::WordTableX + k) || nonFinite.count(SimSensor::WordTableY + k)) {
            QCOMPARE(x, original[std::size_t(SimSensor::WordTableX + k)]);
            QCOMPARE(y, original[std::size_t(SimSensor::WordTableY + k)]);
            continue;
        }
        QCOMPARE(x, wordOfText(fields[0]));
        QCOMPARE(y, wordOfText(fields[1]));
        const float x0 = std::bit_cast<float>(original[std::size_t(SimSensor::WordTableX + k)]);
        const float y0 = std::bit_cast<float>(original[std::size_t(SimSensor::WordTableY + k)]);
        QVERIFY(std::fabs(std::bit_cast<float>(x) - x0) <= 0.0005f + 1e-5f);
        QVERIFY(std::fabs(std::bit_cast<float>(y) - y0) <= 0.0005f + 1e-5f);
    }
    for (int n = SimSensor::WordExposureX; n <= SimSensor::WordThresholdY; ++n)
        QCOMPARE(after[std::size_t(n)], original[std::size_t(n)]);
    // Nothing else was touched but the checksum words.
    for (int n : {0, 1, 6, 7, 127, 569, 1011, 0x3FA, 0x3FB, 0x3FC, 0x3FD})
        QCOMPARE(after[std::size_t(n)], changed[std::size_t(n)]);
    const quint16 checksum = referenceChecksum(after);
    QCOMPARE(after[SimSensor::WordCrcActual], quint32(checksum));
    QCOMPARE(after[SimSensor::WordCrcRequired], quint32(checksum));

    // The serial number first; X and Y alternate point by point in both
    // passes, then the four words.
    QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 1 + 882 * 2 + 8 + 3);
    QCOMPARE(requests.takeFirst().frame.mid(1, 5), QByteArray::fromHex("0400050002"));
    for (int k = 0; k < SimSensor::GridPoints; ++k) {
        for (int pass = 0; pass < 2; ++pass) {
            const int at = pass * 882 + 2 * k;
            const int function = pass == 0 ? 16 : 3;
            QCOMPARE(requests[at].function, function);
            QCOMPARE(requests[at].address, 0x1080 + k);
            QCOMPARE(requests[at + 1].function, function);
            QCOMPARE(requests[at + 1].address, 0x123A + k);
        }
    }
    const quint32 levels[4] = {120, 118, 40, 42};
    for (int w = 0; w < 4; ++w) {
        QCOMPARE(requests[1764 + w].function, 16);
        QCOMPARE(requests[1764 + w].address, 0x1002 + w);
        QCOMPARE(requests[1764 + w].value, levels[w]);
        QCOMPARE(requests[1768 + w].function, 3);
        QCOMPARE(requests[1768 + w].address, 0x1002 + w);
    }

    // A pause after every request of the passes and of the four words; gauge
    // and events after every point.
    QList<int> everyRequest;
    for (int r = 2; r <= 1773; ++r)
        everyRequest << r;
    QCOMPARE(op.requestCounts(HostEvent::Pause), everyRequest);
    QList<int> gauge;
    for (int k = 0; k < 441; ++k)
        gauge << qRound(k * 100.0 / 441);
    QCOMPARE(op.values(HostEvent::Progress), gauge + gauge);
    QCOMPARE(op.values(HostEvent::Events).size(), 882);
}

void TestFlashPassport::checkedBeforeSending_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("ini");     // beside the passport; empty: no passport.ini
    QTest::addColumn<QByteArray>("dataIni"); // the data folder's; null: the passport's folder is it
    QTest::addColumn<QString>("failure");    // Declined: the checks passed
    // The log, "<kind>|<text>" with %A for the passport.ini beside the passport,
    // %B for the data folder's, %S for the section and %F for the failure.
    QTest::addColumn<QStringList>("log");

    const QList<QByteArray> lines = passportLines();
    const QByteArray good = joined(lines);
    const QByteArray entry = "[00000001]\r\nExpLevel=1;2;3;4\r\n[0012AB7F]\r\nExpLevel=120;40;118;42\r\n";
    const QString name = QStringLiteral("0012AB7F.ini");
    const QString none = QStringLiteral("Отсутствуют значения уровней и экспозиций в файле паспорта");
    const QString levelsA = QStringLiteral("0|Уровни и экспозиции из файла %A [%S]: 120;40;118;42");
    const QString levelsB = QStringLiteral("0|Уровни и экспозиции из файла %B [%S]: 120;40;118;42");
    const QStringList declined{levelsA, "3|%F"};
    const QStringList onlyFailure{"3|%F"};
    const QStringList notFound{"3|%F", "0|Уровни раздела [%S] искались в файлах: %B"};
    const QByteArray same; // null

    QTest::newRow("as written") << name << good << entry << same << Declined << declined;
    QTest::newRow("no final line end") << name << good.chopped(2) << entry << same << Declined << declined;
    QList<QByteArray> five = lines;
    five[5] += "\t7";
    QTest::newRow("a line of five numbers") << name << joined(five) << entry << same << Declined << declined;
    QTest::newRow("empty line after the last")
        << name << good + "\r\n" << entry << same << "Неверное количество точек (442)" << onlyFailure;
    QList<QByteArray> three = lines;
    three[10] = three[10].left(three[10].lastIndexOf('\t'));
    QTest::newRow("a line of three numbers")
        << name << joined(three) << entry << same << "Неверное количество точек (440)" << onlyFailure;
    QTest::newRow("empty file") << name << QByteArray() << entry << same << "Неверное количество точек (0)"
                                << onlyFailure;
    // The writer's text of an erased word reads; a NaN in another spelling does not.
    QList<QByteArray> erased = lines;
    erased[440] = "-NAN" + erased[440].mid(erased[440].indexOf('\t'));
    QTest::newRow("erased value") << name << joined(erased) << entry << same << Declined << declined;
    QList<QByteArray> otherNan = lines;
    otherNan[440] = "-nan" + otherNan[440].mid(otherNan[440].indexOf('\t'));
    QTest::newRow("NaN spelt otherwise") << name << joined(otherNan) << entry << same << ReadingError
                                         << onlyFailure;

    QTest::newRow("section in other case")
        << "abcdef01.ini" << good << QByteArray("[ABCDEF01]\r\nexplevel=1;2;3;4\r\n") << same << Declined
        << QStringList{"0|Уровни и экспозиции из файла %A [%S]: 1;2;3;4", "3|%F"};
    QTest::newRow("no passport.ini") << name << good << QByteArray() << same << none << notFound;
    QTest::newRow("no section: file renamed") << "renamed.ini" << good << entry << same << none << notFound;
    QTest::newRow("bad ExpLevel")
        << name << good << QByteArray("[0012AB7F]\r\nExpLevel=120;;118;42\r\n") << same
        << "Отсутствуют значение уровня X в файле паспорта" << notFound;

    // The levels come from beside the passport when it has them, else from the
    // data folder, and the log says which and why.
    QTest::newRow("beside has the section")
        << name << good << entry << QByteArray("[0012AB7F]\r\nExpLevel=1;2;3;4\r\n") << Declined << declined;
    QTest::newRow("beside without the section")
        << name << good << QByteArray("[00000001]\r\nExpLevel=1;2;3;4\r\n") << entry << Declined
        << QStringList{"0|В файле %A нет уровней раздела [%S], уровни берутся из %B", levelsB, "3|%F"};
    QTest::newRow("beside with a broken value")
        << name << good << QByteArray("[0012AB7F]\r\nExpLevel=120;40\r\n") << entry << Declined
        << QStringList{"0|В файле %A уровни раздела [%S] неверны, уровни берутся из %B", levelsB, "3|%F"};
    QTest::newRow("beside empty, no data file")
        << name << good << QByteArray("[0012AB7F]\r\nExpLevel=\r\n") << QByteArray("") << none
        << QStringList{"0|В файле %A нет уровней раздела [%S], уровни берутся из %B", "3|%F",
                       "0|Уровни раздела [%S] искались в файлах: %A, %B"};
    // A passport kept in history/ names its sensor and restores with the
    // levels kept beside it.
    QTest::newRow("a passport kept in history")
        << "0012AB7F-20261209T112233Z.ini" << good
        << QByteArray("[0012AB7F-20261209T112233Z]\r\nExpLevel=120;40;118;42\r\n")
        << QByteArray("[0012AB7F]\r\nExpLevel=1;2;3;4\r\n") << Declined << declined;
}

void TestFlashPassport::checkedBeforeSending()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, dataIni);
    QFETCH(QString, failure);
    QFETCH(QStringList, log);

    QTemporaryDir dir;
    QTemporaryDir dataDir;
    QVERIFY(dir.isValid() && dataDir.isValid());
    const QString passport = dir.filePath(fileName);
    const QString besideIni = dir.filePath("passport.ini");
    const QString dataIniPath = dataIni.isNull() ? besideIni : dataDir.filePath("passport.ini");
    QVERIFY(writeBytes(passport, text));
    if (!ini.isEmpty())
        QVERIFY(writeBytes(besideIni, ini));
    if (!dataIni.isEmpty())
        QVERIFY(writeBytes(dataIniPath, dataIni));
    m_rig.reset(SimSensor::defaultFlash(), 1);
    RecordingOpHost op(&m_rig.sensor);
    op.answers = {false};

    QString actual;
    try {
        RestorePassport(*m_rig.engine, op, passport, dataIniPath, kTimeouts, 0);
        QFAIL("the restore went through");
    } catch (const EOperationFailed &e) {
        actual = e.text();
    }

    if (failure == ReadingError) {
        QVERIFY(!actual.isEmpty());
        QVERIFY2(!actual.startsWith(QStringLiteral("Неверное количество")), qPrintable(actual));
    } else {
        QCOMPARE(actual, failure);
    }
    if (failure == Declined) {
        // The serial number offered is the file's name, whatever the sensor holds.
        QCOMPARE(op.questions,
                 QStringList{QStringLiteral("Серийный номер - %1. Записать паспорт во флеш?")
                                 .arg(QFileInfo(fileName).completeBaseName())});
    } else {
        QVERIFY(op.questions.isEmpty());
    }
    LogLines expected;
    for (const QString &l : log)
        expected.append({QString(l.mid(2))
                             .replace(QStringLiteral("%A"), QDir::toNativeSeparators(besideIni))
                             .replace(QStringLiteral("%B"), QDir::toNativeSeparators(dataIniPath))
                             .replace(QStringLiteral("%S"), QFileInfo(fileName).completeBaseName())
                             .replace(QStringLiteral("%F"), actual),
                         l.left(1).toInt()});
    QCOMPARE(m_rig.host.lines, expected);
    QCOMPARE(m_rig.sensor.requestCount(), 0);
}

void TestFlashPassport::expLevelWords_data()
{
    QTest::addColumn<QList<int>>("values");       // exposure X, exposure Y, threshold X, threshold Y
    QTest::addColumn<QList<quint32>>("stored");   // words 0x1002..0x1005 afterwards
    QTest::addColumn<int>("differsAt");           // 0: no difference

    QTest::newRow("bytes") << QList<int>{120, 118, 40, 42} << QList<quint32>{120, 118, 40, 42} << 0;
    // Only the low byte is written; the whole value is compared.
    QTest::newRow("exposure X 300") << QList<int>{300, 118, 40, 42}
                                    << QList<quint32>{44, 118, 40, 42} << 0x1002;
    QTest::newRow("exposure Y 256") << QList<int>{120, 256, 40, 42}
                                    << QList<quint32>{120, 0, 40, 42} << 0x1003;
    QTest::newRow("threshold Y -1") << QList<int>{120, 118, 40, -1}
                                    << QList<quint32>{120, 118, 40, 255} << 0x1005;
}

void TestFlashPassport::expLevelWords()
{
    QFETCH(QList<int>, values);
    QFETCH(QList<quint32>, stored);
    QFETCH(int, differsAt);

    SimSensor::Flash flash = SimSensor::defaultFlash();
    for (int n = 2; n <= 5; ++n)
        flash[std::size_t(n)] = 0xAAAA;
    m_rig.reset(flash, 1);
    PassportData psp;
    psp.ExposureX = values[0];
    psp.ExposureY = values[1];
    psp.ThresholdX = values[2];
    psp.ThresholdY = values[3];
    RecordingOpHost op(&m_rig.sensor);

    QString failure;
    try {
        WriteExpLevelWords(*m_rig.engine, op, psp, kTimeoutMs, 5);
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    for (int w = 0; w < 4; ++w)
        QCOMPARE(m_rig.sensor.word(0x002 + w), stored[w]);
    LogLines expectedLog{{"Запись экспозиций и уровней...", 0},
                         {"Проверка экспозиций и уровней...", 0}};
    if (differsAt) {
        const QString text = QString::asprintf("Данные различаются по адресу 0x%X", differsAt);
        QCOMPARE(failure, text);
        expectedLog << LogLine{text, 3}
                    << LogLine{QString::asprintf("Прервано на адресе 0x%X", differsAt), 0}
                    << LogLine{"Записано слов: 4 из 4", 0}
                    << LogLine{FinishHint(WriteJob::Passport, false), 0};
    } else {
        QVERIFY(failure.isEmpty());
    }
    QCOMPARE(m_rig.host.lines, expectedLog);
    // Four writes, then reads up to the first difference, each followed by the pause.
    const int reads = differsAt ? differsAt - 0x1002 + 1 : 4;
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QCOMPARE(requests.size(), 4 + reads);
    QCOMPARE(requests.last().address, differsAt ? differsAt : 0x1005);
    QCOMPARE(op.values(HostEvent::Pause), QList<int>(4 + (differsAt ? reads - 1 : 4), 5));
}

// The passport names its sensor by its section: the sensor's serial number is
// read after the first Yes, and another sensor takes the passport only on a
// second Yes. A name that is no hexadecimal number names no sensor.
void TestFlashPassport::serialCheck_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<quint32>("sensorSerial");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QString>("otherSerialQuestion"); // empty: not asked
    QTest::addColumn<bool>("written");

    QTest::newRow("same sensor") << "0012AB7F" << 0x0012AB7Fu << QList<bool>{true} << QString() << true;
    QTest::newRow("same sensor, lower-case name")
        << "0012ab7f" << 0x0012AB7Fu << QList<bool>{true} << QString() << true;
    QTest::newRow("another sensor, declined")
        << "0BADCAFE" << 0x0012AB7Fu << QList<bool>{true, false}
        << "Серийный номер датчика - 0012AB7F, в файле - 0BADCAFE. Всё равно записать?" << false;
    QTest::newRow("a name that is no serial number")
        << "bench-7" << 0x0012AB7Fu << QList<bool>{true, false}
        << "Серийный номер датчика - 0012AB7F, в файле - bench-7. Всё равно записать?" << false;
    QTest::newRow("erased sensor, written all the same")
        << "0012AB7F" << 0xFFFFFFFFu << QList<bool>{true, true}
        << "Серийный номер датчика - FFFFFFFF, в файле - 0012AB7F. Всё равно записать?" << true;
}

void TestFlashPassport::serialCheck()
{
    QFETCH(QString, section);
    QFETCH(quint32, sensorSerial);
    QFETCH(QList<bool>, answers);
    QFETCH(QString, otherSerialQuestion);
    QFETCH(bool, written);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString passport = dir.filePath(section + QStringLiteral(".ini"));
    const QString iniPath = dir.filePath("passport.ini");
    QVERIFY(writeBytes(passport, joined(passportLines())));
    QVERIFY(writeBytes(iniPath, "[" + section.toLatin1() + "]\r\nExpLevel=120;40;118;42\r\n"));
    SimSensor::Flash flash = SimSensor::defaultFlash();
    flash[SimSensor::WordSerial] = sensorSerial;
    flash[SimSensor::WordExposureX] = 7;
    m_rig.reset(flash, 1);
    const SimSensor::Flash before = m_rig.sensor.flash();
    RecordingOpHost op(&m_rig.sensor);
    op.answers = answers;

    QString failure;
    try {
        RestorePassport(*m_rig.engine, op, passport, iniPath, kTimeouts, 0);
    } catch (const EOperationFailed &e) {
        failure = e.text();
    }

    QStringList questions{QStringLiteral("Серийный номер - %1. Записать паспорт во флеш?").arg(section)};
    if (!otherSerialQuestion.isEmpty())
        questions << otherSerialQuestion;
    QCOMPARE(op.questions, questions);
    const QList<Request> requests = requestsOf(m_rig.sensor);
    QVERIFY(!requests.isEmpty());
    QCOMPARE(requests[0].frame.mid(1, 5), QByteArray::fromHex("0400050002"));
    if (written) {
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(requests.size(), 1 + 882 * 2 + 8 + 3);
        QCOMPARE(m_rig.sensor.word(SimSensor::WordExposureX), 120u);
    } else {
        QCOMPARE(failure, Declined);
        QCOMPARE(requests.size(), 1);
        QVERIFY(m_rig.sensor.flash() == before);
        QCOMPARE(texts(m_rig.host, 3), QStringList{Declined});
    }
}

QTEST_GUILESS_MAIN(TestFlashPassport)
#include "tst_flashpassport.moc"
