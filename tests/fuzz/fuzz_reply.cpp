// Reply completeness and the reply rules on any received bytes.
//
// Input: flags, bus address, a 5-byte request PDU, then the received frame.
// Flags bit 0 puts the right CRC at the end of the frame, bit 1 the bus address
// at its front (so that the rules past those two get exercised), bit 2 leaves the
// request unknown to the rules; the high four bits give the length of the
// request frame that a diagnostics echo repeats.
//
// Invariants: completeness, the frame length of the fast reply end and the rules
// read only the bytes received; a frame length, once told, is that of a complete
// frame, is told again by its own bytes, and is the shortest complete one (but
// for the echo, which is as long as its request); the rules
// never accept a frame whose CRC is wrong or whose address differs; the engine's
// check agrees with the rules, keeps ReplyLen within ReplyBuf, leaves exactly the
// frame's PDU there on success and ReplyLen 0 with the failure logged otherwise.

#include "FuzzSupport.h"

#include "codec/FrameCodec.h"
#include "codec/Crc16.h"
#include "serial/SerialLink.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    FuzzBytes in(data, size);
    const quint8 flags = in.byte();
    const int busAddress = 1 + in.byte() % 247;
    const QByteArray request = in.take(5).leftJustified(5, '\0');
    QByteArray frame = in.take(SerialLink::RxBufSize);
    if ((flags & 2) && !frame.isEmpty())
        frame[0] = char(busAddress);
    if ((flags & 1) && frame.size() >= 3) {
        const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size() - 2));
        frame[frame.size() - 2] = char(crc & 0xFF);
        frame[frame.size() - 1] = char(crc >> 8);
    }
    const qint32 n = qint32(frame.size());
    const auto *requestPdu = (flags & 4) ? nullptr : reinterpret_cast<const quint8 *>(request.constData());

    // Exactly n bytes on the heap: any read past them is an ASan finding.
    const std::unique_ptr<quint8[]> rx(new quint8[size_t(n)]);
    std::memcpy(rx.get(), frame.constData(), size_t(n));
    (void)IsFrameComplete(rx.get(), n);
    const qint32 requestLen = 6 + (flags >> 4);
    const qint32 frameLen = ReplyFrameLength(rx.get(), n, requestLen);
    if (frameLen > 0 && frameLen <= n) {
        FUZZ_CHECK(IsFrameComplete(rx.get(), frameLen), "a frame of %d bytes is not complete", frameLen);
        FUZZ_CHECK(ReplyFrameLength(rx.get(), frameLen, requestLen) == frameLen, "the length %d changes", frameLen);
        const bool echo = rx[1] == 8 && rx[2] == 0 && rx[3] == 0;
        if (!echo)
            FUZZ_CHECK(!IsFrameComplete(rx.get(), frameLen - 1), "complete before its length %d", frameLen);
    }

    const std::optional<QString> failure = CheckReplyRules(rx.get(), n, busAddress, requestPdu);
    if (!failure) {
        FUZZ_CHECK(n >= 4, "accepted a frame of %d bytes", n);
        FUZZ_CHECK(Crc16(rx.get(), n) == 0, "accepted a frame with a wrong CRC");
        FUZZ_CHECK(rx[0] == busAddress, "accepted address %d for %d", rx[0], busAddress);
        FUZZ_CHECK(n - 3 <= ModbusMaster::BufSize, "accepted a PDU of %d bytes", n - 3);
    }

    SerialLink port(std::make_unique<ClosedSerialDevice>());
    LogHost host(busAddress);
    ModbusMaster engine(port, host);
    std::memcpy(engine.RequestBuf.data(), request.constData(), 5);
    std::memcpy(port.RxBuf.data(), frame.constData(), size_t(n));
    port.RxCount = n;
    engine.ReplyLen = 12345; // whatever an earlier exchange left
    bool accepted = true;
    try {
        engine.CheckReply();
    } catch (const ZartError &e) {
        accepted = false;
        FUZZ_CHECK(host.lines == QStringList{e.text()}, "failure \"%s\" not logged once", utf8(e.text()));
    }
    FUZZ_CHECK(engine.ReplyLen >= 0 && engine.ReplyLen <= ModbusMaster::BufSize, "ReplyLen %d",
               engine.ReplyLen);
    if (requestPdu != nullptr)
        FUZZ_CHECK(accepted == !failure, "engine %d, rules %d", int(accepted), int(!failure));
    if (accepted) {
        FUZZ_CHECK(engine.ReplyLen == n - 3, "ReplyLen %d of a %d-byte frame", engine.ReplyLen, n);
        FUZZ_CHECK(std::memcmp(engine.ReplyBuf.data(), rx.get() + 1, size_t(engine.ReplyLen)) == 0,
                   "ReplyBuf is not the frame's PDU");
    } else {
        FUZZ_CHECK(engine.ReplyLen == 0, "ReplyLen %d after a failure", engine.ReplyLen);
    }
    return 0;
}
