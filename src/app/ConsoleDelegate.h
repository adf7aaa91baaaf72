#pragma once

#include <QStyledItemDelegate>

// Draws a console log line: the list's own background (a selected line looks
// like any other), the text in the colour stored with the line (Qt::ForegroundRole)
// at the left top of the line, every line the same fixed height.
class ConsoleDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ConsoleDelegate(int itemHeight, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_itemHeight;
};
