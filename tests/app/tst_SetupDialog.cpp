// The settings dialog: OK keeps and applies what the user picked, Cancel (the
// button, the close box, Escape) restores what the dialog showed; the power
// port list is refilled each time it is opened.

#include "AppTestSupport.h"

#include "app/ZSpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

class TestSetupDialog : public QObject, public FakeLinkWindows
{
    Q_OBJECT

private:
    template <typename T> T *control(const char *name) const
    {
        return setup()->findChild<T *>(QLatin1String(name));
    }
    void start(const QByteArray &settings, const QList<int> &comPorts)
    {
        makeWindows(settings, comPorts);
        form()->FormActivate();
    }
    QString powerText() const
    {
        QComboBox *c = setup()->portPowerComboBox();
        return c->currentIndex() >= 0 ? c->currentText() : QString();
    }

    // The user's editing while the dialog is shown: "S+"/"S-" move the speed
    // list one entry down/up, "P+"/"P-" the power list, "T<n>" types n into
    // "Измерений", "U<n>" into "Остальное", "G<n>" into "Пауза", "F" clicks the
    // check box, "s<n>" makes the program select speed n.
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
            else if (a == u"F")
                QTest::mouseClick(setup()->floatPixCheckBox(), Qt::LeftButton, {},
                                  QPoint(8, setup()->floatPixCheckBox()->height() / 2));
            else if (a.startsWith(u's'))
                setup()->speedComboBox()->setCurrentIndex(arg.toInt());
            else
                QFAIL(qPrintable("unknown action " + a));
        }
    }
    static void type(ZSpinEdit *spin, const QString &text)
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

    void cancelRestoresEverything_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Отмена") << "cancel";
        QTest::newRow("close box") << "close box";
        QTest::newRow("Escape") << "escape";
    }
    void cancelRestoresEverything()
    {
        QFETCH(QString, how);
        start("[Setup]\nPowerComPort=3\nSpeedComPort=1\n[Main]\nTimeout=2000\nTimeoutShort=200\n"
              "PauseGroup=10\n",
              {3, 7});
        const auto lines = logLines(form()).size();
        runDialog([&] { edit({"S+", "P+", "T4500", "U900", "G70", "F"});
                        // the edits did reach the controls before the dialog ends
                        QCOMPARE(setup()->speedComboBox()->currentIndex(), 2);
                        QCOMPARE(setup()->timeoutMs(), 4500);
                        QCOMPARE(setup()->floatPix(), true);
                        QVERIFY(setup()->SpeedChanged && setup()->PortPowerChanged); },
                  how);
        QCOMPARE(setup()->speedComboBox()->currentIndex(), 1);
        QCOMPARE(powerText(), ScopedPorts::text(3));
        QCOMPARE(setup()->timeoutMs(), 2000);
        QCOMPARE(setup()->timeoutShortMs(), 200);
        QCOMPARE(setup()->pauseGroupMs(), 10);
        QCOMPARE(setup()->floatPix(), false);
        QVERIFY(!setup()->SpeedChanged);
        QVERIFY(!setup()->PortPowerChanged);
        QCOMPARE(newLines(lines), QList<LogLine>());
        QCOMPARE(form()->dataPort().speed(), 57600);
        QCOMPARE(form()->powerPort().GetPortName(), QStringLiteral("COM3"));
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

QTEST_MAIN(TestSetupDialog)
#include "tst_SetupDialog.moc"
