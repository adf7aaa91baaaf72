#include "SpotPainter.h"
#include "picture/Scales.h"

#include "common/NumberFormat.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double Margin = 6.0;
constexpr double LabelWidth = 56.0;  // room for the tick labels left of a plot
constexpr double LabelHeight = 18.0; // and below it

QString number(double v)
{
    return FormatFloat(static_cast<long double>(v));
}

void drawArrow(QPainter &p, QPointF tip, QPointF direction)
{
    // direction: unit vector in the plane (Y up); on the plot Y runs down.
    // The arrow lies inside the field with its tip on the border.
    const QPointF d(direction.x(), -direction.y());
    const QPointF n(-d.y(), d.x());
    constexpr double Length = 12.0;
    constexpr double Half = 6.0;
    const QPointF base = tip - d * Length;
    p.setPen(QPen(SpotView::SpotColour, 3.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(tip - d * SpotView::ArrowLength, base);
    p.setPen(Qt::NoPen);
    p.setBrush(SpotView::SpotColour);
    p.drawPolygon(QPolygonF{tip, base + n * Half, base - n * Half});
}

} // namespace

QRectF SpotView::fieldPlot(const QRectF &area) const
{
    const QRectF room = area.adjusted(LabelWidth, Margin + LabelHeight, -Margin, -LabelHeight - Margin);
    const double w = field.right - field.left;
    const double h = field.top - field.bottom;
    // Equal scales on both axes.
    const double scale = std::min(room.width() / w, room.height() / h);
    QRectF plot(0, 0, w * scale, h * scale);
    plot.moveCenter(room.center());
    return plot;
}

QPointF SpotView::toPlot(const QRectF &plot, QPointF pt) const
{
    const double fx = (pt.x() - field.left) / (field.right - field.left);
    const double fy = (pt.y() - field.bottom) / (field.top - field.bottom);
    return {plot.left() + fx * plot.width(), plot.bottom() - fy * plot.height()};
}

void SpotView::paintField(QPainter &p, const QRectF &area) const
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = fieldPlot(area);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);

    // Frame, axes through the centre and ticks at quarters of the field.
    p.setPen(QPen(QColor(200, 200, 200), 1.0));
    for (int i = 1; i < 4; ++i) {
        const double fx = plot.left() + plot.width() * i / 4.0;
        const double fy = plot.top() + plot.height() * i / 4.0;
        p.drawLine(QPointF(fx, plot.top()), QPointF(fx, plot.bottom()));
        p.drawLine(QPointF(plot.left(), fy), QPointF(plot.right(), fy));
    }
    p.setPen(QPen(Qt::black, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    for (int i = 0; i <= 4; ++i) {
        const double vx = field.left + (field.right - field.left) * i / 4.0;
        const double vy = field.bottom + (field.top - field.bottom) * i / 4.0;
        const double px = plot.left() + plot.width() * i / 4.0;
        const double py = plot.bottom() - plot.height() * i / 4.0;
        p.drawText(QRectF(px - 40, plot.bottom() + 2, 80, LabelHeight), Qt::AlignHCenter | Qt::AlignTop,
                   number(vx));
        p.drawText(QRectF(plot.left() - LabelWidth, py - 9, LabelWidth - 4, 18),
                   Qt::AlignRight | Qt::AlignVCenter, number(vy));
    }
    p.drawText(QRectF(plot.left(), area.top() + Margin, plot.width(), LabelHeight),
               Qt::AlignLeft | Qt::AlignTop, yName + QStringLiteral(" ↑   ") + xName + QStringLiteral(" →"));

    // The trail, oldest faintest; the current reading last, on top.
    const auto &readings = series.readings();
    const std::size_t begin = series.trailBegin();
    const std::size_t count = readings.size() - begin;
    p.setPen(Qt::NoPen);
    for (std::size_t i = begin; i + 1 < readings.size(); ++i) {
        const SpotPlace place = PlaceSpot(field, readings[i].x, readings[i].y);
        if (!place.placed)
            continue;
        const double age = double(readings.size() - 1 - i) / double(count); // 0 newest .. 1 oldest
        QColor c = TrailColour;
        c.setAlphaF(0.15 + 0.75 * (1.0 - age));
        p.setBrush(c);
        p.drawEllipse(toPlot(plot, place.point), 2.5, 2.5);
    }
    if (!readings.empty()) {
        const SpotPlace place = PlaceSpot(field, readings.back().x, readings.back().y);
        if (place.placed) {
            const QPointF at = toPlot(plot, place.point);
            if (place.inside) {
                p.setPen(QPen(Qt::white, 1.5));
                p.setBrush(SpotColour);
                p.drawEllipse(at, SpotRadius, SpotRadius);
            } else {
                drawArrow(p, at, place.direction);
            }
        }
    }
    p.restore();
}

ValueRange SpotView::chartRange(int channel) const
{
    const auto &readings = series.readings();
    ValueRange data;
    for (std::size_t i = series.chartBegin(); i < readings.size(); ++i) {
        const double v = channel == 0 ? readings[i].x : readings[i].y;
        if (!std::isfinite(v))
            continue;
        data.min = data.valid ? std::min(data.min, v) : v;
        data.max = data.valid ? std::max(data.max, v) : v;
        data.valid = true;
    }
    return ChartRange(data);
}

double SpotView::chartLabelWidth(const QFont &font) const
{
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (int channel = 0; channel < 2; ++channel) {
        const ValueRange r = chartRange(channel);
        for (const QString &text : {number(r.min), number(r.max), channel == 0 ? xName : yName})
            widest = std::max(widest, metrics.horizontalAdvance(text));
    }
    return std::max(LabelWidth, std::ceil(widest) + 8);
}

void SpotView::paintChart(QPainter &p, const QRectF &area) const
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);

    const auto &readings = series.readings();
    const std::size_t begin = series.chartBegin();
    const qint64 end = readings.empty() ? 0 : readings.back().elapsed;
    const qint64 start = end - SpotSeries::ChartSpanMs;
    const double labelWidth = chartLabelWidth(font);
    const QRectF room = area.adjusted(labelWidth, Margin, -Margin, -LabelHeight - Margin);
    const double stripH = (room.height() - Margin) / 2.0;
    constexpr double TextH = 14.0;

    for (int channel = 0; channel < 2; ++channel) {
        const QRectF strip(room.left(), room.top() + channel * (stripH + Margin), room.width(), stripH);
        const auto value = [channel](const SpotReading &r) { return channel == 0 ? r.x : r.y; };
        const ValueRange range = chartRange(channel);
        const double lo = range.min;
        const double hi = range.max;
        p.setPen(QPen(Qt::black, 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(strip);
        const QString name = channel == 0 ? xName : yName;
        p.drawText(QRectF(area.left(), strip.top(), labelWidth - 4, TextH), Qt::AlignRight | Qt::AlignTop,
                   number(hi));
        p.drawText(QRectF(area.left(), strip.bottom() - TextH, labelWidth - 4, TextH),
                   Qt::AlignRight | Qt::AlignBottom, number(lo));
        // The name between the two ends where there is room for it, else
        // inside the strip at its left top.
        if (stripH >= 3 * TextH)
            p.drawText(QRectF(area.left(), strip.center().y() - TextH / 2, labelWidth - 4, TextH),
                       Qt::AlignRight | Qt::AlignVCenter, name);
        else
            p.drawText(strip.adjusted(3, 1, -3, -1), Qt::AlignLeft | Qt::AlignTop, name);

        // One polyline per run of finite values.
        p.setPen(QPen(channel == 0 ? XColour : YColour, 1.5));
        QPolygonF line;
        const auto flush = [&] {
            if (line.size() == 1)
                p.drawEllipse(line.front(), 1.5, 1.5);
            else if (line.size() > 1)
                p.drawPolyline(line);
            line.clear();
        };
        for (std::size_t i = begin; i < readings.size(); ++i) {
            const double v = value(readings[i]);
            if (!std::isfinite(v)) {
                flush();
                continue;
            }
            const double fx = double(readings[i].elapsed - start) / double(SpotSeries::ChartSpanMs);
            const double fy = (v - lo) / (hi - lo);
            line << QPointF(strip.left() + fx * strip.width(), strip.bottom() - fy * strip.height());
        }
        flush();
    }
    p.setPen(Qt::black);
    p.drawText(QRectF(room.left(), room.bottom() + 2, room.width(), LabelHeight), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("−60 с"));
    p.drawText(QRectF(room.left(), room.bottom() + 2, room.width(), LabelHeight), Qt::AlignRight | Qt::AlignTop,
               QStringLiteral("0"));
    p.restore();
}

QImage RenderSpotView(const SpotView &view, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    const QRectF all(QPointF(0, 0), QSizeF(size));
    const double chartH = all.height() / 3.0;
    view.paintField(p, QRectF(all.left(), all.top(), all.width(), all.height() - chartH));
    view.paintChart(p, QRectF(all.left(), all.bottom() - chartH, all.width(), chartH));
    return image;
}
