#pragma once

#include "modbus/ModbusMaster.h"

#include <QList>
#include <QString>
#include <QTest>

#include <algorithm>

// A transaction engine host for tests: records the log lines and the busy
// cursor calls, and answers with a settable bus address.
namespace testhost {

struct LogLine
{
    QString text;
    int kind;
    bool operator==(const LogLine &o) const { return text == o.text && kind == o.kind; }
};
using LogLines = QList<LogLine>;

// How QCOMPARE shows a line that differs.
inline char *toString(const LogLine &line)
{
    return qstrdup(QStringLiteral("[%1] %2").arg(line.kind).arg(line.text).toUtf8().constData());
}

class RecordingHost : public IBusHost
{
public:
    void Log(const QString &text, quint8 kind) override { lines.append({text, kind}); }
    int busAddress() const override { return address; }
    void setBusy(bool busy) override { busyCalls.append(busy); }

    int countOfKind(int kind) const
    {
        return int(std::count_if(lines.cbegin(), lines.cend(), [kind](const LogLine &l) { return l.kind == kind; }));
    }

    int address = 1;
    LogLines lines;
    QList<bool> busyCalls;
};

} // namespace testhost
