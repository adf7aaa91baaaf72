#pragma once

#include "sim/SimSensor.h"
#include "common/ZartError.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <bit>

namespace testfiles {

// Writes the whole file; false when it cannot be opened or is written short.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Sets a file's modification time; false when it cannot be.
inline bool setModified(const QString &path, const QDateTime &time)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime);
}

// The words in the dump file layout: four bytes each, least significant first.
// Written here apart from the tool's own writer, so that tests can check it.
inline QByteArray dumpBytesOf(const SimSensor::Flash &flash)
{
    QByteArray out;
    for (const quint32 w : flash)
        for (int b = 0; b < 4; ++b)
            out.append(char((w >> (8 * b)) & 0xFF));
    return out;
}

// Lowers RLIMIT_FSIZE while it lives, so that a write past `bytes` fails with
// EFBIG even for a user whom file permissions do not stop (root).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool active() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};
// The word of calibration point (row i, column j) in a table (WordTableX or
// WordTableY): point k = 21 * i + j.
inline quint32 &gridWord(SimSensor::Flash &flash, int table, int i, int j)
{
    return flash[std::size_t(table + 21 * i + j)];
}

// The same calibration with rows and columns exchanged, as a sensor mounted the
// other way round on the bench would carry it: X runs along the columns (j)
// and Y along the rows (i).
inline SimSensor::Flash transposedGrid(SimSensor::Flash flash)
{
    const SimSensor::Flash original = flash;
    for (const int table : {SimSensor::WordTableX, SimSensor::WordTableY})
        for (int i = 0; i < 21; ++i)
            for (int j = 0; j < 21; ++j)
                gridWord(flash, table, i, j) = original[std::size_t(table + 21 * j + i)];
    return flash;
}

// Sets a calibration value.
inline void setGridValue(SimSensor::Flash &flash, int table, int i, int j, float value)
{
    gridWord(flash, table, i, j) = std::bit_cast<quint32>(value);
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The text of the ZartError that f throws, or "<no failure>".
inline QString failureOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ZartError &e) {
        return e.text();
    }
    return QStringLiteral("<no failure>");
}

// The lines of one kind, in order.
} // namespace testfiles
