#pragma once

#include <QWidget>
#include <functional>

class QPainter;

// A white panel that the spot view paints on: the field or the strip chart,
// whichever painter it was given, scaled to its size.
class SpotPanel : public QWidget
{
    Q_OBJECT

public:
    using Painter = std::function<void(QPainter &, const QRectF &)>;

    explicit SpotPanel(QWidget *parent = nullptr);
    void setPainter(Painter painter);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Painter m_painter;
};
