#pragma once

#include "record/ServiceRecord.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

namespace Ui {
class RecordWindow;
}
class QTableWidget;
class QListWidget;
class QListWidgetItem;
class RecordKeeper;

// "Журнал обслуживания": the operations of the service record, filtered by
// the sensor's serial number and by a period, with the files of the row
// selected (a dump opens in the dump viewer, any other file in the system's
// program for it), the export of the rows shown as CSV and the protocol of
// the selected sensor. Created once beside the main window, shown without
// blocking it; it reads the record again whenever it is shown or a filter
// changes.
class RecordWindow : public QDialog
{
    Q_OBJECT

public:
    explicit RecordWindow(QWidget *parent = nullptr);
    ~RecordWindow() override;

    // The record the window reads (the main window's).
    void setRecord(RecordKeeper *record) { m_record = record; }
    // Where "Экспорт CSV…" offers to save.
    void setExportDir(const QString &dir) { m_exportDir = dir; }
    // Opens a dump file in the dump viewer.
    void setDumpOpener(std::function<void(const QString &)> open) { m_openDump = std::move(open); }
    // Makes the protocol of a sensor. "Протокол…" stays off until one is set,
    // and while the row selected names no sensor.
    void setReportMaker(std::function<void(quint32 serial)> make);

    // Reads the rows that match the filters into the table.
    void refresh();
    // The rows shown, oldest first.
    const QList<OperationEntry> &entries() const { return m_entries; }

    QTableWidget *table() const;
    QListWidget *files() const;

    // Handlers.
    void FilterChanged();
    void RowSelected();
    void FileDoubleClicked(QListWidgetItem *item);
    void ExportCsvButtonClick();
    void ReportButtonClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The row selected, or none.
    const OperationEntry *selectedEntry() const;
    void showStatus(const QString &text, bool failure);

    Ui::RecordWindow *ui;
    RecordKeeper *m_record = nullptr;
    std::function<void(const QString &)> m_openDump;
    std::function<void(quint32)> m_makeReport;
    QList<OperationEntry> m_entries;
    QString m_exportDir;
};
