#pragma once

// Shared pieces of the flash tests: file helpers, a file size limit, a
// recording operation host, and expected file contents built here, apart from
// the tool's own writers. The sensor on a pty is testsim::SensorOnPty.

#include "common/RecordingBusHost.h"

#include "flash/FlashImage.h"
#include "flash/FlashOperations.h"
#include "modbus/ModbusMaster.h"
#include "codec/Crc16.h"
#include "common/NumberFormat.h"
#include "serial/SerialLink.h"
#include "common/ZartError.h"

#include "common/SensorOnPty.h"
#include "common/TestFiles.h"

#include <QFile>
#include <QStringList>

#include <bit>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <sys/resource.h>

namespace flashtest {

using testhost::LogLine;
using testhost::LogLines;
using testhost::RecordingHost;

using testfiles::dumpBytesOf;
using testfiles::FileSizeLimit;
using testfiles::setModified;
using testfiles::writeBytes;

using testfiles::failureOf;
using testfiles::readBytes;

inline QStringList texts(const RecordingHost &host, int kind)
{
    QStringList out;
    for (const LogLine &l : host.lines)
        if (l.mark == kind)
            out << l.text;
    return out;
}

// One thing an operation did through its host, with the number of requests
// the sensor had received by then.
struct HostEvent
{
    enum Kind { Progress, Events, Pause, Ask };
    Kind kind;
    int value; // percent, pause ms; 0 otherwise
    int requestsSoFar;
    bool cutShort = false; // a pause that a stop may end early
};

// What an operation told its recorder, each list in the order told.
struct RecordingRecorder : IOperationRecorder
{
    struct Word { quint16 address; quint32 value; std::optional<quint32> previous; };
    void sensorSerial(quint32 serial) override { serials << serial; }
    void firmwareVersion(quint32 version) override { firmwares << version; }
    void wordWritten(quint16 a, quint32 v, std::optional<quint32> p) override { words.append({a, v, p}); }
    void fileUsed(const QString &path, FileUse use) override { files.append({path, use}); }
    QList<quint32> serials, firmwares;
    QList<Word> words;
    QList<std::pair<QString, FileUse>> files;
};

class RecordingOpHost : public IOperationHost
{
public:
    explicit RecordingOpHost(const SimSensor *sensor = nullptr) : m_sensor(sensor) {}

    void progress(int percent) override { record(HostEvent::Progress, percent); }
    void processEvents() override { record(HostEvent::Events, 0); }
    void pause(int ms) override { record(HostEvent::Pause, ms); }
    void pauseUnlessStopped(int ms) override
    {
        record(HostEvent::Pause, ms);
        events.last().cutShort = true;
    }
    bool ask(const QString &question) override
    {
        record(HostEvent::Ask, 0);
        questions << question;
        return answers.isEmpty() ? false : answers.takeFirst();
    }

    // A stop asked for once the sensor has received stopAtRequest requests.
    bool stopRequested() override
    {
        return stopAtRequest >= 0 && m_sensor && m_sensor->requestCount() >= stopAtRequest;
    }
    int retries() const override { return retryCount; }
    IOperationRecorder *recorder() override { return &told; }
    QString asFoundDir() const override { return asFound; }
    int blockWords() const override { return blocks; }

    QList<int> values(HostEvent::Kind kind) const { return collect(kind, false); }
    QList<int> requestCounts(HostEvent::Kind kind) const { return collect(kind, true); }

    QList<bool> answers; // in the order the questions come; No when none is left
    int stopAtRequest = -1; // never
    int retryCount = 0;
    QString asFound; // the as-found folder; none by default
    int blocks = 0;  // flash words per read request
    RecordingRecorder told;
    QStringList questions;
    QList<HostEvent> events;

private:
    void record(HostEvent::Kind kind, int value)
    {
        events.append({kind, value, m_sensor ? m_sensor->requestCount() : 0});
    }
    QList<int> collect(HostEvent::Kind kind, bool counts) const
    {
        QList<int> out;
        for (const HostEvent &e : events)
            if (e.kind == kind)
                out << (counts ? e.requestsSoFar : e.value);
        return out;
    }

    const SimSensor *m_sensor;
};

// One request as the sensor received it.
struct Request
{
    int function = 0;
    int address = 0;   // start address (functions 3, 4, 16)
    quint32 value = 0; // function 16: the first two registers
    QByteArray frame;
};

inline QList<Request> requestsOf(const SimSensor &sensor)
{
    QList<Request> out;
    for (const SimRequestRecord &r : sensor.requestLog()) {
        const QByteArray &f = r.request;
        Request q;
        q.frame = f;
        if (f.size() >= 4) {
            q.function = quint8(f[1]);
            q.address = (quint8(f[2]) << 8) | quint8(f[3]);
        }
        if (q.function == 16 && f.size() >= 11)
            q.value = (quint32(quint8(f[7])) << 24) | (quint32(quint8(f[8])) << 16)
                | (quint32(quint8(f[9])) << 8) | quint32(quint8(f[10]));
        out << q;
    }
    return out;
}

inline FlashImage imageOf(const SimSensor::Flash &flash)
{
    FlashImage image;
    std::copy(flash.begin(), flash.end(), image.begin());
    return image;
}

// The Modbus CRC-16 over words 0..0x3FC least significant byte first: what a
// sensor computes over its image.
inline quint16 referenceChecksum(const SimSensor::Flash &flash)
{
    const QByteArray bytes = dumpBytesOf(flash).left(4 * (SimSensor::WordCpu + 1));
    return Crc16(reinterpret_cast<const quint8 *>(bytes.constData()), qint32(bytes.size()));
}

inline quint32 bitsOf(float v)
{
    return std::bit_cast<quint32>(v);
}

// The passport text of an image: line k = point k (row k / 21, column k % 21),
// X and Y values, then the two grid coordinates, TAB-separated, CR LF after each.
inline QByteArray expectedPassportText(const SimSensor::Flash &flash)
{
    const long double step = GridStep(int(flash[SimSensor::WordFirmware] & 0xFF),
                                      int(flash[SimSensor::WordDimension] & 0xFF));
    QByteArray out;
    for (int k = 0; k < 441; ++k) {
        const QStringList fields{FormatSingleBits(flash[std::size_t(SimSensor::WordTableX + k)]),
                                 FormatSingleBits(flash[std::size_t(SimSensor::WordTableY + k)]),
                                 FormatFloat((k / 21 - 10) * step),
                                 FormatFloat((k % 21 - 10) * step)};
        out += fields.join(u'\t').toLatin1() + "\r\n";
    }
    return out;
}

} // namespace flashtest
