#include "app/ShiftView.h"

#include <QPainter>

ShiftView::ShiftView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ShiftView::setPainter(ShiftPainter painter)
{
    m_painter.emplace(std::move(painter));
    update();
}

QSize ShiftView::sizeHint() const
{
    return ShiftPainter::PictureSize * 2 / 3;
}

void ShiftView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_painter)
        m_painter->paint(p, QRectF(rect()));
    else
        p.fillRect(rect(), Qt::white);
}
