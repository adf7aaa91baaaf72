#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <functional>

class QPainter;

// A picture drawn by a painter's paint(QPainter &, QRectF) on a white image, or
// written to a file.
using PaintPicture = std::function<void(QPainter &, const QRectF &)>;

QImage RenderPicture(QSize size, const PaintPicture &paint);

// Writes the picture of that size to path: SVG (titled title) for a name ending
// in ".svg", PNG for ".png" (letter case ignored), atomically. Throws ZartError
// with the reason when it cannot.
void SavePicture(const QString &path, QSize size, const QString &title, const PaintPicture &paint);

// Whether a file name asks for a picture format SavePicture writes.
bool IsPictureFileName(const QString &path);
