// The simulated sensor's request handler.
//
// Input: a run of requests, each a flags byte, a length byte and the bytes.
// Flags bit 0 appends the right CRC, bit 1 puts the sensor's address in front,
// bit 2 the broadcast address 0. One fresh sensor takes the whole run.
//
// Invariants: every request gets a well-formed reply (the request's function
// with the layout the Modbus application protocol gives it, or an exception
// reply of five bytes) from the sensor's own address with a right CRC, or no
// reply; a reply of a function the tool reads is complete for the tool's own
// completeness test. The flash changes only by a well-formed write with the
// flash-write key (that word, to the value written), and besides by what the
// register map says: the checksum read stores the checksum into word 0x3FE, a
// broadcast address assignment with the sensor's serial number sets word 0.

#include "FuzzSupport.h"

#include "sim/SimSensor.h"
#include "codec/FrameCodec.h"
#include "codec/Crc16.h"

namespace {

quint8 at(const QByteArray &b, int i)
{
    return quint8(b.at(i));
}

int be16(const QByteArray &b, int i)
{
    return at(b, i) * 256 + at(b, i + 1);
}

quint32 be32(const QByteArray &b, int i)
{
    return quint32(be16(b, i)) << 16 | quint32(be16(b, i + 2));
}

bool crcOk(const QByteArray &frame)
{
    return frame.size() >= 4 && Crc16(reinterpret_cast<const quint8 *>(frame.constData()), qint32(frame.size())) == 0;
}

// The layout of a read device identification reply: header, then exactly
// `count` objects of id, length and value.
bool deviceIdOk(const QByteArray &pdu, const QByteArray &req)
{
    if (pdu.size() < 7 || at(pdu, 1) != 0x0E || at(pdu, 2) != at(req, 2))
        return false;
    int p = 7;
    for (int i = 0; i < at(pdu, 6); ++i) {
        if (p + 2 > pdu.size())
            return false;
        p += 2 + at(pdu, p + 1);
    }
    return p == pdu.size();
}

bool replyOk(const QByteArray &request, const QByteArray &reply, quint8 own)
{
    if (reply.size() < 5 || !crcOk(reply) || at(reply, 0) != own)
        return false;
    const QByteArray req = request.mid(1, request.size() - 3);
    const QByteArray pdu = reply.mid(1, reply.size() - 3);
    const quint8 function = at(req, 0);
    if (at(pdu, 0) == (function | 0x80))
        return pdu.size() == 2 && at(pdu, 1) >= 1 && at(pdu, 1) <= 4;
    if (at(pdu, 0) != function)
        return false;
    switch (function) {
    case 3:
    case 4:
        return req.size() == 5 && at(pdu, 1) == pdu.size() - 2 && at(pdu, 1) == 2 * be16(req, 3);
    case 8:
        return pdu == req;
    case 16:
        return pdu.size() == 5 && pdu.mid(1, 4) == req.mid(1, 4);
    case 43:
        return deviceIdOk(pdu, req);
    default:
        return false;
    }
}

bool readByTool(quint8 function)
{
    switch (function) {
    case 3: case 4: case 8: case 16: case 43:
    case 0x83: case 0x84: case 0x88: case 0x90: case 0xAB:
        return true;
    default:
        return false;
    }
}

// The flash a request may leave: `before` with the changes it is entitled to.
SimSensor::Flash allowedFlash(const QByteArray &r, const SimSensor::Flash &before)
{
    SimSensor::Flash after = before;
    const quint8 own = quint8(before[SimSensor::WordAddress] & 0xFF);
    if (!crcOk(r))
        return after;
    const bool writeLayout = r.size() == 15 && at(r, 1) == 16 && be16(r, 4) == 3 && at(r, 6) == 6;
    if (writeLayout && at(r, 0) == own && own != 0) {
        const int word = be16(r, 2) - 0x1000;
        const quint32 value = be32(r, 7);
        const bool keyed = at(r, 11) == SimSensor::FlashKeyHi && at(r, 12) == SimSensor::FlashKeyLo;
        if (word >= 0 && word < SimSensor::FlashWords && keyed
            && (word != SimSensor::WordAddress || (value >= 1 && value <= 247)))
            after[std::size_t(word)] = value;
    } else if (writeLayout && at(r, 0) == 0 && be16(r, 2) == 0) {
        const int address = be16(r, 7);
        if (address >= 1 && address <= 247 && be32(r, 9) == before[SimSensor::WordSerial])
            after[SimSensor::WordAddress] = quint32(address);
    } else if (r.size() == 8 && at(r, 0) == own && at(r, 1) == 4 && be16(r, 2) == 7 && be16(r, 4) == 1) {
        after[SimSensor::WordCrcActual] = SimSensor::flashChecksum(before);
    }
    return after;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    FuzzBytes in(data, size);
    SimSensor sensor;
    for (int i = 0; i < 64 && in.left() > 0; ++i) {
        const quint8 flags = in.byte();
        QByteArray request = in.take(in.byte());
        const SimSensor::Flash before = sensor.flash();
        const quint8 own = quint8(before[SimSensor::WordAddress] & 0xFF);
        if (!request.isEmpty() && (flags & 6))
            request[0] = char((flags & 4) ? 0 : own);
        if (flags & 1) {
            const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(request.constData()), qint32(request.size()));
            request.append(char(crc & 0xFF));
            request.append(char(crc >> 8));
        }

        const std::optional<QByteArray> reply = sensor.handleFrame(request);
        if (reply) {
            FUZZ_CHECK(replyOk(request, *reply, own), "request %s got reply %s",
                       utf8(HexLine(reinterpret_cast<const quint8 *>(request.constData()), qint32(request.size()))),
                       utf8(HexLine(reinterpret_cast<const quint8 *>(reply->constData()), qint32(reply->size()))));
            if (readByTool(at(*reply, 1)))
                FUZZ_CHECK(IsFrameComplete(reinterpret_cast<const quint8 *>(reply->constData()), qint32(reply->size())),
                           "reply %s is incomplete for the tool",
                           utf8(HexLine(reinterpret_cast<const quint8 *>(reply->constData()), qint32(reply->size()))));
        }
        const SimSensor::Flash after = sensor.flash();
        const SimSensor::Flash allowed = allowedFlash(request, before);
        for (int w = 0; w < SimSensor::FlashWords; ++w)
            FUZZ_CHECK(after[std::size_t(w)] == allowed[std::size_t(w)], "request %s left word 0x%03X %08X, not %08X",
                       utf8(HexLine(reinterpret_cast<const quint8 *>(request.constData()), qint32(request.size()))), w,
                       after[std::size_t(w)], allowed[std::size_t(w)]);
    }
    return 0;
}
