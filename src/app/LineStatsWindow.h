#pragma once

#include <QDialog>

namespace Ui {
class LineStatsWindow;
}
class QTimer;
class LineStatistics;
class SerialLink;

// "Статистика линии": what the data port saw since the start or "Сбросить":
// the exchanges by outcome, the repeats, the reply latency and its histogram,
// and the USB adapter behind the port. Refreshed while it is shown.
class LineStatsWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int RefreshMs = 1000;

    explicit LineStatsWindow(QWidget *parent = nullptr);
    ~LineStatsWindow() override;

    // The main window's statistics and data port; both outlive this window.
    void setSources(LineStatistics *statistics, SerialLink *dataPort);
    // Where the adapter's facts are read (sysfs); tests give a made-up tree.
    void setSysfsRoot(const QString &root) { m_sysfsRoot = root; }

    void refresh();
    void resetButtonClicked();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void paintHistogram();

    Ui::LineStatsWindow *ui;
    QTimer *m_refreshTimer = nullptr;
    LineStatistics *m_statistics = nullptr;
    SerialLink *m_dataPort = nullptr;
    QString m_sysfsRoot;
};
