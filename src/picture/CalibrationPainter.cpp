#include "picture/CalibrationPainter.h"
#include "picture/PictureParts.h"
#include "picture/Scales.h"

#include "common/NumberFormat.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>

using namespace PictureParts;

namespace {

const QColor MeshColour{90, 90, 90};
const QColor FoldShade{220, 0, 0, 80};
// Nominal grid positions that carry a tick label.
constexpr int MapTickEvery = 5;

} // namespace

CalibrationPainter::CalibrationPainter(CalibrationGrid grid)
    : m_grid(std::move(grid)), m_check(CheckCalibration(m_grid)),
      m_axes(MapAxesOf(m_check)), m_mesh{padded(m_check.xRange), padded(m_check.yRange)}
{
}

QString CalibrationPainter::caption() const
{
    const QString step = m_grid.step ? QStringLiteral("шаг %1 мм").arg(FormatFloat(*m_grid.step))
                                     : QStringLiteral("шаг неизвестен");
    return QStringLiteral("Калибровка: зав. № %1, %2, файл %3")
        .arg(m_grid.serial, step, m_grid.fileName);
}

QString CalibrationPainter::axisTitle(GridIndex index) const
{
    QString name;
    if (m_check.runsKnown())
        name = ChannelRunText(m_check.runX.index == index ? u'X' : u'Y',
                              m_check.runX.index == index ? m_check.runX : m_check.runY);
    else
        name = index == GridIndex::Row ? QStringLiteral("строка i") : QStringLiteral("столбец j");
    return name + (m_grid.step ? QStringLiteral(", мм") : QStringLiteral(", узлы"));
}

QString CalibrationPainter::acrossAxisTitle() const
{
    return axisTitle(m_axes.across);
}

QString CalibrationPainter::upAxisTitle() const
{
    return axisTitle(m_axes.up);
}

CalibrationPainter::Layout CalibrationPainter::layout(const QRectF &area, const QFont &font) const
{
    const Metrics m = metricsFor(area);
    const QFont textFont = sizedFont(font, m.font);
    Layout l;
    const QRectF inner = area.adjusted(m.margin, m.margin, -m.margin, -m.margin);
    l.caption = QRectF(inner.left(), inner.top(), inner.width(), m.line * 1.4);

    // The list takes at most a fifth of the height: its header, the points that
    // fit and a last line for the rest; a line more when the runs are unknown.
    const qsizetype faulty = m_check.faultyPoints().size();
    const int fit = std::max(1, int(area.height() * 0.2 / m.line));
    const double listLines = 1 + double(std::min<qsizetype>(faulty, fit - 1))
        + (m_check.runsKnown() ? 0 : 1);
    l.list = QRectF(inner.left(), inner.bottom() - listLines * m.line, inner.width(),
                    listLines * m.line);

    const QRectF panels(inner.left(), l.caption.bottom() + m.margin, inner.width(),
                        l.list.top() - l.caption.bottom() - 2 * m.margin);
    const QRectF left(panels.left(), panels.top(), panels.width() / 2, panels.height());
    const QRectF right(left.right(), panels.top(), panels.width() / 2, panels.height());

    const PictureParts::SensorPlane::Fit mesh = m_mesh.fitIn(left, m, font);
    l.mesh = mesh.plot;
    l.meshSide = mesh.side;

    // Maps: one above the other, each square with its title, tick labels and
    // colour scale around it.
    QStringList mapTickTexts;
    for (int n = 0; n < GridSide; n += MapTickEvery)
        mapTickTexts << NominalCoordinateText(m_grid, n);
    const double mapTickWidth = widestText(textFont, mapTickTexts);
    for (int n = 0; n < 2; ++n) {
        const QRectF box(right.left(), right.top() + n * right.height() / 2, right.width(),
                         right.height() / 2);
        const QRectF mapRoom =
            box.adjusted(m.margin + sideRoom(mapTickWidth, m), m.line * 1.4, -m.font * 10, -m.line * 2.4);
        const double side = std::max(0.0, std::min(mapRoom.width(), mapRoom.height()));
        const QRectF map(mapRoom.left() + (mapRoom.width() - side) / 2, mapRoom.top(), side, side);
        (n == 0 ? l.xMap : l.yMap) = map;
        (n == 0 ? l.xMapSide : l.yMapSide) = sideOf(map, mapTickWidth, m);
    }
    return l;
}

QPointF CalibrationPainter::meshPoint(const QRectF &mesh, int k) const
{
    return m_mesh.toPlot(mesh, m_grid.X[std::size_t(k)], m_grid.Y[std::size_t(k)]);
}

QRectF CalibrationPainter::mapCell(const QRectF &map, int k) const
{
    const double cell = map.width() / GridSide;
    const MapPlace place = PlaceOnMap(m_axes, k);
    return {map.left() + place.across * cell, map.bottom() - (place.up + 1) * cell, cell, cell};
}

void CalibrationPainter::paint(QPainter &painter, const QRectF &area) const
{
    const Layout l = layout(area, painter.font());
    const Metrics m = metricsFor(area);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::black);
    painter.setFont(fontOf(painter, m.font * 1.15, true));
    drawText(painter, l.caption, Qt::AlignLeft | Qt::AlignVCenter, caption());

    paintMesh(painter, l.mesh, l.meshSide, m.font);
    paintMap(painter, l.xMap, l.xMapSide, true, m.font);
    paintMap(painter, l.yMap, l.yMapSide, false, m.font);
    paintList(painter, l.list, m.font);
    painter.restore();
}

void CalibrationPainter::paintMesh(QPainter &p, const QRectF &plot, const SideLabels &side,
                                   double font) const
{
    m_mesh.paintAxes(p, {plot, side}, metricsOf(font), QStringLiteral("Измеренная сетка"));

    // Folded cells shaded, then the mesh, then the marks.
    p.setPen(Qt::NoPen);
    p.setBrush(FoldShade);
    for (int i = 0; i + 1 < GridSide; ++i) {
        for (int j = 0; j + 1 < GridSide; ++j) {
            if (!m_check.folded[std::size_t(GridCell(i, j))])
                continue;
            QPolygonF cell;
            for (const int k : {GridPoint(i, j), GridPoint(i + 1, j), GridPoint(i + 1, j + 1),
                                GridPoint(i, j + 1)})
                cell << meshPoint(plot, k);
            p.drawPolygon(cell);
        }
    }
    p.setPen(QPen(MeshColour, 1));
    for (const MeshSegment &s : MeshSegments(m_grid))
        p.drawLine(meshPoint(plot, s.from), meshPoint(plot, s.to));

    for (const int k : m_check.faultyPoints()) {
        if (!(m_check.faults[std::size_t(k)] & FaultNonFinite))
            disc(p, meshPoint(plot, k), 3.5, CalibrationPainter::MarkColour);
    }
    const int c = GridCentre;
    if (!(m_check.faults[std::size_t(c)] & FaultNonFinite)) {
        const QPointF centre = meshPoint(plot, c);
        if (m_check.faults[std::size_t(c)] != 0)
            disc(p, centre, 7.5, CalibrationPainter::MarkColour);
        disc(p, centre, 5, CalibrationPainter::CentreColour, FrameColour);
    }
}

void CalibrationPainter::paintMap(QPainter &p, const QRectF &map, const SideLabels &side,
                                  bool xChannel, double font) const
{
    const Metrics m = metricsOf(font);
    const auto &values = xChannel ? m_grid.X : m_grid.Y;
    const ValueRange &range = xChannel ? m_check.xRange : m_check.yRange;
    const double cellSide = map.width() / GridSide;

    p.setFont(fontOf(p, m.font));
    p.setPen(Qt::black);
    drawText(p, QRectF(map.left() - 40, map.top() - m.line * 1.3, map.width() + 80, m.line),
             Qt::AlignHCenter | Qt::AlignVCenter,
             xChannel ? QStringLiteral("Значения X") : QStringLiteral("Значения Y"));

    // Cells. Drawn without antialiasing so that neighbours meet without seams.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    for (int k = 0; k < GridPoints; ++k) {
        const double v = values[std::size_t(k)];
        const QColor fill = std::isfinite(v) ? colourAt(range, v) : CalibrationPainter::MarkColour;
        p.fillRect(mapCell(map, k), fill);
    }
    p.restore();

    // Marks: an outline on a marked cell, the blue dot on the centre.
    const double penWidth = std::max(2.0, cellSide / 6);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(CalibrationPainter::MarkColour, penWidth));
    for (const int k : m_check.faultyPoints()) {
        if (std::isfinite(values[std::size_t(k)]))
            p.drawRect(mapCell(map, k).adjusted(penWidth / 2, penWidth / 2, -penWidth / 2, -penWidth / 2));
    }
    disc(p, mapCell(map, GridCentre).center(), std::max(1.5, std::min(cellSide * 0.3, 5.0)),
         CalibrationPainter::CentreColour);

    p.setPen(QPen(FrameColour, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(map);

    // Nominal axes in millimetres, each place labelled with the coordinate of
    // the row or column that lies there.
    p.setPen(Qt::black);
    for (int n = 0; n < GridSide; n += MapTickEvery) {
        const double x = map.left() + (n + 0.5) * cellSide;
        const double y = map.bottom() - (n + 0.5) * cellSide;
        p.drawLine(QPointF(x, map.bottom()), QPointF(x, map.bottom() + 3));
        p.drawLine(QPointF(map.left() - 3, y), QPointF(map.left(), y));
        drawText(p, QRectF(x - 40, map.bottom() + 4, 80, m.line), Qt::AlignHCenter | Qt::AlignTop,
                 NominalCoordinateText(m_grid, IndexAtPlace(m_axes.acrossDirection, n)));
        drawText(p, QRectF(side.ticks.left(), y - m.line / 2, side.ticks.width(), m.line),
                 Qt::AlignRight | Qt::AlignVCenter,
                 NominalCoordinateText(m_grid, IndexAtPlace(m_axes.upDirection, n)));
    }
    drawText(p, QRectF(map.left() - 40, map.bottom() + m.line * 1.1, map.width() + 80, m.line),
             Qt::AlignHCenter | Qt::AlignTop, acrossAxisTitle());
    drawUpright(p, side.title, upAxisTitle());

    // Colour scale with the extremes.
    const QRectF bar(map.right() + m.font, map.top(), m.font * 1.2, map.height());
    paintColourBar(p, bar);
    p.setPen(Qt::black);
    const QRectF labels(bar.right() + 4, bar.top(), m.font * 8, bar.height());
    if (range.valid) {
        drawText(p, labels, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("max ") + FormatFloat(range.max));
        drawText(p, labels, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("min ") + FormatFloat(range.min));
    } else {
        drawText(p, labels, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("нет чисел"));
    }
}

void CalibrationPainter::paintList(QPainter &p, const QRectF &list, double font) const
{
    const Metrics m = metricsOf(font);
    const QList<int> faulty = m_check.faultyPoints();
    p.setFont(fontOf(p, m.font, true));
    QRectF line(list.left(), list.top(), list.width(), m.line);
    if (!m_check.runsKnown()) {
        p.setPen(CalibrationPainter::MarkColour);
        drawText(p, line, Qt::AlignLeft | Qt::AlignVCenter, OrientationUnknownText());
        line.translate(0, m.line);
    }
    p.setPen(Qt::black);
    drawText(p, line, Qt::AlignLeft | Qt::AlignVCenter,
             faulty.isEmpty() ? QStringLiteral("Отмеченных точек нет")
                              : QStringLiteral("Отмеченные точки: %1").arg(faulty.size()));
    p.setFont(fontOf(p, m.font));
    p.setPen(CalibrationPainter::MarkColour);
    const int room = int(std::lround(list.height() / m.line)) - 1 - (m_check.runsKnown() ? 0 : 1);
    for (int n = 0; n < faulty.size() && n < room; ++n) {
        line.translate(0, m.line);
        const bool last = n == room - 1 && faulty.size() > room;
        const QString text =
            last ? QStringLiteral("... и ещё %1").arg(faulty.size() - n)
                 : FaultyPointText(m_grid, m_check, faulty[n]);
        drawText(p, line, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

QImage RenderCalibrationPicture(const CalibrationGrid &grid, QSize size)
{
    const CalibrationPainter painter(grid);
    return RenderPicture(size, [&](QPainter &p, const QRectF &area) { painter.paint(p, area); });
}

void SaveCalibrationPicture(const CalibrationGrid &grid, const QString &path)
{
    const CalibrationPainter painter(grid);
    SavePicture(path, CalibrationPainter::PictureSize, painter.caption(),
                [&](QPainter &p, const QRectF &area) { painter.paint(p, area); });
}
