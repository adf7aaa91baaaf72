#include "picture/ShiftPainter.h"
#include "picture/Scales.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

using namespace PictureParts;

namespace {

const QColor MeshColour{175, 175, 175};

bool finiteAt(const CalibrationGrid &grid, int k)
{
    return std::isfinite(grid.X[std::size_t(k)]) && std::isfinite(grid.Y[std::size_t(k)]);
}

void widen(ValueRange &range, double v)
{
    if (!std::isfinite(v))
        return;
    range.min = range.valid ? std::min(range.min, v) : v;
    range.max = range.valid ? std::max(range.max, v) : v;
    range.valid = true;
}

QString factorText(double factor)
{
    return factor < 1e15 ? QString::number(factor, 'f', 0) : QString::number(factor, 'g', 3);
}

// An arrow from a to b on the plot, its head in proportion to its length.
void drawArrow(QPainter &p, QPointF a, QPointF b, const QColor &colour)
{
    const QPointF v = b - a;
    const double length = std::hypot(v.x(), v.y());
    if (!(length >= 0.5))
        return;
    const QPointF d = v / length;
    const QPointF n(-d.y(), d.x());
    const double head = std::clamp(length * 0.35, 2.0, 7.0);
    const QPointF base = b - d * head;
    p.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(a, b - d * (head * 0.8));
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF{b, base + n * (head * 0.45), base - n * (head * 0.45)});
}

} // namespace

QString ShiftText(double v)
{
    // Three significant digits, and every digit before the point.
    const int whole = std::abs(v) >= 1 ? int(std::floor(std::log10(std::abs(v)))) + 1 : 0;
    return QString::number(v, 'g', std::clamp(whole, 3, 17));
}

ShiftPainter::ShiftPainter(const FlashImage &first, const QString &firstName,
                           const FlashImage &second, const QString &secondName)
    : m_comparison(CompareDumps(first, second)), m_first(GridOfImage(first, firstName)),
      m_second(GridOfImage(second, secondName))
{
    // The drawn area: A's points, B's for a point A has no place for.
    ValueRange x;
    ValueRange y;
    for (int k = 0; k < GridPoints; ++k) {
        const bool inFirst = finiteAt(m_first, k);
        if (!inFirst || !finiteAt(m_second, k))
            m_marked.append(k);
        const CalibrationGrid &at = inFirst ? m_first : m_second;
        if (finiteAt(at, k)) {
            widen(x, at.X[std::size_t(k)]);
            widen(y, at.Y[std::size_t(k)]);
        }
    }

    QList<double> lengths;
    for (const MeshSegment &s : MeshSegments(m_first)) {
        const double d = std::hypot(m_first.X[std::size_t(s.to)] - m_first.X[std::size_t(s.from)],
                                    m_first.Y[std::size_t(s.to)] - m_first.Y[std::size_t(s.from)]);
        if (d > 0 && std::isfinite(d))
            lengths.append(d);
    }
    if (!lengths.isEmpty()) {
        const auto middle = lengths.begin() + lengths.size() / 2;
        std::nth_element(lengths.begin(), middle, lengths.end());
        m_cell = *middle;
    } else {
        const ValueRange r = DrawableRange(x);
        m_cell = (r.max - r.min) / 20;
    }

    const double largest = m_comparison.largestShift();
    if (largest > 0) {
        // Of the round factors either side of the one wanted, the nearer by ratio.
        const double wanted = m_cell * LargestArrowOfCell / largest;
        const double below = RoundAtMost(wanted);
        const double above = RoundAtMost(below * 2.5 * (1 + 1e-9)); // 1 -> 2 -> 5 -> 10
        const double nearer = below > 0 && wanted / below <= above / wanted ? below : above;
        m_magnification = std::max(1.0, nearer);
    }

    // The arrows' tips are drawn too.
    for (const GridShift &s : m_comparison.shifts) {
        widen(x, m_first.X[std::size_t(s.point)] + s.dx * m_magnification);
        widen(y, m_first.Y[std::size_t(s.point)] + s.dy * m_magnification);
    }
    m_plane = {padded(x), padded(y)};
}

QStringList ShiftPainter::captionLines() const
{
    QStringList lines;
    QString who = QStringLiteral("Смещение сетки от %1 (зав. № %2) к %3 (зав. № %4)")
                      .arg(m_first.fileName, m_first.serial, m_second.fileName, m_second.serial);
    if (m_comparison.firstSerial != m_comparison.secondSerial)
        who += QStringLiteral(", дампы разных датчиков");
    lines << who;
    const QString points = QStringLiteral("(точек: %1)").arg(m_comparison.shifts.size());
    const double largest = m_comparison.largestShift();
    if (largest > 0) {
        const QString factor =
            m_magnification == 1 ? QStringLiteral("Смещения не увеличены")
            : m_magnification == 2 ? QStringLiteral("Смещения увеличены в 2 раза")
                                   : QStringLiteral("Смещения увеличены в %1 раз").arg(factorText(m_magnification));
        lines << QStringLiteral("%1: наибольшее %2, среднее %3 %4")
                     .arg(factor, ShiftText(largest), ShiftText(m_comparison.meanShift()), points);
    } else {
        lines << QStringLiteral("Смещений нет ") + points;
    }
    if (!m_marked.isEmpty())
        lines << QStringLiteral("Точек без чисел в одном из дампов: %1").arg(m_marked.size());
    return lines;
}

ShiftPainter::Layout ShiftPainter::layout(const QRectF &area, const QFont &font) const
{
    const Metrics m = metricsFor(area);
    const QRectF inner = area.adjusted(m.margin, m.margin, -m.margin, -m.margin);
    Layout l;
    l.caption = QRectF(inner.left(), inner.top(), inner.width(),
                       m.line * (0.2 + 1.2 * double(captionLines().size())));
    // Right of the plot the colour scale, its numbers and its title.
    const double barWidth = m.font * 1.2;
    const double barRoom = m.font * 1.5 + barWidth + 4 + m.font * 5 + m.line;
    const QRectF panel(inner.left(), l.caption.bottom() + m.margin, std::max(0.0, inner.width() - barRoom),
                       std::max(0.0, inner.bottom() - l.caption.bottom() - m.margin));
    l.plane = m_plane.fitIn(panel, m, font);
    l.bar = QRectF(l.plane.plot.right() + m.font * 1.5, l.plane.plot.top(), barWidth,
                   l.plane.plot.height());
    return l;
}

QPointF ShiftPainter::plotPoint(const QRectF &plot, int k) const
{
    return m_plane.toPlot(plot, m_first.X[std::size_t(k)], m_first.Y[std::size_t(k)]);
}

QList<ShiftPainter::Arrow> ShiftPainter::arrows(const QRectF &plot) const
{
    QList<Arrow> out;
    for (const GridShift &s : m_comparison.shifts) {
        const double x = m_first.X[std::size_t(s.point)];
        const double y = m_first.Y[std::size_t(s.point)];
        out.append({s.point, m_plane.toPlot(plot, x, y),
                    m_plane.toPlot(plot, x + s.dx * m_magnification, y + s.dy * m_magnification),
                    s.length});
    }
    return out;
}

void ShiftPainter::paint(QPainter &painter, const QRectF &area) const
{
    const Layout l = layout(area, painter.font());
    const Metrics m = metricsFor(area);
    const QRectF &plot = l.plane.plot;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(area, Qt::white);

    const QStringList caption = captionLines();
    QRectF line(l.caption.left(), l.caption.top(), l.caption.width(), m.line * 1.2);
    for (qsizetype n = 0; n < caption.size(); ++n) {
        painter.setFont(fontOf(painter, n == 0 ? m.font * 1.15 : m.font, n == 0));
        painter.setPen(n == 2 ? MarkColour : QColor(Qt::black));
        drawText(painter, line, Qt::AlignLeft | Qt::AlignVCenter, caption[n]);
        line.translate(0, m.line * 1.2);
    }

    m_plane.paintAxes(painter, l.plane, m, QStringLiteral("Сетка первого дампа и её смещения"));
    painter.setPen(QPen(MeshColour, 1));
    for (const MeshSegment &s : MeshSegments(m_first))
        painter.drawLine(plotPoint(plot, s.from), plotPoint(plot, s.to));

    for (const int k : m_marked) {
        const bool inFirst = finiteAt(m_first, k);
        const CalibrationGrid &at = inFirst ? m_first : m_second;
        if (finiteAt(at, k))
            disc(painter, m_plane.toPlot(plot, at.X[std::size_t(k)], at.Y[std::size_t(k)]), 3.5,
                 MarkColour);
    }

    // The longest arrows last, on top.
    QList<Arrow> all = arrows(plot);
    std::stable_sort(all.begin(), all.end(),
                     [](const Arrow &a, const Arrow &b) { return a.length < b.length; });
    const ValueRange lengths{0, m_comparison.largestShift(), true};
    for (const Arrow &a : all)
        if (a.length > 0)
            drawArrow(painter, a.from, a.to, colourAt(lengths, a.length));

    paintBar(painter, l.bar, m);
    painter.restore();
}

void ShiftPainter::paintBar(QPainter &p, const QRectF &bar, const Metrics &m) const
{
    const double largest = m_comparison.largestShift();
    if (!(largest > 0) || bar.height() <= 0)
        return;
    paintColourBar(p, bar);
    p.setFont(fontOf(p, m.font));
    const QList<double> ticks = AxisTicks(0, largest, std::max(2, int(bar.height() / (m.line * 2.5))));
    double widest = 0;
    for (const double v : ticks) {
        const double y = bar.bottom() - v / largest * bar.height();
        p.setPen(QPen(FrameColour, 1));
        p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 3, y));
        p.setPen(Qt::black);
        const QString text = ShiftText(v);
        widest = std::max(widest, widestText(p.font(), {text}));
        drawText(p, QRectF(bar.right() + 5, y - m.line / 2, m.font * 5, m.line),
                 Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    drawUpright(p, QRectF(bar.right() + 5 + widest + m.font * 0.6, bar.top(), m.line, bar.height()),
                QStringLiteral("Смещение, единицы датчика"));
}

QImage RenderShiftPicture(const ShiftPainter &painter, QSize size)
{
    return RenderPicture(size, [&](QPainter &p, const QRectF &area) { painter.paint(p, area); });
}

void SaveShiftPicture(const ShiftPainter &painter, const QString &path)
{
    SavePicture(path, ShiftPainter::PictureSize, painter.captionLines().value(0),
                [&](QPainter &p, const QRectF &area) { painter.paint(p, area); });
}
