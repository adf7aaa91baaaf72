#pragma once

#include <QColor>
#include <QStyledItemDelegate>

// Draws a console log line: the log's own light background (a selected line
// on a pale tint of its own, so that what is copied shows while the line keeps
// its colour), the text in the colour stored with the line (Qt::ForegroundRole)
// at the left top of the line, every line the same fixed height and as wide as
// its text (a long line gets the log a horizontal scroll bar). The background
// stays light under any desktop palette, since the line colours (black, blue,
// green, red) are chosen for a light one.
class ConsoleDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static QColor background() { return QColor(Qt::white); }
    static QColor selectedBackground() { return QColor(0xd8, 0xe6, 0xf5); }

    explicit ConsoleDelegate(int itemHeight, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_itemHeight;
};
