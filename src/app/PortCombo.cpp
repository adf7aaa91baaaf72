#include "PortCombo.h"

#include "serial/UEnumComPorts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QSignalBlocker>
#include <QStyle>

void FillPortCombo(QComboBox *combo)
{
    FillPortCombo(combo, {});
}

void FillPortCombo(QComboBox *combo, const QStringList &extraDevicePaths)
{
    if (!combo)
        return;
    const QSignalBlocker blocker(combo);

    const QString selected = combo->currentIndex() >= 0 ? combo->currentText() : QString();
    combo->clear();

    QList<PortEntry> ports;
    if (ListComPorts(ports, false, true)) {
        for (const PortEntry &port : ports)
            combo->addItem(port.text, port.number);
    }
    for (const QString &path : extraDevicePaths) {
        if (!path.isEmpty())
            combo->addItem(path, 0);
    }

    combo->setMaxVisibleItems(PortComboRows);
    if (combo->count() > 0) {
        const QFontMetrics metrics(combo->font());
        int width = 0;
        for (int i = 0; i < combo->count(); ++i)
            width = qMax(width, metrics.horizontalAdvance(combo->itemText(i)) + 8);
        if (combo->width() < width) {
            if (combo->count() > PortComboRows)
                width += combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo);
            combo->view()->setMinimumWidth(width);
        }
    }

    // A non-editable combo selects its first entry by itself; only the old text counts.
    combo->setCurrentIndex(selected.isEmpty() ? -1 : combo->findText(selected, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

QString ComboPortName(const QComboBox *combo)
{
    if (!combo || combo->currentIndex() < 0)
        return QString();
    const QString text = combo->currentText();
    const qsizetype blank = text.indexOf(u' ');
    return blank < 0 ? text : text.left(blank);
}

qint32 ComboPortNumber(const QComboBox *combo)
{
    if (!combo || combo->currentIndex() < 0)
        return 0;
    return combo->currentData(Qt::UserRole).toInt();
}
