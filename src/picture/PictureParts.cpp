#include "picture/PictureParts.h"
#include "picture/Scales.h"

#include "common/NumberFormat.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace PictureParts {

namespace {

constexpr int ColourBarSteps = 64;
// From an axis to the right edge of its tick labels (the tick is 4 pixels long).
constexpr double TickGap = 5;

// How many ticks the Y axis asks for on a plot of that height.
int yTicksFor(double plotHeight, const Metrics &m)
{
    return std::max(2, int(plotHeight / (m.line * 2.5)));
}

} // namespace

Metrics metricsOf(double font)
{
    return {font, std::round(font * 1.45), std::round(font * 0.7)};
}

Metrics metricsFor(const QRectF &area)
{
    return metricsOf(std::clamp(area.height() / 64.0, 9.0, 13.0));
}

QFont sizedFont(QFont font, double pixels, bool bold)
{
    font.setPixelSize(std::max(1, int(std::lround(pixels))));
    font.setBold(bold);
    return font;
}

QFont fontOf(const QPainter &p, double pixels, bool bold)
{
    return sizedFont(p.font(), pixels, bold);
}

double widestText(const QFont &font, const QStringList &texts)
{
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const QString &t : texts)
        widest = std::max(widest, metrics.horizontalAdvance(t));
    return std::ceil(widest);
}

QStringList tickTexts(const QList<double> &ticks)
{
    QStringList out;
    for (const double v : ticks)
        out << FormatFloat(v);
    return out;
}

void drawText(QPainter &p, const QRectF &rect, int flags, const QString &text)
{
    p.drawText(rect, flags | Qt::TextDontClip, text);
}

void drawUpright(QPainter &p, const QRectF &rect, const QString &text)
{
    p.save();
    p.translate(rect.center());
    p.rotate(-90);
    drawText(p, QRectF(-rect.height() / 2, -rect.width() / 2, rect.height(), rect.width()),
             Qt::AlignCenter, text);
    p.restore();
}

void disc(QPainter &p, const QPointF &centre, double radius, const QColor &fill, const QColor &outline)
{
    p.setPen(outline.alpha() == 0 ? QPen(Qt::NoPen) : QPen(outline, 1));
    p.setBrush(fill);
    p.drawEllipse(centre, radius, radius);
}

QColor colourAt(const ValueRange &range, double v)
{
    const Rgb c = ScaleColour(ScalePosition(DrawableRange(range), v));
    return {c.r, c.g, c.b};
}

ValueRange padded(const ValueRange &range)
{
    const ValueRange r = DrawableRange(range);
    const double pad = (r.max - r.min) * 0.04;
    return {r.min - pad, r.max + pad, true};
}

double sideRoom(double tickWidth, const Metrics &m)
{
    return TickGap + tickWidth + m.font * 0.6 + m.line;
}

SideLabels sideOf(const QRectF &plot, double tickWidth, const Metrics &m)
{
    SideLabels side;
    side.ticks = QRectF(plot.left() - TickGap - tickWidth, plot.top() - m.line / 2, tickWidth,
                        plot.height() + m.line);
    side.title = QRectF(side.ticks.left() - m.font * 0.6 - m.line, plot.top(), m.line, plot.height());
    return side;
}

QList<double> SensorPlane::yTicks(double plotHeight, const Metrics &m) const
{
    return AxisTicks(y.min, y.max, yTicksFor(plotHeight, m));
}

SensorPlane::Fit SensorPlane::fitIn(const QRectF &panel, const Metrics &m, const QFont &font) const
{
    // Title above, tick labels and axis title below and on the left; equal
    // scales, centred in what is left. The Y tick labels are as wide as the
    // widest of any tick count the plot's height may ask for.
    const QFont textFont = sizedFont(font, m.font);
    const double roomTop = panel.top() + m.line * 1.4;
    const double roomBottom = panel.bottom() - m.line * 2.6;
    QStringList yTickTexts;
    const int mostTicks = yTicksFor(roomBottom - roomTop, m);
    for (int n = 2; n <= mostTicks; ++n)
        yTickTexts << tickTexts(AxisTicks(y.min, y.max, n));
    const double tickWidth = std::min(widestText(textFont, yTickTexts), panel.width() * 0.3);
    const QRectF room(QPointF(panel.left() + m.margin + sideRoom(tickWidth, m), roomTop),
                      QPointF(panel.right() - m.margin * 2, roomBottom));
    const double spanX = x.max - x.min;
    const double spanY = y.max - y.min;
    const double scale = std::max(0.0, std::min(room.width() / spanX, room.height() / spanY));
    const QSizeF size(spanX * scale, spanY * scale);
    Fit fit;
    fit.plot = QRectF(room.left() + (room.width() - size.width()) / 2,
                      room.top() + (room.height() - size.height()) / 2, size.width(), size.height());
    fit.side = sideOf(fit.plot, tickWidth, m);
    return fit;
}

QPointF SensorPlane::toPlot(const QRectF &plot, double vx, double vy) const
{
    return {plot.left() + (vx - x.min) / (x.max - x.min) * plot.width(),
            plot.bottom() - (vy - y.min) / (y.max - y.min) * plot.height()};
}

void SensorPlane::paintAxes(QPainter &p, const Fit &fit, const Metrics &m, const QString &title) const
{
    const QRectF &plot = fit.plot;
    p.setFont(fontOf(p, m.font));
    p.setPen(Qt::black);
    drawText(p, QRectF(plot.left(), plot.top() - m.line * 1.3, plot.width(), m.line),
             Qt::AlignHCenter | Qt::AlignVCenter, title);

    p.setPen(QPen(FrameColour, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    const auto xTicks = AxisTicks(x.min, x.max, std::max(2, int(plot.width() / (m.font * 7))));
    for (const double v : xTicks) {
        const double px = plot.left() + (v - x.min) / (x.max - x.min) * plot.width();
        p.drawLine(QPointF(px, plot.bottom()), QPointF(px, plot.bottom() + 4));
        drawText(p, QRectF(px - 50, plot.bottom() + 5, 100, m.line), Qt::AlignHCenter | Qt::AlignTop,
                 FormatFloat(v));
    }
    for (const double v : yTicks(plot.height(), m)) {
        const double py = plot.bottom() - (v - y.min) / (y.max - y.min) * plot.height();
        p.drawLine(QPointF(plot.left() - 4, py), QPointF(plot.left(), py));
        drawText(p, QRectF(fit.side.ticks.left(), py - m.line / 2, fit.side.ticks.width(), m.line),
                 Qt::AlignRight | Qt::AlignVCenter, FormatFloat(v));
    }
    drawText(p, QRectF(plot.left(), plot.bottom() + m.line * 1.2, plot.width(), m.line),
             Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("X, единицы датчика"));
    drawUpright(p, fit.side.title, QStringLiteral("Y, единицы датчика"));
}

void paintColourBar(QPainter &p, const QRectF &bar)
{
    p.setPen(Qt::NoPen);
    for (int n = 0; n < ColourBarSteps; ++n) {
        const double t = (n + 0.5) / ColourBarSteps;
        const Rgb c = ScaleColour(t);
        const double h = bar.height() / ColourBarSteps;
        p.fillRect(QRectF(bar.left(), bar.bottom() - (n + 1) * h, bar.width(), h + 0.5),
                   QColor(c.r, c.g, c.b));
    }
    p.setPen(QPen(FrameColour, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(bar);
}

} // namespace PictureParts
