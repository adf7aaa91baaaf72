// Two dumps compared without a sensor: the differing words and the grid's shift.

#include "flash/DumpComparison.h"
#include "sim/SimSensor.h"

#include <QTest>
#include <bit>
#include <cmath>
#include <functional>

namespace {

using Edit = std::function<void(FlashImage &)>;

FlashImage imageOf(const SimSensor::Flash &flash)
{
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    return image;
}

void shiftX(FlashImage &image, int k, float by)
{
    image[std::size_t(XTableIndex + k)] =
        std::bit_cast<quint32>(std::bit_cast<float>(image[std::size_t(XTableIndex + k)]) + by);
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestDumpComparison : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compare_data()
    {
        QTest::addColumn<Edit>("edit");       // made to a copy of the first dump
        QTest::addColumn<QString>("owner");   // the report's first line
        QTest::addColumn<QList<int>>("words"); // the differing word indices
        QTest::addColumn<int>("points");      // grid points compared
        QTest::addColumn<int>("moved");       // the point that moved most; -1: none moved

        const QString same = QStringLiteral("Дампы датчика 0012AB7F");
        QTest::newRow("the same dump") << Edit([](FlashImage &) {}) << same << QList<int>{} << 441 << -1;
        QTest::newRow("another sensor")
            << Edit([](FlashImage &i) { i[WordSerial] = 0x00C0FFEE; })
            << QStringLiteral("Дампы разных датчиков: 0012AB7F и 00C0FFEE") << QList<int>{WordSerial} << 441
            << -1;
        QTest::newRow("one point pushed")
            << Edit([](FlashImage &i) { shiftX(i, 73, 0.75f); }) << same << QList<int>{XTableIndex + 73} << 441
            << 73;
        QTest::newRow("a NaN is left out of the shift")
            << Edit([](FlashImage &i) {
                   i[std::size_t(YTableIndex + 5)] = 0x7FC00000;
                   shiftX(i, 300, -0.5f);
               })
            << same << QList<int>{XTableIndex + 300, YTableIndex + 5} << 440 << 300;
    }
    void compare()
    {
        QFETCH(Edit, edit);
        QFETCH(QString, owner);
        QFETCH(QList<int>, words);
        QFETCH(int, points);
        QFETCH(int, moved);

        const FlashImage first = imageOf(SimSensor::defaultFlash());
        FlashImage second = first;
        edit(second);
        const DumpComparison c = CompareDumps(first, second);

        QList<int> indices;
        for (const DumpWordDifference &d : c.differences) {
            indices << d.index;
            QCOMPARE(d.first, first[std::size_t(d.index)]);
            QCOMPARE(d.second, second[std::size_t(d.index)]);
        }
        QCOMPARE(indices, words);
        QCOMPARE(c.shifts.size(), points);
        const QStringList lines = DumpComparisonLines(c);
        QCOMPARE(lines.first(), owner);
        QCOMPARE(lines.count(), 2 + int(words.size()) + 2 + (moved < 0 ? 0 : 1));
        QVERIFY(lines.contains(QStringLiteral("Отличается слов: %1").arg(words.size())));
        if (moved < 0) {
            QCOMPARE(c.largestShift(), 0.0);
            return;
        }
        // The one point moved: the largest shift is its own, the mean its share.
        const GridShift top = c.mostMoved(5).first();
        QCOMPARE(top.point, moved);
        const double x1 = std::bit_cast<float>(first[std::size_t(XTableIndex + moved)]);
        const double x2 = std::bit_cast<float>(second[std::size_t(XTableIndex + moved)]);
        QCOMPARE(top.length, std::abs(x2 - x1));
        QCOMPARE(c.largestShift(), top.length);
        QCOMPARE(c.meanShift(), top.length / points);
        QVERIFY(lines.last().startsWith(
            QStringLiteral("строка %1, столбец %2: ").arg(moved / GridSide).arg(moved % GridSide)));
    }
};

QTEST_GUILESS_MAIN(TestDumpComparison)
#include "tst_DumpComparison.moc"
