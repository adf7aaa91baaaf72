#pragma once

#include "flash/CalibrationGrid.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

// The pieces the pictures share: text sizes that follow the area, texts drawn
// unclipped and upright, a plot of the sensor's plane on equal scales with its
// axes, and the colour bar.
namespace PictureParts {

inline constexpr QColor FrameColour{40, 40, 40};

// Sizes of the text, in pixels, scaled to the area.
struct Metrics
{
    double font;
    double line;
    double margin;
};
Metrics metricsOf(double font);
Metrics metricsFor(const QRectF &area);

QFont sizedFont(QFont font, double pixels, bool bold = false);
// The painter's font at that size.
QFont fontOf(const QPainter &p, double pixels, bool bold = false);
double widestText(const QFont &font, const QStringList &texts);
// The texts of ticks at these values ("0.###").
QStringList tickTexts(const QList<double> &ticks);

void drawText(QPainter &p, const QRectF &rect, int flags, const QString &text);
// Draws text turned upright (reading bottom to top), centred in rect.
void drawUpright(QPainter &p, const QRectF &rect, const QString &text);
void disc(QPainter &p, const QPointF &centre, double radius, const QColor &fill,
          const QColor &outline = Qt::transparent);
// The colour of v on the colour scale over range.
QColor colourAt(const ValueRange &range, double v);
// A drawable range with a margin of 4 % on both sides.
ValueRange padded(const ValueRange &range);

// Left of a plot: the tick labels, right-aligned against the ticks, and
// further left the axis title turned upright; they do not overlap.
struct SideLabels
{
    QRectF ticks;
    QRectF title;
};
// The room left of a plot its side labels take: tick labels tickWidth wide,
// a gap, the upright title one line high.
double sideRoom(double tickWidth, const Metrics &m);
SideLabels sideOf(const QRectF &plot, double tickWidth, const Metrics &m);

// The sensor's plane over two ranges (drawable, not empty), X to the right and
// Y up on equal scales, with its title above, the X tick labels and the axis
// title below and the Y ones on the left.
struct SensorPlane
{
    ValueRange x;
    ValueRange y;

    struct Fit
    {
        QRectF plot;
        SideLabels side;
    };
    // The largest plot of equal scales that leaves room for the labels in panel.
    // font: the painter's font, of which the tick labels take their family.
    Fit fitIn(const QRectF &panel, const Metrics &m, const QFont &font) const;
    QPointF toPlot(const QRectF &plot, double vx, double vy) const;
    // Frame, ticks and their values, the axis titles and the title above.
    void paintAxes(QPainter &p, const Fit &fit, const Metrics &m, const QString &title) const;

private:
    QList<double> yTicks(double plotHeight, const Metrics &m) const;
};

// The colour scale as an upright bar, its low end at the bottom, framed.
void paintColourBar(QPainter &p, const QRectF &bar);

} // namespace PictureParts
