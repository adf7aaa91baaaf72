#include "flash/DumpComparison.h"

#include "common/NumberFormat.h"
#include "flash/FlashOperations.h"

#include <algorithm>
#include <bit>
#include <cmath>

double DumpComparison::largestShift() const
{
    double largest = 0;
    for (const GridShift &s : shifts)
        largest = std::max(largest, s.length);
    return largest;
}

double DumpComparison::meanShift() const
{
    if (shifts.isEmpty())
        return 0;
    double sum = 0;
    for (const GridShift &s : shifts)
        sum += s.length;
    return sum / double(shifts.size());
}

QList<GridShift> DumpComparison::mostMoved(int count) const
{
    QList<GridShift> sorted = shifts;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const GridShift &a, const GridShift &b) { return a.length > b.length; });
    return sorted.mid(0, std::max(0, count));
}

DumpComparison CompareDumps(const FlashImage &first, const FlashImage &second)
{
    DumpComparison result;
    result.firstSerial = first[WordSerial];
    result.secondSerial = second[WordSerial];
    for (int n = 0; n < FlashWords; ++n)
        if (first[std::size_t(n)] != second[std::size_t(n)])
            result.differences.append({n, first[std::size_t(n)], second[std::size_t(n)]});
    const auto value = [](const FlashImage &image, int index) {
        return double(std::bit_cast<float>(image[std::size_t(index)]));
    };
    for (int k = 0; k < GridPoints; ++k) {
        const double x1 = value(first, XTableIndex + k);
        const double y1 = value(first, YTableIndex + k);
        const double x2 = value(second, XTableIndex + k);
        const double y2 = value(second, YTableIndex + k);
        if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
            continue;
        const double dx = x2 - x1;
        const double dy = y2 - y1;
        result.shifts.append({k, dx, dy, std::hypot(dx, dy)});
    }
    return result;
}

QStringList DumpComparisonLines(const DumpComparison &c)
{
    QStringList lines;
    lines << (c.firstSerial == c.secondSerial
                  ? QString::asprintf("Дампы датчика %.8X", unsigned(c.firstSerial))
                  : QString::asprintf("Дампы разных датчиков: %.8X и %.8X", unsigned(c.firstSerial),
                                      unsigned(c.secondSerial)));
    lines << QStringLiteral("Адрес\tПервый\tВторой\tПоле");
    for (const DumpWordDifference &d : c.differences)
        lines << QStringLiteral("0x%1\t%2\t%3\t%4")
                     .arg(QString::number(FlashWordAddress(d.index), 16).toUpper(), RawText(d.first),
                          RawText(d.second), FlashWordName(d.index));
    lines << QStringLiteral("Отличается слов: %1").arg(c.differences.size());
    lines << QStringLiteral("Смещение сетки: наибольшее %1, среднее %2 (точек: %3)")
                 .arg(ShortestText(c.largestShift()), ShortestText(c.meanShift()))
                 .arg(c.shifts.size());
    for (const GridShift &s : c.mostMoved(5)) {
        if (s.length == 0)
            break;
        lines << QStringLiteral("строка %1, столбец %2: dX %3, dY %4, смещение %5")
                     .arg(s.point / GridSide)
                     .arg(s.point % GridSide)
                     .arg(ShortestText(s.dx), ShortestText(s.dy), ShortestText(s.length));
    }
    return lines;
}
