#pragma once

// The main window on the simulated sensor: the window tests of the sensor
// commands and of the bus search drive the real controls while the sensor
// answers on a pseudo-terminal.

#include "AppTestSupport.h"

#include "common/ModbusFrames.h"

#include "app/SearchDialog.h"
#include "app/SettingsDialog.h"
#include "app/SpinButtons.h"
#include "app/TextViewer.h"
#include "app/SpinEdit.h"
#include "codec/FrameCodec.h"

#include "common/SensorOnPty.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>

// Timeouts of the settings dialog while a test expects the sensor to answer,
// and while it expects none.
constexpr int kAnswerTimeoutMs = 1000;
constexpr int kSilentTimeoutMs = 150;

inline QString sentText(const QByteArray &frame)
{
    return QStringLiteral("Послано: ") +
           HexLine(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size()));
}

inline QString receivedText(const QByteArray &frame)
{
    return QStringLiteral("Принято: ") +
           HexLine(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size()));
}

// The window set, shown and activated, with the data port on devicePath (the
// way --port offers a device path), an empty list of present ports, no
// settings file, both reply timeouts at kAnswerTimeoutMs and an empty log.
class SimWindow
{
public:
    explicit SimWindow(const QString &devicePath)
    {
        m_windows = createWindows();
        MainWindow *f = form();
        f->setExtraPortPaths({devicePath});
        f->setPreferredPort(devicePath);
        f->show();
    }
    ~SimWindow()
    {
        // The settings file is not written: the window is destroyed, not closed.
        m_windows = {};
    }
    SimWindow(const SimWindow &) = delete;
    SimWindow &operator=(const SimWindow &) = delete;

    // Waits for the first activation and sets the test's starting state.
    // Call through QVERIFY(window.ready()).
    bool ready()
    {
        if (!QTest::qWaitForWindowExposed(form()))
            return false;
        if (!QTest::qWaitFor([this] { return form()->formActivated(); }, 5000))
            return false;
        setTimeouts(kAnswerTimeoutMs, kAnswerTimeoutMs);
        setFastReply(true);
        clearLog();
        return form()->dataPort().GetPortName() == m_preferred();
    }

    MainWindow *form() const { return m_windows.mainWindow.get(); }
    SettingsDialog *setup() const { return m_windows.settingsDialog; }
    SearchDialog *find() const { return m_windows.searchDialog; }
    TextViewer *viewText() const { return m_windows.textViewer; }

    template <typename T = QWidget> T *child(const QString &name) const
    {
        T *w = form()->findChild<T *>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    QLineEdit *edit(const QString &name) const { return child<QLineEdit>(name); }
    SpinEdit *spin(const QString &name) const { return child<SpinEdit>(name); }

    // Text of an edit field or a label.
    QString text(const QString &name) const
    {
        QWidget *w = child(name);
        if (auto *e = qobject_cast<QLineEdit *>(w))
            return e->text();
        if (auto *l = qobject_cast<QLabel *>(w))
            return l->text();
        qFatal("%s shows no text", qPrintable(name));
        return {};
    }
    void setText(const QString &name, const QString &value) const
    {
        QWidget *w = child(name);
        if (auto *e = qobject_cast<QLineEdit *>(w))
            e->setText(value);
        else if (auto *l = qobject_cast<QLabel *>(w))
            l->setText(value);
        else
            qFatal("%s shows no text", qPrintable(name));
    }

    // A left click on a button of either tab.
    void click(const QString &name) const
    {
        auto *button = child<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void setTimeouts(int timeoutMs, int timeoutShortMs) const
    {
        setup()->timeoutSpinEdit()->setValue(timeoutMs);
        setup()->timeoutShortSpinEdit()->setValue(timeoutShortMs);
    }
    void setFloatPix(bool on) const { setup()->floatPixCheckBox()->setChecked(on); }
    // The reply end as the settings dialog's OK would apply it: by the frame's
    // length (the tests' default) or after 40 ms of silence.
    void setFastReply(bool on) const
    {
        setup()->fastReplyCheckBox()->setChecked(on);
        form()->ApplyFastReply();
    }

    QList<LogLine> log() const { return logLines(form()); }
    void clearLog() const { child<QListWidget>(QStringLiteral("ConsoleListBox"))->clear(); }

private:
    QString m_preferred() const { return form()->extraPortPaths().value(0); }

    // No real ports and no settings file while the window lives.
    ScopedPorts m_ports;
    ScopedSettingsFile m_settings;
    ZartWindows m_windows;
};

// The request frame of a PDU to a bus address, CRC (the bitwise reference) appended.
inline QByteArray requestFrame(int address, const QByteArray &pdu)
{
    return modbustest::withCrc(QByteArray(1, char(address)) + pdu);
}

inline QByteArray flashKey()
{
    return QByteArray(1, char(SimSensor::FlashKeyHi)) + char(SimSensor::FlashKeyLo);
}
