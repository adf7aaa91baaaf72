#include "app/SpinButtons.h"

#include <QToolButton>
#include <QVBoxLayout>

#include <tuple>

SpinButtons::SpinButtons(QWidget *parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (auto [button, arrow, name] :
         {std::tuple{m_up, Qt::UpArrow, "up"}, std::tuple{m_down, Qt::DownArrow, "down"}}) {
        button->setObjectName(QString::fromLatin1(name));
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        button->setFixedWidth(16);
        layout->addWidget(button);
    }
    connect(m_up, &QToolButton::clicked, this, &SpinButtons::upClick);
    connect(m_down, &QToolButton::clicked, this, &SpinButtons::downClick);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}
