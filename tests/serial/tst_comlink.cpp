// The serial link against a real pseudo-terminal, with a scripted far end.

#include "common/PtyPair.h"
#include "common/ScriptedPeer.h"
#include "modbus/UCrc.h"
#include "serial/QtSerialDevice.h"
#include "serial/UComWin.h"

#include <QElapsedTimer>
#include <QtTest>

#include <ctime>

namespace {

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Read input registers 5..6 of address 1, and a whole reply to it.
const QByteArray Request = withCrc(hex("010400050002"));
const QByteArray Reply = withCrc(hex("01040412345678"));

void sendRequest(TWinComPort &link)
{
    link.Send(reinterpret_cast<const quint8 *>(Request.constData()), qint32(Request.size()));
}

QByteArray rx(const TWinComPort &link)
{
    return QByteArray(reinterpret_cast<const char *>(link.RxBuf.data()), link.RxCount);
}

qint64 threadCpuNs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

constexpr qint64 Ms = 1000000;

} // namespace

class TestComLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void replyEndsAfterSilence_data();
    void replyEndsAfterSilence();
    void replyTiming_data();
    void replyTiming();
    void silentPeerTimesOut();
    void bytesBetweenExchangesAreDiscarded();
    void readStopsAtBufferSize();
    void missingDevice_data();
    void missingDevice();
    void setPortNameReopens();
    void failedReopenLeavesLinkClosed();
    void speedAppliedAtOnceOrAtNextOpening();
    void writeThatCannotFinishTimesOut();
    void hungUpPeerWaitsWithoutSpinning();
};

void TestComLink::initTestCase()
{
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    QVERIFY(QtSerialDevice::isPtyPath(pty.slavePath()));
    QVERIFY(!QtSerialDevice::isPtyPath(QStringLiteral("/dev/null")));
}

void TestComLink::replyEndsAfterSilence_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");

    QTest::newRow("whole reply") << Reply << int(TWinComPort::Ok);
    QTest::newRow("exception reply") << withCrc(hex("018402")) << int(TWinComPort::Ok);
    QTest::newRow("reply without its last byte") << Reply.left(Reply.size() - 1)
                                                 << int(TWinComPort::Incomplete);
    QTest::newRow("function the tool does not know") << withCrc(hex("0106000500FF"))
                                                     << int(TWinComPort::Incomplete);
    QTest::newRow("single byte") << hex("01") << int(TWinComPort::Incomplete);
}

void TestComLink::replyEndsAfterSilence()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, status);

    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 1000;

    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(reply);
    peer.start();

    sendRequest(link);
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
    link.Receive();
    const qint64 returned = ScriptedPeer::nowNs();

    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(int(link.LinkStatus), status);
    QCOMPARE(rx(link), reply);

    // The read may only end once the line has been silent for more than 40 ms.
    const qint64 afterLastByte = returned - peer.writeTimesNs().constLast();
    QVERIFY2(afterLastByte > TWinComPort::SilenceMs * Ms,
             qPrintable(QStringLiteral("returned %1 ns after the last byte").arg(afterLastByte)));
    QVERIFY2(afterLastByte < 500 * Ms, qPrintable(QString::number(afterLastByte)));
}

void TestComLink::replyTiming_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("gapMs");     // -1: no second burst
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("delayMs");   // before the first burst
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("received");

    const QByteArray head = Reply.left(4);
    const QByteArray tail = Reply.mid(4);
    QTest::newRow("two bursts 50 ms apart, first incomplete")
        << head << 50 << tail << 0 << int(TWinComPort::Incomplete) << head;
    QTest::newRow("two bursts 50 ms apart, first whole")
        << Reply << 50 << hex("0000") << 0 << int(TWinComPort::Ok) << Reply;
    QTest::newRow("two bursts 10 ms apart are one reply")
        << head << 10 << tail << 0 << int(TWinComPort::Ok) << Reply;
    QTest::newRow("last byte 30 ms before the timeout")
        << Reply << -1 << QByteArray() << 270 << int(TWinComPort::TimedOut) << QByteArray();
    QTest::newRow("bursts 20 ms apart, the last 30 ms before the timeout")
        << head << 20 << tail << 250 << int(TWinComPort::TimedOut) << QByteArray();
    QTest::newRow("last byte 100 ms before the timeout")
        << Reply << -1 << QByteArray() << 200 << int(TWinComPort::Ok) << Reply;
}

void TestComLink::replyTiming()
{
    QFETCH(QByteArray, first);
    QFETCH(int, gapMs);
    QFETCH(QByteArray, second);
    QFETCH(int, delayMs);
    QFETCH(int, status);
    QFETCH(QByteArray, received);

    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 300;

    ScriptedPeer peer(pty);
    peer.expectBytes(Request);
    if (delayMs > 0)
        peer.pause(delayMs);
    peer.write(first);
    if (gapMs >= 0)
        peer.pause(gapMs).write(second);
    peer.start();

    sendRequest(link);
    link.Receive();

    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(int(link.LinkStatus), status);
    QCOMPARE(link.RxCount, qint32(received.size()));
    QCOMPARE(rx(link), received);
}

void TestComLink::silentPeerTimesOut()
{
    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 250;

    ScriptedPeer peer(pty);
    peer.expectBytes(Request);
    peer.start();

    sendRequest(link);
    QElapsedTimer timer;
    timer.start();
    link.Receive();
    const qint64 elapsed = timer.elapsed();

    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::TimedOut));
    QCOMPARE(link.RxCount, 0);
    QVERIFY2(elapsed >= 250, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 250 + 500, qPrintable(QString::number(elapsed)));
}

void TestComLink::bytesBetweenExchangesAreDiscarded()
{
    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 1000;

    {
        ScriptedPeer peer(pty);
        peer.expectBytes(Request).write(Reply);
        peer.start();
        sendRequest(link);
        link.Receive();
        QVERIFY(peer.wait(2000));
        QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
    }

    // A late echo of the last reply, and line noise, arrive while nobody asks.
    const QByteArray stale = Reply + hex("FF00FF");
    QVERIFY(pty.peerWrite(stale));
    QVERIFY(pty.waitForPendingInput(stale.size(), 2000));

    const QByteArray secondReply = withCrc(hex("0104040A0B0C0D"));
    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(secondReply);
    peer.start();
    sendRequest(link);
    link.Receive();
    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
    QCOMPARE(rx(link), secondReply);
}

void TestComLink::readStopsAtBufferSize()
{
    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 3000;

    // Function code 0 never makes a whole frame.
    const QByteArray flood(TWinComPort::RxBufSize + 2000, '\0');
    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(flood);
    peer.start();

    sendRequest(link);
    link.Receive();
    QVERIFY(peer.wait(5000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(link.RxCount, TWinComPort::RxBufSize);
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Incomplete));
}

void TestComLink::missingDevice_data()
{
    QTest::addColumn<QString>("portName");
    QTest::newRow("device path") << QStringLiteral("/dev/zart-no-such-port");
    QTest::newRow("name in /dev") << QStringLiteral("zart-no-such-port");
    QTest::newRow("COM number without a device") << QStringLiteral("COM999");
}

void TestComLink::missingDevice()
{
    QFETCH(QString, portName);

    TWinComPort link;
    link.SetPortName(portName);
    link.LinkStatus = TWinComPort::Incomplete; // left over from an earlier exchange
    try {
        sendRequest(link);
        QFAIL("Send on a missing device did not raise");
    } catch (const EComPort &e) {
        QCOMPARE(e.code(), TComExceptions::CE_OpenFailed);
        QCOMPARE(e.winCode(), ENOENT);
        QCOMPARE(e.text(), QStringLiteral("Unable to open com port (Error: 2)"));
    }
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Incomplete));
    QVERIFY(!link.isOpen());
    QCOMPARE(link.GetPortName(), portName);
}

void TestComLink::setPortNameReopens()
{
    PtyPair first;
    PtyPair second;
    TWinComPort link;
    link.ReplyTimeout = 1000;
    link.SetPortName(first.slavePath());
    {
        ScriptedPeer peer(first);
        peer.expectBytes(Request).write(Reply);
        peer.start();
        sendRequest(link);
        link.Receive();
        QVERIFY(peer.wait(2000));
        QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
    }

    link.SetPortName(second.slavePath());
    QVERIFY(link.isOpen());
    QCOMPARE(link.GetPortName(), second.slavePath());

    ScriptedPeer peer(second);
    peer.expectBytes(Request).write(Reply);
    peer.start();
    sendRequest(link);
    link.Receive();
    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
    QCOMPARE(rx(link), Reply);
    // Nothing went to the old device.
    QCOMPARE(first.peerRead(1, 50), QByteArray());
}

void TestComLink::failedReopenLeavesLinkClosed()
{
    PtyPair pty;
    TWinComPort link;
    link.ReplyTimeout = 1000;
    link.SetPortName(pty.slavePath());
    link.SetPower(true); // opens
    QVERIFY(link.isOpen());

    const QString missing = QStringLiteral("/dev/zart-no-such-port");
    QVERIFY_THROWS_EXCEPTION(EComPort, link.SetPortName(missing));
    QVERIFY(!link.isOpen());
    QCOMPARE(link.GetPortName(), missing);

    // Back to a device that exists: the name changes, the link stays closed
    // until the next exchange opens it.
    link.SetPortName(pty.slavePath());
    QVERIFY(!link.isOpen());
    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(Reply);
    peer.start();
    sendRequest(link);
    QVERIFY(link.isOpen());
    link.Receive();
    QVERIFY(peer.wait(2000));
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
}

void TestComLink::speedAppliedAtOnceOrAtNextOpening()
{
    PtyPair pty;
    TWinComPort link;
    link.ReplyTimeout = 1000;
    link.SetPortName(pty.slavePath());
    link.SetPower(true);
    QCOMPARE(pty.lineSpeed(), 9600);

    link.SetSpeed(QStringLiteral("57600"));
    QCOMPARE(pty.lineSpeed(), 57600);

    link.SetPower(false);
    QVERIFY(!link.isOpen());
    const qint32 whileClosed = pty.lineSpeed();
    link.SetSpeed(QStringLiteral("115200"));
    QCOMPARE(pty.lineSpeed(), whileClosed);

    ScriptedPeer peer(pty);
    peer.expectBytes(Request);
    peer.start();
    sendRequest(link);
    QCOMPARE(pty.lineSpeed(), 115200);
    QVERIFY(peer.wait(2000));
}

void TestComLink::writeThatCannotFinishTimesOut()
{
    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());

    // Nobody reads the far end: the pty's queue fills up long before this is written.
    const QByteArray huge(4 * 1024 * 1024, '\x55');
    QElapsedTimer timer;
    timer.start();
    link.Send(reinterpret_cast<const quint8 *>(huge.constData()), qint32(huge.size()));
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::TimedOut));
    QVERIFY2(elapsed >= TWinComPort::WriteWaitMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < TWinComPort::WriteWaitMs + 800, qPrintable(QString::number(elapsed)));

    // The rest of the frame was dropped: once the far end has taken what the
    // pty held, the next exchange goes through untouched.
    while (!pty.peerRead(64 * 1024, 100).isEmpty()) {
    }
    link.ReplyTimeout = 1000;
    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(Reply);
    peer.start();
    sendRequest(link);
    QCOMPARE(link.LinkStatus, quint8(TWinComPort::Ok));
    link.Receive();
    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(rx(link), Reply);
}

void TestComLink::hungUpPeerWaitsWithoutSpinning()
{
    PtyPair pty;
    TWinComPort link;
    link.SetPortName(pty.slavePath());
    link.SetPower(true);
    pty.closeMaster();

    link.ReplyTimeout = 300;
    const qint64 cpuBefore = threadCpuNs();
    QElapsedTimer timer;
    timer.start();
    link.Receive();
    const qint64 elapsedMs = timer.elapsed();
    const qint64 cpuNs = threadCpuNs() - cpuBefore;

    QCOMPARE(link.LinkStatus, quint8(TWinComPort::TimedOut));
    QCOMPARE(link.RxCount, 0);
    QVERIFY2(elapsedMs >= 300, qPrintable(QString::number(elapsedMs)));
    // A busy loop would burn the whole 300 ms.
    QVERIFY2(cpuNs < 60 * Ms, qPrintable(QStringLiteral("%1 ns of CPU").arg(cpuNs)));
}

QTEST_GUILESS_MAIN(TestComLink)
#include "tst_comlink.moc"
