#pragma once

#include <QString>
#include <QtGlobal>

#include <chrono>

// The few things a serial link needs from the operating system's serial
// device. SerialLink drives one of these; QtSerialDevice is the real one,
// tests use fakes that record the calls.
//
// Line settings are fixed and applied before the device is opened:
// the speed given to open(), 8 data bits, even parity with parity checking,
// 1 stop bit, raw bytes, no flow control of any kind, DTR and RTS not
// asserted once open() returns.
//
// Every call that can fail leaves the platform's error number (errno on
// POSIX systems) for lastError(); -1 means the platform gave none. A device
// that has gone reports EIO, ENXIO, ENODEV or EBADF (SerialLink::IsDeviceGone).
class ISerialDevice
{
public:
    // Which step of an opening failed.
    enum class OpenResult {
        Ok,
        OpenFailed,     // the device could not be opened (missing, busy, no access)
        SetupFailed,    // queue sizes could not be set
        StateFailed,    // line state (speed, format, modem lines) could not be applied
        TimeoutsFailed, // read/write timing could not be set
    };

    // Whether the driver passes received bytes on at once (Linux low-latency
    // mode of a USB serial adapter), as found when the device was opened.
    enum class LowLatency {
        Unknown, // not asked: the device is closed, or the platform has no such mode
        On,      // on: it was already, or the link switched it on
        Refused, // the driver refused it (or cannot tell)
    };

    enum class WriteResult {
        Done,       // every byte was handed to the driver within the wait
        NotStarted, // the write could not be started at all
        TimedOut,   // the wait ran out; the rest of the data has been dropped
        Failed,     // the driver reported a failure of the write
    };

    virtual ~ISerialDevice() = default;

    // Opens devicePath exclusively with the fixed line settings and the given speed.
    // A failure after the device itself was opened closes it again.
    virtual OpenResult open(const QString &devicePath, qint32 baudRate) = 0;
    // Closes the device, dropping any write still pending; nothing happens when closed.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Changes the speed of an open device.
    virtual bool setBaudRate(qint32 baudRate) = 0;
    // Discards whatever is queued in both directions.
    virtual bool purge() = 0;

    // Writes count bytes, waiting at most timeoutMs for the driver to take them.
    virtual WriteResult write(const quint8 *data, qint32 count, int timeoutMs) = 0;
    // Waits at most timeout for received bytes; true when some can be read,
    // and also when the device has gone (unplugged, hung up): the next read
    // then fails with the reason. Otherwise it never returns early without
    // bytes. The wait keeps to the timeout with sub-millisecond resolution
    // where the platform allows: the end of a reply is timed by it.
    virtual bool waitForBytes(std::chrono::nanoseconds timeout) = 0;
    // Reads at most maxCount of the bytes already received; -1 on failure,
    // which includes a device that has gone once its last bytes are read.
    virtual qint32 read(quint8 *buffer, qint32 maxCount) = 0;

    virtual bool setDtr(bool asserted) = 0;
    virtual bool setRts(bool asserted) = 0;

    // Error number of the last failed call; -1 when there is none.
    virtual int lastError() const = 0;

    virtual LowLatency lowLatency() const { return LowLatency::Unknown; }
};
