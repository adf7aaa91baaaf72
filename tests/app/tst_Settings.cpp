// The settings file (loaded at the first activation, written at close), the
// start-up log lines, the settings dialog (OK applies, every way of cancelling
// restores), and the data, speed and power port choices turned into calls on
// the two fake links, each with its log line; the supply switch "Сеть".

#include "AppTestSupport.h"

#include "app/SpinEdit.h"
#include "app/ZartPlaces.h"
#include "common/TestFiles.h"
#include "common/ZartError.h"
#include "serial/PortAccess.h"
#include "serial/SerialLink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <unistd.h>

namespace {
const QString kFastReplyLine = QStringLiteral("Быстрый приём: конец ответа по длине кадра");
}

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
    // The same, with the window shown.
    void startShown(const QByteArray &settings, const QList<int> &comPorts)
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
        return SerialLinkError::composeText(ComExceptionText(code), error);
    }
    template <typename T> T *control(const char *name) const
    {
        return setup()->findChild<T *>(QLatin1String(name));
    }
    QString powerText() const { return selected(setup()->portPowerComboBox()); }

    // The user's editing while the dialog is shown: "S+"/"S-" move the speed
    // list one entry down/up, "P+"/"P-" the power list, "T<n>" types n into
    // "Измерений", "U<n>" into "Остальное", "G<n>" into "Пауза", "F", "Q" and
    // "A" click the check boxes, "s<n>" makes the program select speed n.
    void edit(const QStringList &actions)
    {
        for (const QString &a : actions) {
            const QString arg = a.mid(1);
            if (a == u"S+" || a == u"S-")
                QTest::keyClick(setup()->speedComboBox(), a == u"S+" ? Qt::Key_Down : Qt::Key_Up);
            else if (a == u"P+" || a == u"P-")
                QTest::keyClick(setup()->portPowerComboBox(), a == u"P+" ? Qt::Key_Down : Qt::Key_Up);
            else if (a.startsWith(u'T'))
                type(setup()->timeoutSpinEdit(), arg);
            else if (a.startsWith(u'U'))
                type(setup()->timeoutShortSpinEdit(), arg);
            else if (a.startsWith(u'G'))
                type(setup()->pauseGroupSpinEdit(), arg);
            else if (a == u"F" || a == u"Q")
                clickBox(a == u"F" ? setup()->floatPixCheckBox() : setup()->fastReplyCheckBox());
            else if (a == u"A")
                clickBox(setup()->asFoundCheckBox());
            else if (a.startsWith(u's'))
                setup()->speedComboBox()->setCurrentIndex(arg.toInt());
            else
                QFAIL(qPrintable("unknown action " + a));
        }
    }
    static void clickBox(QCheckBox *box)
    {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }
    static void type(SpinEdit *spin, const QString &text)
    {
        spin->selectAll();
        QTest::keyClicks(spin, text);
        QTest::keyClick(spin, Qt::Key_Tab); // the focus moves on
    }
    // Ends the dialog the way the user would.
    void finish(QDialog &dialog, const QString &how)
    {
        if (how == u"ok")
            QTest::mouseClick(control<QPushButton>("OkButton"), Qt::LeftButton);
        else if (how == u"cancel")
            QTest::mouseClick(control<QPushButton>("CancelButton"), Qt::LeftButton);
        else if (how == u"close box")
            dialog.close();
        else if (how == u"escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else if (how == u"signal")
            form()->closeOnSignal();
    }
    // Opens the dialog from the menu, lets during() act on it, ends it with how.
    void runDialog(const std::function<void()> &during, const QString &how)
    {
        ScopedModalRunner runner([&](QDialog &dialog) {
            dialog.show();
            if (!QTest::qWaitForWindowExposed(&dialog))
                return int(QDialog::Rejected);
            during();
            finish(dialog, how);
            return dialog.result();
        });
        form()->SetupMenuClick();
        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(runner.dialogs[0].title, QStringLiteral("Настройки"));
        QVERIFY(!setup()->isVisible());
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
            {"FastReply 1", "[Main]\nFastReply=1\n", {{"fastReply", true}}},
            {"FastReply no integer", "[Main]\nFastReply=on\n", {}},
            {"Retries 3", "[Main]\nRetries=3\n", {{"retries", 3}}},
            {"Retries 99", "[Main]\nRetries=99\n", {{"retries", 10}}},
            {"Retries -1", "[Main]\nRetries=-1\n", {}},
            {"BlockRead 99", "[Main]\nBlockRead=99\n", {{"blockRead", 62}}},
            {"AsFound 1", "[Record]\nAsFound=1\n", {{"asFound", true}}},
            {"AsFound in [Main]", "[Main]\nAsFound=1\n", {}},
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
                             {"power", SettingsDialog::noPowerPortText()},
                             {"address", 1},            {"timeout", 3000},
                             {"timeoutShort", 300},     {"pause", 0},
                             {"floatPix", false},       {"fastReply", false},
                             {"serviceMode", 0},        {"retries", 0},
                             {"asFound", false},        {"blockRead", 0}};
        expected.insert(changed);
        start(settings, {3, 7});

        QCOMPARE(selected(portCombo()), expected["port"].toString());
        QCOMPARE(setup()->speedComboBox()->currentIndex(), expected["speed"].toInt());
        QCOMPARE(selected(setup()->portPowerComboBox()), expected["power"].toString());
        QCOMPARE(child<SpinEdit>("AddrSpinEdit")->value(), expected["address"].toInt());
        QCOMPARE(form()->busAddress(), expected["address"].toInt());
        QCOMPARE(setup()->timeoutMs(), expected["timeout"].toInt());
        QCOMPARE(setup()->timeoutShortMs(), expected["timeoutShort"].toInt());
        QCOMPARE(setup()->pauseGroupMs(), expected["pause"].toInt());
        QCOMPARE(setup()->floatPix(), expected["floatPix"].toBool());
        QCOMPARE(setup()->fastReply(), expected["fastReply"].toBool());
        QCOMPARE(form()->dataPort().FastReply, expected["fastReply"].toBool());
        QCOMPARE(logLines(form()).contains(LogLine{kFastReplyLine, Black}), expected["fastReply"].toBool());
        QCOMPARE(form()->ServiceMode, expected["serviceMode"].toInt());
        QCOMPARE(setup()->retries(), expected["retries"].toInt());
        QCOMPARE(setup()->asFound(), expected["asFound"].toBool());
        QCOMPARE(setup()->blockRead(), expected["blockRead"].toInt());
    }

    // The first exit writes every key but "ServiceMode", in order.
    void firstExitWritesEveryKey()
    {
        start(QByteArray());
        form()->close();
        QCOMPARE(ScopedSettingsFile::lines(),
                 (QStringList{"[Setup]", "ComPort=0", "SpeedComPort=0", "PowerComPort=0", "[Main]",
                              "Addr=1", "Timeout=3000", "TimeoutShort=300", "PauseGroup=0",
                              "FloatPix=0", "FastReply=0", "Retries=0", "BlockRead=0", "[Record]",
                              "AsFound=0", "Database="}));
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
        QTest::newRow("clamped values")
            << QByteArray("[Main]\nAddr=300\nTimeout=0\nFloatPix=2\nFastReply=2\n")
            << QStringList{"Addr=247", "Timeout=1", "FloatPix=1", "FastReply=1"};
        QTest::newRow("AsFound kept") << QByteArray("[Record]\nAsFound=1\n") << QStringList{"AsFound=1"};
        QTest::newRow("Database kept") << QByteArray("[Record]\nDatabase=postgresql://bench@db/zart\n")
                                       << QStringList{"Database=postgresql://bench@db/zart"};
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

    // A settings file that cannot be written: the first close is refused with
    // the report and the window stays; the next close, or a close asked for
    // by a signal (without a report, even while one is shown), ends without
    // the settings after a red line. A file that has become writable meanwhile
    // is saved at the second close.
    void unwritableSettingsAtClose_data()
    {
        QTest::addColumn<QStringList>("closes"); // "close", "signal", "close, signal in the report"
        QTest::addColumn<bool>("fixedBetween");  // the file made writable after the first close
        QTest::addColumn<int>("reports");
        QTest::newRow("second close ends") << QStringList{"close", "close"} << false << 1;
        QTest::newRow("second close saves a writable file") << QStringList{"close", "close"} << true << 1;
        QTest::newRow("signal: no report") << QStringList{"signal"} << false << 0;
        QTest::newRow("signal while the report is shown")
            << QStringList{"close, signal in the report"} << false << 1;
        QTest::newRow("signal after a refused close") << QStringList{"close", "signal"} << false << 1;
    }
    void unwritableSettingsAtClose()
    {
        QFETCH(QStringList, closes);
        QFETCH(bool, fixedBetween);
        QFETCH(int, reports);
        start(QByteArray());
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        // A directory in the place of the file: no key can be written.
        QVERIFY(QDir().mkpath(ScopedSettingsFile::path()));
        const QString failure = QStringLiteral("Unable to write to %1")
                                    .arg(QDir::toNativeSeparators(ScopedSettingsFile::path()));
        bool signalInReport = false;
        ScopedModalRunner runner([&](QDialog &) {
            if (signalInReport)
                form()->closeOnSignal();
            return int(QMessageBox::Ok);
        });
        const auto lines = logLines(form()).size();
        for (int i = 0; i < closes.size(); ++i) {
            QVERIFY2(form()->isVisible(), "closed too early");
            if (i == 1 && fixedBetween)
                ScopedSettingsFile::remove();
            signalInReport = closes[i].contains(QStringLiteral("in the report"));
            if (closes[i] == u"signal")
                form()->closeOnSignal();
            else
                form()->close();
            if (i == 0 && closes.size() > 1) { // refused: the report, the window open
                QVERIFY(form()->isVisible());
                QCOMPARE(newLines(lines), QList<LogLine>());
            }
        }
        QVERIFY(!form()->isVisible());
        QCOMPARE(runner.dialogs.size(), reports);
        if (reports > 0) {
            QCOMPARE(runner.dialogs[0].text, failure + u'.');
            QCOMPARE(runner.dialogs[0].icon, int(QMessageBox::Critical));
        }
        if (fixedBetween) {
            QCOMPARE(newLines(lines), QList<LogLine>());
            QVERIFY(ScopedSettingsFile::lines().contains(QStringLiteral("TimeoutShort=300")));
        } else {
            QCOMPARE(newLines(lines),
                     (QList<LogLine>{{QStringLiteral("Настройки не сохранены: ") + failure, Red}}));
        }
    }

    // A settings file that cannot be written keeps every byte it had: no key
    // is written when one cannot be.
    void failedSaveWritesNothing_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::newRow("read-only file") << "read-only file";
        QTest::newRow("read-only folder") << "read-only folder";
        // The first key fits (the port is forgotten, its line grows shorter),
        // the keys after it would not.
        QTest::newRow("no room for the later keys") << "size limit";
    }
    void failedSaveWritesNothing()
    {
        QFETCH(QString, blocker);
        if (blocker.startsWith(u"read-only") && ::geteuid() == 0)
            QSKIP("permissions do not stop root");
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("zart-configurator.ini"));
        const QByteArray before = "; by hand\r\n[Setup]\r\nComPort=12345\r\n[Options]\r\nServiceMode=2\r\n";
        QVERIFY(testfiles::writeBytes(file, before));
        makeWindows(QByteArray());
        form()->setPlaces({file, tmp.path()});
        form()->FormActivate();

        const QFile::Permissions rw = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QString failure;
        {
            std::unique_ptr<testfiles::FileSizeLimit> limit;
            if (blocker == u"read-only file")
                QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
            else if (blocker == u"read-only folder")
                QVERIFY(QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::ExeOwner));
            else
                limit = std::make_unique<testfiles::FileSizeLimit>(before.size() + 4);
            try {
                form()->SaveSettings();
            } catch (const ZartError &e) {
                failure = e.text();
            }
        }
        QVERIFY(QFile::setPermissions(tmp.path(), rw));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(failure, QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(file)));
        QFile stored(file);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), before);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("zart-configurator.ini")});
    }

    // Where the files go: everything beside an executable whose directory is
    // writable, or whose settings file is already there; otherwise the user's
    // configuration and documents folders.
    void places_data()
    {
        QTest::addColumn<bool>("exeDirWritable");
        QTest::addColumn<bool>("settingsBeside");
        QTest::addColumn<bool>("userFolders");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("data");
        const QString beside = QStringLiteral("bin/zart-configurator.ini");
        const QString config = QStringLiteral("config/zart-configurator/zart-configurator.ini");
        const QString documents = QStringLiteral("documents/zart-configurator");
        QTest::newRow("build tree") << true << false << true << beside << "bin";
        QTest::newRow("installed") << false << false << true << config << documents;
        QTest::newRow("installed, settings beside") << false << true << true << beside << documents;
        QTest::newRow("no user folders") << false << false << false << beside << "bin";
    }
    void places()
    {
        QFETCH(bool, exeDirWritable);
        QFETCH(bool, settingsBeside);
        QFETCH(bool, userFolders);
        QFETCH(QString, settings);
        QFETCH(QString, data);
        QTemporaryDir tmp;
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("bin")));
        if (settingsBeside) {
            QFile file(tmp.filePath(QStringLiteral("bin/zart-configurator.ini")));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const ZartPlaces places = ChoosePlaces(
            tmp.filePath(QStringLiteral("bin/zart-configurator")), exeDirWritable,
            userFolders ? tmp.filePath(QStringLiteral("config")) : QString(),
            userFolders ? tmp.filePath(QStringLiteral("documents")) : QString());
        QCOMPARE(places.settingsFile, tmp.filePath(settings));
        QCOMPARE(places.dataDir, tmp.filePath(data));
    }

    // The settings folder is made at start; one that cannot be is named.
    void settingsPlaceIsPrepared()
    {
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("config/zart-configurator/zart-configurator.ini"));
        QCOMPARE(PrepareSettingsPlace(file), QString());
        QVERIFY(QFileInfo(file).dir().exists());
        // A file where the folder should be (as a read-only home would refuse it).
        QFile blocker(tmp.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QCOMPARE(PrepareSettingsPlace(tmp.filePath(QStringLiteral("blocked/zart/zart.ini"))),
                 tmp.filePath(QStringLiteral("blocked/zart")));
    }

    // The window reads and writes the settings file it is given, not the one
    // beside the executable.
    void handedDownSettingsFile()
    {
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("zart-configurator.ini"));
        QFile stored(file);
        QVERIFY(stored.open(QIODevice::WriteOnly));
        stored.write("[Main]\nAddr=9\n");
        stored.close();
        makeWindows(QByteArray());
        form()->setPlaces({file, tmp.path()});
        form()->FormActivate();
        QCOMPARE(form()->busAddress(), 9);
        form()->close();
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll().contains("TimeoutShort=300"));
        QVERIFY(!QFile::exists(ScopedSettingsFile::path()));
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
        QCOMPARE(m_data->calls + m_power->calls, QStringList());
    }

    // With no speed selected nothing is applied: the link stays at 9600, no line.
    void noSpeedAppliesNothing()
    {
        start(QByteArray("[Setup]\nSpeedComPort=7\n"));
        QCOMPARE(form()->dataPort().speed(), 9600);
        for (const LogLine &line : logLines(form()))
            QVERIFY(!line.text.contains(QStringLiteral("скорость")));
    }

    // A port given on the command line is listed (unless the enumeration lists
    // it already), wins over the stored one for this run, and the stored one is
    // written back unless the user picks another port from the list.
    void commandLinePorts_data()
    {
        QTest::addColumn<bool>("power"); // --power-port, else --port
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("pick");   // index the user picks afterwards; -1 none
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("portName");
        QTest::addColumn<QString>("written");

        QTest::newRow("pty") << false << "/dev/pts/77" << -1 << "/dev/pts/77" << "/dev/pts/77"
                             << "ComPort=3";
        QTest::newRow("path with a blank") << false << "/tmp/my dir/pty" << -1 << "/tmp/my dir/pty"
                                           << "/tmp/my dir/pty" << "ComPort=3";
        QTest::newRow("listed device selects its entry")
            << false << "/dev/ttyS6" << -1 << ScopedPorts::text(7) << "COM7" << "ComPort=3";
        QTest::newRow("user picks another port") << false << "/dev/pts/77" << 1 << ScopedPorts::text(7)
                                                 << "COM7" << "ComPort=7";
        QTest::newRow("user picks the path again") << false << "/dev/pts/77" << 2 << "/dev/pts/77"
                                                   << "/dev/pts/77" << "ComPort=3";
        QTest::newRow("power: by-id link")
            << true << "/dev/serial/by-id/usb-FTDI_x-if00" << -1 << "/dev/serial/by-id/usb-FTDI_x-if00"
            << "/dev/serial/by-id/usb-FTDI_x-if00" << "PowerComPort=3";
        QTest::newRow("power: listed device") << true << "/dev/ttyS6" << -1 << ScopedPorts::text(7)
                                              << "COM7" << "PowerComPort=3";
        QTest::newRow("power: user picks Отключен") << true << "/dev/pts/5" << 0 << "Отключен" << ""
                                                    << "PowerComPort=0";
    }
    void commandLinePorts()
    {
        QFETCH(bool, power);
        QFETCH(QString, path);
        QFETCH(int, pick);
        QFETCH(QString, shown);
        QFETCH(QString, portName);
        QFETCH(QString, written);

        makeWindows("[Setup]\nComPort=3\nPowerComPort=3\n", {3, 7});
        if (power) {
            form()->setPreferredPowerPort(path);
        } else {
            form()->setExtraPortPaths({path});
            form()->setPreferredPort(path);
        }
        form()->FormActivate();
        QComboBox *combo = power ? setup()->portPowerComboBox() : portCombo();
        // A device the enumeration lists gets no entry of its own.
        QCOMPARE(combo->findText(path) < 0, path == QStringLiteral("/dev/ttyS6"));
        if (pick >= 0) {
            if (power) {
                pickPowerPort(pick);
            } else {
                combo->setCurrentIndex(pick);
                Q_EMIT combo->activated(pick);
            }
        }
        QCOMPARE(selected(combo), shown);
        if (!portName.isEmpty()) {
            SerialLink &link = power ? form()->powerPort() : form()->dataPort();
            QCOMPARE(link.GetPortName(), portName);
            // The exchange goes to the port chosen, blanks and all.
            if (!power)
                openDataLink();
            else
                link.SetPower(true);
            const QString device = portName.startsWith(u'/') ? portName : QStringLiteral("/dev/ttyS6");
            QCOMPARE((power ? m_power : m_data)->path, device);
        }
        form()->close();
        QVERIFY2(ScopedSettingsFile::lines().contains(written), qPrintable(ScopedSettingsFile::lines().join(u' ')));
    }

    // Refilling the list on opening keeps the command line's path listed.
    void commandLinePathStaysListed()
    {
        makeWindows("[Setup]\nComPort=3\n", {3});
        form()->setExtraPortPaths({QStringLiteral("/dev/pts/77")});
        form()->setPreferredPort(QStringLiteral("/dev/pts/77"));
        form()->FormActivate();
        QCOMPARE(logLines(form()).first(), (LogLine{QStringLiteral("Порт /dev/pts/77 не существует"), Red}));
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
        startShown("[Setup]\nComPort=3\n", {3, 7});
        if (linkOpen)
            openDataLink();
        m_data->openResult = reopenFails ? ISerialDevice::OpenResult::OpenFailed : ISerialDevice::OpenResult::Ok;
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
        startShown("[Setup]\nComPort=7\n", {3, 7});
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
        startShown("[Setup]\nComPort=3\n", {3});
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
        startShown("[Setup]\nPowerComPort=3\n", {3, 7});
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
        QTest::newRow("COM7") << 2 << false << QStringList{"close", "open /dev/ttyS6 9600"} << true
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
        startShown("[Setup]\nPowerComPort=3\n", {3, 7});
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        m_power->calls.clear();
        m_power->openResult = failOpen ? ISerialDevice::OpenResult::OpenFailed : ISerialDevice::OpenResult::Ok;
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
        startShown("[Setup]\nPowerComPort=3\n", {3});
        m_power->openResult = ISerialDevice::OpenResult::OpenFailed;
        m_power->failError = ENOENT;
        ScopedModalRunner runner(QMessageBox::Ok);
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QVERIFY(powerButton()->isChecked());
        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(runner.dialogs[0].text,
                 comFailure(TComExceptions::CE_OpenFailed, ENOENT) + QStringLiteral(": /dev/ttyS2: no such file or directory."));
        QCOMPARE(runner.dialogs[0].icon, int(QMessageBox::Critical));
        // The next click fails on DTR of the port that is not open.
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QVERIFY(!powerButton()->isChecked());
        QCOMPARE(runner.dialogs.size(), 2);
        QCOMPARE(runner.dialogs[1].text,
                 comFailure(TComExceptions::CE_EscapeComFailed, EBADF));
        QVERIFY(form()->isVisible());
    }

    // A supply port the user may not open: the advice follows in the log.
    void deniedPowerPortIsExplained()
    {
        startShown("[Setup]\nPowerComPort=3\n", {3});
        m_power->openResult = ISerialDevice::OpenResult::OpenFailed;
        m_power->failError = EACCES;
        ScopedModalRunner runner(QMessageBox::Ok);
        const qsizetype before = logLines(form()).size();
        QTest::mouseClick(powerButton(), Qt::LeftButton);
        QCOMPARE(runner.dialogs.size(), 1);
        QVERIFY2(runner.dialogs[0].text.startsWith(QStringLiteral("Unable to open com port (Error: 13)")),
                 qPrintable(runner.dialogs[0].text));
        // The advice follows where the device calls for it (the core's rule on this system's device).
        const QString device = runner.dialogs[0].text.section(QStringLiteral(": "), 1, 1);
        const QString hint =
            PortAccessHint(SerialLinkError(TComExceptions::CE_OpenFailed, EACCES, QString(), QString(), device));
        QCOMPARE(newLines(before), hint.isEmpty() ? QList<LogLine>{} : (QList<LogLine>{{hint, Red}}));
    }


    void cancelRestoresEverything_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Отмена") << "cancel";
        QTest::newRow("close box") << "close box";
        QTest::newRow("Escape") << "escape";
        // SIGTERM while the dialog is open: cancelled as well, and the values
        // it had when opened are the ones the closing window saves.
        QTest::newRow("signal") << "signal";
    }
    void cancelRestoresEverything()
    {
        QFETCH(QString, how);
        start("[Setup]\nPowerComPort=3\nSpeedComPort=1\n[Main]\nTimeout=2000\nTimeoutShort=200\n"
              "PauseGroup=10\n",
              {3, 7});
        const auto lines = logLines(form()).size();
        runDialog([&] { edit({"S+", "P+", "T4500", "U900", "G70", "F", "Q", "A"});
                        // the edits did reach the controls before the dialog ends
                        QCOMPARE(setup()->speedComboBox()->currentIndex(), 2);
                        QCOMPARE(setup()->timeoutMs(), 4500);
                        QCOMPARE(setup()->floatPix(), true);
                        QCOMPARE(setup()->fastReply(), true);
                        QCOMPARE(setup()->asFound(), true);
                        QVERIFY(setup()->SpeedChanged && setup()->PortPowerChanged); },
                  how);
        QCOMPARE(setup()->speedComboBox()->currentIndex(), 1);
        QCOMPARE(powerText(), ScopedPorts::text(3));
        QCOMPARE(setup()->timeoutMs(), 2000);
        QCOMPARE(setup()->timeoutShortMs(), 200);
        QCOMPARE(setup()->pauseGroupMs(), 10);
        QCOMPARE(setup()->floatPix(), false);
        QCOMPARE(setup()->fastReply(), false);
        QCOMPARE(setup()->asFound(), false);
        QVERIFY(!form()->dataPort().FastReply);
        QVERIFY(!setup()->SpeedChanged);
        QVERIFY(!setup()->PortPowerChanged);
        QCOMPARE(newLines(lines), QList<LogLine>());
        QCOMPARE(form()->dataPort().speed(), 57600);
        QCOMPARE(form()->powerPort().GetPortName(), QStringLiteral("COM3"));
        if (how == u"signal") {
            const QStringList saved = ScopedSettingsFile::lines();
            for (const char *line : {"SpeedComPort=1", "PowerComPort=3", "Timeout=2000", "TimeoutShort=200",
                                     "PauseGroup=10", "FloatPix=0", "FastReply=0"})
                QVERIFY2(saved.contains(QLatin1String(line)), qPrintable(saved.join(u' ')));
        }
    }

    void okAppliesWhatWasPicked_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QList<LogLine>>("applied");
        QTest::addColumn<int>("speed");
        QTest::newRow("nothing") << QStringList{} << QList<LogLine>{} << 9600;
        QTest::newRow("timeouts only") << QStringList{"T4500", "U100"} << QList<LogLine>{} << 9600;
        QTest::newRow("another speed")
            << QStringList{"S+"} << QList<LogLine>{{"Установлена скорость 57600", Black}} << 57600;
        QTest::newRow("another speed and back")
            << QStringList{"S+", "S-"} << QList<LogLine>{{"Установлена скорость 9600", Black}}
            << 9600;
        QTest::newRow("speed set by the program") << QStringList{"s2"} << QList<LogLine>{} << 9600;
        QTest::newRow("power port off")
            << QStringList{"P-"} << QList<LogLine>{{"Порт питания не используется", Black}} << 9600;
        QTest::newRow("fast reply on")
            << QStringList{"Q"} << QList<LogLine>{{kFastReplyLine, Black}} << 9600;
        QTest::newRow("fast reply on and off again") << QStringList{"Q", "Q"} << QList<LogLine>{} << 9600;
        QTest::newRow("power port, then speed")
            << QStringList{"S+", "P+"}
            << QList<LogLine>{{"Установлен порт питания COM7", Black},
                              {"Установлена скорость 57600", Black}}
            << 57600;
    }
    void okAppliesWhatWasPicked()
    {
        QFETCH(QStringList, actions);
        QFETCH(QList<LogLine>, applied);
        QFETCH(int, speed);
        start("[Setup]\nPowerComPort=3\n", {3, 7});
        const auto lines = logLines(form()).size();
        runDialog([&] { edit(actions); }, QStringLiteral("ok"));
        QCOMPARE(newLines(lines), applied);
        QCOMPARE(form()->dataPort().speed(), speed);
        if (actions.contains(QStringLiteral("T4500")))
            QCOMPARE(setup()->timeoutMs(), 4500);
        QCOMPARE(form()->dataPort().FastReply, actions.count(QStringLiteral("Q")) % 2 == 1);
    }

    void powerListRefilledWhenOpened_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QList<int>>("portsLater");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("selected");     // after opening the list
        QTest::addColumn<QString>("afterCancel");  // same position in the refilled list
        QTest::newRow("selection kept by text")
            << QByteArray("[Setup]\nPowerComPort=7\n") << QList<int>{2, 3, 7}
            << QStringList{"Отключен", ScopedPorts::text(2), ScopedPorts::text(3), ScopedPorts::text(7)}
            << ScopedPorts::text(7) << ScopedPorts::text(3);
        QTest::newRow("selected port gone")
            << QByteArray("[Setup]\nPowerComPort=7\n") << QList<int>{3}
            << QStringList{"Отключен", ScopedPorts::text(3)} << QString() << QString();
        QTest::newRow("Отключен stays")
            << QByteArray() << QList<int>{5} << QStringList{"Отключен", ScopedPorts::text(5)}
            << "Отключен" << "Отключен";
    }
    void powerListRefilledWhenOpened()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QList<int>, portsLater);
        QFETCH(QStringList, entries);
        QFETCH(QString, selected);
        QFETCH(QString, afterCancel);
        start(settings, {3, 7});
        const auto lines = logLines(form()).size();
        runDialog(
            [&] {
                setPorts(portsLater);
                DropDownComboBox *power = setup()->portPowerComboBox();
                power->showPopup();
                power->hidePopup();
                QStringList texts;
                for (int i = 0; i < power->count(); ++i)
                    texts << power->itemText(i);
                QCOMPARE(texts, entries);
                QCOMPARE(power->itemData(0).toInt(), 0);
                QCOMPARE(powerText(), selected);
                QVERIFY(!setup()->PortPowerChanged); // a refill is no pick
            },
            QStringLiteral("cancel"));
        QCOMPARE(powerText(), afterCancel);
        QCOMPARE(newLines(lines), QList<LogLine>());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_Settings.moc"
