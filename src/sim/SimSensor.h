#pragma once

#include "sim/SimFault.h"
#include "sim/SimLine.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>
#include <array>
#include <optional>

// One request frame as the simulated sensor received it.
struct SimRequestRecord
{
    QByteArray request;   // the frame as received (address .. CRC)
    QByteArray reply;     // what went back (faults applied); empty when nothing did
    qint64 receivedAtUs;  // steady clock, microseconds
};

// The optical coordinate sensor as a Modbus RTU slave, without any transport:
// a request frame in, a reply frame (or nothing) out.
//
// Register map served:
//   4  from 0x0000 qty 5   X, Y (IEEE singles, high register first), status X | status Y
//   4  from 0x0005 qty 2   serial number (flash word 1)
//   4  from 0x0007 qty 1   checksum, computed now and stored into flash word 0x3FE
//   4  from 0x2000 qty 3   nx, ny (unsigned 16-bit), status pair
//   4  from 0x2001 qty 5   nx, ny (singles), status pair
//   3  from 0x1000+n qty 2N flash words n .. n+N-1, N = 1..62, each high register
//                          first; the block never passes word 0x3FF (block reads
//                          off: only N = 1, larger quantities -> exception 2)
//   16 to 0x1000+n qty 3   flash word n (registers 0, 1) + flash-write key (register 2)
//   16 broadcast to 0 qty 3  new bus address (register 0) for the serial in registers 1, 2
//   8  sub-function 0 (echo), 1 (restart communications)
//   43 MEI 14, read device id code 1 (basic): vendor, product code, revision
//
// Exceptions (Modbus application protocol): unknown function or diagnostics
// sub-function or MEI type -> 1; a start/quantity outside the blocks above -> 2;
// quantity out of the Modbus range, byte count not matching the quantity, a
// frame of the wrong length, a refused value -> 3. A flash write with a wrong
// key is refused with 3 (the key is part of the written values), as is a write
// of anything but 1..247 into word 0 and a read-device-id code other than 1.
//
// Every member may be called from any thread.
class SimSensor : public SimLine
{
public:
    static constexpr int FlashWords = 1024;
    using Flash = std::array<quint32, FlashWords>;

    // Flash words with a meaning to the sensor.
    static constexpr int WordAddress = 0x000;
    static constexpr int WordSerial = 0x001;
    static constexpr int WordExposureX = 0x002;
    static constexpr int WordExposureY = 0x003;
    static constexpr int WordThresholdX = 0x004;
    static constexpr int WordThresholdY = 0x005;
    static constexpr int WordIllumination = 0x006;
    static constexpr int WordTableX = 128; // 441 singles
    static constexpr int WordTableY = 570; // 441 singles
    static constexpr int GridPoints = 441;
    static constexpr int WordFirmware = 0x3FA;
    static constexpr int WordDimension = 0x3FB;
    static constexpr int WordCpu = 0x3FC;
    static constexpr int WordCrc = 0x3FD;
    static constexpr int WordCrcActual = 0x3FE;
    static constexpr int WordCrcRequired = 0x3FF;

    // The flash-write key, third register of every flash-word write, high byte first.
    static constexpr quint8 FlashKeyHi = 0xA5;
    static constexpr quint8 FlashKeyLo = 0x5A;

    static constexpr int RequestLogLimit = 20000; // oldest entries go first
    static constexpr int MaxBlockWords = 62; // 124 registers, 248 data bytes


    enum class Illumination { Off = 0, X = 1, Y = 2 };

    SimSensor();
    SimSensor(const SimSensor &) = delete;
    SimSensor &operator=(const SimSensor &) = delete;

    // The factory image: address 1, serial 0x0012AB7F, exposures 120/118,
    // thresholds 40/42, firmware 14, dimension 40, CPU 2, calibration tables near
    // the nominal grid (step 2.05 mm) and consistent checksum words.
    static Flash defaultFlash();
    // A factory image of another sensor: the address and serial in words 0 and
    // 1, its own small calibration deviations (those of defaultFlash() for
    // serial 0x0012AB7F) and checksum words consistent with the whole.
    static Flash factoryFlash(quint8 address, quint32 serial);
    // The checksum the sensor computes: CRC-16 (Modbus) over words 0..0x3FC,
    // each word least significant byte first.
    static quint16 flashChecksum(const Flash &flash);

    // The reply to one request frame (address .. CRC); nothing for a frame with a
    // bad CRC, for another address, for a broadcast or when a fault swallows it.
    std::optional<QByteArray> handleFrame(const QByteArray &request);
    // The same, with the timing faults (delay, split) for the transport.
    std::optional<SimReply> process(const QByteArray &request) override;

    // Flash image.
    Flash flash() const;
    void setFlash(const Flash &flash);
    quint32 word(int index) const;
    void setWord(int index, quint32 value);
    // The whole image as a dump file: 4096 bytes, words least significant byte first.
    bool loadDump(const QString &path, QString *error = nullptr);
    bool saveDump(const QString &path, QString *error = nullptr) const;

    // Bus address (low byte of word 0) and serial number (word 1).
    quint8 address() const;
    void setAddress(quint8 address);
    quint32 serial() const;
    void setSerial(quint32 serial);
    Illumination illumination() const; // from word 6; any other value reads as Off
    // Function 3 over several words at once (on by default); off, the sensor
    // knows single words only.
    void setBlockReads(bool on);
    bool blockReads() const;

    // Measurement served by the input registers.
    void setCoordinates(float x, float y);
    void setStatus(quint8 statusX, quint8 statusY);
    // Pixel positions; the integer block serves them rounded and clamped to 0..65535.
    void setPixels(float nx, float ny);
    // A spot that moves: each measurement read gives the set values plus a slow
    // circle of radius `amplitude` and a little noise (repeatable, one step per
    // read); pixels move by ten times as much. 0 (the default) keeps it still.
    void setWander(float amplitude);
    // Objects 0, 1 and 2 of the device identification.
    void setDeviceId(const QByteArray &vendor, const QByteArray &product,
                     const QByteArray &revision);

    // Fault injection. addFault returns an id for removeFault and firedCount.
    int addFault(const SimFault &fault);
    void removeFault(int id);
    void clearFaults();
    int firedCount(int id) const; // how often the fault has triggered

    // Request log.
    QList<SimRequestRecord> requestLog() const;
    int requestCount() const; // frames received since the last clearRequestLog
    void clearRequestLog();
    // Waits until requestCount() reaches count; false when timeoutMs passed first.
    bool waitForRequests(int count, int timeoutMs) const;

private:
    struct ActiveFault
    {
        int id;
        SimFault fault;
        int matched = 0;
        int fired = 0;
    };

    std::optional<SimReply> processLocked(const QByteArray &request);
    QByteArray execute(const QByteArray &request, const QList<const SimFault *> &fired);
    void handleBroadcast(const QByteArray &request);
    QByteArray readInput(const QByteArray &req);
    QByteArray readHolding(const QByteArray &req);
    QByteArray writeMultiple(const QByteArray &req, bool ignoreStore);
    QByteArray diagnostics(const QByteArray &req);
    QByteArray deviceId(const QByteArray &req);
    QByteArray exceptionPdu(quint8 function, quint8 code) const;

    mutable QMutex m_mutex;
    mutable QWaitCondition m_requestArrived;
    Flash m_flash{};
    float m_x = 1.25f;
    float m_y = -3.5f;
    quint8 m_statusX = 1;
    quint8 m_statusY = 1;
    float m_nx = 300.0f;
    float m_ny = 412.0f;
    float m_wander = 0.0f;
    bool m_blockReads = true;
    quint32 m_wanderStep = 0;
    QByteArray m_vendor = "ZART";
    QByteArray m_product = "OCS-1";
    QByteArray m_revision = "2.1";
    QList<ActiveFault> m_faults;
    int m_nextFaultId = 1;
    QList<SimRequestRecord> m_log;
    int m_requestCount = 0;
};
