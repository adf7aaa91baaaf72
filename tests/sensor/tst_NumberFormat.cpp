#include "common/NumberFormat.h"
#include "sensor/StatusText.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <bit>
#include <clocale>
#include <cstdlib>

// A long double literal carried through a data table as text and read with the
// C library (tests run in the C locale), so that it keeps its full extended value.
static long double ld(const char *text)
{
    return std::strtold(text, nullptr);
}

class TestNumberFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void singleBits_data();
    void singleBits();
    void extended_data();
    void extended();
    void readDecimal_data();
    void readDecimal();
    void statusText_data();
    void statusText();
    void statusLegendCoversEveryCode();
    void independentOfProcessLocale();
};

void TestNumberFormat::singleBits_data()
{
    QTest::addColumn<quint32>("bits");
    QTest::addColumn<QString>("expected");

    // Measurement examples.
    QTest::newRow("10") << 0x41200000u << "10";
    QTest::newRow("-3.2") << 0xC04CCCCDu << "-3.2";
    QTest::newRow("1.0625 rounds up") << 0x3F880000u << "1.063";
    QTest::newRow("7 without point") << 0x40E00000u << "7";
    QTest::newRow("123.456") << 0x42F6E979u << "123.456";

    // Exact ties in the fourth decimal go away from zero.
    QTest::newRow("0.0625") << 0x3D800000u << "0.063";
    // 0.0005 as a single lies just above the tie.
    QTest::newRow("0.0005") << 0x3A03126Fu << "0.001";
    // 2.0005 as a single is 2.000499963...: below the tie.
    QTest::newRow("2.0005 below tie") << 0x40000831u << "2";
    // 1.9995 as a single is 1.999500036...: rounds up into the integer.
    QTest::newRow("1.9995 carries") << 0x3FFFEF9Eu << "2";
    // 1 - 2^-11 = 0.99951171875 and 1023 + that.
    QTest::newRow("0.9995117 carries to 1") << 0x3F7FE000u << "1";

    // Nothing left after rounding: no minus sign.
    QTest::newRow("0.0004") << 0x39D1B717u << "0";
    QTest::newRow("-0.0004") << 0xB9D1B717u << "0";
    QTest::newRow("zero") << 0x00000000u << "0";
    QTest::newRow("negative zero") << 0x80000000u << "0";
    QTest::newRow("smallest subnormal") << 0x00000001u << "0";

    // Large values: all digits below 1e18, the general format from 1e18 on.
    QTest::newRow("2^59 all digits") << 0x5D000000u << "576460752303423488";
    QTest::newRow("single below 1e18") << 0x5D5E0B6Bu << "999999984306749440";
    QTest::newRow("single above 1e18") << 0x5D5E0B6Cu << "1.00000005302623E18";
    QTest::newRow("largest single") << 0x7F7FFFFFu << "3.40282346638529E38";

    // Infinities and NaNs, sign bit shown.
    QTest::newRow("INF") << 0x7F800000u << "INF";
    QTest::newRow("-INF") << 0xFF800000u << "-INF";
    QTest::newRow("quiet NAN") << 0x7FC00000u << "NAN";
    QTest::newRow("all bits set") << 0xFFFFFFFFu << "-NAN";
    QTest::newRow("signalling NAN") << 0x7F800001u << "NAN";
}

void TestNumberFormat::singleBits()
{
    QFETCH(quint32, bits);
    QFETCH(QString, expected);
    QCOMPARE(FormatSingleBits(bits), expected);
    QCOMPARE(FormatSingle(std::bit_cast<float>(bits)), expected);
}

void TestNumberFormat::extended_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::addColumn<QString>("expected");

    // Decimal literals whose nearest extended value lies a hair below the tie still
    // round on their decimal digits.
    QTest::newRow("0.0005") << QByteArray("0.0005") << "0.001";
    QTest::newRow("-0.0005") << QByteArray("-0.0005") << "-0.001";
    QTest::newRow("1234.5675") << QByteArray("1234.5675") << "1234.568";
    QTest::newRow("grid -18.45") << QByteArray("-18.45") << "-18.45";
    QTest::newRow("1e-30") << QByteArray("1e-30") << "0";
    QTest::newRow("negative zero") << QByteArray("-0.0") << "0";

    // The edge of the fixed format.
    QTest::newRow("18 nines") << QByteArray("999999999999999999") << "999999999999999999";
    QTest::newRow("1e18") << QByteArray("1e18") << "1E18";
    QTest::newRow("just below 1e18 rounds to it")
        << QByteArray("999999999999999999.75") << "1E18";
    QTest::newRow("17 digits and a fraction") << QByteArray("12345678901234567.8")
                                              << "12345678901234567.8";
    QTest::newRow("15 digit carry") << QByteArray("999999999999999900000") << "1E21";
    QTest::newRow("tie at 16th digit") << QByteArray("1000000000000005000")
                                       << "1.00000000000001E18";
    QTest::newRow("huge") << QByteArray("1.5e4000") << "1.5E4000";

    QTest::newRow("inf") << QByteArray("inf") << "INF";
    QTest::newRow("nan") << QByteArray("nan") << "NAN";
    QTest::newRow("-nan") << QByteArray("-nan") << "-NAN";
}

void TestNumberFormat::extended()
{
    QFETCH(QByteArray, literal);
    QFETCH(QString, expected);
    QCOMPARE(FormatFloat(ld(literal.constData())), expected);
}

void TestNumberFormat::readDecimal_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected"); // a literal for strtold, or empty: not a number

    QTest::newRow("sign and exponent") << QByteArray("+1.5E+2") << QByteArray("150");
    QTest::newRow("negative exponent") << QByteArray("-25e-1") << QByteArray("-2.5");
    QTest::newRow("no integer digits") << QByteArray(".5") << QByteArray("0.5");
    QTest::newRow("no decimals") << QByteArray("1.") << QByteArray("1");
    QTest::newRow("negative zero") << QByteArray("-0") << QByteArray("-0.0");
    QTest::newRow("full extended precision") << QByteArray("0.1") << QByteArray("0.1");
    QTest::newRow("largest extended order") << QByteArray("1.1e4932") << QByteArray("1.1e4932");
    QTest::newRow("zero with a huge exponent") << QByteArray("0.000e99999") << QByteArray("0");

    // Beyond the range: an infinity or a zero, by the order of magnitude.
    QTest::newRow("overflow") << QByteArray("1e5000") << QByteArray("inf");
    QTest::newRow("negative overflow") << QByteArray("-1e5000") << QByteArray("-inf");
    QTest::newRow("overflow by leading zeros and digits")
        << QByteArray("0.00012345e4937") << QByteArray("inf");
    QTest::newRow("exponent past any integer")
        << QByteArray("1e99999999999999999999999") << QByteArray("inf");
    QTest::newRow("underflow") << QByteArray("1e-6000") << QByteArray("0");
    QTest::newRow("negative underflow") << QByteArray("-1e-6000") << QByteArray("-0.0");
    QTest::newRow("underflow despite integer digits") << QByteArray("12345e-6000") << QByteArray("0");
    QTest::newRow("below the normal range") << QByteArray("1e-4940") << QByteArray("0");

    QTest::newRow("empty") << QByteArray("") << QByteArray();
    QTest::newRow("sign alone") << QByteArray("-") << QByteArray();
    QTest::newRow("point alone") << QByteArray(".") << QByteArray();
    QTest::newRow("two signs") << QByteArray("+-1") << QByteArray();
    QTest::newRow("decimal comma") << QByteArray("1,5") << QByteArray();
    QTest::newRow("exponent without digits") << QByteArray("1e+") << QByteArray();
    QTest::newRow("two points") << QByteArray("1.5.2") << QByteArray();
    QTest::newRow("blank before") << QByteArray(" 1") << QByteArray();
    QTest::newRow("blank after") << QByteArray("1 ") << QByteArray();
    QTest::newRow("hex") << QByteArray("0x10") << QByteArray();
    QTest::newRow("INF") << QByteArray("INF") << QByteArray();
    QTest::newRow("nan") << QByteArray("-nan") << QByteArray();
}

void TestNumberFormat::readDecimal()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    const std::optional<long double> read = ReadDecimal(std::string_view(text.constData(), text.size()));
    if (expected.isEmpty()) {
        QVERIFY2(!read, qPrintable(FormatFloat(read.value_or(0))));
        return;
    }
    QVERIFY(read);
    const long double want = ld(expected.constData());
    QVERIFY2(*read == want, qPrintable(FormatFloat(*read)));
    QCOMPARE(std::signbit(*read), std::signbit(want));
}

void TestNumberFormat::statusText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0 << "?";
    QTest::newRow("1") << 1 << "ok";
    QTest::newRow("2") << 2 << "%";
    QTest::newRow("3") << 3 << "?%";
    QTest::newRow("4") << 4 << "";
    QTest::newRow("0xFF") << 0xFF << "";
}

void TestNumberFormat::statusText()
{
    QFETCH(int, code);
    QFETCH(QString, expected);
    const QString text = StatusText(quint8(code));
    QCOMPARE(text, expected);
}

// The legend read back code by code gives StatusText's text for each of the
// 256 codes: a code given a text (or one whose text changed) and left out of
// the legend fails here.
void TestNumberFormat::statusLegendCoversEveryCode()
{
    const QString blankName = QStringLiteral("пустое поле");
    QMap<int, QString> legend;
    const QStringList lines = StatusLegend().split(u'\n');
    QVERIFY(lines.size() > 1);
    for (const QString &line : lines.mid(1)) { // below the title
        const qsizetype dash = line.lastIndexOf(QStringLiteral(" — "));
        QVERIFY2(dash > 0, qPrintable(line));
        const QString text = line.left(dash);
        for (const QString &part : line.mid(dash + 3).split(QStringLiteral(", "))) {
            const QStringList ends = part.split(QStringLiteral(".."));
            bool okFirst = false, okLast = false;
            const int first = ends.first().toInt(&okFirst);
            const int last = ends.last().toInt(&okLast);
            QVERIFY2(okFirst && okLast && ends.size() <= 2 && first <= last, qPrintable(line));
            for (int code = first; code <= last; ++code) {
                QVERIFY2(!legend.contains(code), qPrintable(line));
                legend.insert(code, text == blankName ? QString() : text);
            }
        }
    }
    for (int code = 0; code <= 0xFF; ++code) {
        QVERIFY2(legend.contains(code), qPrintable(QString::number(code)));
        QCOMPARE(legend.value(code), StatusText(quint8(code)));
    }
    QCOMPARE(legend.size(), 256);
}

void TestNumberFormat::independentOfProcessLocale()
{
    // A locale whose decimal separator is a comma, as a Qt application running for
    // a Russian user gets. When none is installed, one is compiled into a private
    // folder (glibc looks there through LOCPATH).
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char *candidates[] = {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8"};
    bool found = false;
    for (const char *name : candidates)
        found = found || std::setlocale(LC_ALL, name) != nullptr;
    QTemporaryDir localeDir;
    if (!found && localeDir.isValid()) {
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {"-i", "ru_RU", "-f", "UTF-8", localeDir.filePath("ru_RU.UTF-8")});
        if (localedef.waitForFinished(60000) && localedef.exitCode() == 0) {
            qputenv("LOCPATH", localeDir.path().toLocal8Bit());
            found = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr;
        }
    }
    if (!found)
        QSKIP("no locale with a decimal comma is available");
    QCOMPARE(QString::fromLatin1(localeconv()->decimal_point), QStringLiteral(","));
    const QString x = FormatSingleBits(0xC04CCCCDu);
    const QString big = FormatSingleBits(0x7F7FFFFFu);
    const QString tie = FormatSingleBits(0x3F880000u);
    const QString ext = FormatFloat(-18.45L);
    const std::optional<long double> read = ReadDecimal("-18.45");
    std::setlocale(LC_ALL, saved.c_str());
    qunsetenv("LOCPATH");
    QCOMPARE(x, QStringLiteral("-3.2"));
    QCOMPARE(big, QStringLiteral("3.40282346638529E38"));
    QCOMPARE(tie, QStringLiteral("1.063"));
    QCOMPARE(ext, QStringLiteral("-18.45"));
    QVERIFY(read && *read == -18.45L);
}

QTEST_GUILESS_MAIN(TestNumberFormat)
#include "tst_NumberFormat.moc"
