#pragma once

#include "sim/SimLine.h"
#include "sim/SimSensor.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <memory>
#include <vector>

// Several simulated sensors on one RS-485 line, as the master sees them.
//
// Every sensor hears every request and judges it by itself: the sensors whose
// address matches answer; a broadcast (address 0) reaches all and none answers,
// and the broadcast address assignment moves only the sensor whose serial
// number it carries. Silence when nobody answers, the reply when one does.
//
// When two or more answer (a shared address), their transmitters fight on the
// line. Each answering sensor starts CollisionSkewBits bit times after the one
// before it (no two firmwares answer in step), and the line is at 0 wherever
// any transmitter drives a 0 (the idle line and a stop bit are 1). The master's
// receiver reads the result in 11-bit characters: garbled bytes that fail the
// CRC even when the replies were the same. Their count is near the longest
// reply's, more where a 0 falls on a stop bit and the receiver takes it for the
// next start bit.
//
// A paced line (setWireBaud) stamps every reply with the time its request and
// the reply itself take on the wire at that speed, plus the 3.5-character
// silence by which a sensor tells that the request has ended (Modbus over
// serial line: 1.75 ms above 19200 bit/s).
//
// The sensors are added before the line is served; process() may then be
// called from any thread.
class SimBus : public SimLine
{
public:
    struct Member
    {
        quint8 address = 1;
        quint32 serial = 0;
    };

    static constexpr int BitsPerCharacter = 11; // 8E1: start, 8 data, parity, stop
    static constexpr int CollisionSkewBits = 3;
    static constexpr int MaxSensors = 247;

    SimBus() = default;
    SimBus(const SimBus &) = delete;
    SimBus &operator=(const SimBus &) = delete;

    // A sensor owned by the bus, with the factory image of its own address and serial.
    SimSensor &addSensor(quint8 address, quint32 serial);
    // A sensor owned elsewhere, which must outlive the bus.
    void attach(SimSensor &sensor);
    int size() const;
    SimSensor &sensor(int index) const;

    // 0 (the default) is an instant line.
    void setWireBaud(int baud);
    int wireBaud() const;

    std::optional<SimReply> process(const QByteArray &request) override;

    // "1:0012AB7F,5:00ABCDEF": address (1..247) and hexadecimal serial number
    // (up to 8 digits) of each sensor; an address may repeat. Nothing, with
    // *error, for a malformed list.
    static std::optional<QList<Member>> parseMembers(const QString &text, QString *error);
    // What the master's receiver reads when these replies are sent at once.
    static QByteArray collide(const QList<QByteArray> &replies);
    // Microseconds from a request's arrival until the last byte of its reply
    // has crossed a line of `baud` bit/s; 0 for baud 0.
    static qint64 wireTimeUs(int requestBytes, int replyBytes, int baud);

private:
    mutable QMutex m_mutex;
    std::vector<std::unique_ptr<SimSensor>> m_owned;
    QList<SimSensor *> m_sensors;
    int m_baud = 0;
};
