// The bus search from the main window: the search dialog driven through its
// own buttons, the address field, the log, and the other commands being off
// while the search lets window events through.

#include "AppTestUtil.h"
#include "app/SearchDialog.h"

#include <QLabel>
#include <QTimer>

#include <algorithm>

using modbustest::hex;

namespace {

// Search timeout where the sensor has to answer in time (a reply ends 40 ms
// after its last byte), and where nothing answers.
constexpr int kFindTimeoutMs = 100;
constexpr int kQuickFindTimeoutMs = 10;

const QString kStartLine = QStringLiteral("Идёт поиск датчика...");

// How the user leaves the search dialog.
enum class Leave
{
    Start,
    Cancel,
    Escape,
    CloseBox
};

} // namespace

Q_DECLARE_METATYPE(Leave)

class TestSearch : public QObject
{
    Q_OBJECT

private:
    int answerFindDialog(QDialog &dialog, int timeoutMs, Leave leave)
    {
        auto *find = qobject_cast<SearchDialog *>(&dialog);
        if (!find) {
            qWarning("unexpected dialog %s", qPrintable(dialog.objectName()));
            return QDialog::Rejected;
        }
        dialog.show();
        if (timeoutMs > 0)
            find->timeoutSpinEdit()->setValue(timeoutMs);
        switch (leave) {
        case Leave::Start:
            QTest::mouseClick(find->findChild<QPushButton *>("StartButton"), Qt::LeftButton);
            break;
        case Leave::Cancel:
            QTest::mouseClick(find->findChild<QPushButton *>("CancelButton"), Qt::LeftButton);
            break;
        case Leave::Escape:
            QTest::keyClick(&dialog, Qt::Key_Escape);
            break;
        case Leave::CloseBox:
            dialog.close();
            break;
        }
        if (dialog.isVisible()) {
            qWarning("the search dialog stayed open");
            dialog.reject();
            return -1;
        }
        return dialog.result();
    }

    testsim::SensorOnPty m_line;
    std::unique_ptr<SimWindow> m_window;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_line.start(), qPrintable(m_line.errorString())); }

    void init()
    {
        m_line.reset();
        m_window = std::make_unique<SimWindow>(m_line.devicePath());
        QVERIFY(m_window->ready());
    }

    void cleanup() { m_window.reset(); }

    void cleanupTestCase() { m_line.stop(); }

    void findsSensor_data()
    {
        QTest::addColumn<int>("sensorAddress");
        QTest::addColumn<QString>("foundLine");

        QTest::newRow("at 1") << 1 << QStringLiteral("Найден по адресу 1 (0x01)");
        QTest::newRow("at 3") << 3 << QStringLiteral("Найден по адресу 3 (0x03)");
    }

    // While the search runs, window events are handled between its probes; the
    // commands, the address keys M/N and the settings are off meanwhile, so that
    // nothing else uses the link, and they come back when the search ends.
    void findsSensor()
    {
        QFETCH(int, sensorAddress);
        QFETCH(QString, foundLine);

        m_line.sensor.setAddress(quint8(sensorAddress));
        m_window->spin("AddrSpinEdit")->setValue(200);
        bool looked = false, commandsEnabled = true;
        QStringList enabledDuring;
        int addressBeforeM = 0, addressAfterM = 0;
        auto look = [&] { // from the event handling between two probes
            looked = true;
            commandsEnabled = m_window->form()->commandsEnabled();
            for (const char *name :
                 {"FindAddrButton", "ReadIDButton", "PingButton", "ReadCoordButton",
                  "ReadFlashButton", "WriteFlashButton", "LightXButton", "VerButton",
                  "CRCCorrectionButton", "SetAddrButton", "AddrSpinEdit"}) {
                if (m_window->child(QString::fromLatin1(name))->isEnabled())
                    enabledDuring << QString::fromLatin1(name);
            }
            m_window->click("ReadIDButton");
            m_window->click("PingButton");
            addressBeforeM = m_window->spin("AddrSpinEdit")->value();
            QTest::keyClick(m_window->edit("SerialSetEdit"), 'm');
            addressAfterM = m_window->spin("AddrSpinEdit")->value();
        };
        ScopedModalRunner runner([&](QDialog &d) {
            if (sensorAddress > 1) // the first probe finds the sensor at 1: no events between
                QTimer::singleShot(0, m_window->form(), look);
            return answerFindDialog(d, kFindTimeoutMs, Leave::Start);
        });

        m_window->click("FindAddrButton");

        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), sensorAddress);
        QCOMPARE(m_window->log(), QList<LogLine>({{kStartLine, Black}, {foundLine, Green}}));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(m_window->text("SerialEdit"), QString());
        if (sensorAddress > 1) {
            QVERIFY2(looked, "no window events ran during the search");
            QVERIFY(!commandsEnabled);
            QCOMPARE(enabledDuring, QStringList());
            QCOMPARE(addressAfterM, addressBeforeM);
        }
        // Only probes reached the sensor, in order, the last to the sensor's address.
        const QList<SimRequestRecord> seen = m_line.sensor.requestLog();
        QCOMPARE(seen.size(), sensorAddress);
        for (int i = 0; i < seen.size(); ++i)
            QCOMPARE(seen[i].request, requestFrame(i + 1, hex("08 00 00 AA 55")));

        // Everything is back on, and the next command goes to the address found.
        QVERIFY(m_window->form()->commandsEnabled());
        for (const char *name : {"FindAddrButton", "ReadIDButton", "AddrSpinEdit", "LightXButton"})
            QVERIFY2(m_window->child(QString::fromLatin1(name))->isEnabled(), name);
        m_window->click("PingButton");
        QCOMPARE(m_window->text("PingEdit"), QStringLiteral("Ok"));
        QTest::keyClick(m_window->edit("SerialSetEdit"), 'n');
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), qMax(sensorAddress - 1, 1));
    }

    void nothingFoundRestoresAddress()
    {
        m_line.sensor.addFault(SimFault::noReply().onFunction(8).always());
        m_window->spin("AddrSpinEdit")->setValue(42);
        // Watches the address count up: a zero timer runs each time the search
        // lets window events through.
        QList<int> shownDuringSearch;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &watch,
                [&] { shownDuringSearch.append(m_window->spin("AddrSpinEdit")->value()); });
        ScopedModalRunner runner([&](QDialog &d) {
            watch.start(0);
            return answerFindDialog(d, kQuickFindTimeoutMs, Leave::Start);
        });

        m_window->click("FindAddrButton");
        watch.stop();

        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), 42);
        QCOMPARE(m_window->log(), QList<LogLine>({{kStartLine, Black},
                                                  {QStringLiteral("Ничего не найдено!"), Red}}));
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(m_window->form()->commandsEnabled());
        // Between the probes the field showed the probed address, rising to 247.
        QVERIFY(!shownDuringSearch.isEmpty());
        QVERIFY(std::is_sorted(shownDuringSearch.cbegin(), shownDuringSearch.cend()));
        QCOMPARE(shownDuringSearch.first(), 1);
        QVERIFY(shownDuringSearch.last() >= 246);
    }

    // The dialog comes back beside the running search with only "Стоп" usable;
    // "Стоп" ends the search after the probe in flight, the address put back.
    void stopFromTheDialog()
    {
        m_line.sensor.addFault(SimFault::noReply().onFunction(8).always());
        m_window->spin("AddrSpinEdit")->setValue(42);
        SearchDialog *find = m_window->find();
        auto *stop = find->findChild<QPushButton *>(QStringLiteral("StopButton"));
        auto *start = find->findChild<QPushButton *>(QStringLiteral("StartButton"));
        QVERIFY(stop && start);
        bool seenRunning = false;
        int stoppedAt = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &watch, [&] {
            const int shown = m_window->spin("AddrSpinEdit")->value();
            if (stoppedAt != 0 || shown < 5 || shown == 42)
                return;
            seenRunning = find->isVisible() && !find->isModal() && stop->isEnabled()
                          && !start->isEnabled() && m_window->child<QPushButton>("StopButton")->isEnabled();
            // The notes are not clipped while the search runs.
            for (const char *name : {"SearchNoteLabel", "FastReplyNoteLabel"}) {
                const auto *note = find->findChild<QLabel *>(QLatin1String(name));
                seenRunning = seenRunning && note && note->height() >= note->heightForWidth(note->width());
            }
            stoppedAt = shown;
            QTest::mouseClick(stop, Qt::LeftButton);
        });
        ScopedModalRunner runner([&](QDialog &d) {
            watch.start(0);
            return answerFindDialog(d, kQuickFindTimeoutMs, Leave::Start);
        });

        m_window->click("FindAddrButton");
        watch.stop();

        QVERIFY(seenRunning);
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), 42);
        QCOMPARE(m_window->log(), QList<LogLine>({{kStartLine, Black},
                                                  {QStringLiteral("Остановлено пользователем"), Red}}));
        // No probe after the one in flight.
        QVERIFY(!m_line.sensor.requestLog().isEmpty());
        QVERIFY(quint8(m_line.sensor.requestLog().last().request.at(0)) <= stoppedAt);
        QVERIFY(!find->isVisible());
        QVERIFY(find->isModal());
        QVERIFY(start->isEnabled());
        QVERIFY(!m_window->child<QPushButton>("StopButton")->isEnabled());
        QVERIFY(m_window->form()->commandsEnabled());
    }

    void leavingWithoutStart_data()
    {
        QTest::addColumn<Leave>("leave");

        QTest::newRow("Отмена") << Leave::Cancel;
        QTest::newRow("Escape") << Leave::Escape;
        QTest::newRow("close box") << Leave::CloseBox;
    }
    void leavingWithoutStart()
    {
        QFETCH(Leave, leave);

        m_window->spin("AddrSpinEdit")->setValue(42);
        int result = -1;
        ScopedModalRunner runner(
            [&](QDialog &d) { return result = answerFindDialog(d, 0, leave); });

        m_window->click("FindAddrButton");

        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), 42);
        QVERIFY(m_window->log().isEmpty());
        // Nothing went out: the first request the sensor sees is a later command's.
        m_line.sensor.setAddress(42);
        m_window->click("PingButton");
        QVERIFY(m_line.sensor.waitForRequests(1, 2000));
        QCOMPARE(m_line.sensor.requestLog().first().request,
                 requestFrame(42, hex("08 00 00 AA 55")));
    }

    void timeoutKeptForNextOpening()
    {
        QList<int> offered;
        int opening = 0;
        ScopedModalRunner runner([&](QDialog &d) {
            offered.append(m_window->find()->timeoutMs());
            // The first time the user types 250 and starts; the second time only looks.
            if (opening++ == 0) {
                d.show();
                SpinEdit *spin = m_window->find()->timeoutSpinEdit();
                spin->selectAll();
                QTest::keyClicks(spin, QStringLiteral("250"));
                return answerFindDialog(d, 0, Leave::Start);
            }
            return answerFindDialog(d, 0, Leave::Cancel);
        });

        m_window->click("FindAddrButton"); // the sensor at 1 answers the first probe
        QCOMPARE(m_window->log().last().mark, Green);
        m_window->click("FindAddrButton");

        QCOMPARE(offered.size(), 2);
        QCOMPARE(offered.last(), 250);
        QVERIFY(offered.first() != 250);
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
