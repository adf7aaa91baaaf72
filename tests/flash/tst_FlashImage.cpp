#include "flash/FlashImage.h"
#include "sensor/NumberFormat.h"
#include "sensor/SensorRequests.h"

#include <QTest>
#include <cstdlib>

class TestFlashImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldDisplay_data();
    void fieldDisplay();
    void calibrationValue_data();
    void calibrationValue();
    void gridStep_data();
    void gridStep();
    void gridStepOfImageUsesLowBytes();
    void versionNoteAgreesWithGridStep();
    void tableLayout();
    void restoreSkipsAddressAndIllumination();
    void fileNames();
};

void TestFlashImage::fieldDisplay_data()
{
    QTest::addColumn<int>("row"); // position in FlashList
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("raw");

    QTest::newRow("address 5") << 0 << "Адрес" << 0x000 << 5u << "0x05" << "00000005";
    QTest::newRow("address word 0x105") << 0 << "Адрес" << 0x000 << 0x105u << "0x05" << "00000105";
    QTest::newRow("serial") << 1 << "Серийный номер" << 0x001 << 0x0012AB7Fu << "0x0012AB7F"
                            << "0012AB7F";
    QTest::newRow("exposure X 0x123") << 2 << "Экспозиция X" << 0x002 << 0x123u << "35"
                                      << "00000123";
    QTest::newRow("exposure Y") << 3 << "Экспозиция Y" << 0x003 << 118u << "118" << "00000076";
    QTest::newRow("threshold X") << 4 << "Порог компарации X" << 0x004 << 40u << "40"
                                 << "00000028";
    QTest::newRow("threshold Y") << 5 << "Порог компарации Y" << 0x005 << 0xFFFFFF2Au << "42"
                                 << "FFFFFF2A";
    QTest::newRow("firmware") << 6 << "Версия прошивки" << 0x3FA << 14u << "14" << "0000000E";
    QTest::newRow("dimension") << 7 << "Размерность прибора" << 0x3FB << 40u << "40"
                               << "00000028";
    QTest::newRow("cpu erased") << 8 << "Версия CPU" << 0x3FC << 0xFFFFFFFFu << "255"
                                << "FFFFFFFF";
    QTest::newRow("crc") << 9 << "CRC" << 0x3FD << 0xBEEFu << "0xBEEF" << "0000BEEF";
    QTest::newRow("real crc 12345") << 10 << "Реальное CRC" << 0x3FE << 0x12345u << "0x2345"
                                    << "00012345";
    QTest::newRow("required crc small") << 11 << "Требуемое CRC" << 0x3FF << 0x7u << "0x0007"
                                        << "00000007";
}

void TestFlashImage::fieldDisplay()
{
    QFETCH(int, row);
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(quint32, word);
    QFETCH(QString, value);
    QFETCH(QString, raw);
    const TFlashListRec &rec = FlashList[std::size_t(row)];
    QCOMPARE(rec.Name.toString(), name);
    QCOMPARE(rec.Index, index);
    QCOMPARE(FieldValueText(rec, word), value);
    QCOMPARE(RawText(word), raw);
}

void TestFlashImage::calibrationValue_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QString>("text");
    QTest::newRow("erased") << 0xFFFFFFFFu << "-NAN";
    QTest::newRow("10") << 0x41200000u << "10";
    QTest::newRow("-20.5") << 0xC1A40000u << "-20.5";
    QTest::newRow("2.05 as a single") << 0x40033333u << "2.05";
}

void TestFlashImage::calibrationValue()
{
    QFETCH(quint32, word);
    QFETCH(QString, text);
    QCOMPARE(CalibrationValueText(word), text);
}

void TestFlashImage::gridStep_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("dimension");
    QTest::addColumn<QByteArray>("step"); // decimal, read as the nearest extended value

    QTest::newRow("11, 40") << 11 << 40 << QByteArray("2");
    QTest::newRow("15, 40") << 15 << 40 << QByteArray("2");
    QTest::newRow("12, 40") << 12 << 40 << QByteArray("2.05");
    QTest::newRow("13, 40") << 13 << 40 << QByteArray("2.05");
    QTest::newRow("14, 40") << 14 << 40 << QByteArray("2.05");
    QTest::newRow("16, 40") << 16 << 40 << QByteArray("2.05");
    QTest::newRow("0, 40") << 0 << 40 << QByteArray("2.05");
    QTest::newRow("11, 100") << 11 << 100 << QByteArray("5");
    QTest::newRow("12, 100") << 12 << 100 << QByteArray("5");
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
}

void TestFlashImage::gridStepOfImageUsesLowBytes()
{
    FlashImage image{};
    image[WordFirmware] = 0xABCD0C;  // version 12
    image[WordDimension] = 0x7700028; // dimension 40
    QVERIFY(GridStepOf(image) == std::strtold("2.05", nullptr));
    image[WordDimension] = 0x100; // low byte 0: not the fine grid
    QVERIFY(GridStepOf(image) == 5.0L);
}

void TestFlashImage::versionNoteAgreesWithGridStep()
{
    // The note of the version display names the two steps GridStep gives for that
    // version: the first for dimension 40, the second for any other.
    for (int v = 0; v <= 255; ++v) {
        const QString line = FirmwareVersionLine(quint8(v));
        const QString prefix = QString::asprintf("Версия прошивки: 0x%.2X", unsigned(v));
        QVERIFY2(line.startsWith(prefix), qPrintable(line));
        const QString note = line.mid(prefix.size());
        QString expected;
        if (v >= 11 && v <= 15) {
            expected = QStringLiteral(" (шаг сетки %1 мм, %2 мм)")
                           .arg(FormatFloat(GridStep(v, 40)), FormatFloat(GridStep(v, 100)));
        }
        QCOMPARE(note, expected);
    }
}

void TestFlashImage::tableLayout()
{
    QCOMPARE(FlashWordAddress(XTableIndex), quint16(0x1080));
    QCOMPARE(FlashWordAddress(XTableIndex + GridPoints - 1), quint16(0x1238));
    QCOMPARE(FlashWordAddress(YTableIndex), quint16(0x123A));
    QCOMPARE(FlashWordAddress(YTableIndex + GridPoints - 1), quint16(0x13F2));
    QCOMPARE(GridCentre / GridSide, 10);
    QCOMPARE(GridCentre % GridSide, 10);
    // The flash words the sensor commands name agree with the image layout.
    QCOMPARE(FlashWordAddress(WordFirmware), FirmwareVersionAddress);
    QCOMPARE(FlashWordAddress(WordDimension), DimensionAddress);
    QCOMPARE(FlashWordAddress(WordCpu), CpuVersionAddress);
    QCOMPARE(FlashWordAddress(WordRealCrc), RealCrcAddress);
    QCOMPARE(FlashWordAddress(WordRequiredCrc), RequiredCrcAddress);
    QCOMPARE(FlashWordAddress(WordIllumination), IlluminationAddress);
    QCOMPARE(FlashWordAddress(WordAddress), AddressWordAddress);
}

void TestFlashImage::restoreSkipsAddressAndIllumination()
{
    QList<int> skipped;
    for (int n = 0; n < FlashWords; ++n) {
        if (IsRestoreSkipped(n))
            skipped << n;
    }
    QCOMPARE(skipped, QList<int>({0, 6}));
}

void TestFlashImage::fileNames()
{
    QCOMPARE(DumpFileName(0x12ABCD), QStringLiteral("0012ABCD.dmp"));
    QCOMPARE(PassportFileName(0x12ABCD), QStringLiteral("0012ABCD.ini"));
    QCOMPARE(DumpFileName(0xFFFFFFFF), QStringLiteral("FFFFFFFF.dmp"));
}

QTEST_GUILESS_MAIN(TestFlashImage)
#include "tst_FlashImage.moc"
