#include "flash/DumpFile.h"

#include "FlashTestUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace flashtest;

namespace {

const QString WrongSize = QStringLiteral("Размер файла неверен");

// A dump whose byte at offset p is (p * 7 + 3) & 0xFF, then bytes 0xEE after 4096.
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

} // namespace

class TestDumpFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizes_data();
    void sizes();
    void unreadableFile_data();
    void unreadableFile();
    void writeAndReadBack();
    void failedWriteKeepsOldFile();
    void missingDirectoryFails();

private:
    QTemporaryDir m_dir;
};

void TestDumpFile::sizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("4095") << 4095 << false;
    QTest::newRow("4096") << 4096 << true;
    QTest::newRow("4099") << 4099 << true;
    QTest::newRow("4100") << 4100 << false;
    QTest::newRow("8192") << 8192 << false;
}

void TestDumpFile::sizes()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    const QString path = m_dir.filePath(QStringLiteral("size%1.dmp").arg(size));
    QVERIFY(writeBytes(path, patternDump(size)));

    if (!accepted) {
        QCOMPARE(failureOf([&] { ReadDumpFile(path); }), WrongSize);
        QCOMPARE(DumpSizeFailure(path, size),
                 QStringLiteral("Размер файла неверен: %1 - %2 байт, ожидается 4096").arg(path).arg(size));
        QCOMPARE(failureOf([&] { ImageFromDump(patternDump(size)); }), WrongSize);
        return;
    }
    QCOMPARE(DumpSizeFailure(path, size), QString());
    const FlashImage image = ReadDumpFile(path);
    // Only the first 4096 bytes count; the bytes after them are 0xEE.
    for (int n = 0; n < FlashWords; ++n)
        QCOMPARE(image[std::size_t(n)], patternWord(n));
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
    const QString text = failureOf([&] { ReadDumpFile(m_dir.filePath(name)); });
    QVERIFY2(text != QStringLiteral("<no failure>"), "an unreadable file was read");
    QVERIFY(!text.isEmpty());
    QVERIFY(text != WrongSize);
}

void TestDumpFile::writeAndReadBack()
{
    const QByteArray bytes = DumpBytes(sampleImage());
    QCOMPARE(bytes.size(), 4096);
    QCOMPARE(bytes.left(8).toHex(), QByteArray("010203047fab1200"));
    QCOMPARE(bytes.right(4).toHex(), QByteArray("ffffffff"));
    QVERIFY(ImageFromDump(bytes) == sampleImage());

    // Written over a larger file, which it replaces whole.
    const QString path = m_dir.filePath(QStringLiteral("0012AB7F.dmp"));
    QVERIFY(writeBytes(path, QByteArray(5000, 'x')));
    WriteDumpFile(path, sampleImage());
    QCOMPARE(readBytes(path), bytes);
    QVERIFY(ReadDumpFile(path) == sampleImage());
}

void TestDumpFile::failedWriteKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("keep.dmp"));
    const QByteArray old("OLD DUMP");
    QVERIFY(writeBytes(path, old));
    {
        FileSizeLimit limit(1000); // the new dump (4096 bytes) cannot be written
        QVERIFY(limit.active());
        const QString text = failureOf([&] { WriteDumpFile(path, sampleImage()); });
        QVERIFY2(text != QStringLiteral("<no failure>"), "a failed write was reported as success");
        QVERIFY(!text.isEmpty());
    }
    QCOMPARE(readBytes(path), old);
    // Nothing is left behind beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.dmp"});
}

void TestDumpFile::missingDirectoryFails()
{
    const QString path = m_dir.filePath(QStringLiteral("no/such/dir/x.dmp"));
    QVERIFY(failureOf([&] { WriteDumpFile(path, sampleImage()); }) != QStringLiteral("<no failure>"));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestDumpFile)
#include "tst_DumpFile.moc"
