// Start-up: the command line, the five windows, and the simulated sensor of
// --demo selected as the data port and answering over its pseudo-terminal.

#include "AppTestSupport.h"

#include "app/SearchDialog.h"
#include "app/SettingsDialog.h"
#include "app/DumpViewer.h"
#include "app/TextViewer.h"
#include "app/ZartSession.h"

#include "sim/SimSensor.h"

#include <QComboBox>

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { ScopedSettingsFile::remove(); }
    void cleanup() { ScopedSettingsFile::remove(); }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("sensors"); // on the demo line
        QTest::addColumn<bool>("collide");
        auto row = [](const char *name, const QStringList &args, bool ok, bool demo = false,
                      const QString &port = QString(), int sensors = 1, bool collide = false) {
            QTest::newRow(name) << args << ok << demo << port << sensors << collide;
        };
        row("nothing", {"zart"}, true);
        row("demo", {"zart", "--demo"}, true, true);
        row("port", {"zart", "--port", "/dev/ttyUSB0"}, true, false, "/dev/ttyUSB0");
        row("port with =", {"zart", "--port=/dev/ttyS1", "--demo"}, true, true, "/dev/ttyS1");
        row("port without a path", {"zart", "--port"}, false);
        row("unknown option", {"zart", "--fast"}, false);
        row("stray argument", {"zart", "COM3"}, false);
        row("demo line", {"zart", "--demo", "--demo-sensors", "3"}, true, true, "", 3);
        row("five, two at address 1", {"zart", "--demo", "--demo-sensors=5", "--demo-collide"}, true, true, "",
            5, true);
        row("sensors without demo", {"zart", "--demo-sensors", "3"}, false);
        row("collide with one sensor", {"zart", "--demo", "--demo-collide"}, false);
        row("no sensors", {"zart", "--demo", "--demo-sensors", "0"}, false);
        row("sensors not a number", {"zart", "--demo", "--demo-sensors", "x"}, false);
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, ok);
        QFETCH(bool, demo);
        QFETCH(QString, port);
        QFETCH(int, sensors);
        QFETCH(bool, collide);
        StartOptions options;
        QString error;
        QCOMPARE(parseStartOptions(arguments, options, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (ok) {
            QCOMPARE(options.demo, demo);
            QCOMPARE(options.port, port);
            QCOMPARE(options.demoLine.sensors, sensors);
            QCOMPARE(options.demoLine.collide, collide);
        }
    }

    void powerPortOption()
    {
        StartOptions options;
        QVERIFY(parseStartOptions({"zart", "--power-port", "/dev/serial/by-id/usb-x", "--demo"},
                                  options, nullptr));
        QCOMPARE(options.powerPort, QStringLiteral("/dev/serial/by-id/usb-x"));
        QVERIFY(!parseStartOptions({"zart", "--power-port"}, options, nullptr));
    }

    void windowsCreatedHidden()
    {
        ScopedPorts ports;
        ZartSession session;
        QVERIFY(session.start({}, nullptr));
        const ZartWindows &w = session.windows();
        QVERIFY(w.mainWindow && w.dumpViewer && w.textViewer && w.searchDialog && w.settingsDialog);
        w.mainWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.mainWindow.get()));
        QTRY_VERIFY(w.mainWindow->formActivated());
        for (QWidget *secondary : {static_cast<QWidget *>(w.dumpViewer),
                                   static_cast<QWidget *>(w.textViewer),
                                   static_cast<QWidget *>(w.searchDialog),
                                   static_cast<QWidget *>(w.settingsDialog)}) {
            QVERIFY(!secondary->isVisible());
            QCOMPARE(secondary->parentWidget(), w.mainWindow.get());
        }
    }

    void demoSensorIsTheDataPort_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("portExists");
        QTest::newRow("--demo") << QString() << true;
        QTest::newRow("--demo with --port") << QStringLiteral("/dev/null") << true;
        QTest::newRow("--demo with a --port that names nothing")
            << QStringLiteral("/nonexistent-zart-dir/ttyS9") << false;
    }
    void demoSensorIsTheDataPort()
    {
        QFETCH(QString, port);
        QFETCH(bool, portExists);
        ScopedPorts ports({ScopedPorts::com(3)});
        ScopedSettingsFile settings(QByteArray("[Setup]\nComPort=3\n"));
        ZartSession session;
        QString error;
        QVERIFY2(session.start({true, port, {}, {}}, &error), qPrintable(error));
        const QString pty = session.demoDevicePath();
        QVERIFY(pty.startsWith(QStringLiteral("/dev/")));
        MainWindow *form = session.mainWindow();
        form->FormActivate();
        QCOMPARE(form->ServiceMode, 2); // the demo shows the service tab

        const QString chosen = port.isEmpty() ? pty : port;
        auto *combo = form->findChild<QComboBox *>(QStringLiteral("PortComboBox"));
        QCOMPARE(combo->currentText(), chosen);
        QVERIFY(combo->findText(pty) >= 0);
        // The first line names the settings file: here the build tree's, beside the executable.
        QCOMPARE(logLines(form).mid(0, 2),
                 (QList<LogLine>{{QStringLiteral("Файл настроек: %1").arg(ScopedSettingsFile::path()), Black},
                                 portExists ? LogLine{QStringLiteral("Установлен порт %1").arg(chosen), Black}
                                            : LogLine{QStringLiteral("Порт %1 не существует").arg(chosen), Red}}));
        if (!port.isEmpty())
            return;

        // A request over the data link reaches the simulated sensor and its reply comes back.
        SimSensor *sensor = session.demoSensor();
        sensor->setSerial(0x0A1B2C3D);
        ModbusMaster &engine = form->engine();
        const quint8 readSerial[] = {0x04, 0x00, 0x05, 0x00, 0x02};
        std::copy(std::begin(readSerial), std::end(readSerial), engine.RequestBuf.begin());
        engine.Transact(engine.RequestBuf.data(), 5, 1000, false, true);
        QCOMPARE(engine.ReplyLen, 6);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(engine.ReplyBuf.data()) + 2, 4),
                 QByteArray::fromHex("0A1B2C3D"));
        QCOMPARE(sensor->requestCount(), 1);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_Startup.moc"
