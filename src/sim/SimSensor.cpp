#include "sim/SimSensor.h"

#include "codec/Crc16.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

namespace {

constexpr quint8 ExIllegalFunction = 1;
constexpr quint8 ExIllegalAddress = 2;
constexpr quint8 ExIllegalValue = 3;

constexpr int FlashRegisterBase = 0x1000;
constexpr int DumpBytes = SimSensor::FlashWords * 4;
constexpr int MaxIdObjectLength = 64; // keeps the identification reply within one PDU

quint16 be16(const QByteArray &b, int at)
{
    return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}

quint32 be32(const QByteArray &b, int at)
{
    return (quint32(be16(b, at)) << 16) | be16(b, at + 2);
}

void put16(QByteArray &b, quint16 v)
{
    b.append(char(v >> 8));
    b.append(char(v & 0xFF));
}

void put32(QByteArray &b, quint32 v)
{
    put16(b, quint16(v >> 16));
    put16(b, quint16(v & 0xFFFF));
}

void putSingle(QByteArray &b, float v)
{
    put32(b, std::bit_cast<quint32>(v));
}

quint16 pixelAsInteger(float v)
{
    if (!(v > 0.0f)) // also NaN
        return 0;
    if (v >= 65535.0f)
        return 0xFFFF;
    return quint16(std::lround(v));
}

void appendCrc(QByteArray &frame)
{
    const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(frame.constData()),
                              qint32(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

qint64 steadyMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Grid step of the calibration for a firmware version and device dimension.
double gridStep(int version, int dimension)
{
    if (dimension == 40)
        return (version == 11 || version == 15) ? 2.0 : 2.05;
    return (version >= 11 && version <= 13) || version == 15 ? 5.0 : 5.05;
}

} // namespace

SimSensor::SimSensor() : m_flash(defaultFlash()) {}

SimSensor::Flash SimSensor::defaultFlash()
{
    return factoryFlash(1, 0x0012AB7F);
}

SimSensor::Flash SimSensor::factoryFlash(quint8 address, quint32 serial)
{
    Flash f;
    f.fill(0xFFFFFFFFu); // erased
    f[WordAddress] = address;
    f[WordSerial] = serial;
    f[WordExposureX] = 120;
    f[WordExposureY] = 118;
    f[WordThresholdX] = 40;
    f[WordThresholdY] = 42;
    f[WordIllumination] = 0;
    f[WordFirmware] = 14;
    f[WordDimension] = 40;
    f[WordCpu] = 2;

    // Calibration: the nominal grid with small, repeatable deviations (a few
    // hundredths of a millimetre), as a calibrated sensor would carry; each
    // serial number has its own.
    const quint32 own = (serial - 0x0012AB7Fu) % 143u;
    const double step = gridStep(14, 40);
    for (int k = 0; k < GridPoints; ++k) {
        const int i = k / 21;
        const int j = k % 21;
        const double dx = 0.004 * (int((quint32(k) * 7 + own) % 11) - 5);
        const double dy = 0.003 * (int((quint32(k) * 5 + own) % 13) - 6);
        f[WordTableX + k] = std::bit_cast<quint32>(float((i - 10) * step + dx));
        f[WordTableY + k] = std::bit_cast<quint32>(float((j - 10) * step + dy));
    }

    const quint16 crc = flashChecksum(f);
    f[WordCrc] = crc;
    f[WordCrcActual] = crc;
    f[WordCrcRequired] = crc;
    return f;
}

quint16 SimSensor::flashChecksum(const Flash &flash)
{
    QByteArray bytes;
    bytes.reserve(WordCpu * 4 + 4);
    for (int n = 0; n <= WordCpu; ++n) {
        const quint32 w = flash[n];
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
        bytes.append(char((w >> 16) & 0xFF));
        bytes.append(char(w >> 24));
    }
    return Crc16(reinterpret_cast<const quint8 *>(bytes.constData()), qint32(bytes.size()));
}

std::optional<QByteArray> SimSensor::handleFrame(const QByteArray &request)
{
    const std::optional<SimReply> r = process(request);
    if (!r)
        return std::nullopt;
    return r->frame;
}

std::optional<SimReply> SimSensor::process(const QByteArray &request)
{
    QMutexLocker lock(&m_mutex);
    SimRequestRecord rec{request, {}, steadyMicroseconds()};
    std::optional<SimReply> reply = processLocked(request);
    if (reply)
        rec.reply = reply->frame;
    m_log.append(rec);
    if (m_log.size() > RequestLogLimit)
        m_log.remove(0, m_log.size() - RequestLogLimit);
    ++m_requestCount;
    m_requestArrived.wakeAll();
    return reply;
}

std::optional<SimReply> SimSensor::processLocked(const QByteArray &req)
{
    const int n = int(req.size());
    if (n < 4)
        return std::nullopt;
    if (Crc16(reinterpret_cast<const quint8 *>(req.constData()), n) != 0)
        return std::nullopt;

    const quint8 to = quint8(req[0]);
    if (to == 0) {
        handleBroadcast(req);
        return std::nullopt; // a broadcast is never answered
    }
    const quint8 own = quint8(m_flash[WordAddress] & 0xFF);
    if (own == 0 || own > 247 || to != own)
        return std::nullopt;

    const quint8 function = quint8(req[1]);
    if (function == 0 || function >= 0x80)
        return std::nullopt; // not a request

    int reg = SimFault::Any;
    if ((function == 3 || function == 4 || function == 8 || function == 16) && n >= 6)
        reg = be16(req, 2);

    QList<const SimFault *> fired;
    for (ActiveFault &af : m_faults) {
        const SimFault &f = af.fault;
        if (f.functionCode != SimFault::Any && f.functionCode != function)
            continue;
        if (f.registerAddress != SimFault::Any && f.registerAddress != reg)
            continue;
        ++af.matched;
        if (af.matched % f.everyNth != 0)
            continue;
        if (f.count != SimFault::Always && af.fired >= f.count)
            continue;
        ++af.fired;
        fired.append(&af.fault);
    }
    auto firedKind = [&](SimFault::Kind k) -> const SimFault * {
        for (const SimFault *f : fired)
            if (f->kind == k)
                return f;
        return nullptr;
    };

    if (firedKind(SimFault::Kind::NoReply))
        return std::nullopt;

    QByteArray pdu;
    if (const SimFault *ex = firedKind(SimFault::Kind::Exception))
        pdu = exceptionPdu(function, quint8(ex->value));
    else
        pdu = execute(req, fired);
    if (const SimFault *f = firedKind(SimFault::Kind::ShortData);
        f && (function == 3 || function == 4) && pdu.size() > 2 && quint8(pdu[0]) == function) {
        const int kept = std::clamp(f->value, 0, int(pdu.size()) - 2);
        pdu.truncate(2 + kept);
        pdu[1] = char(kept);
    }

    // The reply carries the address the request came to, even when the request
    // has just changed it (the new address is used from the next request on).
    SimReply reply;
    reply.frame.append(char(own));
    reply.frame.append(pdu);
    appendCrc(reply.frame);

    if (const SimFault *f = firedKind(SimFault::Kind::WrongAddress)) {
        quint8 other = quint8(f->value);
        if (other == 0 || other == own)
            other = quint8(own % 247 + 1);
        reply.frame[0] = char(other);
        reply.frame.chop(2);
        appendCrc(reply.frame);
    }
    if (firedKind(SimFault::Kind::BadCrc)) {
        const int last = int(reply.frame.size()) - 1;
        reply.frame[last] = char(quint8(reply.frame[last]) ^ 0xFF);
        reply.frame[last - 1] = char(quint8(reply.frame[last - 1]) ^ 0xFF);
    }
    for (const SimFault *f : fired) {
        switch (f->kind) {
        case SimFault::Kind::TrailingBytes:
            reply.frame.append(f->bytes.isEmpty() ? QByteArray(1, '\0') : f->bytes);
            break;
        case SimFault::Kind::Delay:
            reply.delayMs += qMax(0, f->value);
            break;
        case SimFault::Kind::SplitReply: {
            const int size = int(reply.frame.size());
            reply.firstBurst = f->value <= 0 ? size / 2 : qMin(f->value, size - 1);
            reply.gapMs = qMax(0, f->gapMs);
            break;
        }
        default:
            break;
        }
    }
    return reply;
}

QByteArray SimSensor::execute(const QByteArray &req, const QList<const SimFault *> &fired)
{
    const QByteArray pdu = req.mid(1, req.size() - 3);
    switch (quint8(pdu[0])) {
    case 3:
        return readHolding(pdu);
    case 4:
        return readInput(pdu);
    case 8:
        return diagnostics(pdu);
    case 16: {
        bool ignore = false;
        for (const SimFault *f : fired)
            ignore = ignore || f->kind == SimFault::Kind::IgnoreWrite;
        return writeMultiple(pdu, ignore);
    }
    case 43:
        return deviceId(pdu);
    default:
        return exceptionPdu(quint8(pdu[0]), ExIllegalFunction);
    }
}

void SimSensor::handleBroadcast(const QByteArray &req)
{
    // Address assignment: 00 10 00 00 00 03 06 <address> <serial> CRC.
    // Other broadcasts are not acted on.
    if (req.size() != 15 || quint8(req[1]) != 16 || be16(req, 2) != 0 || be16(req, 4) != 3
        || quint8(req[6]) != 6)
        return;
    const quint16 newAddress = be16(req, 7);
    const quint32 serial = be32(req, 9);
    if (serial == m_flash[WordSerial] && newAddress >= 1 && newAddress <= 247)
        m_flash[WordAddress] = newAddress;
}

QByteArray SimSensor::readInput(const QByteArray &pdu)
{
    if (pdu.size() != 5)
        return exceptionPdu(4, ExIllegalValue);
    const quint16 start = be16(pdu, 1);
    const quint16 qty = be16(pdu, 3);
    if (qty < 1 || qty > 125)
        return exceptionPdu(4, ExIllegalValue);

    // The wandering spot's offset for this read.
    float dx = 0.0f;
    float dy = 0.0f;
    if (m_wander != 0.0f && (start == 0x0000 || start == 0x2000 || start == 0x2001)) {
        const quint32 n = m_wanderStep++;
        const double phase = n * 0.02;
        // A small repeatable hash of the step as noise in -0.5..0.5.
        const auto noise = [n](quint32 salt) {
            quint32 h = (n + salt) * 2654435761u;
            h ^= h >> 15;
            return double(h & 0xFFFF) / 65535.0 - 0.5;
        };
        dx = float(m_wander * (std::cos(phase) + 0.15 * noise(1)));
        dy = float(m_wander * (std::sin(phase) + 0.15 * noise(7)));
    }

    QByteArray data;
    if (start == 0x0000 && qty == 5) {
        putSingle(data, m_wander != 0.0f ? m_x + dx : m_x);
        putSingle(data, m_wander != 0.0f ? m_y + dy : m_y);
        data.append(char(m_statusX));
        data.append(char(m_statusY));
    } else if (start == 0x0005 && qty == 2) {
        put32(data, m_flash[WordSerial]);
    } else if (start == 0x0007 && qty == 1) {
        const quint16 crc = flashChecksum(m_flash);
        m_flash[WordCrcActual] = crc;
        put16(data, crc);
    } else if (start == 0x2000 && qty == 3) {
        put16(data, pixelAsInteger(m_wander != 0.0f ? m_nx + 10.0f * dx : m_nx));
        put16(data, pixelAsInteger(m_wander != 0.0f ? m_ny + 10.0f * dy : m_ny));
        data.append(char(m_statusX));
        data.append(char(m_statusY));
    } else if (start == 0x2001 && qty == 5) {
        putSingle(data, m_wander != 0.0f ? m_nx + 10.0f * dx : m_nx);
        putSingle(data, m_wander != 0.0f ? m_ny + 10.0f * dy : m_ny);
        data.append(char(m_statusX));
        data.append(char(m_statusY));
    } else {
        return exceptionPdu(4, ExIllegalAddress);
    }
    QByteArray reply(1, char(4));
    reply.append(char(data.size()));
    reply.append(data);
    return reply;
}

QByteArray SimSensor::readHolding(const QByteArray &pdu)
{
    if (pdu.size() != 5)
        return exceptionPdu(3, ExIllegalValue);
    const quint16 start = be16(pdu, 1);
    const quint16 qty = be16(pdu, 3);
    if (qty < 1 || qty > 125)
        return exceptionPdu(3, ExIllegalValue);
    // Whole words only, within the image; without block reads one word at a time.
    const int words = qty / 2;
    if (start < FlashRegisterBase || qty % 2 != 0 || words > (m_blockReads ? MaxBlockWords : 1)
        || start + words > FlashRegisterBase + FlashWords)
        return exceptionPdu(3, ExIllegalAddress);
    QByteArray reply(1, char(3));
    reply.append(char(4 * words));
    for (int n = start - FlashRegisterBase; n < start - FlashRegisterBase + words; ++n)
        put32(reply, m_flash[n]);
    return reply;
}

QByteArray SimSensor::writeMultiple(const QByteArray &pdu, bool ignoreStore)
{
    if (pdu.size() < 6)
        return exceptionPdu(16, ExIllegalValue);
    const quint16 start = be16(pdu, 1);
    const quint16 qty = be16(pdu, 3);
    const int byteCount = quint8(pdu[5]);
    if (qty < 1 || qty > 123 || byteCount != qty * 2 || pdu.size() != 6 + byteCount)
        return exceptionPdu(16, ExIllegalValue);
    if (start < FlashRegisterBase || start >= FlashRegisterBase + FlashWords || qty != 3)
        return exceptionPdu(16, ExIllegalAddress);
    if (quint8(pdu[10]) != FlashKeyHi || quint8(pdu[11]) != FlashKeyLo)
        return exceptionPdu(16, ExIllegalValue);
    const int word = start - FlashRegisterBase;
    const quint32 value = be32(pdu, 6);
    // A bus address of 0 or above 247 would make the sensor unreachable.
    if (word == WordAddress && (value < 1 || value > 247))
        return exceptionPdu(16, ExIllegalValue);
    if (!ignoreStore)
        m_flash[word] = value;
    QByteArray reply(1, char(16));
    put16(reply, start);
    put16(reply, qty);
    return reply;
}

QByteArray SimSensor::diagnostics(const QByteArray &pdu)
{
    if (pdu.size() < 3)
        return exceptionPdu(8, ExIllegalValue);
    switch (be16(pdu, 1)) {
    case 0x0000: // return query data
        return pdu;
    case 0x0001: // restart communications: data 0000 or FF00
        if (pdu.size() != 5 || !(be16(pdu, 3) == 0x0000 || be16(pdu, 3) == 0xFF00))
            return exceptionPdu(8, ExIllegalValue);
        return pdu;
    default:
        return exceptionPdu(8, ExIllegalFunction);
    }
}

QByteArray SimSensor::deviceId(const QByteArray &pdu)
{
    if (pdu.size() < 2 || quint8(pdu[1]) != 0x0E)
        return exceptionPdu(43, ExIllegalFunction);
    if (pdu.size() != 4 || quint8(pdu[2]) != 0x01)
        return exceptionPdu(43, ExIllegalValue);
    // Basic stream access: an object id past the last one restarts at 0.
    int first = quint8(pdu[3]);
    if (first > 2)
        first = 0;
    const QByteArray objects[3] = {m_vendor, m_product, m_revision};
    QByteArray reply;
    reply.append(char(0x2B));
    reply.append(char(0x0E));
    reply.append(char(0x01)); // read device id code
    reply.append(char(0x01)); // conformity level: basic, stream access
    reply.append(char(0x00)); // more follows
    reply.append(char(0x00)); // next object id
    reply.append(char(3 - first));
    for (int id = first; id < 3; ++id) {
        reply.append(char(id));
        reply.append(char(objects[id].size()));
        reply.append(objects[id]);
    }
    return reply;
}

QByteArray SimSensor::exceptionPdu(quint8 function, quint8 code) const
{
    QByteArray pdu;
    pdu.append(char(function | 0x80));
    pdu.append(char(code));
    return pdu;
}

SimSensor::Flash SimSensor::flash() const
{
    QMutexLocker lock(&m_mutex);
    return m_flash;
}

void SimSensor::setFlash(const Flash &flash)
{
    QMutexLocker lock(&m_mutex);
    m_flash = flash;
}

quint32 SimSensor::word(int index) const
{
    QMutexLocker lock(&m_mutex);
    return (index >= 0 && index < FlashWords) ? m_flash[index] : 0;
}

void SimSensor::setWord(int index, quint32 value)
{
    QMutexLocker lock(&m_mutex);
    if (index >= 0 && index < FlashWords)
        m_flash[index] = value;
}

bool SimSensor::loadDump(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    // The size is judged in whole words, as the configurator does: 4096..4099 bytes.
    const QByteArray bytes = file.read(DumpBytes + 4);
    if (bytes.size() / 4 != FlashWords || !file.atEnd()) {
        if (error)
            *error = QStringLiteral("%1 is no flash dump: %2 words instead of %3")
                         .arg(path)
                         .arg(file.size() / 4)
                         .arg(FlashWords);
        return false;
    }
    Flash f;
    for (int n = 0; n < FlashWords; ++n) {
        const auto *p = reinterpret_cast<const quint8 *>(bytes.constData()) + 4 * n;
        f[n] = quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
    }
    setFlash(f);
    return true;
}

bool SimSensor::saveDump(const QString &path, QString *error) const
{
    const Flash f = flash();
    QByteArray bytes;
    bytes.reserve(DumpBytes);
    for (quint32 w : f) {
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
        bytes.append(char((w >> 16) & 0xFF));
        bytes.append(char(w >> 24));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

quint8 SimSensor::address() const
{
    QMutexLocker lock(&m_mutex);
    return quint8(m_flash[WordAddress] & 0xFF);
}

void SimSensor::setAddress(quint8 address)
{
    QMutexLocker lock(&m_mutex);
    m_flash[WordAddress] = address;
}

quint32 SimSensor::serial() const
{
    QMutexLocker lock(&m_mutex);
    return m_flash[WordSerial];
}

void SimSensor::setSerial(quint32 serial)
{
    QMutexLocker lock(&m_mutex);
    m_flash[WordSerial] = serial;
}

SimSensor::Illumination SimSensor::illumination() const
{
    QMutexLocker lock(&m_mutex);
    switch (m_flash[WordIllumination]) {
    case 1:
        return Illumination::X;
    case 2:
        return Illumination::Y;
    default:
        return Illumination::Off;
    }
}

void SimSensor::setBlockReads(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_blockReads = on;
}

bool SimSensor::blockReads() const
{
    QMutexLocker lock(&m_mutex);
    return m_blockReads;
}

void SimSensor::setCoordinates(float x, float y)
{
    QMutexLocker lock(&m_mutex);
    m_x = x;
    m_y = y;
}

void SimSensor::setStatus(quint8 statusX, quint8 statusY)
{
    QMutexLocker lock(&m_mutex);
    m_statusX = statusX;
    m_statusY = statusY;
}

void SimSensor::setPixels(float nx, float ny)
{
    QMutexLocker lock(&m_mutex);
    m_nx = nx;
    m_ny = ny;
}

void SimSensor::setWander(float amplitude)
{
    QMutexLocker lock(&m_mutex);
    m_wander = amplitude;
}

void SimSensor::setDeviceId(const QByteArray &vendor, const QByteArray &product,
                            const QByteArray &revision)
{
    QMutexLocker lock(&m_mutex);
    m_vendor = vendor.left(MaxIdObjectLength);
    m_product = product.left(MaxIdObjectLength);
    m_revision = revision.left(MaxIdObjectLength);
}

int SimSensor::addFault(const SimFault &fault)
{
    QMutexLocker lock(&m_mutex);
    const int id = m_nextFaultId++;
    m_faults.append(ActiveFault{id, fault});
    return id;
}

void SimSensor::removeFault(int id)
{
    QMutexLocker lock(&m_mutex);
    m_faults.removeIf([id](const ActiveFault &f) { return f.id == id; });
}

void SimSensor::clearFaults()
{
    QMutexLocker lock(&m_mutex);
    m_faults.clear();
}

int SimSensor::firedCount(int id) const
{
    QMutexLocker lock(&m_mutex);
    for (const ActiveFault &f : m_faults)
        if (f.id == id)
            return f.fired;
    return 0;
}

QList<SimRequestRecord> SimSensor::requestLog() const
{
    QMutexLocker lock(&m_mutex);
    return m_log;
}

int SimSensor::requestCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_requestCount;
}

void SimSensor::clearRequestLog()
{
    QMutexLocker lock(&m_mutex);
    m_log.clear();
    m_requestCount = 0;
}

bool SimSensor::waitForRequests(int count, int timeoutMs) const
{
    QMutexLocker lock(&m_mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (m_requestCount < count) {
        if (!m_requestArrived.wait(&m_mutex, deadline))
            return m_requestCount >= count;
    }
    return true;
}
