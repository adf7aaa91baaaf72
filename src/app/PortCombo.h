#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <QtCore/qnamespace.h>

class QComboBox;

// Port lists of the user interface. Each entry's text is "COMN - description"
// (or "COMN"), and its item data (Qt::UserRole) is the port number N, 0 for
// entries that are no numbered port. The entries FillPortCombo makes carry
// their port name as well (PortNameRole): "COMN", or a device path as it was
// given, blanks and all.

constexpr int PortNameRole = Qt::UserRole + 1;

// Number of rows the drop-down part of a port list shows at once.
constexpr int PortComboRows = 8;

// Refills combo with the ports present (ListComPorts, sorted), keeps the
// selected entry by its text (no selection when no entry has that text any
// more) and widens the drop-down part so that the longest text fits (plus a
// scroll bar when there are more than PortComboRows entries, which is also the
// number of rows the drop-down is set to show).
// The refill is not a user's pick: the combo's signals are blocked meanwhile
// (QSignalBlocker), so no currentIndexChanged/currentTextChanged reaches anyone.
void FillPortCombo(QComboBox *combo);

// The same, followed by entries for device paths that the enumeration does not
// list (a pseudo-terminal, a /dev/serial/by-id link given on the command line),
// each with the path as its text and the number 0. A path of a device that is
// listed ("/dev/ttyUSB0" while COM101 is present) adds no entry: the listed
// one stands for it.
void FillPortCombo(QComboBox *combo, const QStringList &extraDevicePaths);

// Index of the entry for a port given by name or device path: the entry with
// that port name, or the listed entry of the same COM number; -1 when none.
int FindPortEntry(const QComboBox *combo, const QString &nameOrPath);

// Port name of the selected entry (PortNameRole; for an entry without one,
// its text up to the first blank); empty when nothing is selected.
QString ComboPortName(const QComboBox *combo);

// Port number of the selected entry; 0 when nothing is selected.
qint32 ComboPortNumber(const QComboBox *combo);
