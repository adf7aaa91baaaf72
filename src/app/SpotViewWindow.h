#pragma once

#include "sensor/SpotWatch.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

namespace Ui {
class SpotViewWindow;
}
class QTimer;
class ModbusMaster;

// The live spot view "Наблюдение": the spot in the sensor's field with the
// trail of its last readings, a strip chart of the last minute, the statistics
// since "Пуск" or "Сбросить", and the readings saved as CSV. It reads through
// the main window's engine; while it runs the main window's commands are off
// (runningChanged), as they are for "Непрерывно".
class SpotViewWindow : public QDialog
{
    Q_OBJECT

public:
    // What the view takes from the settings when it starts.
    struct Settings
    {
        qint32 timeoutMs = 3000;
        qint32 timeoutShortMs = 300;
        qint32 pauseMs = 0;
        bool floatPix = false;
        QString csvDir; // where the save dialog starts
    };
    static constexpr int MinIntervalMs = 100;

    explicit SpotViewWindow(QWidget *parent = nullptr);
    ~SpotViewWindow() override;

    void setEngine(ModbusMaster *engine) { m_engine = engine; }
    void setSettingsSource(std::function<Settings()> source) { m_settings = std::move(source); }

    bool isRunning() const { return m_running; }
    // Off while the main window's commands are (another command runs).
    void setStartAllowed(bool allowed);
    // "Сохранить CSV…" off while a long operation of the main window runs:
    // its dialog would hold the operation up.
    void setSaveAllowed(bool allowed);
    const SpotSeries &series() const { return m_series; }
    const SpotField &field() const { return m_field; }

    void startButtonClicked();
    void readTimerElapsed();
    void resetStatsButtonClicked();
    void saveCsvButtonClicked();
    // The save without its dialog: writes the readings to path, or shows the
    // system's reason in red and keeps them. True when written.
    bool saveCsv(const QString &path);
    void stop();

Q_SIGNALS:
    void runningChanged(bool running);

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void start();
    void showStatus(const QString &text, bool error);
    void showSeries();
    QString channelName(int channel) const;

    Ui::SpotViewWindow *ui;
    QTimer *m_readTimer = nullptr;
    ModbusMaster *m_engine = nullptr;
    std::function<Settings()> m_settings;
    Settings m_run; // the settings of the current run
    MeasureKind m_kind = MeasureKind::Coordinates;
    SpotSeries m_series;
    SpotField m_field;
    long double m_step = 0.0L; // grid step of the sensor; 0 until read
    QElapsedTimer m_clock;
    qint64 m_lastElapsed = 0;
    bool m_running = false;
    bool m_startAllowed = true;
};
