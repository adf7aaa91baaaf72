#pragma once

#include "picture/CalibrationPainter.h"

#include <QWidget>
#include <optional>

// The calibration picture on a widget: the dump viewer's "Калибровка" tab.
// It draws whatever grid it was last given, scaled to its size; nothing
// before the first one.
class CalibrationView : public QWidget
{
    Q_OBJECT

public:
    explicit CalibrationView(QWidget *parent = nullptr);

    void setGrid(const CalibrationGrid &grid);
    // The painter of the grid shown, or null before the first.
    const CalibrationPainter *painter() const { return m_painter ? &*m_painter : nullptr; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<CalibrationPainter> m_painter;
};
