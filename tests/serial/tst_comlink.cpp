// The serial link against a real pseudo-terminal, with a scripted far end.

#include "common/ModbusFrames.h"
#include "common/PtyPair.h"
#include "common/ScriptedPeer.h"
#include "serial/QtSerialDevice.h"
#include "serial/SerialLink.h"

#include <QElapsedTimer>
#include <QtTest>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <ctime>
#include <optional>
#include <thread>

using namespace modbustest;

Q_DECLARE_METATYPE(TComExceptions)

namespace {

// Read input registers 5..6 of address 1, and a whole reply to it.
const QByteArray Request = withCrc("01 04 00 05 00 02");
const QByteArray Reply = withCrc("01 04 04 12 34 56 78");
constexpr qint64 Ms = 1000000;

void sendRequest(SerialLink &link)
{
    link.Send(u8(Request), qint32(Request.size()));
}

QByteArray rx(const SerialLink &link)
{
    return QByteArray(reinterpret_cast<const char *>(link.RxBuf.data()), link.RxCount);
}

// One whole exchange: the far end answers Request with reply.
void exchange(PtyPair &pty, SerialLink &link, const QByteArray &reply = Reply)
{
    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(reply);
    peer.start();
    sendRequest(link);
    QCOMPARE(link.LinkStatus, quint8(SerialLink::Ok));
    link.Receive();
    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(link.LinkStatus, quint8(SerialLink::Ok));
    QCOMPARE(rx(link), reply);
}

// An exchange that must go through; the test ends at its first failure.
#define EXCHANGE(...)                          \
    do {                                       \
        exchange(__VA_ARGS__);                 \
        if (QTest::currentTestFailed())        \
            return;                            \
    } while (false)

qint64 threadCpuNs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

class TestComLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void replyTiming_data();
    void replyTiming();
    void bytesBetweenExchangesAreDiscarded();
    void readStopsAtBufferSize();
    void missingDevice_data();
    void missingDevice();
    void portNameChanges();
    void speedAppliedAtOnceOrAtNextOpening();
    void writeThatCannotFinishTimesOut();
    void hungUpPeerClosesTheLink_data();
    void hungUpPeerClosesTheLink();
    void stableLinksKeepTheRoles();
};

void TestComLink::initTestCase()
{
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    QVERIFY(QtSerialDevice::isPtyPath(pty.slavePath()));
    QVERIFY(!QtSerialDevice::isPtyPath(QStringLiteral("/dev/null")));
}

void TestComLink::replyTiming_data()
{
    QTest::addColumn<bool>("fast");   // the reply ends at a whole frame
    QTest::addColumn<int>("delayMs"); // before the first burst
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("gapMs");   // -1: no second burst
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("received");

    // The head's byte count promises four data bytes that are still to come.
    const QByteArray head = Reply.left(4);
    const QByteArray tail = Reply.mid(4);
    const QByteArray trailing = hex("00 00");
    const int ok = SerialLink::Ok, incomplete = SerialLink::Incomplete, timedOut = SerialLink::TimedOut;
    for (const bool fast : {false, true}) {
        const char *mode = fast ? "fast" : "40 ms";
        QTest::addRow("%s, whole reply", mode) << fast << 0 << Reply << -1 << QByteArray() << ok << Reply;
        QTest::addRow("%s, reply without its last byte", mode)
            << fast << 0 << Reply.chopped(1) << -1 << QByteArray() << incomplete << Reply.chopped(1);
        QTest::addRow("%s, two bursts 50 ms apart are two replies", mode)
            << fast << 0 << head << 50 << tail << incomplete << head;
        QTest::addRow("%s, two bursts 10 ms apart are one reply", mode)
            << fast << 0 << head << 10 << tail << ok << Reply;
        QTest::addRow("%s, last byte 100 ms before the timeout", mode)
            << fast << 200 << Reply << -1 << QByteArray() << ok << Reply;
        QTest::addRow("%s, silent peer", mode) << fast << 0 << QByteArray() << -1 << QByteArray() << timedOut
                                               << QByteArray();
    }
    // Where the two ends differ: the fast end does not wait for the silence,
    // and takes the frame without what trails it.
    QTest::newRow("40 ms, last byte 30 ms before the timeout")
        << false << 270 << Reply << -1 << QByteArray() << timedOut << QByteArray();
    QTest::newRow("fast, last byte 30 ms before the timeout")
        << true << 270 << Reply << -1 << QByteArray() << ok << Reply;
    QTest::newRow("40 ms, trailing bytes") << false << 0 << Reply + trailing << -1 << QByteArray() << ok
                                           << Reply + trailing;
    QTest::newRow("fast, trailing bytes") << true << 0 << Reply + trailing << -1 << QByteArray() << ok << Reply;
    QTest::newRow("40 ms, trailing bytes 10 ms later") << false << 0 << Reply << 10 << trailing << ok
                                                       << Reply + trailing;
    QTest::newRow("fast, trailing bytes 10 ms later") << true << 0 << Reply << 10 << trailing << ok << Reply;
}

// ReplyTimeout 300 ms; a reply ends once the line has been silent for 40 ms,
// or with the fast end as soon as it is a whole frame.
void TestComLink::replyTiming()
{
    QFETCH(bool, fast);
    QFETCH(int, delayMs);
    QFETCH(QByteArray, first);
    QFETCH(int, gapMs);
    QFETCH(QByteArray, second);
    QFETCH(int, status);
    QFETCH(QByteArray, received);

    PtyPair pty;
    SerialLink link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 300;
    link.FastReply = fast;

    ScriptedPeer peer(pty);
    peer.expectBytes(Request);
    if (delayMs > 0)
        peer.pause(delayMs);
    if (!first.isEmpty())
        peer.write(first);
    if (gapMs >= 0)
        peer.pause(gapMs).write(second);
    peer.start();

    sendRequest(link);
    const qint64 started = ScriptedPeer::nowNs();
    link.Receive();
    const qint64 returned = ScriptedPeer::nowNs();

    QVERIFY(peer.wait(2000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(int(link.LinkStatus), status);
    QCOMPARE(link.RxCount, qint32(received.size()));
    QCOMPARE(rx(link), received);

    if (status == SerialLink::TimedOut) {
        const qint64 elapsed = returned - started;
        QVERIFY2(elapsed >= 300 * Ms && elapsed < 800 * Ms, qPrintable(QString::number(elapsed)));
        return;
    }
    // The read ends 40 ms after the last byte received before it returned.
    const QList<qint64> writes = peer.writeTimesNs();
    if (!fast || status != SerialLink::Ok) {
        qint64 lastByte = 0;
        for (const qint64 t : writes)
            lastByte = t < returned ? t : lastByte;
        // The peer notes a write once it is done, which on a loaded machine can
        // be a few milliseconds after the link has the bytes; a read that did
        // not wait for the silence would return at once. (How closely the end
        // keeps to 40 ms is measured by bench_link.)
        const qint64 afterLastByte = returned - lastByte;
        QVERIFY2(afterLastByte >= (SerialLink::SilenceMs - 5) * Ms && afterLastByte < 500 * Ms,
                 qPrintable(QStringLiteral("returned %1 ns after the last byte").arg(afterLastByte)));
        return;
    }
    // A whole frame with the fast end: at the write that completed it, long
    // before a silence could have ended the read. (The peer notes the time of
    // a write once it is done, which may be just after the link has seen the
    // bytes.)
    const int completing = gapMs >= 0 && first.size() < received.size() ? 1 : 0;
    QVERIFY(writes.size() > completing);
    const qint64 sinceFrame = qAbs(returned - writes.at(completing));
    QVERIFY2(sinceFrame < SerialLink::SilenceMs * Ms,
             qPrintable(QStringLiteral("returned %1 ns from the frame's last byte").arg(sinceFrame)));
}

void TestComLink::bytesBetweenExchangesAreDiscarded()
{
    PtyPair pty;
    SerialLink link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 1000;
    EXCHANGE(pty, link);

    // A late echo of the last reply, and line noise, arrive while nobody asks.
    const QByteArray stale = Reply + hex("FF 00 FF");
    QVERIFY(pty.peerWrite(stale));
    QVERIFY(pty.waitForPendingInput(stale.size(), 2000));
    EXCHANGE(pty, link, withCrc("01 04 04 0A 0B 0C 0D"));
}

void TestComLink::readStopsAtBufferSize()
{
    PtyPair pty;
    SerialLink link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = 3000;

    // Function code 0 never makes a whole frame.
    ScriptedPeer peer(pty);
    peer.expectBytes(Request).write(QByteArray(SerialLink::RxBufSize + 2000, '\0'));
    peer.start();
    sendRequest(link);
    link.Receive();
    QVERIFY(peer.wait(5000));
    QVERIFY2(peer.ok(), qPrintable(peer.failure()));
    QCOMPARE(link.RxCount, SerialLink::RxBufSize);
    QCOMPARE(link.LinkStatus, quint8(SerialLink::Incomplete));
}

void TestComLink::missingDevice_data()
{
    QTest::addColumn<QString>("portName");
    QTest::newRow("device path") << QStringLiteral("/dev/zart-no-such-port");
    QTest::newRow("COM number without a device") << QStringLiteral("COM999");
}

void TestComLink::missingDevice()
{
    QFETCH(QString, portName);

    SerialLink link;
    link.SetPortName(portName);
    link.LinkStatus = SerialLink::Incomplete; // left over from an earlier exchange
    try {
        sendRequest(link);
        QFAIL("Send on a missing device did not raise");
    } catch (const SerialLinkError &e) {
        QCOMPARE(e.code(), TComExceptions::CE_OpenFailed);
        QCOMPARE(e.winCode(), ENOENT);
        QCOMPARE(e.text(), QStringLiteral("Unable to open com port (Error: 2): %1: no such file or directory")
                               .arg(portName));
    }
    QCOMPARE(link.LinkStatus, quint8(SerialLink::Incomplete));
    QVERIFY(!link.isOpen());
    QCOMPARE(link.GetPortName(), portName);
}

// A new name reopens an open link; a failed reopening leaves it closed until
// the next exchange opens it.
void TestComLink::portNameChanges()
{
    PtyPair first;
    PtyPair second;
    SerialLink link;
    link.ReplyTimeout = 1000;
    link.SetPortName(first.slavePath());
    EXCHANGE(first, link);

    link.SetPortName(second.slavePath());
    QVERIFY(link.isOpen());
    QCOMPARE(link.GetPortName(), second.slavePath());
    EXCHANGE(second, link);
    QCOMPARE(first.peerRead(1, 50), QByteArray()); // nothing went to the old device

    const QString missing = QStringLiteral("/dev/zart-no-such-port");
    QVERIFY_THROWS_EXCEPTION(SerialLinkError, link.SetPortName(missing));
    QVERIFY(!link.isOpen());
    QCOMPARE(link.GetPortName(), missing);

    link.SetPortName(first.slavePath());
    QVERIFY(!link.isOpen());
    EXCHANGE(first, link);
    QVERIFY(link.isOpen());
}

void TestComLink::speedAppliedAtOnceOrAtNextOpening()
{
    PtyPair pty;
    SerialLink link;
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
    SerialLink link;
    link.SetPortName(pty.slavePath());

    // Nobody reads the far end: the pty's queue fills up long before this is written.
    const QByteArray huge(4 * 1024 * 1024, '\x55');
    QElapsedTimer timer;
    timer.start();
    link.Send(u8(huge), qint32(huge.size()));
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(link.LinkStatus, quint8(SerialLink::TimedOut));
    QVERIFY2(elapsed >= SerialLink::WriteWaitMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < SerialLink::WriteWaitMs + 800, qPrintable(QString::number(elapsed)));

    // The rest of the frame was dropped: once the far end has taken what the
    // pty held, the next exchange goes through untouched.
    while (!pty.peerRead(64 * 1024, 100).isEmpty()) {
    }
    link.ReplyTimeout = 1000;
    EXCHANGE(pty, link);
}

// The far end goes away (as an unplugged adapter does): the link fails at
// once with the device's reason, without spinning on the hung-up descriptor,
// and lets go of the device, so the next exchange opens the port by its name.
void TestComLink::hungUpPeerClosesTheLink_data()
{
    QTest::addColumn<bool>("whileWaiting"); // hung up during the reply wait, or before the request
    QTest::addColumn<TComExceptions>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("during the reply wait") << true << TComExceptions::CE_ReadFailed
                                           << QStringLiteral("ReadFile function failed (Error: 5)");
    QTest::newRow("before the request") << false << TComExceptions::CE_PurgeFailed
                                        << QStringLiteral("PurgeComm function failed (Error: 5)");
}

void TestComLink::hungUpPeerClosesTheLink()
{
    QFETCH(bool, whileWaiting);
    QFETCH(TComExceptions, code);
    QFETCH(QString, text);

    constexpr int ReplyTimeoutMs = 3000;
    PtyPair pty;
    SerialLink link;
    link.SetPortName(pty.slavePath());
    link.ReplyTimeout = ReplyTimeoutMs;
    std::thread hangUp;
    if (whileWaiting) {
        sendRequest(link);
        QCOMPARE(pty.peerRead(qint32(Request.size()), 2000), Request);
        // The far end goes while the link waits for the reply.
        hangUp = std::thread([&pty] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty.closeMaster();
        });
    } else {
        link.SetPower(true);
        pty.closeMaster();
    }

    const qint64 cpuBefore = threadCpuNs();
    QElapsedTimer timer;
    timer.start();
    std::optional<SerialLinkError> failure;
    try {
        if (whileWaiting)
            link.Receive();
        else
            sendRequest(link);
    } catch (const SerialLinkError &e) {
        failure = e;
    }
    const qint64 elapsedMs = timer.elapsed();
    const qint64 cpuNs = threadCpuNs() - cpuBefore;
    if (hangUp.joinable())
        hangUp.join();

    QVERIFY2(failure, "no failure raised");
    QCOMPARE(failure->code(), code);
    QCOMPARE(failure->text(), text);
    // Neither the reply timeout sat out nor a busy loop on the descriptor.
    QVERIFY2(elapsedMs < ReplyTimeoutMs / 2, qPrintable(QString::number(elapsedMs)));
    QVERIFY2(cpuNs < 60 * Ms, qPrintable(QStringLiteral("%1 ns of CPU").arg(cpuNs)));
    QVERIFY(!link.isOpen());

    // The pty went with its master: the next exchange tries to open it again.
    try {
        sendRequest(link);
        QFAIL("opening a pty that has gone did not fail");
    } catch (const SerialLinkError &e) {
        QCOMPARE(e.code(), TComExceptions::CE_OpenFailed);
        QCOMPARE(e.text(), QStringLiteral("Unable to open com port (Error: 2): %1: no such file or directory")
                               .arg(pty.slavePath()));
    }
    QVERIFY(!link.isOpen());
}

// Two adapters with stable links, set by their device names: once both are
// pulled out and come back under each other's device names, each link
// reopens through its stable link and reaches its own adapter again.
void TestComLink::stableLinksKeepTheRoles()
{
    QTemporaryDir byId;
    QVERIFY(byId.isValid());
    qputenv("ZART_SERIAL_BY_ID_DIR", QFile::encodeName(byId.path()));
    const auto unset = qScopeGuard([] { qunsetenv("ZART_SERIAL_BY_ID_DIR"); });
    const QString linkA = byId.filePath(QStringLiteral("usb-Maker_A_0001-if00-port0"));
    const QString linkB = byId.filePath(QStringLiteral("usb-Maker_B_0002-if00-port0"));
    const auto plug = [](const PtyPair &pty, const QString &link) {
        QFile::remove(link);
        return QFile::link(pty.slavePath(), link);
    };

    auto a = std::make_unique<PtyPair>();
    auto b = std::make_unique<PtyPair>();
    QVERIFY(a->isValid() && b->isValid());
    QVERIFY(plug(*a, linkA) && plug(*b, linkB));
    SerialLink first, second;
    first.SetPortName(a->slavePath());
    second.SetPortName(b->slavePath());
    QCOMPARE(first.stablePath(), linkA);
    QCOMPARE(second.stablePath(), linkB);
    QCOMPARE(first.stablePathLine(), QStringLiteral("Постоянное имя порта: ") + linkA);
    first.ReplyTimeout = second.ReplyTimeout = 2000;
    EXCHANGE(*a, first);
    EXCHANGE(*b, second);
    const QString nameA = a->slavePath();

    // Both pulled out: each link meets its hung-up device and lets it go.
    a->closeMaster();
    b->closeMaster();
    for (SerialLink *link : {&first, &second}) {
        QVERIFY_THROWS_EXCEPTION(SerialLinkError, sendRequest(*link));
        QVERIFY(!link->isOpen());
    }
    a.reset();
    b.reset();

    // Back in the other order: B first (it may take A's former device name).
    auto b2 = std::make_unique<PtyPair>();
    auto a2 = std::make_unique<PtyPair>();
    QVERIFY(a2->isValid() && b2->isValid());
    QVERIFY(plug(*a2, linkA) && plug(*b2, linkB));
    EXCHANGE(*a2, first);
    EXCHANGE(*b2, second);
    QCOMPARE(first.GetPortName(), nameA);
    // A port given by its stable link has nothing more to name.
    SerialLink byLink;
    byLink.SetPortName(linkA);
    QCOMPARE(byLink.stablePath(), linkA);
    QCOMPARE(byLink.stablePathLine(), QString());
}

QTEST_GUILESS_MAIN(TestComLink)
#include "tst_comlink.moc"
