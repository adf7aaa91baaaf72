#pragma once

#include <QWidget>

class QToolButton;

// A pair of small up/down arrow buttons beside an edit field; holding a
// button down repeats its click.
class SpinButtons : public QWidget
{
    Q_OBJECT

public:
    explicit SpinButtons(QWidget *parent = nullptr);

    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

Q_SIGNALS:
    void upClick();
    void downClick();

private:
    QToolButton *m_up;
    QToolButton *m_down;
};
