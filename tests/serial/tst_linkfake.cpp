// The serial link's own logic over a device that records every call.

#include "common/FakeSerialDevice.h"
#include "serial/SerialLink.h"

#include <QtTest>

#include <cerrno>

using OpenResult = ISerialDevice::OpenResult;
using WriteResult = ISerialDevice::WriteResult;

Q_DECLARE_METATYPE(OpenResult)
Q_DECLARE_METATYPE(WriteResult)
Q_DECLARE_METATYPE(TComExceptions)

namespace {

struct Rig {
    std::shared_ptr<FakeSerialDevice::State> state = std::make_shared<FakeSerialDevice::State>();
    SerialLink link {std::make_unique<FakeSerialDevice>(state)};
};

const quint8 Frame[] = {0x01, 0x04, 0x00, 0x05, 0x00, 0x02, 0x61, 0xCA};

} // namespace

class TestLinkFake : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void speedTexts_data();
    void speedTexts();
    void portNameChanges_data();
    void portNameChanges();
    void callSequences_data();
    void callSequences();
    void sendOutcome_data();
    void sendOutcome();
    void deviceFailures_data();
    void deviceFailures();
    void receiveOnClosedLink();
};

void TestLinkFake::speedTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rate");

    for (int rate : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000})
        QTest::newRow(qPrintable(QString::number(rate))) << QString::number(rate) << rate;
    QTest::newRow("with a unit") << QStringLiteral("57600 baud") << 9600;
    QTest::newRow("empty") << QString() << 9600;
    QTest::newRow("blank around") << QStringLiteral(" 57600") << 9600;
    QTest::newRow("not offered") << QStringLiteral("230400") << 9600;
    QTest::newRow("leading zero") << QStringLiteral("057600") << 9600;
}

void TestLinkFake::speedTexts()
{
    QFETCH(QString, text);
    QFETCH(int, rate);

    QCOMPARE(SerialLink::SpeedFromText(text), rate);
    // The same through a link, starting from a speed other than the default.
    Rig rig;
    rig.link.SetSpeed(QStringLiteral("300"));
    rig.link.SetSpeed(text);
    QCOMPARE(rig.link.speed(), rate);
    rig.link.SetPower(true);
    QCOMPARE(rig.state->baud, rate);
}

void TestLinkFake::portNameChanges_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("path"); // device opened when the link was open; empty: no reopening

    QTest::newRow("empty is ignored") << "" << "COM3" << "";
    QTest::newRow("same name") << "COM3" << "COM3" << "";
    QTest::newRow("other case is another name") << "com3" << "com3" << "/dev/ttyS2";
    QTest::newRow("COM number") << "COM101" << "COM101" << "/dev/ttyUSB0";
    QTest::newRow("device path") << "/dev/serial/by-id/usb-x-if00" << "/dev/serial/by-id/usb-x-if00"
                                 << "/dev/serial/by-id/usb-x-if00";
    QTest::newRow("bare device name") << "ttyUSB3" << "ttyUSB3" << "/dev/ttyUSB3";
}

void TestLinkFake::portNameChanges()
{
    QFETCH(QString, name);
    QFETCH(QString, after);
    QFETCH(QString, path);

    for (const bool open : {false, true}) {
        Rig rig;
        rig.link.SetPortName(QStringLiteral("COM3"));
        if (open)
            rig.link.SetPower(true);
        rig.state->calls.clear();
        rig.link.SetPortName(name);
        QCOMPARE(rig.link.GetPortName(), after);
        QCOMPARE(rig.link.isOpen(), open);
        // Closed: only the name changes. Open: a new name closes the device and opens the new one.
        QStringList calls;
        if (open && !path.isEmpty())
            calls = QStringList{QStringLiteral("close"), QStringLiteral("open %1 9600").arg(path)};
        QCOMPARE(rig.state->calls, calls);
    }
}

void TestLinkFake::callSequences_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("calls");

    const QString frame = QStringLiteral("write 01 04 00 05 00 02 61 ca");
    QTest::newRow("each send opens once, purges, writes")
        << QStringList{"send", "send 3"}
        << QStringList{"open /dev/ttyS0 9600", "purge", frame, "purge", "write 01 04 00"};
    QTest::newRow("speed kept for the opening, then set on the open device")
        << QStringList{"speed 115200", "send", "speed 115200", "speed 57600"}
        << QStringList{"open /dev/ttyS0 115200", "purge", frame, "baud 57600"};
    QTest::newRow("power on and off") << QStringList{"port COM2", "on", "off"}
                                      << QStringList{"open /dev/ttyS1 9600", "dtr 0", "rts 1", "dtr 1", "rts 0", "close"};
    QTest::newRow("destruction closes, modem lines as they were")
        << QStringList{"on", "destroy"} << QStringList{"open /dev/ttyS0 9600", "dtr 0", "rts 1", "close"};
}

void TestLinkFake::callSequences()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, calls);

    auto state = std::make_shared<FakeSerialDevice::State>();
    auto link = std::make_unique<SerialLink>(std::make_unique<FakeSerialDevice>(state));
    QCOMPARE(link->ReplyTimeout, 400);
    for (const QString &action : actions) {
        const QString arg = action.section(' ', 1);
        if (action.startsWith("send"))
            link->Send(Frame, arg.isEmpty() ? int(sizeof Frame) : arg.toInt());
        else if (action.startsWith("speed"))
            link->SetSpeed(arg);
        else if (action.startsWith("port"))
            link->SetPortName(arg);
        else if (action == "destroy")
            link.reset();
        else
            link->SetPower(action == "on");
    }
    QCOMPARE(state->calls, calls);
    QCOMPARE(state->open, link && link->isOpen());
}

void TestLinkFake::sendOutcome_data()
{
    QTest::addColumn<WriteResult>("result");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("open"); // afterwards

    QTest::newRow("written") << WriteResult::Done << EIO << int(SerialLink::Ok) << true;
    QTest::newRow("cannot start") << WriteResult::NotStarted << EAGAIN << int(SerialLink::StartFailed) << true;
    QTest::newRow("cannot start, device gone")
        << WriteResult::NotStarted << EIO << int(SerialLink::StartFailed) << false;
    // A time-out never closes the link, whatever the device says.
    QTest::newRow("wait ran out") << WriteResult::TimedOut << EIO << int(SerialLink::TimedOut) << true;
}

void TestLinkFake::sendOutcome()
{
    QFETCH(WriteResult, result);
    QFETCH(int, error);
    QFETCH(int, status);
    QFETCH(bool, open);

    Rig rig;
    rig.link.LinkStatus = SerialLink::Incomplete;
    rig.state->writeResult = result;
    rig.state->failError = error;
    rig.link.Send(Frame, sizeof Frame);
    QCOMPARE(int(rig.link.LinkStatus), status);
    QCOMPARE(rig.link.isOpen(), open);

    // Nothing answers on the fake's line: the reply wait times out and leaves
    // the link as it was; a closed one is opened by the next request.
    rig.link.ReplyTimeout = 5;
    rig.link.Receive();
    QCOMPARE(rig.link.LinkStatus, quint8(open ? SerialLink::TimedOut : SerialLink::StartFailed));
    QCOMPARE(rig.link.isOpen(), open);
    rig.state->writeResult = WriteResult::Done;
    rig.state->calls.clear();
    rig.link.Send(Frame, sizeof Frame);
    QCOMPARE(rig.state->calls.first().startsWith(QStringLiteral("open ")), !open);
    QCOMPARE(rig.link.LinkStatus, quint8(SerialLink::Ok));
}

// A failing device call raises its code and text, records no call after it
// but the closing of a device that has gone, and leaves the link ready for
// the next exchange, which opens the port again when it was closed.
void TestLinkFake::deviceFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("action"); // receive, speed and off start on an open link
    QTest::addColumn<int>("error");
    QTest::addColumn<TComExceptions>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("status"); // LinkStatus after, from Incomplete before
    QTest::addColumn<bool>("open");

    const QString opening = QStringLiteral("open /dev/ttyS0 9600");
    const int kept = SerialLink::Incomplete;
    QTest::newRow("open: device") << "OpenFailed" << "send" << 16 << TComExceptions::CE_OpenFailed
                                  << "Unable to open com port (Error: 16): /dev/ttyS0: device or resource busy"
                                  << QStringList{opening} << kept << false;
    QTest::newRow("open: queues") << "SetupFailed" << "send" << 12 << TComExceptions::CE_SetupComFailed
                                  << "SetupComm function failed (Error: 12)" << QStringList{opening} << kept
                                  << false;
    QTest::newRow("open: line state") << "StateFailed" << "send" << 22 << TComExceptions::CE_SetStateFailed
                                      << "SetCommState function failed (Error: 22)" << QStringList{opening} << kept
                                      << false;
    QTest::newRow("open: timeouts") << "TimeoutsFailed" << "send" << -1 << TComExceptions::CE_TimeoutsFailed
                                    << "SetCommTimeouts failed" << QStringList{opening} << kept << false;
    const QString written = QStringLiteral("write 01 04 00 05 00 02 61 ca");
    QTest::newRow("purge, error number 0 is none") << "purge" << "send" << 0 << TComExceptions::CE_PurgeFailed
                                                   << "PurgeComm function failed" << QStringList{opening, "purge"}
                                                   << 0 << true;
    QTest::newRow("purge, device gone") << "purge" << "send" << EIO << TComExceptions::CE_PurgeFailed
                                        << "PurgeComm function failed (Error: 5)"
                                        << QStringList{opening, "purge", "close"} << 0 << false;
    QTest::newRow("write") << "write" << "send" << EAGAIN << TComExceptions::CE_WriteFailed
                           << "WriteFile function failed (Error: 11)" << QStringList{opening, "purge", written} << 0
                           << true;
    QTest::newRow("write, device gone") << "write" << "send" << EIO << TComExceptions::CE_WriteFailed
                                        << "WriteFile function failed (Error: 5)"
                                        << QStringList{opening, "purge", written, "close"} << 0 << false;
    QTest::newRow("read") << "read" << "receive" << EINTR << TComExceptions::CE_ReadFailed
                          << "ReadFile function failed (Error: 4)" << QStringList{} << 0 << true;
    QTest::newRow("read, device gone") << "read" << "receive" << ENXIO << TComExceptions::CE_ReadFailed
                                       << "ReadFile function failed (Error: 6)" << QStringList{"close"} << 0 << false;
    QTest::newRow("speed") << "baud" << "speed" << 22 << TComExceptions::CE_SetStateFailed
                           << "SetCommState function failed (Error: 22)" << QStringList{"baud 57600"} << kept
                           << true;
    QTest::newRow("speed, device gone") << "baud" << "speed" << ENODEV << TComExceptions::CE_SetStateFailed
                                        << "SetCommState function failed (Error: 19)"
                                        << QStringList{"baud 57600", "close"} << kept << false;
    QTest::newRow("power on, DTR") << "dtr" << "on" << EPERM << TComExceptions::CE_EscapeComFailed
                                   << "EscapeCommFunction function failed (Error: 1)"
                                   << QStringList{opening, "dtr 0"} << kept << true;
    QTest::newRow("power on, RTS, device gone") << "rts" << "on" << EIO << TComExceptions::CE_EscapeComFailed
                                                << "EscapeCommFunction function failed (Error: 5)"
                                                << QStringList{opening, "dtr 0", "rts 1", "close"} << kept << false;
    QTest::newRow("power off, DTR, device gone") << "dtr" << "off" << EBADF << TComExceptions::CE_EscapeComFailed
                                                 << QStringLiteral("EscapeCommFunction function failed (Error: %1)")
                                                        .arg(EBADF)
                                                 << QStringList{"dtr 1", "close"} << kept << false;
    QTest::newRow("power off, RTS") << "rts" << "off" << EPERM << TComExceptions::CE_EscapeComFailed
                                    << "EscapeCommFunction function failed (Error: 1)"
                                    << QStringList{"dtr 1", "rts 0"} << kept << true;
    QTest::newRow("power off on a closed link") << "" << "off closed" << EBADF << TComExceptions::CE_EscapeComFailed
                                                << QStringLiteral("EscapeCommFunction function failed (Error: %1)")
                                                       .arg(EBADF)
                                                << QStringList{"dtr 1"} << kept << false;
}

void TestLinkFake::deviceFailures()
{
    QFETCH(QString, fault);
    QFETCH(QString, action);
    QFETCH(int, error);
    QFETCH(TComExceptions, code);
    QFETCH(QString, text);
    QFETCH(QStringList, calls);
    QFETCH(int, status);
    QFETCH(bool, open);

    Rig rig;
    FakeSerialDevice::State &s = *rig.state;
    if (action == "receive" || action == "speed" || action == "off")
        rig.link.SetPower(true);
    s.calls.clear();
    s.failError = error;
    const QMap<QString, OpenResult> openResults{{"OpenFailed", OpenResult::OpenFailed},
                                                {"SetupFailed", OpenResult::SetupFailed},
                                                {"StateFailed", OpenResult::StateFailed},
                                                {"TimeoutsFailed", OpenResult::TimeoutsFailed}};
    s.openResult = openResults.value(fault, OpenResult::Ok);
    s.failPurge = fault == "purge";
    s.writeResult = fault == "write" ? WriteResult::Failed : WriteResult::Done;
    s.failRead = fault == "read";
    s.failBaud = fault == "baud";
    s.failDtr = fault == "dtr";
    s.failRts = fault == "rts";
    rig.link.LinkStatus = SerialLink::Incomplete;
    rig.link.RxCount = 5;

    try {
        if (action == "send")
            rig.link.Send(Frame, sizeof Frame);
        else if (action == "receive")
            rig.link.Receive();
        else if (action == "speed")
            rig.link.SetSpeed(QStringLiteral("57600"));
        else
            rig.link.SetPower(action == "on");
        QFAIL("no failure raised");
    } catch (const SerialLinkError &e) {
        QCOMPARE(e.text(), text);
        QCOMPARE(QString::fromUtf8(e.what()), text);
        QCOMPARE(e.code(), code);
        QCOMPARE(e.winCode(), error);
    }
    QCOMPARE(s.calls, calls);
    QCOMPARE(int(rig.link.LinkStatus), status);
    QCOMPARE(rig.link.RxCount, action == "receive" ? 0 : 5);
    QCOMPARE(rig.link.isOpen(), open);

    // The next exchange goes through, opening the port again when it was closed.
    s.openResult = OpenResult::Ok;
    s.writeResult = WriteResult::Done;
    s.failPurge = s.failRead = s.failBaud = s.failDtr = s.failRts = false;
    s.calls.clear();
    rig.link.Send(Frame, sizeof Frame);
    QCOMPARE(s.calls.first().startsWith(QStringLiteral("open ")), !open);
    QVERIFY(rig.link.isOpen());
    QCOMPARE(rig.link.LinkStatus, quint8(SerialLink::Ok));
}

void TestLinkFake::receiveOnClosedLink()
{
    Rig rig;
    rig.link.RxCount = 5;
    rig.link.Receive();
    QCOMPARE(rig.link.LinkStatus, quint8(SerialLink::StartFailed));
    QCOMPARE(rig.link.RxCount, 0);
}

QTEST_GUILESS_MAIN(TestLinkFake)
#include "tst_linkfake.moc"
