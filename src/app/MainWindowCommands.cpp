// The sensor commands of the tabs "Управление" and "Сервис" and the bus search.
// Each handler reads its controls, runs the command's core function on the
// transaction engine and writes the result into its controls; the request
// itself is built by the core (sensor/SensorCommands.h).

#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ModalRunner.h"
#include "app/SearchDialog.h"
#include "app/BusWindow.h"
#include "app/SettingsDialog.h"
#include "app/LineStatsWindow.h"
#include "app/SpotViewWindow.h"
#include "app/TextViewer.h"
#include "app/SpinButtons.h"
#include "sensor/HexField.h"
#include "sensor/SensorCommands.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <optional>

namespace {

// The labels of the measurement fields: coordinates or pixels.
struct MeasurementLabels
{
    const char16_t *x, *y, *xError, *yError;
};
constexpr MeasurementLabels CoordLabels{u"X=", u"Y=", u"Ошибка X", u"Ошибка Y"};
constexpr MeasurementLabels PixLabels{u"nx=", u"ny=", u"Ошибка nx", u"Ошибка ny"};

void showLabels(Ui::MainWindow *ui, const MeasurementLabels &texts)
{
    ui->XLabel->setText(QString::fromUtf16(texts.x));
    ui->YLabel->setText(QString::fromUtf16(texts.y));
    ui->XerLabel->setText(QString::fromUtf16(texts.xError));
    ui->YerLabel->setText(QString::fromUtf16(texts.yError));
}

// Each measurement label keeps the width of the wider of its two texts, so
// that switching them does not move the fields around it.
void reserveLabelWidths(Ui::MainWindow *ui)
{
    const QList<QLabel *> labels{ui->XLabel, ui->YLabel, ui->XerLabel, ui->YerLabel};
    QList<int> widths(labels.size(), 0);
    for (const MeasurementLabels &texts : {PixLabels, CoordLabels}) {
        showLabels(ui, texts);
        for (qsizetype i = 0; i < labels.size(); ++i)
            widths[i] = qMax(widths[i], labels[i]->sizeHint().width());
    }
    for (qsizetype i = 0; i < labels.size(); ++i)
        labels[i]->setMinimumWidth(widths[i]);
}

// A result field that the last run of its command did not refresh (the
// command failed) keeps its text, shown in the palette's disabled-text grey
// until the command succeeds again; a refreshed field goes back to the
// window's own colours.
void showRefreshed(std::initializer_list<QLineEdit *> fields, bool refreshed)
{
    for (QLineEdit *field : fields) {
        if (refreshed) {
            if (field->testAttribute(Qt::WA_SetPalette))
                field->setPalette(QPalette()); // nothing of its own: the window's palette
            continue;
        }
        const QColor grey = field->palette().color(QPalette::Disabled, QPalette::Text);
        QPalette stale;
        stale.setColor(QPalette::Active, QPalette::Text, grey);
        stale.setColor(QPalette::Inactive, QPalette::Text, grey);
        field->setPalette(stale);
    }
}

// Runs one command. Every failure has already been logged in red (by the
// engine, or by the command for a reply too short for it) and ends the
// command quietly. Returns true when the command ran to its end.
bool runCommand(const std::function<void()> &command)
{
    try {
        command();
        return true;
    } catch (const ZartError &) {
        return false;
    }
}

bool isTypedCharacter(const QKeyEvent *event)
{
    // Keys that type no character into an edit field even where the platform
    // attaches a control character to them.
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false;
    default:
        return !event->text().isEmpty();
    }
}

using CharFilter =
    std::function<std::optional<QChar>(const QString &text, bool hasSelection, QChar key)>;

// Applies a per-character filter to a key typed into edit. Returns true when
// the key has been dealt with here: refused, or typed in its changed form.
// A key that passes unchanged is left to the field.
bool filterTypedKey(QLineEdit *edit, QKeyEvent *event, const CharFilter &filter)
{
    if (!isTypedCharacter(event))
        return false;
    const QString typed = event->text();
    QString accepted;
    for (const QChar c : typed) {
        if (const std::optional<QChar> out =
                filter(edit->text() + accepted, edit->hasSelectedText(), c))
            accepted.append(*out);
    }
    if (accepted == typed)
        return false;
    // Only printable characters are put into the field by hand; a control
    // character that passed is the field's own business (Backspace).
    QString printable;
    for (const QChar c : std::as_const(accepted)) {
        if (c.unicode() > 0x20)
            printable.append(c);
    }
    if (!printable.isEmpty())
        edit->insert(printable);
    return true;
}

// On leaving a field with the eight-digit rule: zeros put in front of a shorter text.
void padOnExit(QLineEdit *edit)
{
    const QString padded = PadHexField(edit->text());
    if (padded != edit->text())
        edit->setText(padded);
}

std::optional<QChar> hexKey(const QString &, bool, QChar key)
{
    return HexKeyFilter(key);
}

} // namespace

void MainWindow::connectCommandHandlers()
{
    reserveLabelWidths(ui); // leaves the coordinate texts, as designed
    connectHandler(ui->FindAddrButton, &QToolButton::clicked, &MainWindow::FindAddrButtonClick);
    connectHandler(ui->BusButton, &QToolButton::clicked, &MainWindow::BusButtonClick);

    connectHandler(ui->ReadIDButton, &QPushButton::clicked, &MainWindow::ReadIDButtonClick);
    connectHandler(ui->PingButton, &QPushButton::clicked, &MainWindow::PingButtonClick);
    connectHandler(ui->ResetButton, &QPushButton::clicked, &MainWindow::ResetButtonClick);
    connectHandler(ui->GetDevIDButton, &QPushButton::clicked, &MainWindow::GetDevIDButtonClick);
    connectHandler(ui->SetAddrButton, &QPushButton::clicked, &MainWindow::SetAddrButtonClick);
    connectHandler(ui->ReadCoordButton, &QPushButton::clicked, &MainWindow::ReadCoordButtonClick);
    connectHandler(ui->ReadPixButton, &QPushButton::clicked, &MainWindow::ReadPixButtonClick);
    ContinuousTimer = new QTimer(this);
    ContinuousTimer->setObjectName(QStringLiteral("ContinuousTimer"));
    ContinuousTimer->setSingleShot(true);
    ContinuousTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    connectHandler(ContinuousTimer, &QTimer::timeout, &MainWindow::ContinuousTimerTimer);
    connectHandler(ui->ContinuousCheckBox, &QCheckBox::toggled, &MainWindow::ContinuousCheckBoxClick);
    connectHandler(ui->SpotViewButton, &QPushButton::clicked, &MainWindow::SpotViewButtonClick);
    connectHandler(ui->ReadCRCButton, &QPushButton::clicked, &MainWindow::ReadCRCButtonClick);

    // The illumination buttons: the window has already put the other button up
    // when this one went down.
    connectHandler(ui->LightXButton, &QPushButton::clicked, &MainWindow::LightXYButtonClick);
    connectHandler(ui->LightYButton, &QPushButton::clicked, &MainWindow::LightXYButtonClick);

    connectHandler(ui->ReadFlashButton, &QPushButton::clicked, &MainWindow::ReadFlashButtonClick);
    connectHandler(ui->WriteFlashButton, &QPushButton::clicked, &MainWindow::WriteFlashButtonClick);
    connectHandler(ui->CRCCorrectionButton, &QPushButton::clicked,
                   &MainWindow::CRCCorrectionButtonClick);
    connectHandler(ui->VerButton, &QPushButton::clicked, &MainWindow::VerButtonClick);
    connectHandler(ui->AddrFlashSpinButtons, &SpinButtons::upClick, &MainWindow::AddrFlashSpinButtonsUpClick);
    connectHandler(ui->AddrFlashSpinButtons, &SpinButtons::downClick, &MainWindow::AddrFlashSpinButtonsDownClick);
    connectHandler(ui->DataFlashSpinButtons, &SpinButtons::upClick, &MainWindow::DataFlashSpinButtonsUpClick);
    connectHandler(ui->DataFlashSpinButtons, &SpinButtons::downClick, &MainWindow::DataFlashSpinButtonsDownClick);

    watchField(ui->SerialSetEdit, [this](QEvent *event) {
        if (event->type() == QEvent::KeyPress)
            return SerialSetEditKeyPress(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::FocusOut)
            SerialSetEditExit();
        return false;
    });
    watchField(ui->AddrFlashEdit, [this](QEvent *event) {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        return AddrFlashEditKeyDown(key) || AddrFlashEditKeyPress(key);
    });
    watchField(ui->DataFlashEdit, [this](QEvent *event) {
        if (event->type() == QEvent::KeyPress)
            return DataFlashEditKeyPress(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::FocusOut)
            DataFlashEditExit();
        return false;
    });
}

// ---- bus search ------------------------------------------------------------------

void MainWindow::FindAddrButtonClick()
{
    if (!m_find || ModalRunner::exec(*m_find) != QDialog::Accepted)
        return;

    const LongOperation operation(*this, OperationKind::Read);
    // The dialog stays up beside the search, only its "Стоп" usable, so that the
    // search can be stopped where it was started.
    m_find->showRunning(true);
    RecordedOperation record = recorded(RecordedKind::Search);
    record.run([&] {
        TellSearchResult(record,
                         SearchSensor(
                             m_engine, m_find->timeoutMs(),
                             [this](int address) {
                                 ui->AddrSpinEdit->setValue(address);
                                 ui->AddrSpinEdit->repaint(); // the user sees the address count up
                             },
                             [] { QCoreApplication::processEvents(); },
                             [this] { return stopRequested(); }));
    });
    m_find->showRunning(false);
}

void MainWindow::BusButtonClick()
{
    if (!m_bus)
        return;
    m_bus->show();
    m_bus->raise();
    m_bus->activateWindow();
}

void MainWindow::setBusAddress(int address)
{
    ui->AddrSpinEdit->setValue(address);
    ui->AddrSpinEdit->repaint();
}

void MainWindow::pickSensor(int address, std::optional<quint32> serial)
{
    ui->AddrSpinEdit->setValue(address);
    if (serial)
        ui->SerialSetEdit->setText(SerialText(*serial));
}

int MainWindow::pauseGroupMs() const
{
    return m_setup ? m_setup->pauseGroupMs() : 0;
}

CommandTimeouts MainWindow::commandTimeouts() const
{
    if (!m_setup)
        return {};
    return {m_setup->timeoutMs(), m_setup->timeoutShortMs()};
}

// ---- identification and addressing -------------------------------------------------

void MainWindow::ReadIDButtonClick()
{
    const qint32 timeout = commandTimeouts().shortMs;
    showRefreshed({ui->SerialEdit}, runCommand([&] {
                      ui->SerialEdit->setText(SerialText(ReadSerialNumber(m_engine, timeout)));
                  }));
}

void MainWindow::PingButtonClick()
{
    const qint32 timeout = commandTimeouts().shortMs;
    showRefreshed({ui->PingEdit}, runCommand([&] {
                      ui->PingEdit->setText(ResultText(PingSensor(m_engine, timeout)));
                  }));
}

void MainWindow::ResetButtonClick()
{
    const qint32 timeout = commandTimeouts().shortMs;
    showRefreshed({ui->ResetEdit}, runCommand([&] {
                      ui->ResetEdit->setText(ResultText(ResetSensor(m_engine, timeout)));
                  }));
}

void MainWindow::GetDevIDButtonClick()
{
    const qint32 timeout = commandTimeouts().shortMs;
    QStringList lines;
    if (!runCommand([&] { lines = ReadDeviceIdentification(m_engine, timeout); }))
        return;
    if (m_viewText)
        m_viewText->showLines(lines);
}

void MainWindow::SetAddrButtonClick()
{
    const quint32 serial = ReadHexField(ui->SerialSetEdit->text()).value;
    const int address = ui->NewAddrSpinEdit->textValue();
    const qint32 timeout = commandTimeouts().shortMs;
    RecordedOperation record = recorded(RecordedKind::SetAddress);
    record.sensorSerial(serial);
    record.setBusAddress(address);
    runCommand([&] { record.run([&] { AssignAddress(m_engine, serial, quint8(address), timeout); }); });
}

bool MainWindow::SerialSetEditKeyPress(QKeyEvent *event)
{
    return filterTypedKey(ui->SerialSetEdit, event, SerialKeyFilter);
}

void MainWindow::SerialSetEditExit()
{
    padOnExit(ui->SerialSetEdit);
}

// ---- measurement and illumination ------------------------------------------------

void MainWindow::setCoordinateLabels()
{
    showLabels(ui, CoordLabels);
}

void MainWindow::showCoordinates(const MeasurementTexts &m)
{
    showMeasurementRefreshed(true);
    ui->XEdit->setText(m.x);
    ui->XerEdit->setText(m.xStatus);
    ui->XEdit->repaint();
    ui->XerEdit->repaint();
    ui->YEdit->setText(m.y);
    ui->YerEdit->setText(m.yStatus);
    ui->YEdit->repaint();
    ui->YerEdit->repaint();
}

void MainWindow::showMeasurementRefreshed(bool refreshed)
{
    showRefreshed({ui->XEdit, ui->YEdit, ui->XerEdit, ui->YerEdit}, refreshed);
}

void MainWindow::ReadCoordButtonClick()
{
    setCoordinateLabels();
    const qint32 timeout = commandTimeouts().longMs;
    MeasurementTexts m;
    if (!runCommand([&] { m = ReadCoordinates(m_engine, timeout); })) {
        showMeasurementRefreshed(false);
        return;
    }
    showCoordinates(m);
}

void MainWindow::ContinuousCheckBoxClick()
{
    if (ui->ContinuousCheckBox->isChecked()) {
        setCoordinateLabels();
        setCommandsEnabled(false);
        ui->ContinuousCheckBox->setEnabled(true); // the way to stop
        ContinuousTimer->start(0);
    } else {
        ContinuousTimer->stop();
        setCommandsEnabled(true);
    }
}

void MainWindow::ContinuousTimerTimer()
{
    if (!ui->ContinuousCheckBox->isChecked())
        return;
    const qint32 timeout = commandTimeouts().longMs;
    MeasurementTexts m;
    // Without the traffic lines: the log gets the failure only.
    if (!runCommand([&] { m = ReadCoordinates(m_engine, timeout, /*logTraffic=*/false); })) {
        showMeasurementRefreshed(false);
        ui->ContinuousCheckBox->setChecked(false);
        return;
    }
    showCoordinates(m);
    const int pause = m_setup ? m_setup->pauseGroupMs() : 0;
    ContinuousTimer->start(std::max(ContinuousMinIntervalMs, pause));
}

void MainWindow::setSpotViewWindow(SpotViewWindow *spotView)
{
    m_spotView = spotView;
    if (!spotView)
        return;
    spotView->setEngine(&m_engine);
    spotView->setSettingsSource([this] {
        SpotViewWindow::Settings s;
        if (m_setup) {
            s.timeoutMs = m_setup->timeoutMs();
            s.timeoutShortMs = m_setup->timeoutShortMs();
            s.pauseMs = m_setup->pauseGroupMs();
            s.floatPix = m_setup->floatPix();
        }
        s.csvDir = filesDir();
        return s;
    });
    // While the view reads, the other commands are off as for "Непрерывно":
    // they would share the link and the buffers with it.
    connect(spotView, &SpotViewWindow::runningChanged, this,
            [this](bool running) { setCommandsEnabled(!running); });
}

void MainWindow::setLineStatsWindow(LineStatsWindow *lineStats)
{
    m_lineStatsWindow = lineStats;
    if (lineStats)
        lineStats->setSources(&m_lineStats, DataPort.get());
}

void MainWindow::LineStatsMenuClick()
{
    if (!m_lineStatsWindow)
        return;
    m_lineStatsWindow->show();
    m_lineStatsWindow->raise();
    m_lineStatsWindow->activateWindow();
}

void MainWindow::SpotViewButtonClick()
{
    if (!m_spotView)
        return;
    m_spotView->show();
    m_spotView->raise();
    m_spotView->activateWindow();
}

void MainWindow::ReadPixButtonClick()
{
    showLabels(ui, PixLabels);
    const bool floatPix = m_setup && m_setup->floatPix();
    const qint32 timeout = commandTimeouts().longMs;
    MeasurementTexts m;
    const bool read = runCommand([&] { m = ReadPixels(m_engine, floatPix, timeout); });
    showMeasurementRefreshed(read);
    if (!read)
        return;
    ui->XEdit->setText(m.x);
    if (floatPix) {
        // The real form is shown as the coordinates are: each pair at once.
        ui->XerEdit->setText(m.xStatus);
        ui->XEdit->repaint();
        ui->XerEdit->repaint();
        ui->YEdit->setText(m.y);
        ui->YerEdit->setText(m.yStatus);
        ui->YEdit->repaint();
        ui->YerEdit->repaint();
    } else {
        ui->YEdit->setText(m.y);
        ui->XerEdit->setText(m.xStatus);
        ui->YerEdit->setText(m.yStatus);
    }
}

void MainWindow::LightXYButtonClick()
{
    const quint8 code =
        IlluminationCode(ui->LightXButton->isChecked(), ui->LightYButton->isChecked());
    const qint32 timeout = commandTimeouts().shortMs;
    runCommand([&] { SetIllumination(m_engine, code, timeout); });
}

// ---- flash words, checksum, version ------------------------------------------------

void MainWindow::ReadCRCButtonClick()
{
    const qint32 timeout = commandTimeouts().longMs;
    showRefreshed({ui->CRCEdit}, runCommand([&] {
                      ui->CRCEdit->setText(ReadChecksum(m_engine, timeout));
                  }));
}

void MainWindow::ReadFlashButtonClick()
{
    const quint16 address = FlashAddressOfField(ui->AddrFlashEdit->text());
    const qint32 timeout = commandTimeouts().shortMs;
    runCommand(
        [&] { ui->DataFlashEdit->setText(WordText(ReadFlashWord(m_engine, address, timeout))); });
}

void MainWindow::WriteFlashButtonClick()
{
    const quint16 address = FlashAddressOfField(ui->AddrFlashEdit->text());
    const quint32 value = ReadHexField(ui->DataFlashEdit->text()).value;
    const qint32 timeout = commandTimeouts().shortMs;
    RecordedOperation record = recorded(RecordedKind::WriteWord);
    try {
        record.run([&] {
            WriteFlashWord(m_engine, address, value, timeout);
            record.wordWritten(address, value, std::nullopt);
        });
    } catch (const EZeroAddressWrite &refusal) {
        // Nothing has been sent; the window shows the refusal as a box.
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), refusal.text(),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("ZeroAddressWriteBox"));
        ModalRunner::exec(box);
    } catch (const ZartError &) {
        // Logged in red by the engine.
    }
}

void MainWindow::CRCCorrectionButtonClick()
{
    const CommandTimeouts timeouts = commandTimeouts();
    RecordedOperation record = recorded(RecordedKind::CorrectChecksum);
    runCommand([&] {
        record.run([&] {
            record.wordWritten(RequiredCrcAddress, CorrectChecksum(m_engine, timeouts), std::nullopt);
        });
    });
}

void MainWindow::VerButtonClick()
{
    const qint32 timeout = commandTimeouts().shortMs;
    QStringList lines;
    if (!runCommand([&] { lines = ReadVersionLines(m_engine, timeout); }))
        return;
    if (m_viewText)
        m_viewText->showLines(lines);
}

bool MainWindow::AddrFlashEditKeyDown(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        AddrFlashSpinButtonsUpClick();
        return true;
    case Qt::Key_Down:
        AddrFlashSpinButtonsDownClick();
        return true;
    default:
        return false;
    }
}

bool MainWindow::AddrFlashEditKeyPress(QKeyEvent *event)
{
    return filterTypedKey(ui->AddrFlashEdit, event, hexKey);
}

void MainWindow::AddrFlashSpinButtonsUpClick()
{
    ui->AddrFlashEdit->setText(StepAddressUp(ui->AddrFlashEdit->text()));
}

void MainWindow::AddrFlashSpinButtonsDownClick()
{
    ui->AddrFlashEdit->setText(StepAddressDown(ui->AddrFlashEdit->text()));
}

bool MainWindow::DataFlashEditKeyPress(QKeyEvent *event)
{
    return filterTypedKey(ui->DataFlashEdit, event, hexKey);
}

void MainWindow::DataFlashEditExit()
{
    padOnExit(ui->DataFlashEdit);
}

void MainWindow::DataFlashSpinButtonsUpClick()
{
    ui->DataFlashEdit->setText(StepDataUp(ui->DataFlashEdit->text()));
}

void MainWindow::DataFlashSpinButtonsDownClick()
{
    ui->DataFlashEdit->setText(StepDataDown(ui->DataFlashEdit->text()));
}
