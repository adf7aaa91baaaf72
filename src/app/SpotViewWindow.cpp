#include "app/SpotViewWindow.h"
#include "ui_SpotViewWindow.h"

#include "app/ModalRunner.h"

#include "picture/SpotPainter.h"
#include "modbus/ModbusMaster.h"
#include "common/NumberFormat.h"
#include "common/ZartError.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTimer>
#include <algorithm>

namespace {

const QStringList StatRows{QStringLiteral("Отсчётов"), QStringLiteral("Среднее"), QStringLiteral("СКО"),
                           QStringLiteral("Мин."),     QStringLiteral("Макс."),   QStringLiteral("Размах")};

} // namespace

SpotViewWindow::SpotViewWindow(QWidget *parent) : QDialog(parent), ui(new Ui::SpotViewWindow)
{
    ui->setupUi(this);
    setModal(false);
    ui->StatsTable->setRowCount(int(StatRows.size()));
    ui->StatsTable->setColumnCount(2);
    ui->StatsTable->setVerticalHeaderLabels(StatRows);
    ui->StatsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->StatsTable->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int r = 0; r < ui->StatsTable->rowCount(); ++r)
        for (int c = 0; c < 2; ++c) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            ui->StatsTable->setItem(r, c, item);
        }
    // The table is as high as its rows, with no empty space below them.
    ui->StatsTable->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->StatsTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->StatsTable->resizeRowsToContents();
    int height = ui->StatsTable->horizontalHeader()->sizeHint().height() + 2 * ui->StatsTable->frameWidth();
    for (int r = 0; r < ui->StatsTable->rowCount(); ++r)
        height += ui->StatsTable->rowHeight(r);
    ui->StatsTable->setFixedHeight(height);
    for (QWidget *w : {static_cast<QWidget *>(ui->StartButton), static_cast<QWidget *>(ui->ResetStatsButton),
                       static_cast<QWidget *>(ui->SaveCsvButton), static_cast<QWidget *>(ui->StatusLabel)})
        w->setMaximumWidth(260);

    m_readTimer = new QTimer(this);
    m_readTimer->setObjectName(QStringLiteral("ReadTimer"));
    m_readTimer->setSingleShot(true);
    m_readTimer->setTimerType(Qt::PreciseTimer);
    connect(m_readTimer, &QTimer::timeout, this, &SpotViewWindow::readTimerElapsed);
    connect(ui->StartButton, &QPushButton::clicked, this, &SpotViewWindow::startButtonClicked);
    connect(ui->ResetStatsButton, &QPushButton::clicked, this, &SpotViewWindow::resetStatsButtonClicked);
    connect(ui->SaveCsvButton, &QPushButton::clicked, this, &SpotViewWindow::saveCsvButtonClicked);

    m_field = CoordinateField(5.0L);
    ui->FieldPanel->setPainter([this](QPainter &p, const QRectF &area) {
        SpotView{m_series, m_field, channelName(0), channelName(1)}.paintField(p, area);
    });
    ui->ChartPanel->setPainter([this](QPainter &p, const QRectF &area) {
        SpotView{m_series, m_field, channelName(0), channelName(1)}.paintChart(p, area);
    });
    showSeries();
}

SpotViewWindow::~SpotViewWindow()
{
    delete ui;
}

QString SpotViewWindow::channelName(int channel) const
{
    if (m_kind == MeasureKind::Pixels)
        return channel == 0 ? QStringLiteral("nx") : QStringLiteral("ny");
    return channel == 0 ? QStringLiteral("X") : QStringLiteral("Y");
}

void SpotViewWindow::setStartAllowed(bool allowed)
{
    m_startAllowed = allowed;
    if (!m_running)
        ui->StartButton->setEnabled(allowed);
}

void SpotViewWindow::setSaveAllowed(bool allowed)
{
    ui->SaveCsvButton->setEnabled(allowed);
}

void SpotViewWindow::startButtonClicked()
{
    if (m_running)
        stop();
    else
        start();
}

void SpotViewWindow::start()
{
    if (!m_engine || !m_startAllowed)
        return;
    m_run = m_settings ? m_settings() : Settings();
    m_kind = ui->PixRadioButton->isChecked() ? MeasureKind::Pixels : MeasureKind::Coordinates;
    showStatus(QString(), false);
    if (m_kind == MeasureKind::Coordinates) {
        // The field's size comes from the sensor's grid step.
        try {
            m_step = ReadGridStep(*m_engine, m_run.timeoutShortMs);
        } catch (const ZartError &e) {
            showStatus(e.text(), true); // the engine has logged it
            return;
        }
        m_field = CoordinateField(m_step);
    }
    m_series.clear();
    m_clock.start();
    m_lastElapsed = 0;
    m_running = true;
    ui->StartButton->setText(QStringLiteral("Стоп"));
    ui->CoordRadioButton->setEnabled(false);
    ui->PixRadioButton->setEnabled(false);
    showSeries();
    Q_EMIT runningChanged(true);
    m_readTimer->start(0);
}

void SpotViewWindow::stop()
{
    if (!m_running)
        return;
    m_readTimer->stop();
    m_running = false;
    ui->StartButton->setText(QStringLiteral("Пуск"));
    ui->StartButton->setEnabled(m_startAllowed);
    ui->CoordRadioButton->setEnabled(true);
    ui->PixRadioButton->setEnabled(true);
    Q_EMIT runningChanged(false);
}

void SpotViewWindow::readTimerElapsed()
{
    if (!m_running || !m_engine)
        return;
    try {
        // Without the traffic lines: the log gets the failures only.
        const MeasurementTexts m = ReadMeasurement(*m_engine, m_kind, m_run.floatPix, m_run.timeoutMs,
                                                   /*logTraffic=*/false);
        m_lastElapsed = m_clock.elapsed();
        m_series.addReading(QDateTime::currentMSecsSinceEpoch(), m_lastElapsed, m);
    } catch (const ZartError &) {
        m_lastElapsed = m_clock.elapsed();
        if (m_series.addFailure()) {
            const QString text = QStringLiteral("Наблюдение остановлено: %1 неудачных чтения подряд")
                                     .arg(SpotSeries::FailuresToStop);
            m_engine->host().Log(text, LogError);
            stop();
            showSeries();
            showStatus(text, true);
            return;
        }
    }
    if (m_kind == MeasureKind::Pixels)
        m_field = PixelField(m_series);
    showSeries();
    if (m_running) // a handler run while the reading waited may have stopped it
        m_readTimer->start(ui->FastestCheckBox->isChecked() ? 0 : std::max(MinIntervalMs, m_run.pauseMs));
}

void SpotViewWindow::resetStatsButtonClicked()
{
    m_series.clear();
    m_clock.restart();
    m_lastElapsed = 0;
    showStatus(QString(), false);
    showSeries();
}

void SpotViewWindow::saveCsvButtonClicked()
{
    const Settings s = m_settings ? m_settings() : Settings();
    const QString name = QStringLiteral("spot-%1.csv")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QFileDialog dialog(this, QStringLiteral("Сохранить CSV"), QDir(s.csvDir).filePath(name),
                       QStringLiteral("CSV (*.csv);;Все файлы (*)"));
    dialog.setObjectName(QStringLiteral("SaveCsvDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (ModalRunner::exec(dialog) != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty() && !files.first().isEmpty())
        saveCsv(files.first());
}

bool SpotViewWindow::saveCsv(const QString &path)
{
    try {
        SaveSpotCsv(path, m_series);
    } catch (const ZartError &e) {
        showStatus(e.text(), true);
        return false;
    }
    showStatus(QStringLiteral("Сохранено чтений: %1 (%2)")
                   .arg(m_series.readings().size())
                   .arg(QDir::toNativeSeparators(path)),
               false);
    return true;
}

void SpotViewWindow::showStatus(const QString &text, bool error)
{
    ui->StatusLabel->setText(text);
    ui->StatusLabel->setStyleSheet(error ? QStringLiteral("color: rgb(220, 0, 0);") : QString());
}

void SpotViewWindow::showSeries()
{
    ui->StatsTable->setHorizontalHeaderLabels({channelName(0), channelName(1)});
    const QStringList x = StatsTexts(m_series.xStats());
    const QStringList y = StatsTexts(m_series.yStats());
    for (int r = 0; r < ui->StatsTable->rowCount(); ++r) {
        ui->StatsTable->item(r, 0)->setText(x[r]);
        ui->StatsTable->item(r, 1)->setText(y[r]);
    }
    ui->RateLabel->setText(QStringLiteral("Чтений в секунду: %1")
                               .arg(FormatFloat(static_cast<long double>(
                                   m_series.readingsPerSecond(m_lastElapsed)))));
    ui->FailedLabel->setText(QStringLiteral("Неудачных чтений: %1").arg(m_series.failures()));
    ui->FieldPanel->update();
    ui->ChartPanel->update();
}

void SpotViewWindow::closeEvent(QCloseEvent *event)
{
    stop();
    QDialog::closeEvent(event);
}

void SpotViewWindow::hideEvent(QHideEvent *event)
{
    stop();
    QDialog::hideEvent(event);
}
