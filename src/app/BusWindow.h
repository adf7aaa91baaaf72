#pragma once

#include "bus/BusBatch.h"
#include "bus/BusCommissioning.h"

#include <QWidget>

namespace Ui {
class BusWindow;
}
class MainWindow;
class QTableWidgetItem;

// "Опрос шины": the table of every sensor on the line (the inventory), the
// commissioning ("Новый адрес", "Предложить свободные", "Назначить адреса")
// and the batch work ("Дамп всех", "Сравнить всех"). Each runs as a long
// operation of the main window, on its engine; a double-click on a row puts
// the sensor's address (and serial number) into the main window's fields.
// The serial number of a conflict row may be typed: a sensor behind a
// collision, named by the number printed on it.
class BusWindow : public QWidget
{
    Q_OBJECT

public:
    enum Column { AddressColumn, SerialColumn, FirmwareColumn, VendorColumn, ProductColumn,
                  RevisionColumn, StatusColumn, NewAddressColumn, ColumnCount };

    explicit BusWindow(MainWindow &main);
    ~BusWindow() override;

    // The rows shown; setSensors fills the table from them.
    const QList<BusSensor> &sensors() const { return m_sensors; }
    void setSensors(const QList<BusSensor> &sensors);

    void StartButtonClick();
    void StopButtonClick();
    void CsvButtonClick();
    void ProposeButtonClick();
    void AssignButtonClick();
    void DumpAllButtonClick();
    void CompareAllButtonClick();
    void BusTableDoubleClick(QTableWidgetItem *item);

private:
    void setRunning(bool running);
    // The assignments the table asks for; with proposeMissing also the
    // conflict rows with a serial number and no new address (address 0).
    QList<Assignment> readPlan(bool proposeMissing) const;
    void writeOutcomes(const BatchResult &result);

    Ui::BusWindow *ui;
    MainWindow &m_main;
    QList<BusSensor> m_sensors;
};
