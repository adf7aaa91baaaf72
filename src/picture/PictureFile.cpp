#include "picture/PictureFile.h"

#include "common/AtomicFile.h"
#include "common/ZartError.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

QImage RenderPicture(QSize size, const PaintPicture &paint)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return image;
}

bool IsPictureFileName(const QString &path)
{
    return path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive);
}

void SavePicture(const QString &path, QSize size, const QString &title, const PaintPicture &paint)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter painter;
        if (!painter.begin(&svg))
            throw ZartError(QStringLiteral("Не удалось построить SVG"));
        paint(painter, QRectF(QPointF(0, 0), QSizeF(size)));
        painter.end();
    } else if (path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        if (!RenderPicture(size, paint).save(&buffer, "PNG"))
            throw ZartError(QStringLiteral("Не удалось построить PNG"));
    } else {
        throw ZartError(QStringLiteral("Формат рисунка не поддерживается: %1 (нужен .png или .svg)").arg(path));
    }
    buffer.close();
    WriteFileAtomically(path, bytes);
}
