#include "app/ConsoleDelegate.h"

#include <QPainter>

ConsoleDelegate::ConsoleDelegate(int itemHeight, QObject *parent)
    : QStyledItemDelegate(parent), m_itemHeight(itemHeight)
{
}

void ConsoleDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    const QVariant stored = index.data(Qt::ForegroundRole);
    const QColor colour = stored.canConvert<QColor>() ? stored.value<QColor>() : QColor(Qt::black);

    painter->save();
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter->fillRect(option.rect, selected ? selectedBackground() : background());
    painter->setFont(option.font);
    painter->setPen(colour);
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

QSize ConsoleDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // A small margin past the text, as the line is drawn from the left edge.
    const int text = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return {text + 4, m_itemHeight};
}
