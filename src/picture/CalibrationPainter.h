#pragma once

#include "flash/CalibrationGrid.h"
#include "picture/PictureFile.h"
#include "picture/PictureParts.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;

// The calibration picture, drawn with QPainter on whatever device it is given
// (the viewer's widget, an image, an SVG generator):
// - a caption with the serial number, the step and the file name;
// - left, the measured mesh: every point at (X, Y) in the sensor's units, joined
//   to its neighbours along rows and columns, on equal scales;
// - right, X and Y as colour maps over the nominal 21 x 21 grid (millimetres),
//   each with its colour scale and its extremes. The maps are laid out like the
//   mesh (MapAxesOf): across runs the index X runs along, the way X rises, up
//   the index of Y, so a point lies on both maps where it lies on the mesh; the
//   axes are named by the channel and index ("X вдоль столбцов (j), мм"), and
//   their labels give the nominal coordinate of each row or column, falling
//   from left to right (or bottom to top) where the channel falls as the index grows;
// - below, the list of the marked points, after "Ориентация сетки не
//   определена" when the runs of X and Y could not be found.
// Marked points are red (a dot on the mesh, an outline on the maps, a whole red
// cell on the map of a value that is NaN or infinite), folded cells are shaded red, and
// the centre point k = 220 carries a blue dot.
class CalibrationPainter
{
public:
    static constexpr QSize PictureSize{1200, 900};
    static constexpr QColor MarkColour{220, 0, 0};
    static constexpr QColor CentreColour{0, 110, 255};

    explicit CalibrationPainter(CalibrationGrid grid);

    const CalibrationGrid &grid() const { return m_grid; }
    const CalibrationCheck &check() const { return m_check; }

    using SideLabels = PictureParts::SideLabels;

    // The parts of the picture in an area. font: the painter's font, of which
    // the texts take their family (their size follows the area).
    struct Layout
    {
        QRectF caption;
        QRectF mesh; // the mesh's plot, without its axis labels
        QRectF xMap; // the 21 x 21 cells of each map
        QRectF yMap;
        SideLabels meshSide;
        SideLabels xMapSide;
        SideLabels yMapSide;
        QRectF list;
    };
    Layout layout(const QRectF &area, const QFont &font = QFont()) const;

    // Where point k lies on the mesh plot (its X and Y must be finite).
    QPointF meshPoint(const QRectF &mesh, int k) const;
    // The cell of point k on either map, at its PlaceOnMap.
    QRectF mapCell(const QRectF &map, int k) const;
    const MapAxes &mapAxes() const { return m_axes; }

    void paint(QPainter &painter, const QRectF &area) const;

    // The caption: "Калибровка: зав. № ..., шаг ... мм, файл ...".
    QString caption() const;
    // The titles of the maps' axes, across (horizontal) and up (vertical), e.g.
    // "X вдоль строк (i), мм"; "строка i, мм" and "столбец j, мм" when the runs
    // are not known; "узлы" for a grid without a step.
    QString acrossAxisTitle() const;
    QString upAxisTitle() const;

private:
    // font: the text size in pixels, chosen for the whole area.
    void paintMesh(QPainter &p, const QRectF &plot, const SideLabels &side, double font) const;
    void paintMap(QPainter &p, const QRectF &map, const SideLabels &side, bool xChannel,
                  double font) const;
    QString axisTitle(GridIndex index) const;
    void paintList(QPainter &p, const QRectF &list, double font) const;

    CalibrationGrid m_grid;
    CalibrationCheck m_check;
    MapAxes m_axes;
    PictureParts::SensorPlane m_mesh; // drawable ranges of the mesh axes, equal scale
};

// The picture on a white image of the given size.
QImage RenderCalibrationPicture(const CalibrationGrid &grid,
                                QSize size = CalibrationPainter::PictureSize);

// Writes the picture to path: SVG for a name ending in ".svg", PNG for ".png"
// (letter case ignored). Throws ZartError with the reason when it cannot.
void SaveCalibrationPicture(const CalibrationGrid &grid, const QString &path);
