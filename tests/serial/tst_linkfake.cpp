// The serial link's own logic over a device that records every call.

#include "common/FakeSerialDevice.h"
#include "serial/UComWin.h"

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
    TWinComPort link {std::make_unique<FakeSerialDevice>(state)};
};

const quint8 Frame[] = {0x01, 0x04, 0x00, 0x05, 0x00, 0x02, 0x61, 0xCA};

// Runs f, which must raise an EComPort, and returns its text ("" when it did not raise).
template<typename F>
QString raisedText(F f, TComExceptions *code = nullptr)
{
    try {
        f();
    } catch (const EComPort &e) {
        if (code)
            *code = e.code();
        return e.text();
    }
    return QString();
}

} // namespace

class TestLinkFake : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newLink();
    void speedTexts_data();
    void speedTexts();
    void portNameChanges_data();
    void portNameChanges();
    void devicePathOfPortName_data();
    void devicePathOfPortName();
    void failureTexts_data();
    void failureTexts();
    void sendOpensPurgesWrites();
    void sendOutcome_data();
    void sendOutcome();
    void openFailures_data();
    void openFailures();
    void purgeFailureRaises();
    void speedChangeWhileOpen();
    void powerSwitching();
    void powerLineFailures_data();
    void powerLineFailures();
    void receiveOnClosedLink();
    void receiveReadFailureRaises();
    void destructionClosesIgnoringState();
};

void TestLinkFake::newLink()
{
    TWinComPort link;
    QCOMPARE(link.GetPortName(), QStringLiteral("COM1"));
    QCOMPARE(link.speed(), 9600);
    QCOMPARE(link.LinkStatus, quint8(0));
    QCOMPARE(link.ReplyTimeout, 400);
    QCOMPARE(link.RxCount, 0);
    QCOMPARE(link.RxBuf.size(), size_t(10000));
    QVERIFY(!link.isOpen());
}

void TestLinkFake::speedTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rate");

    const int rates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200,
                         38400, 56000, 57600, 115200, 128000, 256000};
    for (int rate : rates)
        QTest::newRow(qPrintable(QString::number(rate))) << QString::number(rate) << rate;
    QTest::newRow("with a unit") << QStringLiteral("57600 baud") << 9600;
    QTest::newRow("empty") << QString() << 9600;
    QTest::newRow("blank around") << QStringLiteral(" 57600") << 9600;
    QTest::newRow("not offered") << QStringLiteral("230400") << 9600;
    QTest::newRow("leading zero") << QStringLiteral("057600") << 9600;
    QTest::newRow("word") << QStringLiteral("fast") << 9600;
}

void TestLinkFake::speedTexts()
{
    QFETCH(QString, text);
    QFETCH(int, rate);

    QCOMPARE(TWinComPort::SpeedFromText(text), rate);

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
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("reopens"); // when the link is open

    QTest::newRow("empty is ignored") << "COM3" << "" << "COM3" << false;
    QTest::newRow("same name") << "COM3" << "COM3" << "COM3" << false;
    QTest::newRow("other case is another name") << "COM3" << "com3" << "com3" << true;
    QTest::newRow("other port") << "COM3" << "COM4" << "COM4" << true;
    QTest::newRow("device path") << "COM3" << "/dev/pts/4" << "/dev/pts/4" << true;
}

void TestLinkFake::portNameChanges()
{
    QFETCH(QString, before);
    QFETCH(QString, name);
    QFETCH(QString, after);
    QFETCH(bool, reopens);

    // Closed: the name changes, nothing is opened.
    {
        Rig rig;
        rig.link.SetPortName(before);
        rig.link.SetPortName(name);
        QCOMPARE(rig.link.GetPortName(), after);
        QVERIFY(rig.state->calls.isEmpty());
    }
    // Open: a new name closes the device and opens the new one.
    Rig rig;
    rig.link.SetPortName(before);
    rig.link.SetPower(true);
    rig.state->calls.clear();
    rig.link.SetPortName(name);
    QCOMPARE(rig.link.GetPortName(), after);
    QVERIFY(rig.link.isOpen());
    if (reopens) {
        QCOMPARE(rig.state->calls.size(), 2);
        QCOMPARE(rig.state->calls.at(0), QStringLiteral("close"));
        QVERIFY(rig.state->calls.at(1).startsWith(QStringLiteral("open ")));
    } else {
        QCOMPARE(rig.state->calls, QStringList());
    }
}

void TestLinkFake::devicePathOfPortName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");

    QTest::newRow("COM1") << "COM1" << "/dev/ttyS0";
    QTest::newRow("com3") << "com3" << "/dev/ttyS2";
    QTest::newRow("COM101") << "COM101" << "/dev/ttyUSB0";
    QTest::newRow("COM215") << "COM215" << "/dev/ttyACM14";
    QTest::newRow("pty path") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("by-id link") << "/dev/serial/by-id/usb-x-if00" << "/dev/serial/by-id/usb-x-if00";
    QTest::newRow("bare device name") << "ttyUSB3" << "/dev/ttyUSB3";
}

void TestLinkFake::devicePathOfPortName()
{
    QFETCH(QString, name);
    QFETCH(QString, path);

    Rig rig;
    rig.link.SetPortName(name);
    rig.link.Send(Frame, sizeof Frame);
    QCOMPARE(rig.state->calls.value(0), QStringLiteral("open %1 9600").arg(path));
}

void TestLinkFake::failureTexts_data()
{
    QTest::addColumn<TComExceptions>("code");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");

    QTest::newRow("open, missing device") << TComExceptions::CE_OpenFailed << 2
                                          << "Unable to open com port (Error: 2)";
    QTest::newRow("open, no number") << TComExceptions::CE_OpenFailed << -1 << "Unable to open com port";
    QTest::newRow("number 0 is none") << TComExceptions::CE_PurgeFailed << 0 << "PurgeComm function failed";
    QTest::newRow("setup") << TComExceptions::CE_SetupComFailed << 13 << "SetupComm function failed (Error: 13)";
    QTest::newRow("state") << TComExceptions::CE_SetStateFailed << 22 << "SetCommState function failed (Error: 22)";
    QTest::newRow("timeouts") << TComExceptions::CE_TimeoutsFailed << 5 << "SetCommTimeouts failed (Error: 5)";
    QTest::newRow("write") << TComExceptions::CE_WriteFailed << 5 << "WriteFile function failed (Error: 5)";
    QTest::newRow("read") << TComExceptions::CE_ReadFailed << 5 << "ReadFile function failed (Error: 5)";
    QTest::newRow("escape") << TComExceptions::CE_EscapeComFailed << 9
                            << "EscapeCommFunction function failed (Error: 9)";
}

void TestLinkFake::failureTexts()
{
    QFETCH(TComExceptions, code);
    QFETCH(int, error);
    QFETCH(QString, text);

    const EComPort e(code, error, ComExceptionText(code));
    QCOMPARE(e.text(), text);
    QCOMPARE(QString::fromUtf8(e.what()), text);
    QCOMPARE(e.code(), code);
    QCOMPARE(e.winCode(), error);
}

void TestLinkFake::sendOpensPurgesWrites()
{
    Rig rig;
    rig.link.Send(Frame, sizeof Frame);
    rig.link.Send(Frame, 3);
    QCOMPARE(rig.state->calls, QStringList({
                                   "open /dev/ttyS0 9600",
                                   "purge",
                                   "write 01 04 00 05 00 02 61 ca",
                                   "purge",
                                   "write 01 04 00",
                               }));
}

void TestLinkFake::sendOutcome_data()
{
    QTest::addColumn<WriteResult>("result");
    QTest::addColumn<int>("status"); // -1: raises

    QTest::newRow("written") << WriteResult::Done << 0;
    QTest::newRow("cannot start") << WriteResult::NotStarted << 1;
    QTest::newRow("wait ran out") << WriteResult::TimedOut << 2;
    QTest::newRow("write failed") << WriteResult::Failed << -1;
}

void TestLinkFake::sendOutcome()
{
    QFETCH(WriteResult, result);
    QFETCH(int, status);

    Rig rig;
    rig.link.LinkStatus = 3;
    rig.state->writeResult = result;
    TComExceptions code {};
    const QString text = raisedText([&] { rig.link.Send(Frame, sizeof Frame); }, &code);
    if (status < 0) {
        QCOMPARE(code, TComExceptions::CE_WriteFailed);
        QCOMPARE(text, QStringLiteral("WriteFile function failed (Error: 5)"));
        QCOMPARE(rig.link.LinkStatus, quint8(0)); // cleared before the write
    } else {
        QCOMPARE(text, QString());
        QCOMPARE(int(rig.link.LinkStatus), status);
    }
}

void TestLinkFake::openFailures_data()
{
    QTest::addColumn<OpenResult>("result");
    QTest::addColumn<int>("error");
    QTest::addColumn<TComExceptions>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("device") << OpenResult::OpenFailed << 16 << TComExceptions::CE_OpenFailed
                            << "Unable to open com port (Error: 16)";
    QTest::newRow("queues") << OpenResult::SetupFailed << 12 << TComExceptions::CE_SetupComFailed
                            << "SetupComm function failed (Error: 12)";
    QTest::newRow("line state") << OpenResult::StateFailed << 22 << TComExceptions::CE_SetStateFailed
                                << "SetCommState function failed (Error: 22)";
    QTest::newRow("timeouts") << OpenResult::TimeoutsFailed << -1 << TComExceptions::CE_TimeoutsFailed
                              << "SetCommTimeouts failed";
}

void TestLinkFake::openFailures()
{
    QFETCH(OpenResult, result);
    QFETCH(int, error);
    QFETCH(TComExceptions, code);
    QFETCH(QString, text);

    Rig rig;
    rig.state->openResult = result;
    rig.state->failError = error;
    rig.link.LinkStatus = 2;

    TComExceptions raised {};
    QCOMPARE(raisedText([&] { rig.link.Send(Frame, sizeof Frame); }, &raised), text);
    QCOMPARE(raised, code);
    QCOMPARE(rig.link.LinkStatus, quint8(2));
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.state->calls.size(), 1); // nothing after the failed opening

    // The next exchange tries again.
    rig.state->openResult = OpenResult::Ok;
    rig.link.Send(Frame, sizeof Frame);
    QVERIFY(rig.link.isOpen());
    QCOMPARE(rig.link.LinkStatus, quint8(0));
}

void TestLinkFake::purgeFailureRaises()
{
    Rig rig;
    rig.state->failPurge = true;
    rig.state->failError = 5;
    QCOMPARE(raisedText([&] { rig.link.Send(Frame, sizeof Frame); }),
             QStringLiteral("PurgeComm function failed (Error: 5)"));
    QVERIFY(!rig.state->calls.join(' ').contains(QStringLiteral("write")));
}

void TestLinkFake::speedChangeWhileOpen()
{
    Rig rig;
    rig.link.SetSpeed(QStringLiteral("115200")); // closed: kept for the opening
    QVERIFY(rig.state->calls.isEmpty());
    rig.link.Send(Frame, sizeof Frame);
    QCOMPARE(rig.state->calls.value(0), QStringLiteral("open /dev/ttyS0 115200"));

    rig.state->calls.clear();
    rig.link.SetSpeed(QStringLiteral("115200")); // no change
    rig.link.SetSpeed(QStringLiteral("57600"));
    QCOMPARE(rig.state->calls, QStringList({"baud 57600"}));
    QCOMPARE(rig.state->baud, 57600);

    rig.state->failBaud = true;
    rig.state->failError = 22;
    QCOMPARE(raisedText([&] { rig.link.SetSpeed(QStringLiteral("9600")); }),
             QStringLiteral("SetCommState function failed (Error: 22)"));
}

void TestLinkFake::powerSwitching()
{
    Rig rig;
    rig.link.SetPortName(QStringLiteral("COM2"));

    rig.link.SetPower(true);
    QCOMPARE(rig.state->calls, QStringList({"open /dev/ttyS1 9600", "dtr 0", "rts 1"}));
    QVERIFY(rig.link.isOpen());
    QCOMPARE(rig.state->dtr, false);
    QCOMPARE(rig.state->rts, true);

    rig.state->calls.clear();
    rig.link.SetPower(false);
    QCOMPARE(rig.state->calls, QStringList({"dtr 1", "rts 0", "close"}));
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.state->dtr, true);
    QCOMPARE(rig.state->rts, false);

    // Off again, on a closed link: the line change fails on the missing handle.
    rig.state->calls.clear();
    TComExceptions code {};
    QCOMPARE(raisedText([&] { rig.link.SetPower(false); }, &code),
             QStringLiteral("EscapeCommFunction function failed (Error: %1)").arg(EBADF));
    QCOMPARE(code, TComExceptions::CE_EscapeComFailed);
    QCOMPARE(rig.state->calls, QStringList({"dtr 1"}));
}

void TestLinkFake::powerLineFailures_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<bool>("failDtr");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("openAfter");

    QTest::newRow("on, DTR fails") << true << true << QStringList({"dtr 0"}) << true;
    QTest::newRow("on, RTS fails") << true << false << QStringList({"dtr 0", "rts 1"}) << true;
    QTest::newRow("off, DTR fails") << false << true << QStringList({"dtr 1"}) << true;
    QTest::newRow("off, RTS fails") << false << false << QStringList({"dtr 1", "rts 0"}) << true;
}

void TestLinkFake::powerLineFailures()
{
    QFETCH(bool, on);
    QFETCH(bool, failDtr);
    QFETCH(QStringList, calls);
    QFETCH(bool, openAfter);

    Rig rig;
    if (!on)
        rig.link.SetPower(true);
    rig.state->calls.clear();
    rig.state->failDtr = failDtr;
    rig.state->failRts = !failDtr;
    rig.state->failError = 5;

    QCOMPARE(raisedText([&] { rig.link.SetPower(on); }),
             QStringLiteral("EscapeCommFunction function failed (Error: 5)"));
    if (on)
        calls.prepend(QStringLiteral("open /dev/ttyS0 9600"));
    QCOMPARE(rig.state->calls, calls);
    QCOMPARE(rig.link.isOpen(), openAfter);
}

void TestLinkFake::receiveOnClosedLink()
{
    Rig rig;
    rig.link.RxCount = 5;
    rig.link.Receive();
    QCOMPARE(rig.link.LinkStatus, quint8(TWinComPort::StartFailed));
    QCOMPARE(rig.link.RxCount, 0);
}

void TestLinkFake::receiveReadFailureRaises()
{
    Rig rig;
    rig.link.Send(Frame, sizeof Frame);
    rig.state->failRead = true;
    rig.state->failError = 5;
    TComExceptions code {};
    QCOMPARE(raisedText([&] { rig.link.Receive(); }, &code),
             QStringLiteral("ReadFile function failed (Error: 5)"));
    QCOMPARE(code, TComExceptions::CE_ReadFailed);
    QCOMPARE(rig.link.RxCount, 0);
}

void TestLinkFake::destructionClosesIgnoringState()
{
    auto state = std::make_shared<FakeSerialDevice::State>();
    {
        TWinComPort link(std::make_unique<FakeSerialDevice>(state));
        link.SetPower(true);
        state->calls.clear();
    }
    // Closed, and the modem lines were left as they were.
    QCOMPARE(state->calls, QStringList({"close"}));
    QVERIFY(!state->open);
    QCOMPARE(state->rts, true);
}

QTEST_GUILESS_MAIN(TestLinkFake)
#include "tst_linkfake.moc"
