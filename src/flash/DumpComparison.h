#pragma once

#include "flash/FlashImage.h"

#include <QList>
#include <QString>
#include <QStringList>

// Two dumps side by side, without a sensor: the words that differ and how far
// the calibration grid moved from the first to the second (drift between two
// calibrations of one sensor, or two sensors told apart).

struct DumpWordDifference
{
    int index; // 0..1023
    quint32 first;
    quint32 second;
};

struct GridShift
{
    int point; // k = row * 21 + column
    double dx; // second minus first, in the dumps' units
    double dy;
    double length;
};

struct DumpComparison
{
    quint32 firstSerial = 0;
    quint32 secondSerial = 0;
    QList<DumpWordDifference> differences; // index ascending
    // Every grid point whose X and Y are finite in both dumps, k ascending.
    QList<GridShift> shifts;
    double largestShift() const;
    double meanShift() const;
    // The points that moved most, at most count of them, largest first
    // (ties by k ascending).
    QList<GridShift> mostMoved(int count) const;
};

DumpComparison CompareDumps(const FlashImage &first, const FlashImage &second);

// The report of zart-cli compare, line by line: who the dumps belong to
// ("Дампы датчика %.8X" or "Дампы разных датчиков: %.8X и %.8X"), the header
// "Адрес<TAB>Первый<TAB>Второй<TAB>Поле" and one line per differing word,
// "Отличается слов: N", then the grid's displacement ("Смещение сетки:
// наибольшее …, среднее … (точек: N)") and the five points that moved most
// ("строка i, столбец j: dX …, dY …, смещение …"), numbers in full precision.
QStringList DumpComparisonLines(const DumpComparison &comparison);
