// The settings file of the main window: loaded into the controls at the first
// activation, written back from them when the window closes.

#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/PortCombo.h"
#include "app/SettingsDialog.h"
#include "common/IniFile.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString SectionSetup = QStringLiteral("Setup");
const QString SectionMain = QStringLiteral("Main");
const QString SectionOptions = QStringLiteral("Options");
const QString SectionRecord = QStringLiteral("Record");

// Selects the first entry whose port number is number; returns false when none has it.
bool selectPortNumber(QComboBox *combo, qint32 number)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i, Qt::UserRole).toInt() == number) {
            combo->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

// The port number to store for a port list. A port chosen on the command line
// is for this run only: the stored number stays unless the user picked an entry
// that is no device path (a numbered port, or "Отключен").
qint32 portToStore(const QComboBox *combo, bool chosenOnCommandLine, bool picked, qint32 stored)
{
    const qint32 selected = ComboPortNumber(combo);
    const bool pathEntry = selected == 0 && combo->currentData(PortNameRole).isValid();
    if (chosenOnCommandLine && !(picked && !pathEntry))
        return stored;
    return selected;
}

} // namespace

QString MainWindow::settingsFilePath()
{
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(exe.completeBaseName() + QStringLiteral(".ini"));
}

void MainWindow::LoadSettings()
{
    const IniFile ini(m_places.settingsFile);

    // Data port: 0 means none chosen, so it never picks an entry (paths given
    // on the command line carry 0 as well).
    QComboBox *port = ui->PortComboBox;
    port->setCurrentIndex(-1);
    m_storedComPort = ini.readInt(SectionSetup, QStringLiteral("ComPort"), 0);
    if (m_storedComPort != 0)
        selectPortNumber(port, m_storedComPort);

    QComboBox *power = m_setup->portPowerComboBox();
    power->setCurrentIndex(0);
    m_storedPowerComPort = ini.readInt(SectionSetup, QStringLiteral("PowerComPort"), 0);
    selectPortNumber(power, m_storedPowerComPort);

    QComboBox *speed = m_setup->speedComboBox();
    const qint32 speedIndex =
        ini.readInt(SectionSetup, QStringLiteral("SpeedComPort"), speed->currentIndex());
    speed->setCurrentIndex(speedIndex >= 0 && speedIndex < speed->count() ? speedIndex : -1);

    for (auto [key, spin] : {std::pair{QStringLiteral("Addr"), ui->AddrSpinEdit},
                             std::pair{QStringLiteral("Timeout"), m_setup->timeoutSpinEdit()},
                             std::pair{QStringLiteral("TimeoutShort"),
                                       m_setup->timeoutShortSpinEdit()},
                             std::pair{QStringLiteral("PauseGroup"),
                                       m_setup->pauseGroupSpinEdit()},
                             std::pair{QStringLiteral("Retries"), m_setup->retriesSpinEdit()},
                             std::pair{QStringLiteral("BlockRead"), m_setup->blockReadSpinEdit()}}) {
        spin->setValue(ini.readInt(SectionMain, key, spin->textValue()));
    }

    for (auto [key, box] : {std::pair{QStringLiteral("FloatPix"), m_setup->floatPixCheckBox()},
                            std::pair{QStringLiteral("FastReply"), m_setup->fastReplyCheckBox()}})
        box->setChecked(ini.readBool(SectionMain, key, box->isChecked()));
    m_setup->asFoundCheckBox()->setChecked(
        ini.readBool(SectionRecord, QStringLiteral("AsFound"), m_setup->asFound()));
    m_recordDatabase = ini.readString(SectionRecord, QStringLiteral("Database"));
    syncRecordLocation();

    ServiceMode = qBound(0, ini.readInt(SectionOptions, QStringLiteral("ServiceMode"), ServiceMode), 2);
}

void MainWindow::SaveSettings()
{
    const auto number = [](qint32 value) { return QString::number(value); };
    const auto flag = [](bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); };
    // Every key the window stores, in the order they are written ("ServiceMode"
    // is only read). All of them go into the file in one replacement.
    const QList<IniEntry> keys{
        {SectionSetup, QStringLiteral("ComPort"),
         number(portToStore(ui->PortComboBox, !m_preferredPort.isEmpty(), m_portPicked,
                            m_storedComPort))},
        {SectionSetup, QStringLiteral("SpeedComPort"),
         number(m_setup->speedComboBox()->currentIndex())},
        {SectionSetup, QStringLiteral("PowerComPort"),
         number(portToStore(m_setup->portPowerComboBox(), !m_preferredPowerPort.isEmpty(),
                            m_powerPortPicked, m_storedPowerComPort))},
        {SectionMain, QStringLiteral("Addr"), number(ui->AddrSpinEdit->textValue())},
        {SectionMain, QStringLiteral("Timeout"), number(m_setup->timeoutMs())},
        {SectionMain, QStringLiteral("TimeoutShort"), number(m_setup->timeoutShortMs())},
        {SectionMain, QStringLiteral("PauseGroup"), number(m_setup->pauseGroupMs())},
        {SectionMain, QStringLiteral("FloatPix"), flag(m_setup->floatPix())},
        {SectionMain, QStringLiteral("FastReply"), flag(m_setup->fastReply())},
        {SectionMain, QStringLiteral("Retries"), number(m_setup->retries())},
        {SectionMain, QStringLiteral("BlockRead"), number(m_setup->blockRead())},
        {SectionRecord, QStringLiteral("AsFound"), flag(m_setup->asFound())},
        {SectionRecord, QStringLiteral("Database"), m_recordDatabase},
    };
    IniFile(m_places.settingsFile).writeValues(keys);
}
