#include "flash/IniFile.h"

#include "FlashTestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace flashtest;

namespace {

const QByteArray Settings = "; settings of the configurator\r\n"
                            "\r\n"
                            "[setup]\r\n"
                            "comport=3\r\n"
                            "; the speed list position\r\n"
                            "SpeedComPort = 2\r\n"
                            "\r\n"
                            "[MAIN]\r\n"
                            "Addr=0x10\r\n"
                            "Timeout=70000\r\n"
                            "FloatPix=2\r\n"
                            "PauseGroup=abc\r\n"
                            "\r\n"
                            "[Options]\r\n"
                            "ServiceMode=-1\r\n";

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void readString_data();
    void readString();
    void parseInt_data();
    void parseInt();
    void readIntAndBool();

    void writeKeepsEverythingElse();
    void writeCreatesMissingFile();
    void writeDropsByteOrderMark();
    void failedWriteReportsFullPath();
    void failedWriteKeepsOldFile();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TestIniFile::init()
{
    m_path = m_dir.filePath(QStringLiteral("zart.ini"));
    QVERIFY(writeBytes(m_path, Settings));
}

void TestIniFile::readString_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("section and key of other case") << "Setup" << "ComPort" << "3";
    QTest::newRow("upper-case section in file") << "Main" << "addr" << "0x10";
    QTest::newRow("blanks around '=' trimmed") << "SETUP" << "speedcomport" << "2";
    QTest::newRow("missing key") << "Setup" << "PowerComPort" << "";
    QTest::newRow("missing section") << "Nowhere" << "Addr" << "";
    QTest::newRow("key from another section") << "Options" << "Addr" << "";
}

void TestIniFile::readString()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(IniFile(m_path).readString(section, key), value);
}

void TestIniFile::parseInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("decimal") << "3000" << true << 3000;
    QTest::newRow("negative") << "-1" << true << -1;
    QTest::newRow("plus") << "+5" << true << 5;
    QTest::newRow("0X1f") << "0X1f" << true << 31;
    QTest::newRow("0xFFFFFFFF") << "0xFFFFFFFF" << true << -1;
    QTest::newRow("lowest") << "-2147483648" << true << int(0x80000000);
    QTest::newRow("highest") << "2147483647" << true << 2147483647;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("0x alone") << "0x" << false << 0;
    QTest::newRow("nine hex digits") << "0x123456789" << false << 0;
    QTest::newRow("too large") << "2147483648" << false << 0;
    QTest::newRow("too small") << "-2147483649" << false << 0;
    QTest::newRow("dollar hex is not a settings integer") << "$10" << false << 0;
    QTest::newRow("trailing garbage") << "12x" << false << 0;
}

void TestIniFile::parseInt()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<qint32> v = ParseIniInt(text);
    QCOMPARE(v.has_value(), valid);
    if (valid)
        QCOMPARE(*v, value);
}

void TestIniFile::readIntAndBool()
{
    const IniFile ini(m_path);
    QCOMPARE(ini.readInt("Main", "Addr", 1), 16);
    QCOMPARE(ini.readInt("Main", "Timeout", 3000), 70000);
    QCOMPARE(ini.readInt("Main", "PauseGroup", 7), 7); // not an integer: missing
    QCOMPARE(ini.readInt("Main", "TimeoutShort", 300), 300);
    QCOMPARE(ini.readInt("Options", "ServiceMode", 0), -1);
    QCOMPARE(ini.readBool("Main", "FloatPix", false), true); // any non-zero integer
    QCOMPARE(ini.readBool("Main", "PauseGroup", false), false);
    QCOMPARE(ini.readBool("Main", "PauseGroup", true), true);
    QCOMPARE(ini.readBool("Main", "Missing", true), true);
    QCOMPARE(IniFile(m_dir.filePath("none.ini")).readInt("Main", "Addr", 1), 1);
}

void TestIniFile::writeKeepsEverythingElse()
{
    const IniFile ini(m_path);
    ini.writeInt("Setup", "ComPort", 5); // the file's "comport" of "[setup]"
    ini.writeInt("Setup", "PowerComPort", 4);
    ini.writeBool("Main", "FloatPix", false);
    ini.writeString("Other", "Key", "value");

    const QString text = QString::fromUtf8(readBytes(m_path));
    QVERIFY(text.contains("; settings of the configurator"));
    QVERIFY(text.contains("; the speed list position"));
    QVERIFY(text.contains("ServiceMode=-1"));
    QVERIFY(text.contains("PauseGroup=abc"));
    QVERIFY(text.contains(QRegularExpression("(?m)^PowerComPort=4\\r?$")));
    QVERIFY(text.contains(QRegularExpression("(?m)^\\[Other\\]\\r?\\nKey=value\\r?$")));
    // key=value without blanks, also for the keys that had them.
    QVERIFY(!text.contains(" = "));
    QVERIFY(!text.contains("= "));

    QCOMPARE(text.count(QRegularExpression("(?im)^comport=")), 1);
    QCOMPARE(text.count(QRegularExpression("(?im)^\\[setup\\]")), 1);
    QCOMPARE(ini.readInt("SETUP", "COMPORT", 0), 5);
    QCOMPARE(ini.readInt("Setup", "SpeedComPort", 0), 2);
    QCOMPARE(ini.readInt("Setup", "PowerComPort", 0), 4);
    QCOMPARE(ini.readBool("Main", "FloatPix", true), false);
    QCOMPARE(ini.readString("main", "FLOATPIX"), QStringLiteral("0"));
    QCOMPARE(ini.readString("Other", "key"), QStringLiteral("value"));
}

void TestIniFile::writeCreatesMissingFile()
{
    const QString path = m_dir.filePath(QStringLiteral("new.ini"));
    QVERIFY(!QFile::exists(path));
    IniFile(path).writeString("Main", "Addr", "17");
    QVERIFY(readBytes(path).startsWith("[Main]"));
    QCOMPARE(IniFile(path).readInt("main", "addr", 1), 17);
}

void TestIniFile::writeDropsByteOrderMark()
{
    QVERIFY(writeBytes(m_path, QByteArray("\xEF\xBB\xBF") + Settings));
    QCOMPARE(IniFile(m_path).readInt("Setup", "ComPort", 0), 3);
    IniFile(m_path).writeInt("Main", "Addr", 2);
    const QByteArray bytes = readBytes(m_path);
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.startsWith("; settings of the configurator"));
    QCOMPARE(IniFile(m_path).readInt("Setup", "ComPort", 0), 3);
}

void TestIniFile::failedWriteReportsFullPath()
{
    const QString path = m_dir.filePath(QStringLiteral("no/such/dir/zart.ini"));
    QCOMPARE(failureOf([&] { IniFile(path).writeInt("Main", "Addr", 1); }),
             QStringLiteral("Unable to write to ")
                 + QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

void TestIniFile::failedWriteKeepsOldFile()
{
    QVERIFY(writeBytes(m_path, Settings + "Note=" + QByteArray(600, 'n') + "\r\n"));
    const QByteArray before = readBytes(m_path);
    QString failure;
    {
        // The rewritten file is larger than the limit: its write fails half-way.
        FileSizeLimit limit(256);
        QVERIFY(limit.active());
        failure = failureOf([&] { IniFile(m_path).writeInt("Main", "Addr", 9); });
    }
    QVERIFY2(failure.startsWith(QStringLiteral("Unable to write to ")), qPrintable(failure));
    QCOMPARE(readBytes(m_path), before);
    QCOMPARE(QDir(m_dir.path()).entryList({"zart.ini*"}, QDir::Files | QDir::Hidden),
             QStringList{"zart.ini"});
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_IniFile.moc"
