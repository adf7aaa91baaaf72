#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "ZartVersion.h"
#include "app/ConsoleDelegate.h"
#include "app/ModalRunner.h"
#include "app/PortCombo.h"
#include "app/SearchDialog.h"
#include "app/SettingsDialog.h"
#include "app/SpotViewWindow.h"
#include "app/DumpViewer.h"
#include "app/TextViewer.h"
#include "common/NumberFormat.h"
#include "sensor/StatusText.h"
#include "serial/PortAccess.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLink.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

#include <algorithm>
#include <cstdio>

// Watches every key typed in the main window's controls: M raises the bus
// address by one and N lowers it, whichever control has the focus.
class AddrKeyPreview : public QObject
{
public:
    explicit AddrKeyPreview(MainWindow *form) : QObject(form), m_form(form) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !m_form->m_commandsEnabled)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || widget->window() != m_form)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        const QString text = key->text();
        if (text == u"M" || text == u"m") {
            m_form->stepBusAddress(+1);
            return true;
        }
        if (text == u"N" || text == u"n") {
            m_form->stepBusAddress(-1);
            return true;
        }
        return false;
    }

private:
    MainWindow *m_form;
};

namespace {

// Whether a line edit shows its whole text (QLineEdit keeps two pixels free on
// each side of the text and one for the cursor).
bool textFits(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const QRect contents = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                               .marginsRemoved(edit->textMargins());
    return edit->fontMetrics().horizontalAdvance(edit->text()) + 2 <= contents.width() - 4;
}

// The tooltip a result field keeps while its text fits (the legend of the
// error-code fields); none when the property is not set.
constexpr char StandingToolTip[] = "standingToolTip";

// A result longer than its field shows its start (the sign and the leading
// digits, not the end the cursor would scroll to), and the whole text in the
// field's tooltip.
void showResultStart(QLineEdit *edit)
{
    edit->setCursorPosition(0);
    edit->setToolTip(textFits(edit) ? edit->property(StandingToolTip).toString() : edit->text());
}

} // namespace

const MainWindow::TOpenDialogSetup MainWindow::FlashOpenDialog{
    QStringLiteral("Дамп (*.dmp)|*.dmp|Все файлы (*.*)|*.*"), QStringLiteral("dmp"), true, true};

MainWindow::MainWindow(std::unique_ptr<SerialLink> dataPort, std::unique_ptr<SerialLink> powerPort,
               QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      DataPort(dataPort ? std::move(dataPort) : std::make_unique<SerialLink>()),
      PowerPort(powerPort ? std::move(powerPort) : std::make_unique<SerialLink>()),
      m_engine(*DataPort, *this),
      m_places{settingsFilePath(), QCoreApplication::applicationDirPath()}
{
    ui->setupUi(this);
    m_engine.setStatistics(&m_lineStats);
    FormCreate();
    connectShellHandlers();
    connectCommandHandlers();
    connectFlashHandlers();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(m_keyPreview);
    // The power link goes first, then the data link; each closes its port.
    PowerPort.reset();
    DataPort.reset();
    delete ui;
}

void MainWindow::FormCreate()
{
    // The number locale (Latin digits, '.') is fixed by createWindows() before
    // this window and its controls are made.

    setWindowTitle(QStringLiteral("%1 v%2.%3.%4.%5")
                       .arg(windowTitle())
                       .arg(ZART_VERSION_MAJOR)
                       .arg(ZART_VERSION_MINOR)
                       .arg(ZART_VERSION_PATCH)
                       .arg(ZART_VERSION_TWEAK));
    ServiceMode = 0;

    buildLog();

    ui->FindAddrButton->setIcon(QIcon::fromTheme(
        QStringLiteral("edit-find"), style()->standardIcon(QStyle::SP_FileDialogContentsView)));

    // The progress gauge: navy on the window colour.
    QPalette gauge = ui->FlashProcessGauge->palette();
    gauge.setColor(QPalette::Highlight, QColor(0, 0, 128));
    gauge.setColor(QPalette::Base, gauge.color(QPalette::Window));
    ui->FlashProcessGauge->setPalette(gauge);
    // "Стоп" is on only while a long operation runs; the commands being off
    // does not touch it.
    ui->StopButton->setEnabled(false);
    connect(ui->StopButton, &QPushButton::clicked, this, &MainWindow::requestStop);

    ServicePopupMenu = new QMenu(this);
    ServicePopupMenu->setObjectName(QStringLiteral("ServicePopupMenu"));
    ServicePopupMenu->addAction(ui->ServiceModeMenu);
    m_servicePopupAttached = true;

    // The service tab stays hidden until the settings say otherwise.
    ui->CommandTabs->setTabVisible(ui->CommandTabs->indexOf(ui->ServiceTab), false);
    ui->CommandTabs->setCurrentWidget(ui->ControlTab);

    // The error-code fields and their labels explain the codes' texts.
    const QString legend = StatusLegend();
    for (QLineEdit *field : {ui->XerEdit, ui->YerEdit})
        field->setProperty(StandingToolTip, legend);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->XerEdit, ui->YerEdit, ui->XerLabel,
                                                       ui->YerLabel})
        w->setToolTip(legend);

    for (QLineEdit *result : findChildren<QLineEdit *>()) {
        if (!result->isReadOnly())
            continue;
        connect(result, &QLineEdit::textChanged, this, [result] { showResultStart(result); });
        watchField(result, [result](QEvent *event) {
            if (event->type() == QEvent::Resize)
                showResultStart(result);
            return false;
        });
    }

    m_keyPreview = new AddrKeyPreview(this);
    qApp->installEventFilter(m_keyPreview);

    // Centred on the screen.
    if (const QScreen *screen = this->screen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void MainWindow::buildLog()
{
    QListWidget *list = ui->ConsoleListBox;
    list->setItemDelegate(new ConsoleDelegate(LogItemHeight, list));
    // The area below the last line as light as the lines, whatever the palette.
    QPalette pal = list->palette();
    pal.setColor(QPalette::Base, ConsoleDelegate::background());
    pal.setColor(QPalette::Text, Qt::black);
    list->setPalette(pal);
    buildLogActions();
}

void MainWindow::connectShellHandlers()
{
    connectHandler(ui->PowerButton, &QPushButton::clicked, &MainWindow::PowerButtonClick);
    connect(ui->PortComboBox, &QComboBox::activated, this, [this] { m_portPicked = true; });
    connectHandler(ui->PortComboBox, &QComboBox::activated, &MainWindow::PortComboBoxChange);
    connectHandler(ui->PortComboBox, &DropDownComboBox::dropDown, &MainWindow::PortComboBoxDropDown);
    connectHandler(ui->SetupMenu, &QAction::triggered, &MainWindow::SetupMenuClick);
    connectHandler(ui->LineStatsMenu, &QAction::triggered, &MainWindow::LineStatsMenuClick);
    connectHandler(ui->ServiceModeMenu, &QAction::triggered, &MainWindow::ServiceModeMenuClick);
    connect(ui->CommandTabs, &QWidget::customContextMenuRequested, this,
            &MainWindow::showServicePopup);

    // The two illumination buttons: at most one is down, and a click on the one
    // that is down puts it up. This runs before the buttons' command handler.
    connect(ui->LightXButton, &QPushButton::clicked, this, [this](bool down) {
        if (down)
            ui->LightYButton->setChecked(false);
    });
    connect(ui->LightYButton, &QPushButton::clicked, this, [this](bool down) {
        if (down)
            ui->LightXButton->setChecked(false);
    });
}

void MainWindow::setSecondaryWindows(DumpViewer *viewDump, TextViewer *viewText,
                                 SearchDialog *find, SettingsDialog *setup)
{
    m_viewDump = viewDump;
    m_viewText = viewText;
    m_find = find;
    m_setup = setup;
    if (m_find)
        connect(m_find, &SearchDialog::stopClicked, this, &MainWindow::requestStop);
    if (m_viewDump)
        connect(m_viewDump, &DumpViewer::compareRequested, this, &MainWindow::CompareDumpFileClick);
}

// ---- console log -------------------------------------------------------------

QColor MainWindow::logColour(quint8 kind)
{
    switch (kind) {
    case LogSent:
        return QColor(0, 0, 255);
    case LogReceived:
        return QColor(0, 128, 0);
    case LogError:
        return QColor(255, 0, 0);
    default:
        return QColor(0, 0, 0);
    }
}

void MainWindow::Log(const QString &Text, quint8 Kind)
{
    try {
        QListWidget *list = ui->ConsoleListBox;
        const QColor colour = logColour(Kind);
        if (list->count() > MaxLogLines) {
            for (int i = 0; i < LogDropLines && list->count() > 0; ++i)
                delete list->takeItem(0);
        }
        auto *item = new QListWidgetItem(Text);
        item->setData(Qt::ForegroundRole, colour);
        item->setData(LogTimeRole, QDateTime::currentDateTime());
        list->addItem(item);
        list->clearSelection();
        list->scrollToBottom();
        // Painted now: long commands add lines while they keep the event loop busy.
        list->viewport()->repaint();
    } catch (...) {
        // The log never fails its caller.
    }
}

int MainWindow::busAddress() const
{
    return ui->AddrSpinEdit->textValue();
}

void MainWindow::setBusy(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
}

void MainWindow::stepBusAddress(int delta)
{
    SpinEdit *addr = ui->AddrSpinEdit;
    addr->setValue(qBound(MinBusAddress, addr->textValue() + delta, MaxBusAddress));
}

void MainWindow::setCommandsEnabled(bool enabled)
{
    m_commandsEnabled = enabled;
    const QList<QWidget *> commands{
        ui->FindAddrButton,  ui->BusButton,           ui->AddrSpinEdit,        ui->PortComboBox,
        ui->SetAddrButton,   ui->ReadIDButton,        ui->ReadCRCButton,
        ui->ReadCoordButton, ui->ReadPixButton,       ui->PingButton,
        ui->ResetButton,     ui->GetDevIDButton,      ui->ReadFlashButton,
        ui->WriteFlashButton, ui->SaveFlashFileButton, ui->LoadFlashFileButton,
        ui->ViewFlashFileButton, ui->LoadFromPassportFlashFileButton, ui->VerButton,
        ui->CRCCorrectionButton, ui->LightXButton,    ui->LightYButton,
        ui->AddrFlashSpinButtons,     ui->DataFlashSpinButtons,         ui->CompareFlashFileButton,
        ui->ContinuousCheckBox, ui->SpotViewButton, ui->CalibrationRestoreButton};
    for (QWidget *w : commands)
        w->setEnabled(enabled);
    ui->SetupMenu->setEnabled(enabled);
    if (m_spotView)
        m_spotView->setStartAllowed(enabled);
}

// ---- error report and guarded handlers ---------------------------------------

QString MainWindow::applicationTitle()
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return name.left(1) + name.mid(1).toLower();
}

QString MainWindow::errorReportText(const QString &text)
{
    if (!text.isEmpty() && text.back() > QChar(u'.'))
        return text + u'.';
    return text;
}

void MainWindow::showErrorReport(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorReportText(text),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorReport"));
    m_errorReport = &box;
    ModalRunner::exec(box);
}

void MainWindow::runGuarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const ZartError &e) {
        showErrorReport(e.text());
    } catch (const std::exception &e) {
        showErrorReport(QString::fromLocal8Bit(e.what()));
    }
}

void MainWindow::watchField(QObject *field, std::function<bool(QEvent *)> handler)
{
    m_fieldHandlers.append({field, std::move(handler)});
    field->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    for (const auto &watch : std::as_const(m_fieldHandlers)) {
        if (watch.first != watched)
            continue;
        // A reference, not a structured binding: clang 14 cannot capture those in a lambda.
        const auto &handler = watch.second;
        bool done = false;
        runGuarded([&] { done = handler(event); });
        if (done)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- window events -----------------------------------------------------------

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Where the platform does not activate a window that is shown, its first
    // showing counts as the first activation.
    if (!m_activated)
        QMetaObject::invokeMethod(this, &MainWindow::FormActivate, Qt::QueuedConnection);
}

void MainWindow::FormActivate()
{
    if (m_activated || !m_setup)
        return;
    m_activated = true;

    FillPortCombo(ui->PortComboBox, m_extraPortPaths);
    if (!m_preferredPowerPort.isEmpty())
        m_setup->setExtraPowerPortPaths({m_preferredPowerPort});
    LoadSettings();
    if (m_offerServiceTab) // the demo shows what can be tried with it
        ServiceMode = 2;
    selectPreferredPort();

    switch (ServiceMode) {
    case 1:
        ui->ServiceModeMenu->setChecked(false);
        break;
    case 2:
        ui->ServiceModeMenu->setChecked(true);
        break;
    default:
        // No service mode: the popup menu goes, so the tab cannot be switched on.
        m_servicePopupAttached = false;
        ui->CommandTabs->setContextMenuPolicy(Qt::NoContextMenu);
        break;
    }
    ServiceModeMenuClick();

    PortComboBoxChange();
    ApplySpeed();
    ApplyFastReply();
    runGuarded([this] { ApplyPowerPort(); });
}

void MainWindow::selectPreferredPort()
{
    const int data = FindPortEntry(ui->PortComboBox, m_preferredPort);
    if (data >= 0)
        ui->PortComboBox->setCurrentIndex(data);
    const int power = FindPortEntry(m_setup->portPowerComboBox(), m_preferredPowerPort);
    if (power >= 0)
        m_setup->portPowerComboBox()->setCurrentIndex(power);
}

bool MainWindow::FormClose()
{
    ui->ContinuousCheckBox->setChecked(false);
    return saveSettingsAtClose();
}

bool MainWindow::saveSettingsAtClose()
{
    QString failure;
    try {
        SaveSettings();
        return true;
    } catch (const ZartError &e) {
        failure = e.text();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    // The first close that cannot save is refused with the report, so that the
    // user can make the file writable and close again. The next close ends
    // without the settings, so that a read-only file cannot keep the program
    // open; so does a close asked for by a signal, which shows no report.
    if (!m_closingOnSignal && !m_closeRefused) {
        m_closeRefused = true;
        showErrorReport(failure);
        if (!m_closingOnSignal) // no signal came while the report was shown
            return false;
    }
    const QString line = QStringLiteral("Настройки не сохранены: %1").arg(failure);
    Log(line, LogError);
    // The log goes with the window: the line stays on the standard error.
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    return true;
}

void MainWindow::closeOnSignal()
{
    m_closingOnSignal = true;
    // An open general error report is answered for the user: a session that
    // ends must not wait for it (a close that could not save goes on).
    if (m_errorReport)
        m_errorReport->reject();
    // An open settings dialog is cancelled: what it shows was not confirmed,
    // so the values it had when opened are the ones saved.
    if (m_setupOpen && m_setup)
        m_setup->reject();
    // An operation under way stops (a question it or a close shows closes as
    // No) and its end closes the window. Said here, not only by closeEvent:
    // while the close question of a write is up, the window is inside its
    // close already and close() does nothing.
    if (m_operationRunning) {
        requestStop();
        m_closeAfterOperation = true;
    }
    close();
}

MainWindow::LongOperation::LongOperation(MainWindow &form, OperationKind kind)
    : m_form(form), m_commandsBefore(form.commandsEnabled()),
      m_powerBefore(form.ui->PowerButton->isEnabled())
{
    m_form.setCommandsEnabled(false);
    // The supply stays as it is while the sensor is being read or written.
    m_form.ui->PowerButton->setEnabled(false);
    if (m_form.m_spotView)
        m_form.m_spotView->setSaveAllowed(false);
    m_form.m_operationRunning = true;
    m_form.m_operationKind = kind;
    m_form.m_stopRequested = false;
    m_form.ui->StopButton->setEnabled(true);
}

MainWindow::LongOperation::~LongOperation()
{
    m_form.ui->StopButton->setEnabled(false);
    m_form.m_operationRunning = false;
    m_form.m_stopRequested = false;
    m_form.setCommandsEnabled(m_commandsBefore);
    m_form.ui->PowerButton->setEnabled(m_powerBefore);
    if (m_form.m_spotView)
        m_form.m_spotView->setSaveAllowed(true);
    if (m_form.m_closeAfterOperation) {
        // The close that stopped the operation goes on, from the event loop.
        m_form.m_closeAfterOperation = false;
        QTimer::singleShot(0, &m_form, &QWidget::close);
    }
}

void MainWindow::requestStop()
{
    if (!m_operationRunning)
        return;
    m_stopRequested = true;
    if (m_operationQuestion)
        m_operationQuestion->done(QMessageBox::No);
}

QString MainWindow::closeDuringWriteQuestion()
{
    return QStringLiteral("Прервать запись во флеш? Датчик останется записанным частично.");
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_operationRunning) {
        event->ignore();
        // A write broken off leaves the sensor half written: the user's close
        // asks first. A read, a signal, or a stop already asked for do not.
        if (m_operationKind == OperationKind::Write && !m_closingOnSignal && !m_stopRequested) {
            if (m_closeQuestionShown)
                return; // the question is up already
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Внимание!"),
                            closeDuringWriteQuestion(), QMessageBox::Yes | QMessageBox::No, this);
            box.setObjectName(QStringLiteral("CloseDuringWriteQuestion"));
            // "Стоп" or a signal meanwhile closes it as No (a signal then
            // closes the window by itself).
            const QPointer<QDialog> operationQuestion = m_operationQuestion;
            setOperationQuestion(&box);
            m_closeQuestionShown = true;
            const int answer = ModalRunner::exec(box);
            m_closeQuestionShown = false;
            setOperationQuestion(operationQuestion);
            if (answer != QMessageBox::Yes || m_stopRequested || !m_operationRunning)
                return; // No: the write goes on
        }
        // Stopped first; the operation's end closes the window again.
        requestStop();
        m_closeAfterOperation = true;
        return;
    }
    // The settings are saved; a file that cannot be written keeps the window
    // open once (see saveSettingsAtClose).
    event->setAccepted(FormClose());
}

void MainWindow::showServicePopup(const QPoint &pos)
{
    if (m_servicePopupAttached)
        ServicePopupMenu->popup(ui->CommandTabs->mapToGlobal(pos));
}

void MainWindow::ServiceModeMenuClick()
{
    ui->CommandTabs->setTabVisible(ui->CommandTabs->indexOf(ui->ServiceTab),
                                    ui->ServiceModeMenu->isChecked());
}

// ---- file-open dialog ----------------------------------------------------------

QString MainWindow::qtNameFilter(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &text = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        if (text.contains(u'(' + patterns + u')'))
            filters << text;
        else
            filters << QStringLiteral("%1 (%2)").arg(text, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

void MainWindow::setupFlashOpenDialog(QFileDialog &dialog, const QString &title) const
{
    dialog.setWindowTitle(title);
    dialog.setDirectory(filesDir());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(FlashOpenDialog.FileMustExist ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
    dialog.setNameFilters(qtNameFilter(FlashOpenDialog.Filter).split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(FlashOpenDialog.DefaultExt);
    dialog.setSizeGripEnabled(true);
}

QString MainWindow::runFlashOpenDialog(const QString &title)
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("FlashOpenDialog"));
    setupFlashOpenDialog(dialog, title);
    if (ModalRunner::exec(dialog) != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

// ---- ports, speed and supply ---------------------------------------------------

void MainWindow::PortComboBoxDropDown()
{
    FillPortCombo(ui->PortComboBox, m_extraPortPaths);
}

void MainWindow::PortComboBoxChange()
{
    try {
        const QString name = ComboPortName(ui->PortComboBox);
        if (!name.isEmpty()) {
            DataPort->SetPortName(name);
            // A device path (from the command line) that names nothing is
            // kept, since the adapter may yet be plugged in, but said in red
            // rather than reported as a port set.
            if (name.startsWith(u'/') && !QFileInfo::exists(name))
                Log(QStringLiteral("Порт %1 не существует").arg(DataPort->GetPortName()), LogError);
            else
                Log(QStringLiteral("Установлен порт %1").arg(DataPort->GetPortName()), LogInfo);
            logStablePath(*DataPort);
        } else {
            Log(QStringLiteral("Порт не выбран! По умолчанию используется %1")
                    .arg(DataPort->GetPortName()),
                LogError);
        }
    } catch (const std::exception &) {
        Log(QStringLiteral("Порт %1 не установлен!").arg(DataPort->GetPortName()), LogError);
    }
}

void MainWindow::logStablePath(const SerialLink &port)
{
    if (const QString line = port.stablePathLine(); !line.isEmpty())
        Log(line, LogInfo);
}

void MainWindow::ApplySpeed()
{
    QComboBox *speed = m_setup->speedComboBox();
    if (speed->currentIndex() < 0)
        return;
    const QString text = speed->currentText();
    try {
        DataPort->SetSpeed(text);
        Log(QStringLiteral("Установлена скорость %1").arg(text), LogInfo);
    } catch (const std::exception &) {
        Log(QStringLiteral("Скорость %1 не установлена!").arg(text), LogError);
    }
}

void MainWindow::ApplyPowerPort()
{
    QComboBox *power = m_setup->portPowerComboBox();
    if (power->currentIndex() <= 0) {
        ui->PowerButton->setEnabled(false);
        if (ui->PowerButton->isChecked()) {
            ui->PowerButton->setChecked(false);
            PowerPort->SetPower(false);
        }
        Log(QStringLiteral("Порт питания не используется"), LogInfo);
        return;
    }
    ui->PowerButton->setEnabled(true);
    try {
        PowerPort->SetPortName(ComboPortName(power));
        Log(QStringLiteral("Установлен порт питания %1").arg(PowerPort->GetPortName()), LogInfo);
        logStablePath(*PowerPort);
    } catch (const std::exception &) {
        Log(QStringLiteral("Порт питания %1 не установлен!").arg(PowerPort->GetPortName()),
            LogError);
    }
}

void MainWindow::PowerButtonClick()
{
    // The click has already put the button down or up; a failure goes to the
    // general error report and the button keeps its new state. A port the
    // user may not open gets its advice in the log.
    try {
        PowerPort->SetPower(ui->PowerButton->isChecked());
    } catch (const SerialLinkError &e) {
        if (const QString hint = PortAccessHint(e); !hint.isEmpty())
            Log(hint, LogError);
        throw;
    }
}

void MainWindow::SetupMenuClick()
{
    m_setupOpen = true;
    const int result = ModalRunner::exec(*m_setup);
    m_setupOpen = false;
    if (result != QDialog::Accepted || m_closingOnSignal)
        return;
    if (m_setup->PortPowerChanged) {
        m_powerPortPicked = true;
        ApplyPowerPort();
    }
    if (m_setup->SpeedChanged)
        ApplySpeed();
    ApplyFastReply();
}

void MainWindow::ApplyFastReply()
{
    const bool on = m_setup->fastReply();
    if (on && !DataPort->FastReply)
        Log(QStringLiteral("Быстрый приём: конец ответа по длине кадра"), LogInfo);
    DataPort->FastReply = on;
}
