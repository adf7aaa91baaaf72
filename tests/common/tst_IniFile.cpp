#include "common/IniFile.h"

#include "common/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace testfiles;

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

    void write_data();
    void write();
    void refusedWrite_data();
    void refusedWrite();
    void unreadableFileIsNotReplaced();
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
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("section and key of other case") << Settings << "Setup" << "ComPort" << "3";
    QTest::newRow("upper-case section in file") << Settings << "Main" << "addr" << "0x10";
    QTest::newRow("blanks around '=' trimmed") << Settings << "SETUP" << "speedcomport" << "2";
    QTest::newRow("missing key") << Settings << "Setup" << "PowerComPort" << "";
    QTest::newRow("missing section") << Settings << "Nowhere" << "Addr" << "";
    QTest::newRow("key from another section") << Settings << "Options" << "Addr" << "";
    QTest::newRow("first of duplicate keys")
        << QByteArray("[A]\nk=1\nK=2\n") << "a" << "k" << "1";
    QTest::newRow("section that stands twice")
        << QByteArray("[A]\nx=1\n[B]\ny=2\n[a]\nk=3\n") << "A" << "k" << "3";
    QTest::newRow("key before any section belongs to none")
        << QByteArray("k=1\n[A]\n") << "A" << "k" << "";
    QTest::newRow("commented-out key") << QByteArray("[A]\n;k=1\n#k=2\n") << "A" << "k" << "";
    QTest::newRow("byte-order mark before the first header")
        << QByteArray("\xEF\xBB\xBF[A]\r\nk=1\r\n") << "A" << "k" << "1";
    QTest::newRow("after a NUL byte") << QByteArrayLiteral("[A]\r\nx=\0\r\n[B]\r\nk=5") << "B"
                                      << "k" << "5";
    QTest::newRow("value beginning with U+FEFF") << QByteArray("[A]\nk=\xEF\xBB\xBFv\n") << "A" << "k"
                                                 << QString(QChar(0xFEFF)) + u'v';
    QTest::newRow("UTF-8 section") << QByteArray("[Датчик]\nk=да\n") << "Датчик" << "k" << "да";
}

void TestIniFile::readString()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QVERIFY(writeBytes(m_path, file));
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

void TestIniFile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    auto edited = [](QByteArray text, const char *from, const char *to) {
        return text.replace(from, to);
    };

    QTest::newRow("value replaced, blanks around '=' kept")
        << Settings << "Setup" << "SpeedComPort" << "1"
        << edited(Settings, "SpeedComPort = 2", "SpeedComPort = 1");
    QTest::newRow("key of other case keeps its spelling")
        << Settings << "Setup" << "ComPort" << "5" << edited(Settings, "comport=3", "comport=5");
    QTest::newRow("missing key after the section's last key")
        << Settings << "Main" << "TimeoutShort" << "300"
        << edited(Settings, "PauseGroup=abc\r\n", "PauseGroup=abc\r\nTimeoutShort=300\r\n");
    QTest::newRow("missing section at the end, CRLF")
        << Settings << "Other" << "Key" << "value" << Settings + "[Other]\r\nKey=value\r\n";
    QTest::newRow("first of duplicate keys")
        << QByteArray("[A]\r\nk=1\r\nk=2\r\n") << "A" << "k" << "3"
        << QByteArray("[A]\r\nk=3\r\nk=2\r\n");
    QTest::newRow("key in the second occurrence of its section")
        << QByteArray("[A]\nx=1\n[B]\n[a]\nk=1\n") << "A" << "k" << "2"
        << QByteArray("[A]\nx=1\n[B]\n[a]\nk=2\n");
    QTest::newRow("missing key: LF file, blank line and comment stay after it")
        << QByteArray("[A]\nx=1\n\n; the B part\n[B]\n") << "A" << "k" << "v"
        << QByteArray("[A]\nx=1\nk=v\n\n; the B part\n[B]\n");
    QTest::newRow("key before any section is another key")
        << QByteArray("k=1\n[A]\n") << "A" << "k" << "2" << QByteArray("k=1\n[A]\nk=2\n");
    QTest::newRow("trailing blanks go with the old value")
        << QByteArray("[A]\r\nk =  old \t\r\nline without equals\r\n") << "A" << "k" << "new"
        << QByteArray("[A]\r\nk =  new\r\nline without equals\r\n");
    QTest::newRow("empty value") << QByteArray("[A]\nk=\n") << "A" << "k" << "5"
                                 << QByteArray("[A]\nk=5\n");
    // Rewriting an empty value changed nothing else: the blank after its '=' stays.
    QTest::newRow("empty value written again") << QByteArray("[A]\r\nk = \r\n") << "A" << "k" << ""
                                               << QByteArray("[A]\r\nk = \r\n");
    QTest::newRow("empty value, blank after '=' kept") << QByteArray("[A]\r\nk = \r\n") << "A" << "k" << "5"
                                                       << QByteArray("[A]\r\nk = 5\r\n");
    QTest::newRow("last line without line end gets one")
        << QByteArray("[A]\nx=1") << "A" << "k" << "v" << QByteArray("[A]\nx=1\nk=v");
    QTest::newRow("new section after a last line without line end")
        << QByteArray("[A]\nx=1") << "B" << "k" << "v" << QByteArray("[A]\nx=1\n[B]\nk=v\n");
    QTest::newRow("header alone, no line end: CRLF")
        << QByteArray("[A]") << "A" << "k" << "v" << QByteArray("[A]\r\nk=v");
    QTest::newRow("new file") << QByteArray() << "Main" << "Addr" << "17"
                              << QByteArray("[Main]\r\nAddr=17\r\n");
    QTest::newRow("byte-order mark kept")
        << QByteArray("\xEF\xBB\xBF[A]\r\nk=1\r\n") << "a" << "K" << "2"
        << QByteArray("\xEF\xBB\xBF[A]\r\nk=2\r\n");
    const QByteArray binary = QByteArrayLiteral("[A]\r\nx=\0\xFF\xFE tail\r\n[B]\r\n");
    QTest::newRow("NUL and invalid bytes kept")
        << binary << "B" << "k" << "v" << binary + "k=v\r\n";
}

void TestIniFile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);

    if (before.isNull())
        QVERIFY(QFile::remove(m_path));
    else
        QVERIFY(writeBytes(m_path, before));
    const IniFile ini(m_path);
    ini.writeString(section, key, value);
    QCOMPARE(readBytes(m_path), after);
    QCOMPARE(ini.readString(section, key), value);
    // Writing the same value again changes nothing.
    ini.writeString(section, key, value);
    QCOMPARE(readBytes(m_path), after);
}

void TestIniFile::refusedWrite_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("line break in the value") << "Main" << "Addr" << "1\r\n[Setup]";
    QTest::newRow("'=' in the key") << "Main" << "a=b" << "1";
    QTest::newRow("key that reads as a comment") << "Main" << ";Addr" << "1";
    QTest::newRow("']' in the section") << "Ma]in" << "Addr" << "1";
    QTest::newRow("value with a leading blank") << "Main" << "Addr" << " 1";
    QTest::newRow("empty key") << "Main" << "" << "1";
}

void TestIniFile::refusedWrite()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString text = QStringLiteral("Unable to write to ")
                         + QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath());
    QCOMPARE(failureOf([&] { IniFile(m_path).writeString(section, key, value); }), text);
    QCOMPARE(readBytes(m_path), Settings);
    // Among other keys written in one step: the keys before it are not written either.
    QCOMPARE(failureOf([&] {
                 IniFile(m_path).writeValues(
                     {{"Setup", "ComPort", "4"}, {"New", "Key", "1"}, {section, key, value}});
             }),
             text);
    QCOMPARE(readBytes(m_path), Settings);
}

void TestIniFile::unreadableFileIsNotReplaced()
{
    // A directory in the file's place cannot be read: nothing is written over it.
    const QString path = m_dir.filePath(QStringLiteral("dir.ini"));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("dir.ini")));
    QVERIFY(!failureOf([&] { IniFile(path).writeInt("Main", "Addr", 1); }).isEmpty());
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(IniFile(path).readInt("Main", "Addr", 7), 7);
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
