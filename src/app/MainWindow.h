#pragma once

#include "app/ZartPlaces.h"
#include "flash/FlashImage.h"
#include "bus/BusInventory.h"
#include "modbus/ModbusMaster.h"
#include "record/RecordKeeper.h"
#include "sensor/RegisterMap.h"
#include "sensor/SensorCommands.h"
#include "serial/SerialLink.h"

#include <QDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}
class QFileDialog;
class QKeyEvent;
class QMenu;
class QTimer;
struct MeasurementTexts;
struct FlashComparison;
class IOperationHost;
class WindowOperationHost;
class SearchDialog;
class BusWindow;
class SettingsDialog;
class SpotViewWindow;
class LineStatsWindow;
class DumpViewer;
class DumpComparisonWindow;
class RecordWindow;
class TextViewer;

// The main window: the data port, the supply switch and the bus address on
// the left, the commands on the tabs "Управление" and "Сервис", the console
// log below. It owns the two serial links and the transaction engine with the
// request and reply buffers, and it is the engine's host (log, bus address,
// busy cursor).
class MainWindow : public QMainWindow, public IBusHost
{
    Q_OBJECT

public:
    static constexpr int MaxLogLines = 1000;  // more than this and ...
    static constexpr int LogDropLines = 100;  // ... the oldest lines go
    static constexpr int LogItemHeight = 14;
    static constexpr int LogTimeRole = Qt::UserRole; // the QDateTime a log line was logged at

    // Settings of the file-open dialog used for dumps and passports.
    struct TOpenDialogSetup
    {
        QString Filter;     // description|pattern pairs separated by '|'
        QString DefaultExt; // appended to a name typed without extension
        bool FileMustExist = true;
        bool HideReadOnly = true;
    };
    static const TOpenDialogSetup FlashOpenDialog;

    // Without links the window makes its own (QSerialPort devices); tests
    // pass links on devices of their own.
    explicit MainWindow(std::unique_ptr<SerialLink> dataPort = nullptr,
                    std::unique_ptr<SerialLink> powerPort = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The secondary windows, created right after this one.
    void setSecondaryWindows(DumpViewer *viewDump, TextViewer *viewText, SearchDialog *find,
                             SettingsDialog *setup);
    DumpViewer *dumpViewer() const { return m_viewDump; }
    TextViewer *textViewer() const { return m_viewText; }
    SearchDialog *searchDialog() const { return m_find; }
    SettingsDialog *settingsDialog() const { return m_setup; }
    // The comparison of the viewed dump with another, over the dump viewer.
    void setDumpComparisonWindow(DumpComparisonWindow *window) { m_dumpComparison = window; }
    DumpComparisonWindow *dumpComparisonWindow() const { return m_dumpComparison; }
    // The live spot view, a window of its own beside this one.
    void setSpotViewWindow(SpotViewWindow *spotView);
    // "Опрос шины": every sensor on the line, a window of its own beside this one.
    void setBusWindow(BusWindow *bus) { m_bus = bus; }
    // The record the bus window's work goes to, opened now (none when it
    // cannot be: one red line says why), with the data port's name.
    BusRecord busRecord();
    BusWindow *busWindow() const { return m_bus; }
    // The bus address field, as the search and the bus window move it.
    void setBusAddress(int address);
    // A sensor picked in the bus window: the address field, and the serial
    // number field of the address assignment when the serial number is known.
    void pickSensor(int address, std::optional<quint32> serial);
    // The reply timeouts of the settings dialog, or its defaults without one.
    CommandTimeouts commandTimeouts() const;
    int pauseGroupMs() const;
    SpotViewWindow *spotViewWindow() const { return m_spotView; }
    // "Статистика линии", a window of its own shown from the menu.
    void setLineStatsWindow(LineStatsWindow *lineStats);
    LineStatsWindow *lineStatsWindow() const { return m_lineStatsWindow; }
    // Every exchange on the data port, counted since the start or the last reset.
    LineStatistics &lineStatistics() { return m_lineStats; }
    // "Журнал обслуживания", a window of its own beside this one, on this
    // window's record.
    void setRecordWindow(RecordWindow *window);
    RecordWindow *recordWindow() const { return m_recordWindow; }

    // The service record every operation on a sensor goes to: the setting
    // "Database" of [Record] (an SQLite path or a postgresql:// URL), else
    // records.sqlite in the folder of the dumps. Opened when the first
    // operation ends; a record that cannot be opened or written is one red
    // line, and the operation stands.
    RecordKeeper &records() { return m_records; }
    const QString &recordDatabase() const { return m_recordDatabase; }

    // Device paths offered in the data port list besides the ports present
    // (a pseudo-terminal, a /dev/serial/by-id link), and the one to select at
    // the first activation instead of the stored port.
    void setExtraPortPaths(const QStringList &paths) { m_extraPortPaths = paths; }
    QStringList extraPortPaths() const { return m_extraPortPaths; }
    void setPreferredPort(const QString &path) { m_preferredPort = path; }
    // A power port given by its device path on the command line: offered in
    // the power port list and selected at the first activation.
    void setPreferredPowerPort(const QString &path) { m_preferredPowerPort = path; }
    // With --demo the service tab is shown at start, as with "ServiceMode" 2,
    // and can be hidden from the tabs' menu; the settings file is left as it is.
    void offerServiceTab() { m_offerServiceTab = true; }

    // Where the settings are read and written, and the folder of the dumps
    // and passports (made when first needed). Without a call: beside the
    // executable.
    void setPlaces(const ZartPlaces &places)
    {
        m_places = places;
        syncRecordLocation();
    }
    const ZartPlaces &places() const { return m_places; }

    ModbusMaster &engine() { return m_engine; }
    SerialLink &dataPort() { return *DataPort; }
    SerialLink &powerPort() { return *PowerPort; }

    // IBusHost: the console log, the address field, the hourglass.
    void Log(const QString &Text, quint8 Kind) override;
    int busAddress() const override;
    void setBusy(bool busy) override;

    // Colour of a log kind: 0 black, 1 blue, 2 green, 3 red, anything else black.
    static QColor logColour(quint8 kind);

    // Enables or disables every command button, the address field with its
    // M/N keys, the data port list and the settings menu (long operations and
    // the bus search turn them off while they run).
    void setCommandsEnabled(bool enabled);
    bool commandsEnabled() const { return m_commandsEnabled; }

    // What a long operation does to the sensor's flash: a read leaves it as
    // it is (dump, comparison, bus search), a write changes it (the restores,
    // the write of the differences).
    enum class OperationKind { Read, Write };
    // A long operation under way: the commands and the power button are off
    // and "Стоп" is on. The operation asks stopRequested() before every
    // request. A close meanwhile stops a read at once; during a write it asks
    // first whether to break the write off (Yes stops it, No goes on). A
    // stopped operation's end closes the window.
    class LongOperation
    {
    public:
        LongOperation(MainWindow &form, OperationKind kind);
        ~LongOperation();
        LongOperation(const LongOperation &) = delete;
        LongOperation &operator=(const LongOperation &) = delete;

    private:
        MainWindow &m_form;
        bool m_commandsBefore;
        bool m_powerBefore;
    };
    bool operationRunning() const { return m_operationRunning; }
    OperationKind operationKind() const { return m_operationKind; }
    // The question of a close during a write.
    static QString closeDuringWriteQuestion();
    // "Стоп", a close or a signal: the operation under way stops after the
    // exchange in flight; a question box it shows closes as No.
    void requestStop();
    bool stopRequested() const { return m_stopRequested; }
    // The question box of the operation under way, closed by requestStop.
    void setOperationQuestion(QDialog *box) { m_operationQuestion = box; }

    // The general error report: a message box with the text (a full stop
    // added when its last character is above '.') and the application title.
    void showErrorReport(const QString &text);
    static QString errorReportText(const QString &text);
    // The executable's name without directory and extension, every letter
    // after the first in lower case.
    static QString applicationTitle();

    // Runs a handler; a failure that escapes it goes to the general error report.
    void runGuarded(const std::function<void()> &handler);
    // Connects a signal to a handler of this window through runGuarded.
    template <typename Sender, typename Signal>
    void connectHandler(Sender *sender, Signal signal, void (MainWindow::*handler)())
    {
        connect(sender, signal, this, [this, handler] { runGuarded([&] { (this->*handler)(); }); });
    }
    // Routes the events of one field of this window to a handler; the handler
    // returns true for an event it has dealt with, which then goes no further.
    void watchField(QObject *field, std::function<bool(QEvent *)> handler);

    // The file-open dialog for dumps and passports: the executable's
    // directory, the dump filter, the given title. Returns the chosen file,
    // or an empty string when the user cancels.
    QString runFlashOpenDialog(const QString &title);
    // The open dialog, then the dump file it names read whole; false (a
    // reading failure in the log) when there is nothing to go on with.
    bool openDumpImage(const QString &title, QString &path, FlashImage &image);
    void writeDifferences(WindowOperationHost &host, const QString &path, const FlashImage &image,
                          const FlashComparison &comparison);
    void setupFlashOpenDialog(QFileDialog &dialog, const QString &title) const;
    // "Text|pattern|Text|pattern" as Qt's "Text (pattern);;Text (pattern)".
    static QString qtNameFilter(const QString &pipeFilter);

    // The settings file: "<executable name>.ini" beside the executable.
    static QString settingsFilePath();
    // The folder of the dumps and passports, made when missing.
    QString filesDir() const;
    // Where a restore keeps the sensor's flash as found (history/ of the
    // dumps' folder); empty when the setting is off.
    QString asFoundDir() const;
    void LoadSettings();
    // Writes every key in one replacement of the file. Throws
    // ZartError("Unable to write to <path>") when it cannot be written; the
    // file is then left as it was.
    void SaveSettings();

    // Window events.
    void FormCreate();
    void FormActivate(); // once: the first time the window becomes active
    bool formActivated() const { return m_activated; }
    // Saves the settings at a close; false when the window is to stay open.
    bool FormClose();
    // A close asked for by a signal (SIGTERM, SIGINT, SIGHUP): as the user's
    // close, but it shows no report or question and always ends. An open
    // settings dialog is cancelled first: its edits are not saved.
    void closeOnSignal();
    void ServiceModeMenuClick();

    // Ports, speed and supply.
    void PortComboBoxDropDown();
    void PortComboBoxChange();
    void ApplySpeed();
    void ApplyPowerPort();
    // Gives the data link the reply end chosen in the settings dialog; logs
    // when the fast end is switched on.
    void ApplyFastReply();
    void PowerButtonClick();
    void SetupMenuClick();
    void LineStatsMenuClick();
    void RecordMenuClick();
    void makeReport(quint32 serial);

    // Command handlers, defined beside the commands they run (MainWindowCommands.cpp,
    // MainWindowFlash.cpp and the files of the commands).
    void FindAddrButtonClick();
    void BusButtonClick();
    void ReadIDButtonClick();
    void PingButtonClick();
    void ResetButtonClick();
    void GetDevIDButtonClick();
    void SetAddrButtonClick();
    // Key filters of the hexadecimal fields: true when the key has been dealt
    // with (refused, or put into the field in its changed form).
    bool SerialSetEditKeyPress(QKeyEvent *event);
    void SerialSetEditExit();
    void ReadCoordButtonClick();
    void ReadPixButtonClick();
    // "Непрерывно": while ticked the coordinates are read again and again, at
    // the group pause of the settings (at least ContinuousMinIntervalMs), with
    // the other commands off; the first failure unticks it.
    void ContinuousCheckBoxClick();
    void ContinuousTimerTimer();
    static constexpr int ContinuousMinIntervalMs = 100;
    // "Наблюдение…": shows the spot view; the other commands are off while it reads.
    void SpotViewButtonClick();
    void LightXYButtonClick();
    void ReadCRCButtonClick();
    void ReadFlashButtonClick();
    void WriteFlashButtonClick();
    void CRCCorrectionButtonClick();
    void VerButtonClick();
    bool AddrFlashEditKeyDown(QKeyEvent *event);
    bool AddrFlashEditKeyPress(QKeyEvent *event);
    void AddrFlashSpinButtonsUpClick();
    void AddrFlashSpinButtonsDownClick();
    bool DataFlashEditKeyPress(QKeyEvent *event);
    void DataFlashEditExit();
    void DataFlashSpinButtonsUpClick();
    void DataFlashSpinButtonsDownClick();
    void SaveFlashFileButtonClick();
    void LoadFlashFileButtonClick();
    void ViewFlashFileButtonClick();
    void LoadFromPassportFlashFileButtonClick();
    void CompareFlashFileButtonClick();
    // The dump viewer's "Сравнить с файлом…": a second dump, then the comparison window.
    void CompareDumpFileClick();
    void CalibrationRestoreButtonClick();

    // The "ServiceMode" setting: 0 no service tab, 1 available but hidden at
    // start, 2 shown at start.
    qint32 ServiceMode = 0;

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class AddrKeyPreview;

    // Connections of the command handlers, beside their definitions.
    void connectCommandHandlers();
    void connectFlashHandlers();

    void buildLog();
    // The log's context menu: "Копировать" (Ctrl+C), "Выделить всё" (Ctrl+A),
    // "Сохранить журнал…" (MainWindowLog.cpp).
    void buildLogActions();
    void copyLogSelection();
    void saveLog();
    void connectShellHandlers();
    void showServicePopup(const QPoint &pos);
    void stepBusAddress(int delta);
    void selectPreferredPort();
    // The stable link of a port just set, in the log (black), when it has one
    // other than the name it was given.
    void logStablePath(const SerialLink &port);
    // The settings saved at a close. A file that cannot be written refuses the
    // first close of the run with the general error report (true: close).
    bool saveSettingsAtClose();
    void setCoordinateLabels();
    void showCoordinates(const MeasurementTexts &m);
    // The four measurement fields in their normal colours, or greyed as not
    // refreshed by the last reading (their texts are kept).
    void showMeasurementRefreshed(bool refreshed);
    // The record's location from the setting and the places.
    void syncRecordLocation();
    // One operation on the sensor at the bus address, recorded when it ends.
    RecordedOperation recorded(RecordedKind kind);
    // A dump file shown in the dump viewer; a file that cannot be read is a red line.
    void showDumpFile(const QString &path);

    Ui::MainWindow *ui;
    QMenu *ServicePopupMenu = nullptr;
    QTimer *ContinuousTimer = nullptr;
    bool m_servicePopupAttached = true;

    std::unique_ptr<SerialLink> DataPort;
    std::unique_ptr<SerialLink> PowerPort;
    LineStatistics m_lineStats;
    ModbusMaster m_engine;

    DumpViewer *m_viewDump = nullptr;
    DumpComparisonWindow *m_dumpComparison = nullptr;
    TextViewer *m_viewText = nullptr;
    SearchDialog *m_find = nullptr;
    SettingsDialog *m_setup = nullptr;
    SpotViewWindow *m_spotView = nullptr;
    LineStatsWindow *m_lineStatsWindow = nullptr;
    RecordWindow *m_recordWindow = nullptr;
    RecordKeeper m_records;
    QString m_recordDatabase; // [Record] Database; empty: records.sqlite in the dumps' folder
    BusWindow *m_bus = nullptr;

    QStringList m_extraPortPaths;
    QString m_preferredPort;
    QString m_preferredPowerPort;
    bool m_offerServiceTab = false;
    // The ports read from the settings file, and whether the user picked
    // another one in this run: a port chosen on the command line is for this
    // run only, the stored one is written back.
    qint32 m_storedComPort = 0;
    qint32 m_storedPowerComPort = 0;
    bool m_portPicked = false;
    bool m_powerPortPicked = false;
    ZartPlaces m_places;
    bool m_activated = false;
    bool m_commandsEnabled = true;
    bool m_closeRefused = false;    // a close was refused for the settings
    bool m_closingOnSignal = false; // a signal asked the window to close
    QPointer<QMessageBox> m_errorReport; // the general error report while shown
    bool m_operationRunning = false;
    OperationKind m_operationKind = OperationKind::Read;
    bool m_setupOpen = false;       // the settings dialog runs
    bool m_closeQuestionShown = false;
    bool m_stopRequested = false;
    bool m_closeAfterOperation = false;
    QPointer<QDialog> m_operationQuestion;
    QObject *m_keyPreview = nullptr;
    QList<QPair<QObject *, std::function<bool(QEvent *)>>> m_fieldHandlers;
};
