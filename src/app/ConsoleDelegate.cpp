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
    painter->fillRect(option.rect, background());
    painter->setFont(option.font);
    painter->setPen(colour);
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

QSize ConsoleDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    Q_UNUSED(index);
    return {option.rect.width() > 0 ? option.rect.width() : 1, m_itemHeight};
}
