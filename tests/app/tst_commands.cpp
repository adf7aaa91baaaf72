// The sensor commands of the main window, end to end: clicks and keys on the
// real controls, the simulated sensor answering on a pseudo-terminal, and the
// fields, the viewer, the message box and the coloured log lines checked.

#include "AppTestUtil.h"

#include "app/LineStatsWindow.h"
#include "common/PtyPair.h"
#include "common/ScriptedPeer.h"

#include <QFocusEvent>
#include <QTimer>

#include <functional>

using modbustest::hex;
using modbustest::withCrc;

namespace {

using SensorSetup = std::function<void(SimSensor &)>;

const SensorSetup kNoSetup = [](SimSensor &) {};

// The value edits of the measurement commands.
const QStringList kValueFields{"XEdit", "YEdit", "XerEdit", "YerEdit"};

QVariantMap coordinateLabels()
{
    return {{"XLabel", "X="}, {"YLabel", "Y="}, {"XerLabel", "Ошибка X"}, {"YerLabel", "Ошибка Y"}};
}

QVariantMap pixelLabels()
{
    return {
        {"XLabel", "nx="}, {"YLabel", "ny="}, {"XerLabel", "Ошибка nx"}, {"YerLabel", "Ошибка ny"}};
}

QVariantMap merged(QVariantMap a, const QVariantMap &b)
{
    for (auto it = b.cbegin(); it != b.cend(); ++it)
        a.insert(it.key(), it.value());
    return a;
}

} // namespace

Q_DECLARE_METATYPE(SensorSetup)
Q_DECLARE_METATYPE(SimFault)

class TestCommands : public QObject
{
    Q_OBJECT

private:
    void type(QLineEdit *edit, const QString &keys)
    {
        for (const QChar c : keys) {
            if (c == u'\b')
                QTest::keyClick(edit, Qt::Key_Backspace);
            else if (c.unicode() < 0x80)
                QTest::keyClick(edit, c.toLatin1());
            else // a key of another keyboard layout: its character only
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
        }
    }
    void verifyNothingSent()
    {
        m_window->click("PingButton");
        QVERIFY(m_line.sensor.waitForRequests(1, 2000));
        QCOMPARE(m_line.sensor.requestLog().first().request,
                 requestFrame(1, hex("08 00 00 AA 55")));
    }
    void drainLateReply()
    {
        SerialLink &port = m_window->form()->dataPort();
        port.ReplyTimeout = 3000;
        port.Receive();
        QVERIFY2(port.RxCount > 0, "the delayed reply never came");
    }

    // The text colour of a field, and the window's normal and greyed-out ones.
    static QColor textColour(const QLineEdit *field)
    {
        return field->palette().color(QPalette::Active, QPalette::Text);
    }
    QColor normalText() const
    {
        return m_window->form()->palette().color(QPalette::Active, QPalette::Text);
    }
    QColor greyText() const
    {
        return m_window->form()->palette().color(QPalette::Disabled, QPalette::Text);
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
        // The service tab is reachable as for a service engineer.
        m_window->child<QAction>("ServiceModeMenu")->setChecked(true);
        m_window->form()->ServiceModeMenuClick();
    }

    void cleanup() { m_window.reset(); }

    void cleanupTestCase() { m_line.stop(); }

    void command_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<SensorSetup>("sensorSetup");
        QTest::addColumn<bool>("floatPix");
        QTest::addColumn<QVariantMap>("fieldsBefore");
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<QVariantMap>("fieldsAfter");

        const QVariantMap none;
        QTest::newRow("serial number 0000000A")
            << "ReadIDButton" << SensorSetup([](SimSensor &s) { s.setSerial(0x0000000A); }) << false
            << QVariantMap{{"SerialEdit", "FFFFFFFF"}} << hex("04 00 05 00 02")
            << QVariantMap{{"SerialEdit", "0000000A"}};
        QTest::newRow("echo test")
            << "PingButton" << kNoSetup << false << QVariantMap{{"PingEdit", "Ошибка"}}
            << hex("08 00 00 AA 55") << QVariantMap{{"PingEdit", "Ok"}};
        QTest::newRow("restart") << "ResetButton" << kNoSetup << false
                                 << QVariantMap{{"ResetEdit", ""}} << hex("08 00 01 FF 00")
                                 << QVariantMap{{"ResetEdit", "Ok"}};

        const SensorSetup measurement = [](SimSensor &s) {
            s.setCoordinates(10.0f, -3.2f);
            s.setStatus(1, 0);
            s.setPixels(300.0f, 65535.0f);
        };
        QTest::newRow("coordinates after pixels")
            << "ReadCoordButton" << measurement << false << pixelLabels() << hex("04 00 00 00 05")
            << merged(coordinateLabels(),
                      {{"XEdit", "10"}, {"YEdit", "-3.2"}, {"XerEdit", "ok"}, {"YerEdit", "?"}});
        QTest::newRow("integer pixels")
            << "ReadPixButton" << measurement << false << coordinateLabels()
            << hex("04 20 00 00 03")
            << merged(pixelLabels(),
                      {{"XEdit", "300"}, {"YEdit", "65535"}, {"XerEdit", "ok"}, {"YerEdit", "?"}});
        const SensorSetup realPixels = [](SimSensor &s) {
            s.setPixels(1.0625f, 2.5f);
            s.setStatus(2, 3);
        };
        QTest::newRow("real pixels")
            << "ReadPixButton" << realPixels << true << coordinateLabels() << hex("04 20 01 00 05")
            << merged(pixelLabels(),
                      {{"XEdit", "1.063"}, {"YEdit", "2.5"}, {"XerEdit", "%"}, {"YerEdit", "?%"}});

        const SimSensor::Flash flash = SimSensor::defaultFlash();
        QTest::newRow("checksum")
            << "ReadCRCButton" << kNoSetup << false << none << hex("04 00 07 00 01")
            << QVariantMap{{"CRCEdit", QString::asprintf("%.4X", SimSensor::flashChecksum(flash))}};
        QTest::newRow("flash word 11000 reads 1000")
            << "ReadFlashButton" << kNoSetup << false << QVariantMap{{"AddrFlashEdit", "11000"}}
            << hex("03 10 00 00 02")
            << QVariantMap{
                   {"DataFlashEdit", QString::asprintf("%.8X", flash[SimSensor::WordAddress])}};
        QTest::newRow("write 12345678 to 1005")
            << "WriteFlashButton" << kNoSetup << false
            << QVariantMap{{"AddrFlashEdit", "1005"}, {"DataFlashEdit", "12345678"}}
            << hex("10 10 05 00 03 06 12 34 56 78") + flashKey()
            << QVariantMap{{"AddrFlashEdit", "1005"}, {"DataFlashEdit", "12345678"}};
    }
    void command()
    {
        QFETCH(QString, button);
        QFETCH(SensorSetup, sensorSetup);
        QFETCH(bool, floatPix);
        QFETCH(QVariantMap, fieldsBefore);
        QFETCH(QByteArray, pdu);
        QFETCH(QVariantMap, fieldsAfter);

        sensorSetup(m_line.sensor);
        m_window->setFloatPix(floatPix);
        for (auto it = fieldsBefore.cbegin(); it != fieldsBefore.cend(); ++it)
            m_window->setText(it.key(), it.value().toString());

        m_window->click(button);

        for (auto it = fieldsAfter.cbegin(); it != fieldsAfter.cend(); ++it)
            QCOMPARE(m_window->text(it.key()), it.value().toString());

        const QList<SimRequestRecord> seen = m_line.sensor.requestLog();
        QCOMPARE(seen.size(), 1);
        const QByteArray frame = requestFrame(1, pdu);
        QCOMPARE(seen.first().request, frame);
        QCOMPARE(m_window->log(), QList<LogLine>({{sentText(frame), Blue},
                                                  {receivedText(seen.first().reply), Green}}));
        QVERIFY(!QApplication::overrideCursor());

        if (button == u"WriteFlashButton") {
            const quint32 address = quint32(quint8(pdu[1])) << 8 | quint8(pdu[2]);
            QCOMPARE(m_line.sensor.word(int(address - 0x1000)),
                     quint32(quint8(pdu[6])) << 24 | quint32(quint8(pdu[7])) << 16 |
                         quint32(quint8(pdu[8])) << 8 | quint8(pdu[9]));
        }
    }

    void failedCommandKeepsFields_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<QStringList>("fields"); // must keep their text
        QTest::addColumn<QVariantMap>("labels"); // set before the request, kept after the failure
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("requests"); // sent before the failure ended the command

        const QString timeout = QStringLiteral("Таймаут");
        const QString refused = QStringLiteral("Ошибка - Недопустимое значение [код ошибки 3]");
        const QVariantMap noLabels;
        struct Row
        {
            const char *name;
            const char *button;
            QStringList fields;
            QVariantMap labels;
            int requests = 1;
        };
        const QList<Row> rows{
            {"serial number", "ReadIDButton", {"SerialEdit"}, noLabels},
            {"echo test", "PingButton", {"PingEdit"}, noLabels},
            {"restart", "ResetButton", {"ResetEdit"}, noLabels},
            {"coordinates", "ReadCoordButton", kValueFields, coordinateLabels()},
            {"pixels", "ReadPixButton", kValueFields, pixelLabels()},
            {"checksum", "ReadCRCButton", {"CRCEdit"}, noLabels},
            {"flash word read", "ReadFlashButton", {"DataFlashEdit", "AddrFlashEdit"}, noLabels},
            {"flash word write", "WriteFlashButton", {"DataFlashEdit", "AddrFlashEdit"}, noLabels},
            {"checksum correction", "CRCCorrectionButton", {}, noLabels},
        };
        for (const Row &r : rows)
            QTest::addRow("%s, silent sensor", r.name)
                << QString::fromLatin1(r.button) << SimFault::noReply() << r.fields << r.labels
                << timeout << r.requests;
        QTest::newRow("coordinates, exception") << "ReadCoordButton" << SimFault::exception(3)
                                                << kValueFields << coordinateLabels() << refused << 1;
        // The correction stops at its second request: the expected checksum is not written.
        QTest::newRow("checksum correction, second request fails")
            << "CRCCorrectionButton" << SimFault::noReply().onFunction(3) << QStringList()
            << noLabels << timeout << 2;
    }
    void failedCommandKeepsFields()
    {
        QFETCH(QString, button);
        QFETCH(SimFault, fault);
        QFETCH(QStringList, fields);
        QFETCH(QVariantMap, labels);
        QFETCH(QString, failure);
        QFETCH(int, requests);

        m_window->setTimeouts(kSilentTimeoutMs, kSilentTimeoutMs);
        m_line.sensor.setWord(SimSensor::WordCrcRequired, 0xBAD);
        m_line.sensor.addFault(fault);
        m_window->setText("AddrFlashEdit", "1005");
        m_window->setText("DataFlashEdit", "12345678");
        for (const QString &f : fields) {
            if (f != u"AddrFlashEdit" && f != u"DataFlashEdit")
                m_window->setText(f, QStringLiteral("before"));
        }
        QStringList before;
        for (const QString &f : fields)
            before << m_window->text(f);
        const quint32 wordBefore = m_line.sensor.word(5);
        // The result fields (read-only) go grey; the hexadecimal input fields stay as they are.
        QList<QLineEdit *> results;
        for (const QString &f : fields) {
            if (m_window->edit(f)->isReadOnly())
                results << m_window->edit(f);
        }
        QVERIFY(greyText() != normalText());
        for (QLineEdit *field : std::as_const(results))
            QCOMPARE(textColour(field), normalText());

        m_window->click(button);

        QStringList after;
        for (const QString &f : fields)
            after << m_window->text(f);
        QCOMPARE(after, before);
        for (auto it = labels.cbegin(); it != labels.cend(); ++it)
            QCOMPARE(m_window->text(it.key()), it.value().toString());

        QVERIFY(m_line.sensor.waitForRequests(requests, 2000));
        QCOMPARE(m_line.sensor.requestCount(), requests);
        QCOMPARE(m_line.sensor.word(5), wordBefore);
        QCOMPARE(m_line.sensor.word(SimSensor::WordCrcRequired), quint32(0xBAD));

        // The engine's red line(s) end the log; the command adds nothing, and no box is shown.
        const QList<LogLine> log = m_window->log();
        QVERIFY(!log.isEmpty());
        QCOMPARE(log.last(), (LogLine{failure, Red}));
        QCOMPARE(log.first().mark, Blue);
        for (const LogLine &line : log)
            QVERIFY2(line.mark != Black, qPrintable(line.text));
        QVERIFY(!QApplication::overrideCursor());
        for (const QString &f : fields) {
            const QLineEdit *field = m_window->edit(f);
            QCOMPARE(textColour(field), field->isReadOnly() ? greyText() : normalText());
        }

        // The fault is spent: the next run succeeds and the fields look as usual again.
        if (results.isEmpty())
            return;
        m_window->setTimeouts(kAnswerTimeoutMs, kAnswerTimeoutMs);
        m_window->click(button);
        for (QLineEdit *field : std::as_const(results)) {
            QVERIFY2(field->text() != u"before", qPrintable(field->objectName()));
            QCOMPARE(textColour(field), normalText());
        }
    }

    void viewer_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<SensorSetup>("sensorSetup");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("requests");

        QTest::newRow("device identification")
            << "GetDevIDButton"
            << SensorSetup([](SimSensor &s) { s.setDeviceId("Vendor", "P7", "2.1"); })
            << QStringList{"VendorName: Vendor", "ProductCode: P7", "MajorMinorRevision: 2.1"} << 1;
        QTest::newRow("version 14, dimension 40, processor 2")
            << "VerButton" << SensorSetup([](SimSensor &s) {
                   s.setWord(SimSensor::WordFirmware, 14);
                   s.setWord(SimSensor::WordDimension, 40);
                   s.setWord(SimSensor::WordCpu, 2);
               })
            << QStringList{QStringLiteral("Версия прошивки: 0x0E (шаг сетки 2.05 мм, 5.05 мм)"),
                           QStringLiteral("Размерность прибора: 40"),
                           QStringLiteral("Версия CPU: 0x02 (ADuC841)")}
            << 3;
    }
    void viewer()
    {
        QFETCH(QString, button);
        QFETCH(SensorSetup, sensorSetup);
        QFETCH(QStringList, lines);
        QFETCH(int, requests);

        sensorSetup(m_line.sensor);
        m_window->viewText()->setLines({QStringLiteral("from before")});
        QString shown;
        ScopedModalRunner runner([&](QDialog &dialog) {
            if (&dialog == m_window->viewText())
                shown = m_window->viewText()->textBox()->toPlainText();
            return int(QDialog::Accepted);
        });

        m_window->click(button);

        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(shown, lines.join(u'\n'));
        QCOMPARE(m_line.sensor.requestCount(), requests);
        QCOMPARE(m_window->log().size(), 2 * requests);
    }

    // A reply the engine accepts but that holds fewer data bytes than the command
    // reads (a coordinate reply with 4 data bytes for 5 registers): the command must
    // not show anything, and the failure must not pass unnoticed.
    void shortReplyIsReported()
    {
        m_window.reset(); // this test's window is on a scripted line
        PtyPair pty;
        QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
        ScriptedPeer peer(pty);
        peer.expectBytes(requestFrame(1, hex("04 00 00 00 05")))
            .write(withCrc("01 04 04 41 20 00 00"));
        peer.start();

        SimWindow window(pty.slavePath());
        QVERIFY(window.ready());
        window.setText("XEdit", "before");
        window.click("ReadCoordButton");
        QVERIFY(peer.wait(2000));
        QVERIFY2(peer.ok(), qPrintable(peer.failure()));

        QCOMPARE(window.text("XEdit"), QStringLiteral("before"));
        const QList<LogLine> log = window.log();
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[1], (LogLine{receivedText(withCrc("01 04 04 41 20 00 00")), Green}));
        QCOMPARE(log[2], (LogLine{QStringLiteral("Неверная длина данных"), Red}));
    }

    // "Статистика линии" opens from the menu, follows the exchanges while it
    // is shown and starts again from nothing at "Сбросить".
    void lineStatsWindow()
    {
        m_window->child<QAction>("LineStatsMenu")->trigger();
        LineStatsWindow *stats = m_window->form()->lineStatsWindow();
        QVERIFY(stats);
        QTRY_VERIFY(stats->isVisible());
        auto *label = stats->findChild<QLabel *>(QStringLiteral("StatsLabel"));
        auto *reset = stats->findChild<QPushButton *>(QStringLiteral("ResetButton"));
        QVERIFY(label && reset);
        QTest::mouseClick(reset, Qt::LeftButton);
        QCOMPARE(label->text().section(QLatin1Char('\n'), 0, 1), QStringLiteral("Обменов: 0\nУспешно: 0"));

        m_window->click("ReadIDButton");
        QCOMPARE(m_window->text("SerialEdit"), QStringLiteral("0012AB7F"));
        QTRY_COMPARE(label->text().section(QLatin1Char('\n'), 0, 1), QStringLiteral("Обменов: 1\nУспешно: 1"));

        QTest::mouseClick(reset, Qt::LeftButton);
        QCOMPARE(label->text().section(QLatin1Char('\n'), 0, 1), QStringLiteral("Обменов: 0\nУспешно: 0"));
    }

    void assignAddress()
    {
        // The serial number is typed; the field holds exactly what was typed.
        m_window->edit("SerialSetEdit")->clear();
        QTest::keyClicks(m_window->edit("SerialSetEdit"), QStringLiteral("0012ab7f"));
        m_window->spin("NewAddrSpinEdit")->setValue(17);
        m_window->spin("AddrSpinEdit")->setValue(5);
        m_line.sensor.setSerial(0x0012AB7F);

        m_window->click("SetAddrButton");

        QVERIFY(m_line.sensor.waitForRequests(1, 2000));
        const QByteArray frame = requestFrame(0, hex("10 00 00 00 03 06 00 11 00 12 AB 7F"));
        QCOMPARE(m_line.sensor.requestLog().first().request, frame);
        QCOMPARE(m_window->log(), QList<LogLine>({{sentText(frame), Blue}}));
        QCOMPARE(int(m_line.sensor.address()), 17);
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), 5); // the window's address is not touched
    }

    void illuminationButtons_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QList<int>>("codes"); // sent, one per click
        QTest::addColumn<bool>("xDown");
        QTest::addColumn<bool>("yDown");
        QTest::addColumn<bool>("silent"); // the sensor does not answer

        QTest::newRow("X") << QStringList{"LightXButton"} << QList<int>{1} << true << false
                           << false;
        QTest::newRow("X then Y") << QStringList{"LightXButton", "LightYButton"} << QList<int>{1, 2}
                                  << false << true << false;
        QTest::newRow("X twice") << QStringList{"LightXButton", "LightXButton"} << QList<int>{1, 0}
                                 << false << false << false;
        QTest::newRow("Y then X") << QStringList{"LightYButton", "LightXButton"} << QList<int>{2, 1}
                                  << true << false << false;
        QTest::newRow("failed write keeps the buttons")
            << QStringList{"LightYButton"} << QList<int>{2} << false << true << true;
    }
    void illuminationButtons()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QList<int>, codes);
        QFETCH(bool, xDown);
        QFETCH(bool, yDown);
        QFETCH(bool, silent);

        if (silent) {
            m_window->setTimeouts(kAnswerTimeoutMs, kSilentTimeoutMs);
            m_line.sensor.addFault(SimFault::noReply().always());
        }
        for (const QString &button : clicks)
            m_window->click(button);

        QCOMPARE(m_window->child<QPushButton>("LightXButton")->isChecked(), xDown);
        QCOMPARE(m_window->child<QPushButton>("LightYButton")->isChecked(), yDown);
        QVERIFY(m_line.sensor.waitForRequests(int(codes.size()), 2000));
        const QList<SimRequestRecord> seen = m_line.sensor.requestLog();
        QCOMPARE(seen.size(), codes.size());
        for (qsizetype i = 0; i < codes.size(); ++i) {
            const QByteArray pdu = hex("10 10 06 00 03 06 00 00 00") + char(codes[i]) + flashKey();
            QCOMPARE(seen[i].request, requestFrame(1, pdu));
        }
        if (silent) {
            QCOMPARE(m_window->log().last(), (LogLine{QStringLiteral("Таймаут"), Red}));
            QCOMPARE(m_line.sensor.word(SimSensor::WordIllumination),
                     SimSensor::defaultFlash()[SimSensor::WordIllumination]);
        } else {
            QCOMPARE(m_line.sensor.word(SimSensor::WordIllumination), quint32(codes.last()));
        }
    }

    // "Непрерывно": the coordinates again and again, at least 100 ms apart,
    // without traffic lines and with the other commands off; the first failure
    // unticks the box with one red line and gives the commands back.
    void continuousReadings()
    {
        auto *box = m_window->child<QCheckBox>("ContinuousCheckBox");
        auto *pixels = m_window->child<QPushButton>("ReadPixButton");
        m_window->setup()->pauseGroupSpinEdit()->setValue(0);
        m_window->setText("XLabel", "nx=");
        m_line.sensor.setCoordinates(1.5f, -2.25f);

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QCOMPARE(m_window->text("XLabel"), QStringLiteral("X="));
        QVERIFY(!pixels->isEnabled());
        QVERIFY(box->isEnabled());
        QTRY_COMPARE(m_window->text("YEdit"), QStringLiteral("-2.25"));
        m_line.sensor.setCoordinates(3, 4);
        QTRY_COMPARE(m_window->text("YEdit"), QStringLiteral("4"));
        QCOMPARE(m_window->text("XEdit"), QStringLiteral("3"));
        QVERIFY(m_window->log().isEmpty());

        m_window->setTimeouts(kSilentTimeoutMs, kSilentTimeoutMs);
        m_line.sensor.addFault(SimFault::noReply());
        QTRY_VERIFY(!box->isChecked());
        QCOMPARE(m_window->log(), (QList<LogLine>{{"Таймаут", Red}}));
        QVERIFY(pixels->isEnabled());
        QCOMPARE(m_window->text("XEdit"), QStringLiteral("3"));
        for (const QString &f : kValueFields)
            QCOMPARE(textColour(m_window->edit(f)), greyText());

        const QList<SimRequestRecord> seen = m_line.sensor.requestLog();
        QVERIFY(seen.size() >= 3);
        for (qsizetype i = 1; i < seen.size(); ++i) {
            QCOMPARE(quint8(seen[i].request.at(1)), quint8(0x04));
            const qint64 gapUs = seen[i].receivedAtUs - seen[i - 1].receivedAtUs;
            QVERIFY2(gapUs >= MainWindow::ContinuousMinIntervalMs * 1000, qPrintable(QString::number(gapUs)));
        }
        // Nothing more is due once the box is off.
        QVERIFY(!m_window->child<QTimer>("ContinuousTimer")->isActive());
    }

    void timeoutsAtTheMomentOfUse_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("timeoutShortMs");
        QTest::addColumn<bool>("answered");

        // The sensor answers 300 ms late: a 150 ms bound misses the reply, 1000 ms gets it.
        QTest::newRow("echo test, short timeout too short") << "PingButton" << 1000 << 150 << false;
        QTest::newRow("echo test, long timeout too short") << "PingButton" << 150 << 1000 << true;
        QTest::newRow("checksum, long timeout too short")
            << "ReadCRCButton" << 150 << 1000 << false;
        QTest::newRow("checksum, short timeout too short")
            << "ReadCRCButton" << 1000 << 150 << true;
        QTest::newRow("coordinates, long timeout too short")
            << "ReadCoordButton" << 150 << 1000 << false;
        QTest::newRow("flash read, short timeout too short")
            << "ReadFlashButton" << 1000 << 150 << false;
        QTest::newRow("serial number, short timeout too short")
            << "ReadIDButton" << 1000 << 150 << false;
    }
    void timeoutsAtTheMomentOfUse()
    {
        QFETCH(QString, button);
        QFETCH(int, timeoutMs);
        QFETCH(int, timeoutShortMs);
        QFETCH(bool, answered);

        m_line.sensor.addFault(SimFault::delay(300));
        m_window->setTimeouts(timeoutMs, timeoutShortMs);
        m_window->click(button);

        const QList<LogLine> log = m_window->log();
        QVERIFY(!log.isEmpty());
        if (answered) {
            QCOMPARE(log.last().mark, Green);
        } else {
            QCOMPARE(log.last(), (LogLine{QStringLiteral("Таймаут"), Red}));
            drainLateReply();
        }
    }

    void zeroAddressWriteRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("data");

        QTest::newRow("1000") << "1000"
                              << "00000000";
        QTest::newRow("empty data reads as 0") << "1000"
                                               << "";
    }
    void zeroAddressWriteRefused()
    {
        QFETCH(QString, address);
        QFETCH(QString, data);

        m_window->setText("AddrFlashEdit", address);
        m_window->setText("DataFlashEdit", data);
        ScopedModalRunner runner(QMessageBox::Ok);

        m_window->click("WriteFlashButton");

        QCOMPARE(runner.dialogs.size(), 1);
        const SeenDialog box = runner.dialogs.first();
        QCOMPARE(box.text,
                 QStringLiteral(
                     "Данная ячейка отвечает за адрес прибора. Адрес не может быть нулевым."));
        QCOMPARE(box.title, QStringLiteral("Ошибка"));
        QCOMPARE(box.icon, int(QMessageBox::Critical));
        QCOMPARE(box.buttons, int(QMessageBox::Ok));
        QVERIFY(m_window->log().isEmpty());
        verifyNothingSent();
        QCOMPARE(int(m_line.sensor.address()), 1);
    }

    void serialKeys_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("selectAll");
        QTest::addColumn<QString>("keys"); // '\b' is Backspace
        QTest::addColumn<QString>("after");

        struct Row
        {
            const char *name, *field, *before;
            bool selectAll;
            const char *keys, *after;
        };
        const Row rows[]{
            {"serial: eight digits, lower case raised", "SerialSetEdit", "", false, "0012ab7f",
             "0012AB7F"},
            {"serial: punctuation and Cyrillic refused", "SerialSetEdit", "12", false, "-.,ж",
             "12"},
            {"serial: ninth digit refused", "SerialSetEdit", "0012AB7F", false, "1", "0012AB7F"},
            {"serial: backspace then a digit", "SerialSetEdit", "0012AB7F", false, "\be",
             "0012AB7E"},
            {"serial: typing over a selection", "SerialSetEdit", "0012AB7F", true, "b", "B"},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << r.field << r.before << r.selectAll << QString::fromUtf8(r.keys)
                                  << r.after;
        for (const char *field : {"AddrFlashEdit", "DataFlashEdit"}) {
            const struct
            {
                const char *name, *before, *keys, *after;
            } flashRows[]{{"a to f raised", "", "abcdef", "ABCDEF"},
                          {"punctuation refused", "1", "-+x.", "1"},
                          {"no length limit", "12345678", "9A", "123456789A"},
                          {"space passes", "1", " ", "1 "}};
            for (const auto &r : flashRows)
                QTest::addRow("%s: %s", field, r.name)
                    << field << r.before << false << r.keys << r.after;
        }
    }

    // Key filters of the serial number and the flash fields.
    void serialKeys()
    {
        QFETCH(QString, field);
        QFETCH(QString, before);
        QFETCH(bool, selectAll);
        QFETCH(QString, keys);
        QFETCH(QString, after);

        SpinEdit *addr = m_window->spin("AddrSpinEdit");
        addr->setValue(100);
        QLineEdit *edit = m_window->edit(field);
        edit->setText(before);
        if (selectAll)
            edit->selectAll();
        type(edit, keys);

        QCOMPARE(edit->text(), after);
        QCOMPARE(addr->value(), 100);
    }

    void steps_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("action"); // "up"/"down" button, or "Up"/"Down" arrow key
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");

        struct Row
        {
            const char *name, *field, *action, *before, *after;
        };
        const Row rows[]{
            {"address FFFF up", "AddrFlashEdit", "up", "FFFF", "0000"},
            {"address 0000 down", "AddrFlashEdit", "down", "0000", "FFFF"},
            {"address FFFF Up key", "AddrFlashEdit", "Up", "FFFF", "0000"},
            {"address 1000 Down key", "AddrFlashEdit", "Down", "1000", "0FFF"},
            {"data FFFFFFFF up", "DataFlashEdit", "up", "FFFFFFFF", "00000000"},
            {"data 00000000 down", "DataFlashEdit", "down", "00000000", "FFFFFFFF"},
            {"data 1F down", "DataFlashEdit", "down", "1F", "0000001E"},
            // The data field has no arrow keys: the key moves the cursor only.
            {"data Up key does nothing", "DataFlashEdit", "Up", "00000005", "00000005"},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << r.field << r.action << r.before << r.after;
    }
    void steps()
    {
        QFETCH(QString, field);
        QFETCH(QString, action);
        QFETCH(QString, before);
        QFETCH(QString, after);

        QLineEdit *edit = m_window->edit(field);
        edit->setText(before);
        if (action == u"Up" || action == u"Down") {
            QTest::keyClick(edit, action == u"Up" ? Qt::Key_Up : Qt::Key_Down);
        } else {
            auto *spin = m_window->child<SpinButtons>(field == u"AddrFlashEdit" ? "AddrFlashSpinButtons"
                                                                                : "DataFlashSpinButtons");
            QTest::mouseClick(action == u"up" ? spin->upButton() : spin->downButton(),
                              Qt::LeftButton);
        }
        QCOMPARE(edit->text(), after);
        QVERIFY(m_window->log().isEmpty());
    }

    void padOnLeaving_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");

        struct Row
        {
            const char *name, *field, *before, *after;
        };
        const Row rows[]{
            {"serial ABC", "SerialSetEdit", "ABC", "00000ABC"},
            {"data 1F", "DataFlashEdit", "1F", "0000001F"},
            {"address has no such rule", "AddrFlashEdit", "1F", "1F"},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << r.field << r.before << r.after;
    }
    void padOnLeaving()
    {
        QFETCH(QString, field);
        QFETCH(QString, before);
        QFETCH(QString, after);

        QLineEdit *edit = m_window->edit(field);
        // The field's tab is the one on show.
        QWidget *service = m_window->child("ServiceTab");
        m_window->child<QTabWidget>("CommandTabs")
            ->setCurrentWidget(service->isAncestorOf(edit) ? service
                                                           : m_window->child("ControlTab"));
        QApplication::setActiveWindow(m_window->form());
        QVERIFY(QTest::qWaitForWindowActive(m_window->form()));
        edit->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(edit->hasFocus());
        edit->setText(before);
        QCOMPARE(edit->text(), before); // nothing happens while the field has the focus

        m_window->spin("AddrSpinEdit")->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), after);
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
