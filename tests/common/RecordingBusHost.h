#pragma once

#include "common/LogLine.h"
#include "modbus/ModbusMaster.h"

#include <QList>
#include <QString>
#include <QTest>

#include <algorithm>

// A transaction engine host for tests: records the log lines and the busy
// cursor calls, and answers with a settable bus address.
namespace testhost {

using LogLine = testlog::Line<int>;
using LogLines = QList<LogLine>;

class RecordingHost : public IBusHost
{
public:
    void Log(const QString &text, quint8 kind) override { lines.append({text, kind}); }
    int busAddress() const override { return address; }
    void setBusy(bool busy) override { busyCalls.append(busy); }

    int countOfKind(int kind) const
    {
        return int(std::count_if(lines.cbegin(), lines.cend(), [kind](const LogLine &l) { return l.mark == kind; }));
    }

    int address = 1;
    LogLines lines;
    QList<bool> busyCalls;
};

} // namespace testhost
