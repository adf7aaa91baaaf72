// The settings file: what the first activation loads into the controls, what
// the window writes back when it closes, and the start-up log lines.

#include "AppTestSupport.h"

#include "app/USetup.h"
#include "app/ZSpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

class TestSettings : public QObject
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
    ZSpinEdit *addr() const { return form()->findChild<ZSpinEdit *>(QStringLiteral("AddrSpinEdit")); }
    QPushButton *powerButton() const
    {
        return form()->findChild<QPushButton *>(QStringLiteral("PowerButton"));
    }

    // Settings written, ports present, windows made and activated.
    void start(const QByteArray &settings, const QList<int> &comPorts = {})
    {
        m_w = {};
        m_settings.reset();
        m_settings = std::make_unique<ScopedSettingsFile>();
        if (!settings.isNull())
            ScopedSettingsFile::write(settings);
        QList<DeviceInfo> devices;
        for (int n : comPorts)
            devices << ScopedPorts::com(n);
        m_ports->set(devices);
        m_w = createWindows(fakeLink(m_data), fakeLink(m_power));
        form()->FormActivate();
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

    void load_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("port");      // selected data port entry, "" none
        QTest::addColumn<int>("speed");         // position, -1 none
        QTest::addColumn<QString>("power");     // selected power entry
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("timeoutShort");
        QTest::addColumn<int>("pause");
        QTest::addColumn<bool>("floatPix");
        QTest::addColumn<int>("serviceMode");

        const QString none;
        const QString off = TSetupForm::noPowerPortText();
        QTest::newRow("no file") << QByteArray() << none << 0 << off << 1 << 3000 << 300 << 0
                                 << false << 0;
        QTest::newRow("all keys") << QByteArray("[Setup]\nComPort=3\nSpeedComPort=2\nPowerComPort=7\n"
                                                "[Main]\nAddr=17\nTimeout=5000\nTimeoutShort=150\n"
                                                "PauseGroup=20\nFloatPix=1\n[Options]\nServiceMode=1\n")
                                  << ScopedPorts::text(3) << 2 << ScopedPorts::text(7) << 17 << 5000
                                  << 150 << 20 << true << 1;
        QTest::newRow("data port not present") << QByteArray("[Setup]\nComPort=5\n") << none << 0
                                               << off << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("power port not present") << QByteArray("[Setup]\nPowerComPort=9\n") << none
                                                << 0 << off << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("speed 7") << QByteArray("[Setup]\nSpeedComPort=7\n") << none << -1 << off
                                 << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("speed -1") << QByteArray("[Setup]\nSpeedComPort=-1\n") << none << -1 << off
                                  << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("speed not a number") << QByteArray("[Setup]\nSpeedComPort=fast\n") << none
                                            << 0 << off << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("Timeout 0") << QByteArray("[Main]\nTimeout=0\n") << none << 0 << off << 1
                                   << 1 << 300 << 0 << false << 0;
        QTest::newRow("Timeout 70000") << QByteArray("[Main]\nTimeout=70000\n") << none << 0 << off
                                       << 1 << 60000 << 300 << 0 << false << 0;
        QTest::newRow("Addr 0") << QByteArray("[Main]\nAddr=0\n") << none << 0 << off << 1 << 3000
                                << 300 << 0 << false << 0;
        QTest::newRow("Addr 300") << QByteArray("[Main]\nAddr=300\n") << none << 0 << off << 247
                                  << 3000 << 300 << 0 << false << 0;
        QTest::newRow("Addr 0x10") << QByteArray("[Main]\nAddr=0x10\n") << none << 0 << off << 16
                                   << 3000 << 300 << 0 << false << 0;
        QTest::newRow("Addr not a number") << QByteArray("[Main]\nAddr=12a\n") << none << 0 << off
                                           << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("PauseGroup -5") << QByteArray("[Main]\nPauseGroup=-5\nTimeoutShort=0X64\n")
                                       << none << 0 << off << 1 << 3000 << 100 << 0 << false << 0;
        QTest::newRow("FloatPix 2") << QByteArray("[Main]\nFloatPix=2\n") << none << 0 << off << 1
                                    << 3000 << 300 << 0 << true << 0;
        QTest::newRow("FloatPix no integer") << QByteArray("[Main]\nFloatPix=yes\n") << none << 0
                                             << off << 1 << 3000 << 300 << 0 << false << 0;
        QTest::newRow("ServiceMode 5") << QByteArray("[Options]\nServiceMode=5\n") << none << 0
                                       << off << 1 << 3000 << 300 << 0 << false << 2;
        QTest::newRow("ServiceMode -1") << QByteArray("[Options]\nServiceMode=-1\n") << none << 0
                                        << off << 1 << 3000 << 300 << 0 << false << 0;
    }
    void load()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, port);
        QFETCH(int, speed);
        QFETCH(QString, power);
        QFETCH(int, address);
        QFETCH(int, timeout);
        QFETCH(int, timeoutShort);
        QFETCH(int, pause);
        QFETCH(bool, floatPix);
        QFETCH(int, serviceMode);
        start(settings, {3, 7});

        QCOMPARE(portCombo()->currentIndex() >= 0 ? portCombo()->currentText() : QString(), port);
        QCOMPARE(setup()->speedComboBox()->currentIndex(), speed);
        QComboBox *powerCombo = setup()->portPowerComboBox();
        QCOMPARE(powerCombo->currentIndex() >= 0 ? powerCombo->currentText() : QString(), power);
        QCOMPARE(addr()->value(), address);
        QCOMPARE(form()->busAddress(), address);
        QCOMPARE(setup()->timeoutMs(), timeout);
        QCOMPARE(setup()->timeoutShortMs(), timeoutShort);
        QCOMPARE(setup()->pauseGroupMs(), pause);
        QCOMPARE(setup()->floatPix(), floatPix);
        QCOMPARE(form()->ServiceMode, serviceMode);
    }

    // The first exit writes every key but "ServiceMode", in order.
    void firstExitWritesEveryKey()
    {
        start(QByteArray());
        form()->close();
        QCOMPARE(ScopedSettingsFile::lines(),
                 (QStringList{"[Setup]", "ComPort=0", "SpeedComPort=0", "PowerComPort=0", "[Main]",
                              "Addr=1", "Timeout=3000", "TimeoutShort=300", "PauseGroup=0",
                              "FloatPix=0"}));
    }

    void exitWritesTheControls_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("written"); // Setup keys, then Main keys
        QTest::newRow("stored data port forgotten when absent")
            << QByteArray("[Setup]\nComPort=5\n")
            << QStringList{"ComPort=0", "SpeedComPort=0", "PowerComPort=0"};
        QTest::newRow("ports kept") << QByteArray("[Setup]\nComPort=7\nPowerComPort=3\n")
                                    << QStringList{"ComPort=7", "SpeedComPort=0", "PowerComPort=3"};
        QTest::newRow("speed 7 written as -1") << QByteArray("[Setup]\nSpeedComPort=7\n")
                                               << QStringList{"ComPort=0", "SpeedComPort=-1",
                                                              "PowerComPort=0"};
        QTest::newRow("clamped values") << QByteArray("[Main]\nAddr=300\nTimeout=0\nFloatPix=2\n")
                                        << QStringList{"Addr=247", "Timeout=1", "FloatPix=1"};
    }
    void exitWritesTheControls()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, written);
        start(settings, {3, 7});
        form()->close();
        const QStringList lines = ScopedSettingsFile::lines();
        for (const QString &line : written)
            QVERIFY2(lines.contains(line), qPrintable(line + " in " + lines.join(u' ')));
    }

    // ServiceMode is never written: a hand-made value stays.
    void serviceModeLeftAsItWas()
    {
        start(QByteArray("[Options]\nServiceMode=5\n"));
        form()->close();
        QVERIFY(ScopedSettingsFile::lines().contains(QStringLiteral("ServiceMode=5")));
    }

    // A settings file that cannot be written is reported, and the window closes anyway.
    void unwritableFileIsReportedAndTheWindowCloses()
    {
        start(QByteArray());
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        // A directory in the place of the file: no key can be written.
        QVERIFY(QDir().mkpath(ScopedSettingsFile::path()));
        ScopedModalRunner runner(QMessageBox::Ok);
        form()->close();
        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(runner.dialogs[0].text,
                 QStringLiteral("Unable to write to %1.")
                     .arg(QDir::toNativeSeparators(ScopedSettingsFile::path())));
        QCOMPARE(runner.dialogs[0].icon, int(QMessageBox::Critical));
        QVERIFY(!form()->isVisible());
    }

    // No settings file, no ports: the three start-up lines, the supply button disabled.
    void startWithoutSettingsAndPorts()
    {
        start(QByteArray());
        QCOMPARE(logLines(form()),
                 (QList<LogLine>{{QStringLiteral("Порт не выбран! По умолчанию используется COM1"), Red},
                                 {QStringLiteral("Установлена скорость 9600"), Black},
                                 {QStringLiteral("Порт питания не используется"), Black}}));
        QVERIFY(!powerButton()->isEnabled());
        QVERIFY(!powerButton()->isChecked());
        QCOMPARE(portCombo()->count(), 0);
        QCOMPARE(setup()->portPowerComboBox()->count(), 1);
        QVERIFY(!m_data->open);
        QVERIFY(!m_power->open);
    }

    void startWithStoredPorts()
    {
        start(QByteArray("[Setup]\nComPort=3\nPowerComPort=7\nSpeedComPort=1\n"), {3, 7});
        QCOMPARE(logLines(form()),
                 (QList<LogLine>{{QStringLiteral("Установлен порт COM3"), Black},
                                 {QStringLiteral("Установлена скорость 57600"), Black},
                                 {QStringLiteral("Установлен порт питания COM7"), Black}}));
        QCOMPARE(form()->dataPort().GetPortName(), QStringLiteral("COM3"));
        QCOMPARE(form()->dataPort().speed(), 57600);
        QCOMPARE(form()->powerPort().GetPortName(), QStringLiteral("COM7"));
        QVERIFY(powerButton()->isEnabled());
        // Choosing ports touches no device.
        QCOMPARE(m_data->opens + m_power->opens, 0);
    }

    // With no speed selected nothing is applied: the link stays at 9600, no line.
    void noSpeedAppliesNothing()
    {
        start(QByteArray("[Setup]\nSpeedComPort=7\n"));
        QCOMPARE(form()->dataPort().speed(), 9600);
        for (const LogLine &line : logLines(form()))
            QVERIFY(!line.text.contains(QStringLiteral("скорость")));
    }

    // A port given on the command line is listed and wins over the stored one.
    void preferredPortWins()
    {
        m_w = {};
        m_settings.reset();
        m_settings = std::make_unique<ScopedSettingsFile>(QByteArray("[Setup]\nComPort=3\n"));
        m_ports->set({ScopedPorts::com(3)});
        m_w = createWindows(fakeLink(m_data), fakeLink(m_power));
        form()->setExtraPortPaths({QStringLiteral("/dev/pts/77")});
        form()->setPreferredPort(QStringLiteral("/dev/pts/77"));
        form()->FormActivate();
        QCOMPARE(portCombo()->currentText(), QStringLiteral("/dev/pts/77"));
        QCOMPARE(logLines(form()).first(), (LogLine{QStringLiteral("Установлен порт /dev/pts/77"), Black}));
        // Refilling the list on opening keeps the path listed.
        portCombo()->showPopup();
        portCombo()->hidePopup();
        QCOMPARE(portCombo()->findText(QStringLiteral("/dev/pts/77")), portCombo()->currentIndex());
    }

    void activationRunsOnce()
    {
        start(QByteArray());
        const int lines = logLines(form()).size();
        form()->FormActivate();
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        QCoreApplication::processEvents();
        QCOMPARE(logLines(form()).size(), lines);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_Settings.moc"
