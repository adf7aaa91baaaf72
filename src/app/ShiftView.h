#pragma once

#include "picture/ShiftPainter.h"

#include <QWidget>
#include <optional>

// The displacement picture of two dumps on a widget, scaled to its size;
// white before the first pair.
class ShiftView : public QWidget
{
    Q_OBJECT

public:
    explicit ShiftView(QWidget *parent = nullptr);

    void setPainter(ShiftPainter painter);
    // The painter of the pair shown, or null before the first.
    const ShiftPainter *painter() const { return m_painter ? &*m_painter : nullptr; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<ShiftPainter> m_painter;
};
