#include "cli/CliConsole.h"

namespace {

const QString SentPrefix = QStringLiteral("Послано: ");
const QString ReceivedPrefix = QStringLiteral("Принято: ");

// ANSI colour of the red log kind, and back to normal.
constexpr char RedOn[] = "\x1b[31m";
constexpr char ColourOff[] = "\x1b[0m";
// Carriage return and erase to the end of the line: removes the progress line.
constexpr char EraseLine[] = "\r\x1b[K";

} // namespace

CliConsole::CliConsole(QTextStream &err, bool verbose, bool terminal)
    : m_err(err), m_verbose(verbose), m_terminal(terminal)
{
}

CliConsole::~CliConsole()
{
    clearProgress();
}

bool CliConsole::isTrafficLine(const QString &text, quint8 kind)
{
    return (kind == LogSent && text.startsWith(SentPrefix))
        || (kind == LogReceived && text.startsWith(ReceivedPrefix));
}

void CliConsole::log(const QString &text, quint8 kind)
{
    m_lastText = text;
    m_lastKind = kind;
    if (kind == LogInfo)
        m_lastInfo = text;
    if (!m_verbose && isTrafficLine(text, kind))
        return;
    clearProgress();
    if (m_terminal && kind == LogError)
        m_err << RedOn << text << ColourOff << '\n';
    else
        m_err << text << '\n';
    m_err.flush();
}

void CliConsole::reportFailure(const QString &text, const QString &hint)
{
    const QString &last = hint.isEmpty() ? text : hint;
    if (text.isEmpty() || (m_lastKind == LogError && m_lastText == last))
        return;
    log(text, LogError);
    if (!hint.isEmpty())
        log(hint, LogError);
}

void CliConsole::progress(const QString &text)
{
    if (!m_terminal || (m_progressShown && text == m_progressText))
        return;
    m_progressText = text;
    m_err << EraseLine << text;
    m_err.flush();
    m_progressShown = true;
}

void CliConsole::clearProgress()
{
    if (!m_progressShown)
        return;
    m_err << EraseLine;
    m_err.flush();
    m_progressShown = false;
}
