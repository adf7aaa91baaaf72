#pragma once

// Frames and raw pty access shared by the simulated sensor tests.

#include "common/ModbusFrames.h"
#include "codec/Crc16.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using modbustest::withCrc;

inline QByteArray frame(const char *hexBody)
{
    return withCrc(QByteArray::fromHex(hexBody));
}

// Reads `want` bytes from fd, or what came before the deadline; counts the reads.
inline QByteArray readFromFd(int fd, int want, int timeoutMs, int *reads = nullptr)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < want && t.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(timeoutMs - t.elapsed())) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(fd, buf, size_t(qMin<qsizetype>(sizeof buf, want - got.size())));
        if (n > 0) {
            got.append(buf, int(n));
            if (reads)
                ++*reads;
        }
    }
    return got;
}

// One request, then the reply of `want` bytes or what came within 3 s.
inline QByteArray exchange(int fd, const QByteArray &request, int want)
{
    if (::write(fd, request.constData(), size_t(request.size())) != request.size())
        return {};
    return readFromFd(fd, want, 3000);
}

inline int openRaw(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

} // namespace simtest
