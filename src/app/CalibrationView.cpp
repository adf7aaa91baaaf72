#include "app/CalibrationView.h"

#include <QPainter>

CalibrationView::CalibrationView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CalibrationView::setGrid(const CalibrationGrid &grid)
{
    m_painter.emplace(grid);
    update();
}

QSize CalibrationView::sizeHint() const
{
    return CalibrationPainter::PictureSize * 2 / 3;
}

void CalibrationView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_painter)
        m_painter->paint(p, QRectF(rect()));
    else
        p.fillRect(rect(), Qt::white);
}
