#include "app/SpotPanel.h"

#include <QPainter>

SpotPanel::SpotPanel(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SpotPanel::setPainter(Painter painter)
{
    m_painter = std::move(painter);
    update();
}

void SpotPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (m_painter)
        m_painter(p, QRectF(rect()));
}
