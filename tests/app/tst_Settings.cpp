// The settings file: what the first activation loads into the controls, what
// the window writes back when it closes, and the start-up log lines.

#include "AppTestSupport.h"

#include "app/ZSpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

class TestSettings : public QObject, public FakeLinkWindows
{
    Q_OBJECT

private:
    QComboBox *portCombo() const { return child<QComboBox>("PortComboBox"); }
    QPushButton *powerButton() const { return child<QPushButton>("PowerButton"); }

    // Settings written, ports present, windows made and activated.
    void start(const QByteArray &settings, const QList<int> &comPorts = {})
    {
        makeWindows(settings, comPorts);
        form()->FormActivate();
    }
    static QString selected(QComboBox *combo)
    {
        return combo->currentIndex() >= 0 ? combo->currentText() : QString();
    }

private Q_SLOTS:
    void init() { setUpLinks(); }
    void cleanup() { tearDown(); }

    // What the first activation shows; the map holds the values apart from the defaults.
    void load_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QVariantMap>("changed");
        struct Row
        {
            const char *name;
            const char *settings;
            QVariantMap changed;
        };
        const QList<Row> rows{
            {"no file", nullptr, {}},
            {"all keys",
             "[Setup]\nComPort=3\nSpeedComPort=2\nPowerComPort=7\n[Main]\nAddr=17\nTimeout=5000\n"
             "TimeoutShort=150\nPauseGroup=20\nFloatPix=1\n[Options]\nServiceMode=1\n",
             {{"port", ScopedPorts::text(3)}, {"speed", 2}, {"power", ScopedPorts::text(7)},
              {"address", 17}, {"timeout", 5000}, {"timeoutShort", 150}, {"pause", 20},
              {"floatPix", true}, {"serviceMode", 1}}},
            {"data port not present", "[Setup]\nComPort=5\n", {}},
            {"power port not present", "[Setup]\nPowerComPort=9\n", {}},
            {"speed 7", "[Setup]\nSpeedComPort=7\n", {{"speed", -1}}},
            {"speed -1", "[Setup]\nSpeedComPort=-1\n", {{"speed", -1}}},
            {"speed not a number", "[Setup]\nSpeedComPort=fast\n", {}},
            {"Timeout 0", "[Main]\nTimeout=0\n", {{"timeout", 1}}},
            {"Timeout 70000", "[Main]\nTimeout=70000\n", {{"timeout", 60000}}},
            {"Addr 0", "[Main]\nAddr=0\n", {}},
            {"Addr 300", "[Main]\nAddr=300\n", {{"address", 247}}},
            {"Addr 0x10", "[Main]\nAddr=0x10\n", {{"address", 16}}},
            {"Addr not a number", "[Main]\nAddr=12a\n", {}},
            {"PauseGroup -5", "[Main]\nPauseGroup=-5\nTimeoutShort=0X64\n", {{"timeoutShort", 100}}},
            {"FloatPix 2", "[Main]\nFloatPix=2\n", {{"floatPix", true}}},
            {"FloatPix no integer", "[Main]\nFloatPix=yes\n", {}},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << (r.settings ? QByteArray(r.settings) : QByteArray())
                                  << r.changed;
    }
    void load()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QVariantMap, changed);
        QVariantMap expected{{"port", QString()},       {"speed", 0},
                             {"power", TSetupForm::noPowerPortText()},
                             {"address", 1},            {"timeout", 3000},
                             {"timeoutShort", 300},     {"pause", 0},
                             {"floatPix", false},       {"serviceMode", 0}};
        expected.insert(changed);
        start(settings, {3, 7});

        QCOMPARE(selected(portCombo()), expected["port"].toString());
        QCOMPARE(setup()->speedComboBox()->currentIndex(), expected["speed"].toInt());
        QCOMPARE(selected(setup()->portPowerComboBox()), expected["power"].toString());
        QCOMPARE(child<ZSpinEdit>("AddrSpinEdit")->value(), expected["address"].toInt());
        QCOMPARE(form()->busAddress(), expected["address"].toInt());
        QCOMPARE(setup()->timeoutMs(), expected["timeout"].toInt());
        QCOMPARE(setup()->timeoutShortMs(), expected["timeoutShort"].toInt());
        QCOMPARE(setup()->pauseGroupMs(), expected["pause"].toInt());
        QCOMPARE(setup()->floatPix(), expected["floatPix"].toBool());
        QCOMPARE(form()->ServiceMode, expected["serviceMode"].toInt());
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
        QTest::newRow("ServiceMode never written: kept") << QByteArray("[Options]\nServiceMode=5\n")
                                                         << QStringList{"ServiceMode=5"};
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
        makeWindows("[Setup]\nComPort=3\n", {3});
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
