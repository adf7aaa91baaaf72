// Data port, speed and power port choices turned into calls on the two links,
// each with its log line; the supply switch "Сеть".

#include "AppTestSupport.h"

#include "app/USetup.h"

#include <QComboBox>
#include <QPushButton>

class TestPorts : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakeLine> m_data, m_power;
    std::unique_ptr<ScopedPorts> m_ports;
    std::unique_ptr<ScopedSettingsFile> m_settings;
    ZartWindows m_w;

    TForm1 *form() const { return m_w.mainForm.get(); }
    TSetupForm *setup() const { return m_w.setupForm; }
    QComboBox *portCombo() const
    {
        return form()->findChild<QComboBox *>(QStringLiteral("PortComboBox"));
    }
    QPushButton *powerButton() const
    {
        return form()->findChild<QPushButton *>(QStringLiteral("PowerButton"));
    }

    void start(const QByteArray &settings, const QList<int> &comPorts)
    {
        m_settings = std::make_unique<ScopedSettingsFile>(settings);
        QList<DeviceInfo> devices;
        for (int n : comPorts)
            devices << ScopedPorts::com(n);
        m_ports->set(devices);
        m_w = createWindows(fakeLink(m_data), fakeLink(m_power));
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        form()->FormActivate();
    }
    QList<LogLine> newLines(qsizetype from) const { return logLines(form()).mid(from); }
    // An exchange on the data link opens it.
    void openDataLink()
    {
        const quint8 frame[] = {1, 8, 0, 0, 0xAA, 0x55, 0, 0};
        form()->dataPort().Send(frame, sizeof frame);
        QVERIFY(m_data->open);
    }
    // The user picks the power port entry at index in the settings dialog and presses ОК.
    void pickPowerPort(int index)
    {
        ScopedModalRunner runner([&](QDialog &dialog) {
            dialog.show();
            DropDownComboBox *power = setup()->portPowerComboBox();
            power->setCurrentIndex(index);
            Q_EMIT power->activated(index);
            dialog.accept();
            return dialog.result();
        });
        form()->SetupMenuClick();
    }
    static QString comFailure(TComExceptions code, int error)
    {
        return EComPort::composeText(ComExceptionText(code), error);
    }

private Q_SLOTS:
    void init()
    {
        m_data = std::make_shared<FakeLine>();
        m_power = std::make_shared<FakeLine>();
        m_ports = std::make_unique<ScopedPorts>();
    }
    void cleanup()
    {
        m_w = {};
        m_settings.reset();
        m_ports.reset();
    }

    void dataPortPick_data()
    {
        QTest::addColumn<bool>("linkOpen");
        QTest::addColumn<bool>("reopenFails");
        QTest::addColumn<LogLine>("line");
        QTest::addColumn<bool>("openAfter");
        QTest::newRow("closed link: name only")
            << false << true << LogLine{"Установлен порт COM7", Black} << false;
        QTest::newRow("open link reopens on the new port")
            << true << false << LogLine{"Установлен порт COM7", Black} << true;
        QTest::newRow("new port cannot be opened")
            << true << true << LogLine{"Порт COM7 не установлен!", Red} << false;
    }
    void dataPortPick()
    {
        QFETCH(bool, linkOpen);
        QFETCH(bool, reopenFails);
        QFETCH(LogLine, line);
        QFETCH(bool, openAfter);
        start("[Setup]\nComPort=3\n", {3, 7});
        if (linkOpen)
            openDataLink();
        m_data->failOpen = reopenFails;
        const auto lines = logLines(form()).size();
        QTest::keyClick(portCombo(), Qt::Key_Down); // the user picks COM7
        QCOMPARE(newLines(lines), (QList<LogLine>{line}));
        QCOMPARE(form()->dataPort().GetPortName(), QStringLiteral("COM7"));
        QCOMPARE(m_data->open, openAfter);
        if (openAfter)
            QCOMPARE(m_data->path, QStringLiteral("/dev/ttyS6"));
    }

    void dataPortListRefillTouchesNothing()
    {
        start("[Setup]\nComPort=7\n", {3, 7});
        m_ports->set({ScopedPorts::com(3)}); // COM7 has gone
        const auto lines = logLines(form()).size();
        portCombo()->showPopup();
        portCombo()->hidePopup();
        QCOMPARE(portCombo()->currentIndex(), -1);
        QCOMPARE(portCombo()->count(), 1);
        QCOMPARE(newLines(lines), QList<LogLine>());
        QCOMPARE(form()->dataPort().GetPortName(), QStringLiteral("COM7"));
    }

    void speed_data()
    {
        QTest::addColumn<bool>("linkOpen");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<LogLine>("line");
        QTest::addColumn<qint32>("lineBaud"); // 0: the device was never opened
        QTest::newRow("closed link records the rate")
            << false << false << LogLine{"Установлена скорость 115200", Black} << 0;
        QTest::newRow("open link changes the line")
            << true << false << LogLine{"Установлена скорость 115200", Black} << 115200;
        QTest::newRow("platform refuses")
            << true << true << LogLine{"Скорость 115200 не установлена!", Red} << 9600;
    }
    void speed()
    {
        QFETCH(bool, linkOpen);
        QFETCH(bool, refused);
        QFETCH(LogLine, line);
        QFETCH(qint32, lineBaud);
        start("[Setup]\nComPort=3\n", {3});
        if (linkOpen)
            openDataLink();
        m_data->failBaud = refused;
        const auto lines = logLines(form()).size();
        setup()->speedComboBox()->setCurrentIndex(2);
        form()->ApplySpeed();
        QCOMPARE(newLines(lines), (QList<LogLine>{line}));
        QCOMPARE(m_data->baud, lineBaud);
        if (!linkOpen) {
            // The rate reaches the line at the first exchange.
            openDataLink();
            QCOMPARE(m_data->baud, 115200);
        }
    }

    void supplyOnAndOff()
    {
        start("[Setup]\nPowerComPort=3\n", {3, 7});
        QVERIFY(powerButton()->isEnabled());
        QVERIFY(!powerButton()->isChecked());
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QVERIFY(powerButton()->isChecked());
        QVERIFY(m_power->open);
        QCOMPARE(m_power->path, QStringLiteral("/dev/ttyS2"));
        QVERIFY(!m_power->dtr);
        QVERIFY(m_power->rts);
        m_power->calls.clear();
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QVERIFY(!powerButton()->isChecked());
        QCOMPARE(m_power->calls, (QStringList{"dtr 1", "rts 0", "close"}));
    }

    // "Отключен" while the supply is on: off, released, disabled.
    void noPowerPortSwitchesOff()
    {
        start("[Setup]\nPowerComPort=3\n", {3, 7});
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        m_power->calls.clear();
        const auto lines = logLines(form()).size();
        pickPowerPort(0);
        QCOMPARE(m_power->calls, (QStringList{"dtr 1", "rts 0", "close"}));
        QVERIFY(!powerButton()->isChecked());
        QVERIFY(!powerButton()->isEnabled());
        QCOMPARE(newLines(lines), (QList<LogLine>{LogLine{QStringLiteral("Порт питания не используется"), Black}}));
        // Choosing a port again enables the button, up.
        pickPowerPort(1);
        QVERIFY(powerButton()->isEnabled());
        QVERIFY(!powerButton()->isChecked());
    }

    // Another power port while the supply is on: the old port closes without
    // touching its lines, the new one opens with both lines de-asserted.
    void otherPowerPortWhileOn()
    {
        start("[Setup]\nPowerComPort=3\n", {3, 7});
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        m_power->calls.clear();
        const auto lines = logLines(form()).size();
        pickPowerPort(2);
        QCOMPARE(m_power->calls, (QStringList{"close", "open /dev/ttyS6"}));
        QVERIFY(!m_power->dtr);
        QVERIFY(!m_power->rts);
        QVERIFY(powerButton()->isChecked());
        QCOMPARE(newLines(lines), (QList<LogLine>{LogLine{QStringLiteral("Установлен порт питания COM7"), Black}}));
    }

    void otherPowerPortCannotBeOpened()
    {
        start("[Setup]\nPowerComPort=3\n", {3, 7});
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        m_power->failOpen = true;
        const auto lines = logLines(form()).size();
        pickPowerPort(2);
        QCOMPARE(newLines(lines), (QList<LogLine>{LogLine{QStringLiteral("Порт питания COM7 не установлен!"), Red}}));
    }

    // A supply switch that fails goes to the general error report; the button
    // keeps the state the click gave it.
    void failedSwitchIsReported()
    {
        start("[Setup]\nPowerComPort=3\n", {3});
        m_power->failOpen = true;
        ScopedModalRunner runner(QMessageBox::Ok);
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QVERIFY(powerButton()->isChecked());
        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(runner.dialogs[0].text,
                 comFailure(TComExceptions::CE_OpenFailed, ENOENT)); // ends in ')': no full stop
        QCOMPARE(runner.dialogs[0].icon, int(QMessageBox::Critical));
        // The next click fails on DTR of the port that is not open.
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QVERIFY(!powerButton()->isChecked());
        QCOMPARE(runner.dialogs.size(), 2);
        QCOMPARE(runner.dialogs[1].text,
                 comFailure(TComExceptions::CE_EscapeComFailed, EBADF));
        QVERIFY(form()->isVisible());
    }
};

QTEST_MAIN(TestPorts)
#include "tst_Ports.moc"
