#pragma once

// Shared pieces of the fuzz targets: the invariant check, a reader of the
// fuzzer's bytes, a serial device that never opens and a bus host that keeps
// the log.

#include "modbus/ModbusMaster.h"
#include "serial/SerialDevice.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken invariant is a finding: say which and abort, so that libFuzzer
// keeps the input that did it.
#define FUZZ_CHECK(cond, ...)                                                        \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  ", __FILE__,      \
                         __LINE__, #cond);                                           \
            std::fprintf(stderr, __VA_ARGS__);                                       \
            std::fprintf(stderr, "\n");                                              \
            std::abort();                                                            \
        }                                                                            \
    } while (false)

inline const char *utf8(const QString &s)
{
    static thread_local QByteArray keep;
    keep = s.toUtf8();
    return keep.constData();
}

// The fuzzer's bytes taken from the front.
class FuzzBytes
{
public:
    FuzzBytes(const quint8 *data, size_t size) : m_data(data), m_size(size) {}

    size_t left() const { return m_size - m_pos; }
    quint8 byte()
    {
        return m_pos < m_size ? m_data[m_pos++] : 0;
    }
    QByteArray take(size_t n)
    {
        n = std::min(n, left());
        QByteArray b(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return b;
    }
    QByteArray rest() { return take(left()); }

private:
    const quint8 *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A device that cannot be opened: nothing ever goes out or comes in.
class ClosedSerialDevice : public ISerialDevice
{
public:
    OpenResult open(const QString &, qint32) override { return OpenResult::OpenFailed; }
    void close() override {}
    bool isOpen() const override { return false; }
    bool setBaudRate(qint32) override { return false; }
    bool purge() override { return false; }
    WriteResult write(const quint8 *, qint32, int) override { return WriteResult::Failed; }
    bool waitForBytes(std::chrono::nanoseconds) override { return false; }
    qint32 read(quint8 *, qint32) override { return -1; }
    bool setDtr(bool) override { return false; }
    bool setRts(bool) override { return false; }
    int lastError() const override { return 2; }
};

class LogHost : public IBusHost
{
public:
    explicit LogHost(int address) : m_address(address) {}
    void Log(const QString &text, quint8 kind) override
    {
        Q_UNUSED(kind);
        lines << text;
    }
    int busAddress() const override { return m_address; }

    QStringList lines;

private:
    int m_address;
};
