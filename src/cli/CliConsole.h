#pragma once

#include "modbus/ModbusMaster.h"

#include <QString>
#include <QTextStream>

// The console log of zart-cli on stderr: one line per log entry, the same texts
// as the window's log.
//
// The traffic lines ("Послано: ..." and "Принято: ...") are written only when
// verbose; every other line always. On a terminal the failures (red kind) are
// coloured, and long operations show a progress line that the next log line
// replaces; neither ever reaches a file or a pipe.
class CliConsole
{
public:
    CliConsole(QTextStream &err, bool verbose, bool terminal);
    ~CliConsole();
    CliConsole(const CliConsole &) = delete;
    CliConsole &operator=(const CliConsole &) = delete;

    void log(const QString &text, quint8 kind);

    // Logs a failure in red, and its hint (if any) after it, unless the lines
    // just logged are that very failure (the transaction engine logs its
    // failures before it throws them).
    void reportFailure(const QString &text, const QString &hint = {});

    // A progress line (terminal only), rewritten in place by the next one that
    // differs.
    void progress(const QString &text);
    // Removes the progress line, if one is shown.
    void clearProgress();

    // The last information line (black kind) logged: names what a progress line counts.
    const QString &lastInfoText() const { return m_lastInfo; }
    static bool isTrafficLine(const QString &text, quint8 kind);

private:
    QTextStream &m_err;
    bool m_verbose;
    bool m_terminal;
    bool m_progressShown = false;
    QString m_progressText;
    QString m_lastText;
    QString m_lastInfo;
    int m_lastKind = -1;
};

// What the transaction engine and the sensor commands need: the log goes to the
// console, the bus address is the one of the command line (the search moves it).
class CliBusHost : public IBusHost
{
public:
    CliBusHost(CliConsole &console, int address) : m_console(console), m_address(address) {}

    void Log(const QString &text, quint8 kind) override { m_console.log(text, kind); }
    int busAddress() const override { return m_address; }
    void setBusAddress(int address) { m_address = address; }

private:
    CliConsole &m_console;
    int m_address;
};
