#pragma once

#include "flash/CalibrationGrid.h"
#include "flash/DumpComparison.h"
#include "picture/PictureFile.h"
#include "picture/PictureParts.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

class QPainter;

// The picture of how far the calibration grid moved from dump A to dump B,
// drawn with QPainter on whatever device it is given (a widget, an image, an
// SVG generator, a PDF page):
// - the caption: the two dumps (file names and serial numbers), the
//   magnification, the largest and the mean shift, and how many points could
//   not be compared;
// - the mesh of A in the sensor's units on equal scales, as on the calibration
//   picture, and from every point finite in both dumps an arrow to where the
//   point would be with its shift magnified; the arrow's colour tells the
//   shift's length on the colour scale beside, 0 to the largest shift;
// - a point whose X or Y is not finite in one of the dumps is a red dot where
//   it lies in A (in B when it has no place in A).
class ShiftPainter
{
public:
    static constexpr QSize PictureSize{1200, 900};
    static constexpr QColor MarkColour{220, 0, 0};
    // The magnification brings the largest shift to about this part of a cell.
    static constexpr double LargestArrowOfCell = 1.0 / 3;

    ShiftPainter(const FlashImage &first, const QString &firstName, const FlashImage &second,
                 const QString &secondName);

    const DumpComparison &comparison() const { return m_comparison; }
    const CalibrationGrid &firstGrid() const { return m_first; }

    // The typical distance between neighbouring points of A's mesh (the median
    // of its segments); a twentieth of the drawn width when A has no segment
    // of nonzero length.
    double cellSize() const { return m_cell; }
    // The factor the shifts are drawn magnified by: of 1, 2 and 5 times a power
    // of ten, the one nearest (by ratio) to the factor that makes the largest
    // shift LargestArrowOfCell of a cell, so that the largest arrow is 0.21 to
    // 0.53 of a cell; at least 1 (1 too when nothing moved).
    double magnification() const { return m_magnification; }
    // The points whose X or Y is not finite in A or in B, k ascending.
    const QList<int> &markedPoints() const { return m_marked; }

    struct Layout
    {
        QRectF caption;
        PictureParts::SensorPlane::Fit plane; // the plot of the mesh and its side labels
        QRectF bar;                            // the colour scale of the shift's length
    };
    Layout layout(const QRectF &area, const QFont &font = QFont()) const;

    // Where point k of A lies on the plot (its X and Y in A must be finite).
    QPointF plotPoint(const QRectF &plot, int k) const;

    // One arrow per point finite in both dumps, k ascending: from the point in
    // A to A plus the magnified shift, on the plot.
    struct Arrow
    {
        int point;
        QPointF from;
        QPointF to;
        double length; // of the shift itself, in the sensor's units
    };
    QList<Arrow> arrows(const QRectF &plot) const;

    // The caption's lines: "Смещение сетки от A (зав. № …) к B (зав. № …)",
    // file names without their directory, with ", дампы разных датчиков" when
    // the serial numbers differ; "Смещения увеличены в N раз: наибольшее …,
    // среднее … (точек: n)" ("в 2 раза", "Смещения не увеличены: …" for 1), or
    // "Смещений нет (точек: n)"; "Точек без чисел в одном из дампов: N" when
    // there are such points.
    QStringList captionLines() const;

    void paint(QPainter &painter, const QRectF &area) const;

private:
    void paintBar(QPainter &p, const QRectF &bar, const PictureParts::Metrics &m) const;

    DumpComparison m_comparison;
    CalibrationGrid m_first;
    CalibrationGrid m_second;
    QList<int> m_marked;
    double m_cell = 1;
    double m_magnification = 1;
    PictureParts::SensorPlane m_plane;
};

// A shift's length or a factor as the picture writes it: three significant digits.
QString ShiftText(double v);

// The picture on a white image of the given size.
QImage RenderShiftPicture(const ShiftPainter &painter, QSize size = ShiftPainter::PictureSize);

// Writes the picture to path as SavePicture does (PNG or SVG by the suffix).
void SaveShiftPicture(const ShiftPainter &painter, const QString &path);
