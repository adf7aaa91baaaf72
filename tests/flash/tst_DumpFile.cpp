#include "flash/DumpFile.h"
#include "serial/ZartError.h"

#include "FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

bool writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A dump whose byte at offset p is (p * 7 + 3) & 0xFF, followed by `extra` bytes 0xEE.
QByteArray patternDump(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int p = 0; p < size; ++p)
        b[p] = char(p < 4096 ? (p * 7 + 3) & 0xFF : 0xEE);
    return b;
}

// Word n of patternDump, assembled least significant byte first.
quint32 patternWord(int n)
{
    quint32 w = 0;
    for (int b = 3; b >= 0; --b)
        w = (w << 8) | quint32(((4 * n + b) * 7 + 3) & 0xFF);
    return w;
}

FlashImage sampleImage()
{
    FlashImage image{};
    for (int n = 0; n < FlashWords; ++n)
        image[std::size_t(n)] = quint32(n) * 0x01000193u + 0x811C9DC5u;
    image[0] = 0x04030201;
    image[1] = 0x0012AB7F;
    image[1023] = 0xFFFFFFFF;
    return image;
}

QString expectFailure(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ZartError &e) {
        return e.text();
    }
    return QStringLiteral("<no failure>");
}

} // namespace

class TestDumpFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizes_data();
    void sizes();
    void bytesAreLeastSignificantFirst();
    void unreadableFile_data();
    void unreadableFile();
    void writeAndReadBack();
    void writeReplacesLargerFile();
    void failedWriteKeepsOldFile();
    void readOnlyDirectoryKeepsOldFile();
    void missingDirectoryFails();

private:
    QTemporaryDir m_dir;
};

void TestDumpFile::sizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("4092") << 4092 << false;
    QTest::newRow("4095") << 4095 << false;
    QTest::newRow("4096") << 4096 << true;
    QTest::newRow("4097") << 4097 << true;
    QTest::newRow("4099") << 4099 << true;
    QTest::newRow("4100") << 4100 << false;
    QTest::newRow("8192") << 8192 << false;
}

void TestDumpFile::sizes()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    const QString path = m_dir.filePath(QStringLiteral("size%1.dmp").arg(size));
    QVERIFY(writeRaw(path, patternDump(size)));

    if (!accepted) {
        QCOMPARE(expectFailure([&] { ReadDumpFile(path); }), QStringLiteral("Размер файла неверен"));
        QCOMPARE(expectFailure([&] { ImageFromDump(patternDump(size)); }),
                 QStringLiteral("Размер файла неверен"));
        return;
    }
    const FlashImage image = ReadDumpFile(path);
    // Only the first 4096 bytes count; the bytes after them are 0xEE.
    for (int n = 0; n < FlashWords; ++n)
        QCOMPARE(image[std::size_t(n)], patternWord(n));
}

void TestDumpFile::bytesAreLeastSignificantFirst()
{
    const QByteArray bytes = DumpBytes(sampleImage());
    QCOMPARE(bytes.size(), 4096);
    QCOMPARE(bytes.left(8).toHex(), QByteArray("010203047fab1200"));
    QCOMPARE(bytes.right(4).toHex(), QByteArray("ffffffff"));
    QVERIFY(ImageFromDump(bytes) == sampleImage());
}

void TestDumpFile::unreadableFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing file") << "missing.dmp";
    QTest::newRow("a directory") << "adir";
}

void TestDumpFile::unreadableFile()
{
    QFETCH(QString, name);
    QDir(m_dir.path()).mkdir(QStringLiteral("adir"));
    const QString text = expectFailure([&] { ReadDumpFile(m_dir.filePath(name)); });
    QVERIFY2(text != QStringLiteral("<no failure>"), "an unreadable file was read");
    QVERIFY(!text.isEmpty());
    QVERIFY(text != QStringLiteral("Размер файла неверен"));
}

void TestDumpFile::writeAndReadBack()
{
    const QString path = m_dir.filePath(QStringLiteral("0012AB7F.dmp"));
    WriteDumpFile(path, sampleImage());
    const QByteArray raw = readAll(path);
    QCOMPARE(raw.size(), 4096);
    QCOMPARE(raw.mid(4, 4).toHex(), QByteArray("7fab1200"));
    QVERIFY(ReadDumpFile(path) == sampleImage());
}

void TestDumpFile::writeReplacesLargerFile()
{
    const QString path = m_dir.filePath(QStringLiteral("replace.dmp"));
    QVERIFY(writeRaw(path, QByteArray(5000, 'x')));
    WriteDumpFile(path, sampleImage());
    QCOMPARE(readAll(path), DumpBytes(sampleImage()));
}

void TestDumpFile::failedWriteKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("keep.dmp"));
    const QByteArray old("OLD DUMP");
    QVERIFY(writeRaw(path, old));
    {
        FileSizeLimit limit(1000); // the new dump (4096 bytes) cannot be written
        QVERIFY(limit.active());
        const QString text = expectFailure([&] { WriteDumpFile(path, sampleImage()); });
        QVERIFY2(text != QStringLiteral("<no failure>"), "a failed write was reported as success");
        QVERIFY(!text.isEmpty());
    }
    QCOMPARE(readAll(path), old);
    // Nothing is left behind beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.dmp"});
}

void TestDumpFile::readOnlyDirectoryKeepsOldFile()
{
    if (geteuid() == 0)
        QSKIP("file permissions do not stop root; failedWriteKeepsOldFile covers the failure");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ro.dmp"));
    const QByteArray old("OLD DUMP");
    QVERIFY(writeRaw(path, old));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const QString text = expectFailure([&] { WriteDumpFile(path, sampleImage()); });
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(text != QStringLiteral("<no failure>"));
    QCOMPARE(readAll(path), old);
}

void TestDumpFile::missingDirectoryFails()
{
    const QString path = m_dir.filePath(QStringLiteral("no/such/dir/x.dmp"));
    const QString text = expectFailure([&] { WriteDumpFile(path, sampleImage()); });
    QVERIFY(text != QStringLiteral("<no failure>"));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestDumpFile)
#include "tst_DumpFile.moc"
