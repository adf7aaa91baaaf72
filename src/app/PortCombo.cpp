#include "PortCombo.h"

#include "serial/PortNaming.h"
#include "serial/PortEnumeration.h"

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
        for (const PortEntry &port : ports) {
            combo->addItem(port.text, port.number);
            combo->setItemData(combo->count() - 1, PortNaming::comName(port.number), PortNameRole);
        }
    }
    for (const QString &path : extraDevicePaths) {
        if (path.isEmpty() || FindPortEntry(combo, path) >= 0)
            continue;
        combo->addItem(path, 0);
        combo->setItemData(combo->count() - 1, path, PortNameRole);
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

int FindPortEntry(const QComboBox *combo, const QString &nameOrPath)
{
    if (!combo || nameOrPath.isEmpty())
        return -1;
    qint32 number = PortNaming::comNumberOfName(nameOrPath);
    if (number == 0 && nameOrPath.startsWith(u'/'))
        number = PortNaming::comNumberForDevice(nameOrPath);
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i, PortNameRole).toString() == nameOrPath)
            return i;
        if (number != 0 && combo->itemData(i, Qt::UserRole).toInt() == number)
            return i;
    }
    return -1;
}

QString ComboPortName(const QComboBox *combo)
{
    if (!combo || combo->currentIndex() < 0)
        return QString();
    const QVariant name = combo->currentData(PortNameRole);
    if (name.isValid())
        return name.toString();
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
