#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// What an operation on a sensor tells the service record while it runs: the
// sensor it met, the flash words it wrote and the files it read or wrote. The
// operations only tell; the record (record/) keeps it. Telling never adds a
// request to the line: an operation passes on what it has already read.

// How an operation used a file.
enum class FileUse : quint8 {
    Read,    // a dump or passport the operation wrote into the sensor or compared with
    Written, // a dump, passport or passport.ini the operation wrote
    AsFound, // the dump of the sensor as it was found, read before a restore
};

class IOperationRecorder
{
public:
    virtual ~IOperationRecorder() = default;
    // The sensor's serial number, as the operation read it from the sensor
    // (a dump's word 1, the serial check of a restore, the serial command).
    virtual void sensorSerial(quint32 serial) = 0;
    // The firmware version word (a dump's word 0x3FA), as the operation read it.
    virtual void firmwareVersion(quint32 version) = 0;
    // A flash word whose write request succeeded: its register address (0x1000 + n), the
    // value written and, where the operation had read it before, the value it
    // replaced.
    virtual void wordWritten(quint16 address, quint32 value, std::optional<quint32> previous) = 0;
    // A file the operation read or wrote, once it is complete on disk.
    virtual void fileUsed(const QString &path, FileUse use) = 0;
};
