// Data port, speed and power port choices turned into calls on the two links,
// each with its log line; the supply switch "Сеть".

#include "AppTestSupport.h"

#include <QComboBox>
#include <QPushButton>

class TestPorts : public QObject, public FakeLinkWindows
{
    Q_OBJECT

private:
    QComboBox *portCombo() const { return child<QComboBox>("PortComboBox"); }
    QPushButton *powerButton() const { return child<QPushButton>("PowerButton"); }

    void start(const QByteArray &settings, const QList<int> &comPorts)
    {
        makeWindows(settings, comPorts);
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        form()->FormActivate();
    }
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
    void init() { setUpLinks(); }
    void cleanup() { tearDown(); }

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

    // Another power port picked while the supply is on: "Отключен" switches it off
    // and disables the button; another port closes the old one without touching its
    // lines and opens the new one with both lines de-asserted.
    void powerPortPickWhileOn_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("failOpen");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("on");
        QTest::addColumn<LogLine>("line");
        QTest::newRow("Отключен") << 0 << false << QStringList{"dtr 1", "rts 0", "close"} << false
                                  << LogLine{"Порт питания не используется", Black};
        QTest::newRow("COM7") << 2 << false << QStringList{"close", "open /dev/ttyS6"} << true
                              << LogLine{"Установлен порт питания COM7", Black};
        QTest::newRow("COM7 cannot be opened")
            << 2 << true << QStringList() << true
            << LogLine{"Порт питания COM7 не установлен!", Red};
    }
    void powerPortPickWhileOn()
    {
        QFETCH(int, index);
        QFETCH(bool, failOpen);
        QFETCH(QStringList, calls);
        QFETCH(bool, on);
        QFETCH(LogLine, line);
        start("[Setup]\nPowerComPort=3\n", {3, 7});
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        m_power->calls.clear();
        m_power->failOpen = failOpen;
        const auto lines = logLines(form()).size();
        pickPowerPort(index);
        QCOMPARE(newLines(lines), (QList<LogLine>{line}));
        if (failOpen)
            return;
        QCOMPARE(m_power->calls, calls);
        QCOMPARE(powerButton()->isChecked(), on);
        QCOMPARE(powerButton()->isEnabled(), index != 0);
        if (index != 0) {
            QVERIFY(!m_power->dtr);
            QVERIFY(!m_power->rts);
        } else { // choosing a port again enables the button, up
            pickPowerPort(1);
            QVERIFY(powerButton()->isEnabled());
            QVERIFY(!powerButton()->isChecked());
        }
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
