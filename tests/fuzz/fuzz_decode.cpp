// The reply decoders of the sensor commands, on replies that passed the rules.
//
// Input: the command (one byte), then the reply PDU (function code and data);
// the target frames it with the bus address and the CRC, sends it through the
// engine's check against the command's real request and decodes what passes.
//
// Invariants: a decoder reads nothing past ReplyLen (it is handed a heap copy
// of exactly ReplyLen bytes); what it gives does not depend on the stale bytes
// in ReplyBuf beyond ReplyLen; a failure is the data-length failure and nothing
// else.

#include "FuzzSupport.h"

#include "codec/FrameCodec.h"
#include "sensor/SensorRequests.h"
#include "serial/SerialLink.h"

#include <functional>
#include <memory>

namespace {

constexpr int BusAddress = 1;
const QString DataLengthText = QStringLiteral("Неверная длина данных");

struct Command
{
    RequestPdu request;
    std::function<QStringList(const quint8 *, qint32)> decode;
};

QStringList texts(const MeasurementTexts &m)
{
    return {m.x, m.y, m.xStatus, m.yStatus};
}

const std::array<Command, 9> &commands()
{
    static const std::array<Command, 9> list = {{
        {RequestReadSerial(), [](const quint8 *r, qint32 n) { return QStringList{SerialText(DecodeSerial(r, n))}; }},
        {RequestPing(), [](const quint8 *r, qint32 n) { return QStringList{ResultText(DecodePing(r, n))}; }},
        {RequestReset(), [](const quint8 *r, qint32 n) { return QStringList{ResultText(DecodeReset(r, n))}; }},
        {RequestDeviceId(), [](const quint8 *r, qint32 n) { return DecodeDeviceId(r, n); }},
        {RequestReadCoordinates(), [](const quint8 *r, qint32 n) { return texts(DecodeCoordinates(r, n)); }},
        {RequestReadPixels(false), [](const quint8 *r, qint32 n) { return texts(DecodePixels(r, n, false)); }},
        {RequestReadPixels(true), [](const quint8 *r, qint32 n) { return texts(DecodePixels(r, n, true)); }},
        {RequestReadFlashWord(FirmwareVersionAddress),
         [](const quint8 *r, qint32 n) { return QStringList{WordText(DecodeWord(r, n))}; }},
        {RequestReadCrc(), [](const quint8 *r, qint32 n) { return QStringList{DecodeCrc(r, n)}; }},
    }};
    return list;
}

// The decoder's lines, or its failure text after a '!'.
QStringList outcome(const Command &c, const quint8 *reply, qint32 len)
{
    try {
        return c.decode(reply, len);
    } catch (const ZartError &e) {
        FUZZ_CHECK(e.text() == DataLengthText, "decoder failed with \"%s\"", utf8(e.text()));
        return {QStringLiteral("!") + e.text()};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    FuzzBytes in(data, size);
    const Command &command = commands()[in.byte() % commands().size()];
    const QByteArray pdu = in.take(ModbusMaster::BufSize);
    const QByteArray frame = BuildFrame(BusAddress, reinterpret_cast<const quint8 *>(pdu.constData()),
                                        qint32(pdu.size()));

    SerialLink port(std::make_unique<ClosedSerialDevice>());
    LogHost host(BusAddress);
    ModbusMaster engine(port, host);
    command.request.copyTo(engine.RequestBuf.data());
    engine.RequestLen = command.request.size();
    std::memcpy(port.RxBuf.data(), frame.constData(), size_t(frame.size()));
    port.RxCount = qint32(frame.size());
    try {
        engine.CheckReply();
    } catch (const ZartError &) {
        return 0; // the rules turned it down: no decoder sees it
    }
    const qint32 len = engine.ReplyLen;

    const std::unique_ptr<quint8[]> exact(new quint8[size_t(len)]);
    std::memcpy(exact.get(), engine.ReplyBuf.data(), size_t(len));
    const QStringList result = outcome(command, exact.get(), len);

    for (const quint8 stale : {0x00, 0xFF}) {
        std::fill(engine.ReplyBuf.begin() + len, engine.ReplyBuf.end(), stale);
        const QStringList again = outcome(command, engine.ReplyBuf.data(), len);
        FUZZ_CHECK(again == result, "stale bytes 0x%02X changed \"%s\" into \"%s\"", stale,
                   utf8(result.join(u'|')), utf8(again.join(u'|')));
    }
    return 0;
}
