#include "flash/FlashImage.h"
#include "flash/FlashOperations.h"
#include "common/NumberFormat.h"
#include "sensor/SensorRequests.h"

#include <QTest>
#include <cstdlib>

class TestFlashImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gridStep_data();
    void gridStep();
    void versionNoteAgreesWithGridStep();
    void viewRows_data();
    void viewRows();
    void viewRowsCoverTables();
};

void TestFlashImage::gridStep_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("dimension");
    QTest::addColumn<QByteArray>("step"); // decimal, read as the nearest extended value

    QTest::newRow("11, 40") << 11 << 40 << QByteArray("2");
    QTest::newRow("15, 40") << 15 << 40 << QByteArray("2");
    QTest::newRow("12, 40") << 12 << 40 << QByteArray("2.05");
    QTest::newRow("16, 40") << 16 << 40 << QByteArray("2.05");
    QTest::newRow("0, 40") << 0 << 40 << QByteArray("2.05");
    QTest::newRow("11, 100") << 11 << 100 << QByteArray("5");
    QTest::newRow("13, 100") << 13 << 100 << QByteArray("5");
    QTest::newRow("15, 100") << 15 << 100 << QByteArray("5");
    QTest::newRow("14, 100") << 14 << 100 << QByteArray("5.05");
    QTest::newRow("16, 100") << 16 << 100 << QByteArray("5.05");
    QTest::newRow("12, 41") << 12 << 41 << QByteArray("5");
    QTest::newRow("0, 0") << 0 << 0 << QByteArray("5.05");
}

void TestFlashImage::gridStep()
{
    QFETCH(int, version);
    QFETCH(int, dimension);
    QFETCH(QByteArray, step);
    const long double expected = std::strtold(step.constData(), nullptr);
    QVERIFY(GridStep(version, dimension) == expected);
    // Of an image, only the low bytes of the two words count.
    FlashImage image{};
    image[WordFirmware] = 0xABCD00u | quint32(version);
    image[WordDimension] = 0x7700000u | quint32(dimension);
    QVERIFY(GridStepOf(image) == expected);
}

void TestFlashImage::versionNoteAgreesWithGridStep()
{
    // The note names the two steps of that version: for dimension 40, for any other.
    for (int v = 0; v <= 255; ++v) {
        const QString line = FirmwareVersionLine(quint8(v));
        const QString prefix = QString::asprintf("Версия прошивки: 0x%.2X", unsigned(v));
        QVERIFY2(line.startsWith(prefix), qPrintable(line));
        QString expected;
        if (v >= 11 && v <= 15) {
            expected = QStringLiteral(" (шаг сетки %1 мм, %2 мм)")
                           .arg(FormatFloat(GridStep(v, 40)), FormatFloat(GridStep(v, 100)));
        }
        QCOMPARE(line.mid(prefix.size()), expected);
    }
}

void TestFlashImage::viewRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("index"); // flash word shown in the row
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("address, low byte") << 0 << 0x000 << 0x105u << "Адрес" << "0x05";
    QTest::newRow("serial") << 1 << 0x001 << 0x0012AB7Fu << "Серийный номер" << "0x0012AB7F";
    QTest::newRow("exposure X, low byte") << 2 << 0x002 << 0x123u << "Экспозиция X" << "35";
    QTest::newRow("exposure Y") << 3 << 0x003 << 118u << "Экспозиция Y" << "118";
    QTest::newRow("threshold X") << 4 << 0x004 << 40u << "Порог компарации X" << "40";
    QTest::newRow("threshold Y") << 5 << 0x005 << 0xFFFFFF2Au << "Порог компарации Y" << "42";
    QTest::newRow("firmware") << 6 << 0x3FA << 14u << "Версия прошивки" << "14";
    QTest::newRow("dimension") << 7 << 0x3FB << 40u << "Размерность прибора" << "40";
    QTest::newRow("cpu erased") << 8 << 0x3FC << 0xFFFFFFFFu << "Версия CPU" << "255";
    QTest::newRow("crc, low half") << 9 << 0x3FD << 0xABCD1234u << "CRC" << "0x1234";
    QTest::newRow("real crc") << 10 << 0x3FE << 0x12345u << "Реальное CRC" << "0x2345";
    QTest::newRow("required crc, four digits") << 11 << 0x3FF << 0x7u << "Требуемое CRC" << "0x0007";
    QTest::newRow("X1") << 12 << 128 << 0x3FC00000u << "X1" << "1.5";
    QTest::newRow("X2, three decimals") << 13 << 129 << 0xC1A0FBE7u << "X2" << "-20.123";
    QTest::newRow("X441") << 452 << 568 << 0xC0100000u << "X441" << "-2.25";
    QTest::newRow("Y1, erased") << 453 << 570 << 0xFFFFFFFFu << "Y1" << "-NAN";
    QTest::newRow("Y441") << 893 << 1010 << 0u << "Y441" << "0";
}

void TestFlashImage::viewRows()
{
    QFETCH(int, row);
    QFETCH(int, index);
    QFETCH(quint32, word);
    QFETCH(QString, name);
    QFETCH(QString, value);

    FlashImage image{};
    image[std::size_t(index)] = word;
    const QList<QStringList> rows = DumpViewRows(image);
    QCOMPARE(rows.size(), 894);
    QCOMPARE(rows[row], QStringList({name, value, QString::asprintf("%08X", word)}));
}

void TestFlashImage::viewRowsCoverTables()
{
    // Every table word shows in its own row; the words outside the named fields
    // and the tables (7..127, 569, 1011..1017) show nowhere.
    FlashImage image{};
    for (int n = 0; n < FlashWords; ++n)
        image[std::size_t(n)] = 0x40000000u + quint32(n); // positive singles near 2
    const QList<QStringList> rows = DumpViewRows(image);
    QCOMPARE(rows.size(), 894);
    QStringList raws;
    for (const QStringList &r : rows) {
        QCOMPARE(r.size(), 3);
        raws << r[2];
    }
    for (int k = 0; k < 441; ++k) {
        QCOMPARE(rows[12 + k][0], QStringLiteral("X%1").arg(k + 1));
        QCOMPARE(rows[12 + k][2], QString::asprintf("%08X", 0x40000000u + 128 + k));
        QCOMPARE(rows[453 + k][0], QStringLiteral("Y%1").arg(k + 1));
        QCOMPARE(rows[453 + k][2], QString::asprintf("%08X", 0x40000000u + 570 + k));
    }
    for (int n : {7, 127, 569, 1011, 1017})
        QVERIFY(!raws.contains(QString::asprintf("%08X", 0x40000000u + n)));
}

QTEST_GUILESS_MAIN(TestFlashImage)
#include "tst_FlashImage.moc"
