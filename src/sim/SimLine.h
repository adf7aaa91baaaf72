#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// A reply with the timing the transport has to honour.
struct SimReply
{
    QByteArray frame;
    int delayMs = 0;   // wait before the first byte
    int firstBurst = 0; // bytes of the first burst; 0 = all in one write
    int gapMs = 0;     // silence between the two bursts
    // Time the request and this reply take on a paced line, counted from the
    // request's arrival; the last reply byte is due then (0: an instant line).
    qint64 wireUs = 0;
};

// What a pseudo-terminal serves: one sensor, or several on one line. A request
// frame (address .. CRC) in; the reply the master receives, or nothing.
class SimLine
{
public:
    virtual ~SimLine() = default;
    virtual std::optional<SimReply> process(const QByteArray &request) = 0;
};
