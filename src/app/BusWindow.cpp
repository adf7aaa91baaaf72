#include "app/BusWindow.h"
#include "ui_BusWindow.h"
#include "app/ModalRunner.h"

#include "app/MainWindow.h"
#include "app/SearchDialog.h"
#include "app/SettingsDialog.h"
#include "flash/FlashPasses.h"
#include "sensor/HexField.h"
#include "sensor/SensorRequests.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QSaveFile>
#include <QThread>

namespace {

// The bus window's side of its long operations: its gauge, the pending
// events, the main window's stop. The batch operations ask no questions.
class BusOperationHost final : public IOperationHost
{
public:
    BusOperationHost(MainWindow &main, QProgressBar *gauge) : m_main(main), m_gauge(gauge) {}
    void progress(int percent) override { m_gauge->setValue(percent); }
    void processEvents() override { QCoreApplication::processEvents(); }
    void pause(int ms) override
    {
        const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            QThread::msleep(ulong(std::clamp<qint64>(deadline.remainingTime(), 0, 10)));
        }
    }
    bool ask(const QString &) override { return false; }
    bool stopRequested() override { return m_main.stopRequested(); }
    int retries() const override { return m_main.settingsDialog() ? m_main.settingsDialog()->retries() : 0; }

private:
    MainWindow &m_main;
    QProgressBar *m_gauge;
};

QTableWidgetItem *readOnlyItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace

BusWindow::BusWindow(MainWindow &main)
    : QWidget(&main, Qt::Window), ui(new Ui::BusWindow), m_main(main)
{
    ui->setupUi(this);
    ui->BusTable->setColumnCount(ColumnCount);
    ui->BusTable->setHorizontalHeaderLabels(InventoryHeader() << QStringLiteral("Новый адрес"));
    ui->BusTable->verticalHeader()->hide();
    ui->BusTable->horizontalHeader()->setStretchLastSection(true);
    connect(ui->StartButton, &QPushButton::clicked, this, &BusWindow::StartButtonClick);
    connect(ui->StopButton, &QPushButton::clicked, this, &BusWindow::StopButtonClick);
    connect(ui->CsvButton, &QPushButton::clicked, this, &BusWindow::CsvButtonClick);
    connect(ui->ProposeButton, &QPushButton::clicked, this, &BusWindow::ProposeButtonClick);
    connect(ui->AssignButton, &QPushButton::clicked, this, &BusWindow::AssignButtonClick);
    connect(ui->DumpAllButton, &QPushButton::clicked, this, &BusWindow::DumpAllButtonClick);
    connect(ui->CompareAllButton, &QPushButton::clicked, this, &BusWindow::CompareAllButtonClick);
    connect(ui->BusTable, &QTableWidget::itemDoubleClicked, this, &BusWindow::BusTableDoubleClick);
}

BusWindow::~BusWindow()
{
    delete ui;
}

void BusWindow::setSensors(const QList<BusSensor> &sensors)
{
    m_sensors = sensors;
    QTableWidget *table = ui->BusTable;
    table->setRowCount(int(sensors.size()));
    for (int r = 0; r < sensors.size(); ++r) {
        const QStringList texts = InventoryRow(sensors[r]);
        for (int c = 0; c < texts.size(); ++c)
            table->setItem(r, c, readOnlyItem(texts[c]));
        // A conflict row takes the serial number printed on one of its sensors.
        if (sensors[r].mark == BusSensor::Mark::Conflict)
            table->item(r, SerialColumn)->setFlags(table->item(r, SerialColumn)->flags() | Qt::ItemIsEditable);
        table->setItem(r, NewAddressColumn, new QTableWidgetItem());
    }
    table->resizeColumnsToContents();
}

void BusWindow::setRunning(bool running)
{
    for (QWidget *w : {static_cast<QWidget *>(ui->StartButton), static_cast<QWidget *>(ui->CsvButton),
                       static_cast<QWidget *>(ui->ProposeButton), static_cast<QWidget *>(ui->AssignButton),
                       static_cast<QWidget *>(ui->DumpAllButton), static_cast<QWidget *>(ui->CompareAllButton)})
        w->setEnabled(!running);
    ui->StopButton->setEnabled(running);
}

void BusWindow::StartButtonClick()
{
    if (m_main.operationRunning()) // one exchange at a time on the engine
        return;
    const MainWindow::LongOperation operation(m_main, MainWindow::OperationKind::Read);
    setRunning(true);
    BusOperationHost host(m_main, ui->Gauge);
    const int probeMs = m_main.searchDialog() ? m_main.searchDialog()->timeoutMs() : InventoryOptions{}.probeTimeoutMs;
    const InventoryResult result =
        RunInventory(m_main.engine(), host, {MinBusAddress, MaxBusAddress, probeMs, m_main.commandTimeouts().shortMs},
                     [this](int a) { m_main.setBusAddress(a); }, m_main.busRecord());
    setSensors(result.sensors);
    setRunning(false);
}

void BusWindow::StopButtonClick()
{
    m_main.requestStop();
}

void BusWindow::CsvButtonClick()
{
    QFileDialog dialog(this, QStringLiteral("Экспорт таблицы в CSV"), m_main.filesDir(),
                       QStringLiteral("CSV (*.csv)"));
    dialog.setObjectName(QStringLiteral("CsvDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (ModalRunner::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QSaveFile file(dialog.selectedFiles().first());
    if (!file.open(QIODevice::WriteOnly) || file.write(InventoryCsv(m_sensors)) < 0 || !file.commit())
        m_main.Log(file.errorString(), LogError);
}

QList<Assignment> BusWindow::readPlan(bool proposeMissing) const
{
    QList<Assignment> plan;
    for (int r = 0; r < ui->BusTable->rowCount(); ++r) {
        const QString serialText = ui->BusTable->item(r, SerialColumn)->text().trimmed();
        const QString addressText = ui->BusTable->item(r, NewAddressColumn)->text().trimmed();
        const HexFieldValue serial = ReadHexField(serialText);
        if (serialText.isEmpty() || !serial.complete)
            continue;
        if (addressText.isEmpty() && !(proposeMissing && m_sensors[r].conflict()))
            continue;
        plan.append({serial.value, addressText.toInt(), Assignment::State::Pending, {}});
    }
    return plan;
}

void BusWindow::ProposeButtonClick()
{
    QList<Assignment> plan = readPlan(true);
    try {
        ProposeFreeAddresses(m_sensors, plan);
    } catch (const ZartError &e) {
        m_main.Log(e.text(), LogError);
        return;
    }
    for (int r = 0; r < ui->BusTable->rowCount(); ++r)
        for (const Assignment &a : std::as_const(plan))
            if (ReadHexField(ui->BusTable->item(r, SerialColumn)->text().trimmed()).value == a.serial)
                ui->BusTable->item(r, NewAddressColumn)->setText(QString::number(a.newAddress));
}

void BusWindow::AssignButtonClick()
{
    if (m_main.operationRunning()) // one exchange at a time on the engine
        return;
    QList<Assignment> plan = readPlan(false);
    // The typed serial numbers of the conflict rows belong to the collision there.
    QList<BusSensor> sensors = m_sensors;
    {
        const MainWindow::LongOperation operation(m_main, MainWindow::OperationKind::Write);
        setRunning(true);
        BusOperationHost host(m_main, ui->Gauge);
        RunAssignments(m_main.engine(), host, sensors, plan, m_main.commandTimeouts().shortMs,
                       [this](int a) { m_main.setBusAddress(a); }, m_main.busRecord());
        setRunning(false);
    }
    ApplyAssignments(sensors, plan);
    setSensors(sensors);
}

void BusWindow::writeOutcomes(const BatchResult &result)
{
    for (const BatchOutcome &o : result.outcomes)
        for (int r = 0; r < m_sensors.size(); ++r)
            if (m_sensors[r].address == o.address)
                ui->BusTable->item(r, StatusColumn)->setText(o.text);
}

void BusWindow::DumpAllButtonClick()
{
    if (m_main.operationRunning()) // one exchange at a time on the engine
        return;
    const MainWindow::LongOperation operation(m_main, MainWindow::OperationKind::Read);
    setRunning(true);
    BusOperationHost host(m_main, ui->Gauge);
    writeOutcomes(DumpAll(m_main.engine(), host, m_sensors,
                          {m_main.filesDir(), m_main.commandTimeouts().shortMs, m_main.pauseGroupMs()},
                          [this](int a) { m_main.setBusAddress(a); }, m_main.busRecord()));
    setRunning(false);
}

void BusWindow::CompareAllButtonClick()
{
    if (m_main.operationRunning()) // one exchange at a time on the engine
        return;
    const MainWindow::LongOperation operation(m_main, MainWindow::OperationKind::Read);
    setRunning(true);
    BusOperationHost host(m_main, ui->Gauge);
    writeOutcomes(CompareAll(m_main.engine(), host, m_sensors,
                             {m_main.filesDir(), m_main.commandTimeouts().shortMs, m_main.pauseGroupMs()},
                             [this](int a) { m_main.setBusAddress(a); }, m_main.busRecord()));
    setRunning(false);
}

void BusWindow::BusTableDoubleClick(QTableWidgetItem *item)
{
    if (!item || item->row() >= m_sensors.size())
        return;
    const BusSensor &s = m_sensors[item->row()];
    m_main.pickSensor(s.address, s.serial);
}
