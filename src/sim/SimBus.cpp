#include "sim/SimBus.h"

#include <QStringList>
#include <bit>

namespace {

constexpr qint64 MicrosPerSecond = 1000000;
constexpr int FixedSilenceAboveBaud = 19200;
constexpr qint64 FixedSilenceUs = 1750;

} // namespace

SimSensor &SimBus::addSensor(quint8 address, quint32 serial)
{
    auto sensor = std::make_unique<SimSensor>();
    sensor->setFlash(SimSensor::factoryFlash(address, serial));
    SimSensor &added = *sensor;
    QMutexLocker lock(&m_mutex);
    m_owned.push_back(std::move(sensor));
    m_sensors.append(&added);
    return added;
}

void SimBus::attach(SimSensor &sensor)
{
    QMutexLocker lock(&m_mutex);
    m_sensors.append(&sensor);
}

int SimBus::size() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_sensors.size());
}

SimSensor &SimBus::sensor(int index) const
{
    QMutexLocker lock(&m_mutex);
    return *m_sensors.at(index);
}

void SimBus::setWireBaud(int baud)
{
    QMutexLocker lock(&m_mutex);
    m_baud = qMax(0, baud);
}

int SimBus::wireBaud() const
{
    QMutexLocker lock(&m_mutex);
    return m_baud;
}

std::optional<SimReply> SimBus::process(const QByteArray &request)
{
    QMutexLocker lock(&m_mutex);
    QList<SimReply> replies;
    for (SimSensor *sensor : std::as_const(m_sensors))
        if (std::optional<SimReply> r = sensor->process(request); r && !r->frame.isEmpty())
            replies.append(*r);
    if (replies.isEmpty())
        return std::nullopt;

    SimReply reply = replies.constFirst();
    if (replies.size() > 1) {
        // Fighting transmitters: no burst split survives, the slowest sets the pace.
        QList<QByteArray> frames;
        reply = SimReply{};
        for (const SimReply &r : std::as_const(replies)) {
            frames.append(r.frame);
            reply.delayMs = qMax(reply.delayMs, r.delayMs);
        }
        reply.frame = collide(frames);
    }
    reply.wireUs = wireTimeUs(int(request.size()), int(reply.frame.size()), m_baud);
    return reply;
}

std::optional<QList<SimBus::Member>> SimBus::parseMembers(const QString &text, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<QList<Member>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QList<Member> members;
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() > MaxSensors)
        return fail(QStringLiteral("at most %1 sensors on one line").arg(MaxSensors));
    for (const QString &item : items) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        bool addressOk = false;
        bool serialOk = false;
        const uint address = parts.value(0).toUInt(&addressOk, 10);
        QString serial = parts.value(1);
        if (serial.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            serial = serial.mid(2);
        const uint number = serial.toUInt(&serialOk, 16);
        if (parts.size() != 2 || !addressOk || address < 1 || address > 247 || !serialOk
            || serial.size() > 8)
            return fail(QStringLiteral("\"%1\" is no ADDRESS:SERIAL (address 1..247, serial up to "
                                       "8 hexadecimal digits)")
                            .arg(item));
        members.append(Member{quint8(address), quint32(number)});
    }
    return members;
}

QByteArray SimBus::collide(const QList<QByteArray> &replies)
{
    // The line, one entry per bit time; the idle line is 1.
    qsizetype bits = 0;
    for (qsizetype k = 0; k < replies.size(); ++k)
        bits = qMax(bits, k * CollisionSkewBits + replies[k].size() * BitsPerCharacter);
    bits += BitsPerCharacter; // idle after the last character
    std::vector<bool> line(std::size_t(bits), true);
    for (qsizetype k = 0; k < replies.size(); ++k) {
        std::size_t at = std::size_t(k * CollisionSkewBits);
        for (const char c : replies[k]) {
            const quint8 b = quint8(c);
            line[at] = false; // start bit
            for (int i = 0; i < 8; ++i)
                line[at + 1 + std::size_t(i)] = line[at + 1 + std::size_t(i)] && ((b >> i) & 1);
            line[at + 9] = line[at + 9] && (std::popcount(b) & 1); // even parity
            at += BitsPerCharacter;                                 // stop bit stays 1
        }
    }

    // The receiver: a character starts at the first 0 from the previous one's
    // stop bit on (a UART takes a 0 stop bit for the next start bit); parity and
    // framing errors do not hold the byte back, as on a port without parity checks.
    QByteArray received;
    std::size_t p = 0;
    for (;;) {
        while (p < line.size() && line[p])
            ++p;
        if (p + BitsPerCharacter > line.size())
            break;
        quint8 b = 0;
        for (int i = 0; i < 8; ++i)
            b |= quint8(line[p + 1 + std::size_t(i)]) << i;
        received.append(char(b));
        p += BitsPerCharacter - 1;
    }
    return received;
}

qint64 SimBus::wireTimeUs(int requestBytes, int replyBytes, int baud)
{
    if (baud <= 0)
        return 0;
    const qint64 bits = qint64(requestBytes + replyBytes) * BitsPerCharacter;
    if (baud > FixedSilenceAboveBaud)
        return (bits * MicrosPerSecond + baud / 2) / baud + FixedSilenceUs;
    // 3.5 characters of silence: 38.5 bits, counted in half bits.
    const qint64 halfBits = 2 * bits + 7 * BitsPerCharacter;
    return (halfBits * MicrosPerSecond + baud) / (2 * qint64(baud));
}
