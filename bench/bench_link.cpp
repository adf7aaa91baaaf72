// Serial link figures over a pseudo-terminal:
//  - how long Receive takes to return after the last byte of a reply
//    (the 40 ms silence plus the link's own overhead; bound 40.5 ms), and the
//    same with the fast reply end (the link's overhead alone);
//  - how much CPU a Receive uses while it waits 3 s for a reply that never
//    comes (bound 1 % of the wait).

#include "common/PtyPair.h"
#include "common/ScriptedPeer.h"
#include "codec/Crc16.h"
#include "serial/SerialLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

qint64 threadCpuNs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int exchanges = argc > 1 ? qMax(5, atoi(argv[1])) : 50;

    PtyPair pty;
    if (!pty.isValid()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 2;
    }

    const QByteArray request = withCrc(QByteArray::fromHex("010400050002"));
    const QByteArray reply = withCrc(QByteArray::fromHex("01040412345678"));

    SerialLink link;
    link.SetPortName(pty.slavePath());
    link.SetSpeed(QStringLiteral("115200"));
    link.ReplyTimeout = 1000;

    // 1. Reply end: a peer that answers each request at once, in both modes.
    struct EndFigures
    {
        qint64 median = 0, min = 0, max = 0, exchange = 0;
    };
    int failures = 0;
    const auto measureEnd = [&](bool fast, EndFigures &out) {
        link.FastReply = fast;
        std::vector<qint64> afterLastByte;
        std::vector<qint64> exchangeTimes;
        ScriptedPeer peer(pty);
        for (int i = 0; i < exchanges; ++i)
            peer.expectBytes(request).write(reply);
        peer.start();
        for (int i = 0; i < exchanges; ++i) {
            const qint64 started = ScriptedPeer::nowNs();
            link.Send(reinterpret_cast<const quint8 *>(request.constData()), qint32(request.size()));
            link.Receive();
            const qint64 returned = ScriptedPeer::nowNs();
            if (link.LinkStatus != SerialLink::Ok || link.RxCount != reply.size()) {
                ++failures;
                continue;
            }
            exchangeTimes.push_back(returned - started);
            const QList<qint64> writes = peer.writeTimesNs();
            if (writes.size() > i)
                afterLastByte.push_back(returned - writes.at(i));
        }
        peer.wait(2000);
        if (afterLastByte.empty())
            return false;
        std::sort(afterLastByte.begin(), afterLastByte.end());
        std::sort(exchangeTimes.begin(), exchangeTimes.end());
        out = {afterLastByte[afterLastByte.size() / 2], afterLastByte.front(), afterLastByte.back(),
               exchangeTimes[exchangeTimes.size() / 2]};
        return true;
    };
    EndFigures described;
    EndFigures fast;
    if (!measureEnd(false, described) || !measureEnd(true, fast)) {
        std::fprintf(stderr, "no exchange succeeded\n");
        return 2;
    }
    link.FastReply = false;

    // 2. CPU of a 3 s wait for nothing.
    link.ReplyTimeout = 3000;
    qint64 waitedNs = 0;
    qint64 cpuNs = 0;
    {
        ScriptedPeer peer(pty);
        peer.expectBytes(request);
        peer.start();
        link.Send(reinterpret_cast<const quint8 *>(request.constData()), qint32(request.size()));
        peer.wait(2000);
        const qint64 cpuBefore = threadCpuNs();
        const qint64 before = ScriptedPeer::nowNs();
        link.Receive();
        waitedNs = ScriptedPeer::nowNs() - before;
        cpuNs = threadCpuNs() - cpuBefore;
        if (link.LinkStatus != SerialLink::TimedOut)
            ++failures;
    }
    const double cpuPercent = 100.0 * double(cpuNs) / 3e9;

    const bool endOk = ms(described.median) <= 40.5;
    const bool cpuOk = cpuPercent < 1.0;
    std::printf("serial link over a pty (%d exchanges at 115200 bit/s, reply of %d bytes)\n",
                exchanges, int(reply.size()));
    std::printf("  last reply byte -> Receive returns, 40 ms end: median %.3f ms, min %.3f ms,"
                " max %.3f ms (bound 40.5 ms: %s)\n",
                ms(described.median), ms(described.min), ms(described.max), endOk ? "met" : "MISSED");
    std::printf("  last reply byte -> Receive returns, fast end: median %.3f ms, min %.3f ms,"
                " max %.3f ms\n",
                ms(fast.median), ms(fast.min), ms(fast.max));
    std::printf("  whole exchange (Send + Receive): median %.2f ms (40 ms end), %.2f ms (fast end)\n",
                ms(described.exchange), ms(fast.exchange));
    std::printf("  Receive waiting for nothing: %.1f ms, CPU %.3f ms = %.4f %% of 3 s"
                " (bound 1 %%: %s)\n",
                ms(waitedNs), ms(cpuNs), cpuPercent, cpuOk ? "met" : "MISSED");
    if (failures)
        std::printf("  %d exchange(s) did not end as expected\n", failures);
    return endOk && cpuOk && !failures ? 0 : 1;
}
