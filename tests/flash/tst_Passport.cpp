#include "flash/DumpFile.h"
#include "common/IniFile.h"
#include "flash/Passport.h"

#include "FlashTestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace flashtest;

namespace {

// A number given in hundredths, written the "0.###" way by plain integer arithmetic.
QByteArray hundredths(qint64 h)
{
    QByteArray s = h < 0 ? "-" : "";
    const qint64 a = h < 0 ? -h : h;
    s += QByteArray::number(a / 100);
    QByteArray frac = QByteArray::number(a % 100).rightJustified(2, '0');
    while (frac.endsWith('0'))
        frac.chop(1);
    if (!frac.isEmpty())
        s += "." + frac;
    return s;
}

// X of point k is k + 0.5, Y is -k / 4 (both exact singles, so their text is known).
FlashImage gridImage(int version, int dimension)
{
    FlashImage image{};
    image.fill(0xFFFFFFFF);
    image[WordSerial] = 0x0012ABCD;
    image[WordFirmware] = quint32(version);
    image[WordDimension] = quint32(dimension);
    for (int k = 0; k < GridPoints; ++k) {
        image[std::size_t(XTableIndex + k)] = std::bit_cast<quint32>(float(k) + 0.5f);
        image[std::size_t(YTableIndex + k)] = std::bit_cast<quint32>(-float(k) / 4.0f);
    }
    image[XTableIndex + 7] = 0xFFFFFFFF;   // erased
    image[YTableIndex + 300] = 0x7F800000; // infinity
    return image;
}

QByteArray expectedLine(int k, int stepHundredths)
{
    const int i = k / GridSide;
    const int j = k % GridSide;
    const QByteArray x = k == 7 ? QByteArray("-NAN") : hundredths(k * 100 + 50);
    const QByteArray y = k == 300 ? QByteArray("INF") : hundredths(-k * 25);
    return x + '\t' + y + '\t' + hundredths(qint64(i - 10) * stepHundredths) + '\t'
        + hundredths(qint64(j - 10) * stepHundredths) + "\r\n";
}

// A well-formed passport text of 441 lines: X = k, Y = -k, coordinates 0.
QByteArray plainText(int lines = GridPoints, const QByteArray &lineEnd = "\r\n")
{
    QByteArray t;
    for (int k = 0; k < lines; ++k)
        t += QByteArray::number(k) + "\t-" + QByteArray::number(k) + "\t0\t0" + lineEnd;
    return t;
}

const QString NoValues = QStringLiteral("Отсутствуют значения уровней и экспозиций в файле паспорта");
const QString NoExpX = QStringLiteral("Отсутствуют значение экспозиции X в файле паспорта");
const QString NoLevelX = QStringLiteral("Отсутствуют значение уровня X в файле паспорта");
const QString NoExpY = QStringLiteral("Отсутствуют значение экспозиции Y в файле паспорта");
const QString NoLevelY = QStringLiteral("Отсутствуют значение уровня Y в файле паспорта");

} // namespace

class TestPassport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writer_data();
    void writer();
    void readsWhatItWrites();

    void pointCount_data();
    void pointCount();
    void numbers_data();
    void numbers();
    void badNumbers_data();
    void badNumbers();

    void passportWord_data();
    void passportWord();
    void nonFiniteRoundTrip_data();
    void nonFiniteRoundTrip();
    void section_data();
    void section();

    void expLevelText();
    void parseExpLevel_data();
    void parseExpLevel();
    void expLevelThroughIni_data();
    void expLevelThroughIni();
};

void TestPassport::writer_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("dimension");
    QTest::addColumn<int>("stepHundredths");
    QTest::newRow("step 2") << 15 << 40 << 200;
    QTest::newRow("step 2.05") << 12 << 40 << 205;
    QTest::newRow("step 5") << 11 << 100 << 500;
    QTest::newRow("step 5.05") << 14 << 100 << 505;
    QTest::newRow("low bytes only: step 2") << 0xAB0B << 0x7728 << 200;
}

void TestPassport::writer()
{
    QFETCH(int, version);
    QFETCH(int, dimension);
    QFETCH(int, stepHundredths);
    const FlashImage image = gridImage(version, dimension);
    const QByteArray text = PassportText(image);

    QByteArray expected;
    for (int k = 0; k < GridPoints; ++k)
        expected += expectedLine(k, stepHundredths);
    QCOMPARE(text.split('\n'), expected.split('\n'));
    // The centre point sits at 0, 0.
    QVERIFY(text.split('\n')[GridCentre].endsWith("\t0\t0\r"));

    // The file replaces a larger one whole.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("0012ABCD.ini"));
    QVERIFY(writeBytes(path, QByteArray(100000, 'x')));
    WritePassportFile(path, image);
    QCOMPARE(readBytes(path), text);
}

void TestPassport::readsWhatItWrites()
{
    FlashImage image = gridImage(12, 40);
    image[XTableIndex + 7] = std::bit_cast<quint32>(1.0625f); // shown as 1.063
    image[YTableIndex + 300] = std::bit_cast<quint32>(-2.5f);
    const QList<PassportPoint> points = ParsePassportText(PassportText(image));
    QCOMPARE(points.size(), GridPoints);
    for (int k = 0; k < GridPoints; ++k) {
        const long double x = k == 7 ? 1.063L : k + 0.5L;
        QCOMPARE(PassportWord(points[k].X), PassportWord(x));
        const long double y = k == 300 ? -2.5L : (-k * 25) / 100.0L; // k = 0: "0", not -0
        QCOMPARE(PassportWord(points[k].Y), PassportWord(y));
        const int i = k / GridSide;
        QCOMPARE(PassportWord(points[k].Coord1), PassportWord((i - 10) * 2.05L));
    }
}

void TestPassport::pointCount_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("count");

    QTest::newRow("441 lines") << plainText() << 441;
    QTest::newRow("LF line ends") << plainText(GridPoints, "\n") << 441;
    QTest::newRow("CR line ends") << plainText(GridPoints, "\r") << 441;
    QTest::newRow("trailing empty line") << plainText() + "\r\n" << 442;
    QByteArray noFinalEnd = plainText();
    noFinalEnd.chop(2);
    QTest::newRow("no final line end") << noFinalEnd << 441;
    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("blank only") << QByteArray(" ") << 1;

    // Line 5 holds three numbers: its fourth comes from line 6, whose rest is lost.
    QByteArray three = plainText();
    three.replace("5\t-5\t0\t0\r\n", "5\t-5\t0\r\n");
    QTest::newRow("a line of three numbers") << three << 440;
    QByteArray five = plainText();
    five.replace("5\t-5\t0\t0\r\n", "5\t-5\t0\t0\t99\r\n");
    QTest::newRow("a line of five numbers") << five << 441;
}

void TestPassport::pointCount()
{
    QFETCH(QByteArray, text);
    QFETCH(int, count);
    QCOMPARE(ParsePassportText(text).size(), count);
}

void TestPassport::numbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("x"); // expected X and Y as decimal literals
    QTest::addColumn<QByteArray>("y");

    QTest::newRow("plain") << QByteArray("1.5\t-2\t0\t0\r\n") << QByteArray("1.5")
                           << QByteArray("-2");
    QTest::newRow("sign and exponent") << QByteArray("+1.5E+2 -25e-1 0 0") << QByteArray("150")
                                       << QByteArray("-2.5");
    QTest::newRow("point without digits after") << QByteArray("1. .5 0 0") << QByteArray("1")
                                                 << QByteArray("0.5");
    QTest::newRow("blanks and control characters skipped")
        << QByteArray("\x01 \t 3.25\x1A\x1A-4 0 0") << QByteArray("3.25") << QByteArray("-4");
    QTest::newRow("missing numbers at the end read 0") << QByteArray("7") << QByteArray("7")
                                                       << QByteArray("0");
    QTest::newRow("64-character number")
        << QByteArray("0.00000000000000000000000000000000000000000000000000000000000001 1 0 0")
        << QByteArray("1e-62") << QByteArray("1");
    QTest::newRow("huge coordinate is not range-checked")
        << QByteArray("1 2 1e300 -1e300") << QByteArray("1") << QByteArray("2");
    QTest::newRow("underflow reads as zero") << QByteArray("1e-6000 1 0 0") << QByteArray("0")
                                             << QByteArray("1");
}

void TestPassport::numbers()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, x);
    QFETCH(QByteArray, y);
    const QList<PassportPoint> points = ParsePassportText(text);
    QCOMPARE(points.size(), 1);
    QVERIFY(points[0].X == std::strtold(x.constData(), nullptr));
    QVERIFY(points[0].Y == std::strtold(y.constData(), nullptr));
}

void TestPassport::badNumbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("mentions"); // the failure text names the token and the line

    QByteArray nanLine = plainText();
    nanLine.replace("3\t-3\t0\t0", "NaN\t-3\t0\t0");
    QTest::newRow("NaN, not the writer's case") << nanLine << "\"NaN\" не является числом (строка 4)";
    QTest::newRow("lower-case -inf") << QByteArray("1 -inf 0 0") << "\"-inf\"";
    QTest::newRow("+INF, never written") << QByteArray("+INF 2 0 0") << "\"+INF\"";
    QTest::newRow("INFINITY") << QByteArray("INFINITY 2 0 0") << "\"INFINITY\"";
    QTest::newRow("NAN with a payload") << QByteArray("1 NAN(1) 0 0") << "\"NAN(1)\"";
    QTest::newRow("INF in coordinates") << QByteArray("1 2 INF 0") << "\"INF\"";
    QTest::newRow("NAN in coordinates") << QByteArray("1 2 0 -NAN") << "\"-NAN\"";
    QTest::newRow("decimal comma") << QByteArray("1,5 2 0 0") << "\"1,5\"";
    QTest::newRow("exponent without digits") << QByteArray("1e 2 0 0") << "\"1e\"";
    QTest::newRow("sign alone") << QByteArray("- 2 0 0") << "\"-\"";
    QTest::newRow("hex") << QByteArray("0x10 2 0 0") << "\"0x10\"";
    QTest::newRow("65 characters") << QByteArray("1" + QByteArray(64, '0') + " 2 0 0")
                                   << "(строка 1)";
    QTest::newRow("X beyond a single") << QByteArray("1e39 2 0 0") << "1e39";
    QTest::newRow("Y beyond a single") << QByteArray("1\r\n-4e38 0 0") << "(строка 2)";
    QTest::newRow("beyond extended") << QByteArray("1 2 1e5000 0") << "1e5000";
}

void TestPassport::badNumbers()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, mentions);
    const QString failure = failureOf([&] { ParsePassportText(text); });
    QVERIFY2(failure != QStringLiteral("<no failure>"), "a bad number was read");
    QVERIFY2(failure.contains(mentions), qPrintable(failure));
}

void TestPassport::passportWord_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<quint32>("bits");
    QTest::newRow("1.063 nearest single") << QByteArray("1.063") << 0x3F881062u;
    QTest::newRow("0.1") << QByteArray("0.1") << 0x3DCCCCCDu;
    QTest::newRow("-20.5") << QByteArray("-20.5") << 0xC1A40000u;
    QTest::newRow("infinity") << QByteArray("inf") << 0x7F800000u;
    QTest::newRow("-infinity") << QByteArray("-inf") << 0xFF800000u;
    QTest::newRow("beyond a single: infinity") << QByteArray("1e39") << 0x7F800000u;
    // A NaN is written as the word its text reads back as.
    QTest::newRow("NaN: the quiet NaN") << QByteArray("nan") << 0x7FC00000u;
    QTest::newRow("-NaN: the erased word") << QByteArray("-nan") << 0xFFFFFFFFu;
}

// A word that is not a finite single, written into the passport and read back,
// is restored as the same word where its text tells it, else as the NaN of its sign.
void TestPassport::nonFiniteRoundTrip_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint32>("restored");
    QTest::newRow("INF") << 0x7F800000u << QByteArray("INF") << 0x7F800000u;
    QTest::newRow("-INF") << 0xFF800000u << QByteArray("-INF") << 0xFF800000u;
    QTest::newRow("quiet NaN") << 0x7FC00000u << QByteArray("NAN") << 0x7FC00000u;
    QTest::newRow("erased word") << 0xFFFFFFFFu << QByteArray("-NAN") << 0xFFFFFFFFu;
    QTest::newRow("negative quiet NaN") << 0xFFC00000u << QByteArray("-NAN") << 0xFFFFFFFFu;
    QTest::newRow("signalling NaN") << 0x7F800001u << QByteArray("NAN") << 0x7FC00000u;
    QTest::newRow("NaN with a payload") << 0x7FFFFFFFu << QByteArray("NAN") << 0x7FC00000u;
}

void TestPassport::nonFiniteRoundTrip()
{
    QFETCH(quint32, word);
    QFETCH(QByteArray, text);
    QFETCH(quint32, restored);
    FlashImage image = gridImage(15, 40);
    image[XTableIndex + 20] = word;
    image[YTableIndex + 440] = word;
    const QByteArray written = PassportText(image);
    QVERIFY(written.split('\n')[20].startsWith(text + '\t'));
    const QList<PassportPoint> points = ParsePassportText(written);
    QCOMPARE(points.size(), GridPoints);
    const float original = std::bit_cast<float>(word);
    for (const long double v : {points[20].X, points[440].Y}) {
        QCOMPARE(std::isnan(v), std::isnan(original));
        QCOMPARE(std::isinf(v), std::isinf(original));
        QCOMPARE(std::signbit(v), std::signbit(original));
        QCOMPARE(PassportWord(v), restored);
    }
    // Restored and written again, the passport is the same text.
    for (int k = 0; k < GridPoints; ++k) {
        image[std::size_t(XTableIndex + k)] = PassportWord(points[k].X);
        image[std::size_t(YTableIndex + k)] = PassportWord(points[k].Y);
    }
    QCOMPARE(PassportText(image), written);
}

void TestPassport::passportWord()
{
    QFETCH(QByteArray, literal);
    QFETCH(quint32, bits);
    QCOMPARE(PassportWord(std::strtold(literal.constData(), nullptr)), bits);
}

void TestPassport::section_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("section");
    QTest::newRow("plain") << "/data/0012ABCD.ini" << "0012ABCD";
    QTest::newRow("two dots") << "/data/a.b.ini" << "a.b";
    QTest::newRow("no extension") << "/data/0012ABCD" << "0012ABCD";
    QTest::newRow("dot in directory") << "/da.ta/0012ABCD" << "0012ABCD";
}

void TestPassport::section()
{
    QFETCH(QString, path);
    QFETCH(QString, section);
    QCOMPARE(PassportSection(path), section);
}

void TestPassport::expLevelText()
{
    FlashImage image{};
    image[WordExposureX] = 120;
    image[WordExposureY] = 118;
    image[WordThresholdX] = 40;
    image[WordThresholdY] = 42;
    QCOMPARE(ExpLevelText(image), QStringLiteral("120;40;118;42"));
    image[WordExposureX] = 0x1F4; // 500: only its low byte, 244
    image[WordThresholdY] = 0xFFFFFFFF;
    QCOMPARE(ExpLevelText(image), QStringLiteral("244;40;118;255"));
}

void TestPassport::parseExpLevel_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("failure"); // empty: parses to the four numbers below
    QTest::addColumn<QList<int>>("numbers");

    QTest::newRow("120;40;118;42") << "120;40;118;42" << "" << QList<int>{120, 40, 118, 42};
    QTest::newRow("trimmed") << " \t120;40;118;42\r\n" << "" << QList<int>{120, 40, 118, 42};
    QTest::newRow("$7F, 0x10, leading blank, sign") << "$7F;0x10; -5;+3" << ""
                                                    << QList<int>{127, 16, -5, 3};
    QTest::newRow("limits") << "2147483647;-2147483648;$FFFFFFFF;0X7fffffff" << ""
                            << QList<int>{2147483647, int(0x80000000), -1, 0x7FFFFFFF};

    QTest::newRow("empty") << "" << NoValues << QList<int>{};
    QTest::newRow("no semicolon") << "120" << NoExpX << QList<int>{};
    QTest::newRow("12a") << "12a;40;118;42" << NoExpX << QList<int>{};
    QTest::newRow("trailing blank in a field") << "120 ;40;118;42" << NoExpX << QList<int>{};
    QTest::newRow("$ alone") << "$;40;118;42" << NoExpX << QList<int>{};
    QTest::newRow("decimal overflow") << "2147483648;40;118;42" << NoExpX << QList<int>{};
    QTest::newRow("hex overflow") << "$100000000;40;118;42" << NoExpX << QList<int>{};
    QTest::newRow("second empty") << "120;;118;42" << NoLevelX << QList<int>{};
    QTest::newRow("120;40;118") << "120;40;118" << NoExpY << QList<int>{};
    QTest::newRow("fourth empty") << "120;40;118;" << NoLevelY << QList<int>{};
    QTest::newRow("120;40;118;42;7") << "120;40;118;42;7" << NoLevelY << QList<int>{};
    QTest::newRow("fourth decimal point") << "120;40;118;4.2" << NoLevelY << QList<int>{};
}

void TestPassport::parseExpLevel()
{
    QFETCH(QString, value);
    QFETCH(QString, failure);
    QFETCH(QList<int>, numbers);
    ExpLevelValues v{};
    const QString actual = failureOf([&] { v = ParseExpLevel(value); });
    if (!failure.isEmpty()) {
        QCOMPARE(actual, failure);
        return;
    }
    QCOMPARE(actual, QStringLiteral("<no failure>"));
    QCOMPARE(QList<int>({v.ExposureX, v.ThresholdX, v.ExposureY, v.ThresholdY}), numbers);
}

// The lock file beside passport.ini: free, left by a process that has died
// (taken over), or held by another program (the edit waits and fails).
void TestPassport::expLevelThroughIni_data()
{
    QTest::addColumn<QString>("lock");
    QTest::newRow("free") << "free";
    QTest::newRow("left by a dead process") << "stale";
    QTest::newRow("held by another program") << "held";
}

void TestPassport::expLevelThroughIni()
{
    QFETCH(QString, lock);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("passport.ini"));
    const QString lockPath = ini + QStringLiteral(".lock");
    const QByteArray before = "; passports\r\n[00000001]\r\nExpLevel=1;2;3;4\r\n";
    QVERIFY(writeBytes(ini, before));
    FlashImage image{};
    image[WordSerial] = 0x12ABCD;
    image[WordExposureX] = 120;
    image[WordExposureY] = 118;
    image[WordThresholdX] = 40;
    image[WordThresholdY] = 42;

    QLockFile other(lockPath);
    if (lock == u"held") {
        QVERIFY(other.tryLock(0));
        constexpr int waitMs = 300;
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(failureOf([&] { WriteExpLevel(ini, image, waitMs); }),
                 QStringLiteral("Файл passport.ini занят другой программой (блокировка %1)")
                     .arg(QDir::toNativeSeparators(lockPath)));
        QVERIFY2(waited.elapsed() >= waitMs, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(readBytes(ini), before);
        return;
    }
    if (lock == u"stale") {
        // A real lock's content, with the number of a process that cannot exist.
        QLockFile model(dir.filePath(QStringLiteral("model.lock")));
        QVERIFY(model.tryLock(0));
        QList<QByteArray> fields = readBytes(dir.filePath(QStringLiteral("model.lock"))).split('\n');
        fields[0] = "2147483647";
        QVERIFY(writeBytes(lockPath, fields.join('\n')));
    }
    WriteExpLevel(ini, image, 0);
    QVERIFY(!QFileInfo::exists(lockPath)); // released
    image[WordExposureX] = 121;
    WriteExpLevel(ini, image); // a second run replaces the value

    QCOMPARE(readBytes(ini), QByteArray("; passports\r\n[00000001]\r\nExpLevel=1;2;3;4\r\n"
                                        "[0012ABCD]\r\nExpLevel=121;40;118;42\r\n"));

    // Looked up without regard to case; the other sensor is untouched.
    ExpLevelValues v = ReadExpLevel(ini, QStringLiteral("0012abcd"));
    QCOMPARE(QList<int>({v.ExposureX, v.ThresholdX, v.ExposureY, v.ThresholdY}),
             QList<int>({121, 40, 118, 42}));
    v = ReadExpLevel(ini, QStringLiteral("00000001"));
    QCOMPARE(v.ThresholdY, 4);
    // A passport renamed away from its section.
    QCOMPARE(failureOf([&] { ReadExpLevel(ini, QStringLiteral("0012ABCE")); }), NoValues);
    QCOMPARE(failureOf([&] { ReadExpLevel(dir.filePath("none.ini"), "0012ABCD"); }), NoValues);
}

QTEST_GUILESS_MAIN(TestPassport)
#include "tst_Passport.moc"
