#pragma once

#include "flash/CalibrationGrid.h"
#include "sensor/SpotWatch.h"

#include <QFont>

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;

// The live spot view, drawn with QPainter on whatever device it is given:
// - the field: X to the right and Y upwards on equal scales, the trail of the
//   last readings fading with age and the current reading as a red dot; a
//   reading outside the field is an arrow inside the field, its tip on the
//   border, pointing on towards it;
// - the strip chart: X above Y against time over the last minute of readings,
//   each strip scaled to what it shows.
struct SpotView
{
    static constexpr QColor SpotColour{220, 0, 0};
    static constexpr QColor TrailColour{0, 90, 200};
    static constexpr QColor XColour{0, 90, 200};
    static constexpr QColor YColour{0, 140, 60};
    static constexpr double SpotRadius = 6.0;
    static constexpr double ArrowLength = 28.0; // pixels, tip to tail

    const SpotSeries &series;
    SpotField field;
    QString xName; // "X" or "nx"
    QString yName;

    // The square plot of the field inside an area (without its axis labels).
    QRectF fieldPlot(const QRectF &area) const;
    // Where a point of the sensor's plane lies on that plot.
    QPointF toPlot(const QRectF &plot, QPointF p) const;

    // The value ranges of the two strips (ChartRange of what each shows).
    ValueRange chartRange(int channel) const;
    // The width left of the strips for their labels (the ends of both ranges and
    // the channel names) in that font, so that none is clipped.
    double chartLabelWidth(const QFont &font) const;

    void paintField(QPainter &p, const QRectF &area) const;
    void paintChart(QPainter &p, const QRectF &area) const;
};

// The field above the chart on a white image (the chart takes a third).
QImage RenderSpotView(const SpotView &view, QSize size);
