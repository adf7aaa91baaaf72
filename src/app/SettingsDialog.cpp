#include "app/SettingsDialog.h"
#include "flash/FlashPasses.h"
#include "ui_SettingsDialog.h"

#include "app/PortCombo.h"
#include "sensor/SensorCommands.h"

#include <QShowEvent>

SettingsDialog::SettingsDialog(QWidget *parent) : QDialog(parent), ui(new Ui::SettingsDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The designed 261 x 399, wider where the fast reply check box needs it.
    const QSize hint = sizeHint();
    setFixedSize(qMax(261, hint.width()), qMax(399, hint.height()));

    connect(ui->OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // Only the user's picks count as changes, not the selections the program makes.
    connect(ui->PortPowerComboBox, &QComboBox::activated, this,
            &SettingsDialog::PortPowerComboBoxChange);
    connect(ui->SpeedComboBox, &QComboBox::activated, this, &SettingsDialog::SpeedComboBoxChange);
    connect(ui->PortPowerComboBox, &DropDownComboBox::dropDown, this,
            &SettingsDialog::PortPowerComboBoxDropDown);
    ui->RetriesSpinEdit->setMaximum(MaxRetries);
    ui->BlockReadSpinEdit->setMaximum(MaxBlockWords);

    FormCreate();
}

SettingsDialog::~SettingsDialog()
{
    delete ui;
}

QString SettingsDialog::noPowerPortText()
{
    return QStringLiteral("Отключен");
}

int SettingsDialog::timeoutMs() const
{
    return ui->TimeoutSpinEdit->textValue();
}

int SettingsDialog::timeoutShortMs() const
{
    return ui->TimeoutShortSpinEdit->textValue();
}

int SettingsDialog::pauseGroupMs() const
{
    return ui->PauseGroupSpinEdit->textValue();
}

bool SettingsDialog::floatPix() const
{
    return ui->FloatPixCheckBox->isChecked();
}

int SettingsDialog::retries() const
{
    return ui->RetriesSpinEdit->textValue();
}

int SettingsDialog::blockRead() const
{
    return ui->BlockReadSpinEdit->textValue();
}

bool SettingsDialog::fastReply() const
{
    return ui->FastReplyCheckBox->isChecked();
}

bool SettingsDialog::asFound() const
{
    return ui->AsFoundCheckBox->isChecked();
}

QComboBox *SettingsDialog::speedComboBox() const
{
    return ui->SpeedComboBox;
}

DropDownComboBox *SettingsDialog::portPowerComboBox() const
{
    return ui->PortPowerComboBox;
}

SpinEdit *SettingsDialog::timeoutSpinEdit() const
{
    return ui->TimeoutSpinEdit;
}

SpinEdit *SettingsDialog::timeoutShortSpinEdit() const
{
    return ui->TimeoutShortSpinEdit;
}

SpinEdit *SettingsDialog::pauseGroupSpinEdit() const
{
    return ui->PauseGroupSpinEdit;
}

QCheckBox *SettingsDialog::floatPixCheckBox() const
{
    return ui->FloatPixCheckBox;
}

SpinEdit *SettingsDialog::retriesSpinEdit() const
{
    return ui->RetriesSpinEdit;
}

SpinEdit *SettingsDialog::blockReadSpinEdit() const
{
    return ui->BlockReadSpinEdit;
}

QCheckBox *SettingsDialog::fastReplyCheckBox() const
{
    return ui->FastReplyCheckBox;
}

QCheckBox *SettingsDialog::asFoundCheckBox() const
{
    return ui->AsFoundCheckBox;
}

void SettingsDialog::fillPowerPortList()
{
    QComboBox *combo = ui->PortPowerComboBox;
    FillPortCombo(combo, m_extraPowerPortPaths);
    // Inserting into an empty list would select the new entry by itself; keep
    // the selection the refill left (none, or the same entry one row lower).
    const int selected = combo->currentIndex();
    combo->insertItem(0, noPowerPortText(), NoPowerPortNumber);
    combo->setCurrentIndex(selected < 0 ? -1 : selected + 1);
}

void SettingsDialog::setExtraPowerPortPaths(const QStringList &paths)
{
    m_extraPowerPortPaths = paths;
    fillPowerPortList();
}

void SettingsDialog::FormCreate()
{
    ui->SpeedComboBox->setCurrentIndex(ui->SpeedComboBox->findText(QStringLiteral("9600")));
    ui->TimeoutSpinEdit->setValue(CommandTimeouts{}.longMs);
    ui->TimeoutShortSpinEdit->setValue(CommandTimeouts{}.shortMs);
    ui->PauseGroupSpinEdit->setValue(0);
    ui->RetriesSpinEdit->setValue(0);
    ui->BlockReadSpinEdit->setValue(0);
    ui->FloatPixCheckBox->setChecked(false);
    ui->FastReplyCheckBox->setChecked(false);
    ui->AsFoundCheckBox->setChecked(false);
    ui->PortPowerComboBox->clear();
    fillPowerPortList();
}

void SettingsDialog::FormShow()
{
    PortPowerChanged = false;
    SpeedChanged = false;
    SavedSetup.PortPowerIndex = ui->PortPowerComboBox->currentIndex();
    SavedSetup.SpeedIndex = ui->SpeedComboBox->currentIndex();
    SavedSetup.Timeout = ui->TimeoutSpinEdit->value();
    SavedSetup.TimeoutShort = ui->TimeoutShortSpinEdit->value();
    SavedSetup.PauseGroup = ui->PauseGroupSpinEdit->value();
    SavedSetup.Retries = ui->RetriesSpinEdit->value();
    SavedSetup.BlockRead = ui->BlockReadSpinEdit->value();
    SavedSetup.FloatPix = ui->FloatPixCheckBox->isChecked();
    SavedSetup.FastReply = ui->FastReplyCheckBox->isChecked();
    SavedSetup.AsFound = ui->AsFoundCheckBox->isChecked();
}

void SettingsDialog::FormClose()
{
    PortPowerChanged = false;
    SpeedChanged = false;
    QComboBox *power = ui->PortPowerComboBox;
    power->setCurrentIndex(SavedSetup.PortPowerIndex < power->count() ? SavedSetup.PortPowerIndex
                                                                      : -1);
    QComboBox *speed = ui->SpeedComboBox;
    speed->setCurrentIndex(SavedSetup.SpeedIndex < speed->count() ? SavedSetup.SpeedIndex : -1);
    ui->TimeoutSpinEdit->setValue(SavedSetup.Timeout);
    ui->TimeoutShortSpinEdit->setValue(SavedSetup.TimeoutShort);
    ui->PauseGroupSpinEdit->setValue(SavedSetup.PauseGroup);
    ui->RetriesSpinEdit->setValue(SavedSetup.Retries);
    ui->BlockReadSpinEdit->setValue(SavedSetup.BlockRead);
    ui->FloatPixCheckBox->setChecked(SavedSetup.FloatPix);
    ui->FastReplyCheckBox->setChecked(SavedSetup.FastReply);
    ui->AsFoundCheckBox->setChecked(SavedSetup.AsFound);
}

void SettingsDialog::PortPowerComboBoxDropDown()
{
    QComboBox *combo = ui->PortPowerComboBox;
    const QString remembered = combo->currentIndex() >= 0 ? combo->currentText() : QString();
    fillPowerPortList();
    combo->setCurrentIndex(remembered.isEmpty() ? -1
                                                : combo->findText(remembered, Qt::MatchExactly));
}

void SettingsDialog::PortPowerComboBoxChange()
{
    PortPowerChanged = true;
}

void SettingsDialog::SpeedComboBoxChange()
{
    SpeedChanged = true;
}

void SettingsDialog::done(int result)
{
    if (result != QDialog::Accepted)
        FormClose();
    QDialog::done(result);
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}
