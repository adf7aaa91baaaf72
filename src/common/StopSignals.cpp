#include "common/StopSignals.h"

#include <QSocketNotifier>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_pair[2] = {-1, -1}; // [0] written by the handler, [1] read on the event loop
volatile std::sig_atomic_t g_caught = 0;
std::vector<int> g_signals;

void onStopSignal(int signal)
{
    if (g_caught != 0) {
        // The second signal: the stop the first one asked for has not ended
        // the program, so the signal's default action ends it now.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_caught = signal;
    const int saved = errno; // the interrupted code may be about to read it
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pair[0], &byte, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::initializer_list<int> signalNumbers)
{
    if (g_pair[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) != 0)
        return;
    m_catching = true;
    g_caught = 0;
    g_signals.assign(signalNumbers.begin(), signalNumbers.end());
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : g_signals)
        ::sigaction(s, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (!m_catching)
        return;
    for (const int s : g_signals)
        ::signal(s, SIG_DFL);
    m_notifier.reset();
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
    g_signals.clear();
}

int StopSignals::caught() const
{
    return m_catching ? int(g_caught) : 0;
}

void StopSignals::whenCaught(std::function<void()> handler)
{
    if (!m_catching)
        return;
    m_handler = std::move(handler);
    m_notifier = std::make_unique<QSocketNotifier>(g_pair[1], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_pair[1], &byte, 1);
        if (m_handled || !m_handler)
            return;
        m_handled = true;
        m_handler();
    });
}

#else

StopSignals::StopSignals(std::initializer_list<int>) {}
StopSignals::~StopSignals() = default;
int StopSignals::caught() const { return 0; }
void StopSignals::whenCaught(std::function<void()> handler) { m_handler = std::move(handler); }

#endif
