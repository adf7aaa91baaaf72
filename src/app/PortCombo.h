#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QComboBox;

// Port lists of the user interface. Each entry's text is "COMN - description"
// (or "COMN"), and its item data (Qt::UserRole) is the port number N, 0 for
// entries that are no numbered port.

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
// each with the path as its text and the number 0.
void FillPortCombo(QComboBox *combo, const QStringList &extraDevicePaths);

// Port name of the selected entry: its text up to the first blank; empty when
// nothing is selected.
QString ComboPortName(const QComboBox *combo);

// Port number of the selected entry; 0 when nothing is selected.
qint32 ComboPortNumber(const QComboBox *combo);
