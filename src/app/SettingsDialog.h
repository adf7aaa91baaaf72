#pragma once

#include "app/DropDownComboBox.h"

#include <QDialog>
#include <QStringList>

namespace Ui {
class SettingsDialog;
}

class QCheckBox;
class QComboBox;
class SpinEdit;

// The settings dialog. Its controls hold the live values of the speed, the
// power port, the two reply timeouts, the group pause and the pixel format;
// the commands read them from here at the moment of use. OK keeps what was
// edited; Cancel and the close box put back what the dialog showed when it
// was opened.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // The values shown when the dialog was last opened.
    struct TSavedSetup
    {
        int PortPowerIndex = -1;
        int SpeedIndex = -1;
        qint32 Timeout = 0;
        qint32 TimeoutShort = 0;
        qint32 PauseGroup = 0;
        qint32 Retries = 0;
        qint32 BlockRead = 0;
        bool FloatPix = false;
        bool FastReply = false;
        bool AsFound = false;
    };

    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Readings of the controls, for the commands.
    int timeoutMs() const;
    int timeoutShortMs() const;
    int pauseGroupMs() const;
    // Repeats of a long operation's request that failed on the line, 0..10.
    int retries() const;
    // Flash words per read request of the long operations, 0..62 (0: one).
    int blockRead() const;
    bool floatPix() const;
    bool fastReply() const;
    // Whether a restore keeps the sensor's flash as found before it writes.
    bool asFound() const;

    // The controls, for the settings file and the port handling of the main window.
    QComboBox *speedComboBox() const;
    DropDownComboBox *portPowerComboBox() const;
    SpinEdit *timeoutSpinEdit() const;
    SpinEdit *timeoutShortSpinEdit() const;
    SpinEdit *pauseGroupSpinEdit() const;
    SpinEdit *retriesSpinEdit() const;
    SpinEdit *blockReadSpinEdit() const;
    QCheckBox *floatPixCheckBox() const;
    QCheckBox *fastReplyCheckBox() const;
    QCheckBox *asFoundCheckBox() const;

    // Refills the power port list with the ports present, "Отключен" first,
    // and the extra device paths last.
    void fillPowerPortList();
    // Device paths offered in the power port list besides the ports present
    // (--power-port PATH); the list is refilled at once.
    void setExtraPowerPortPaths(const QStringList &paths);

    void FormCreate();
    void FormShow();
    void FormClose();
    void PortPowerComboBoxDropDown();
    void PortPowerComboBoxChange();
    void SpeedComboBoxChange();

    bool PortPowerChanged = false;
    bool SpeedChanged = false;
    TSavedSetup SavedSetup;

    static constexpr int NoPowerPortNumber = 0;
    static QString noPowerPortText();

public Q_SLOTS:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::SettingsDialog *ui;
    QStringList m_extraPowerPortPaths;
};
