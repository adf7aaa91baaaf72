#include "common/StopSignals.h"

#include <QSocketNotifier>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Read and written in the handler: it must be lock-free to be safe there.
static_assert(std::atomic<int>::is_always_lock_free);

int g_pair[2] = {-1, -1}; // [0] written by the handler, [1] read on the event loop
std::atomic<int> g_caught{0};

struct CaughtSignal
{
    int number;
    struct sigaction previous; // put back by the destructor
};
std::vector<CaughtSignal> g_signals;

void onStopSignal(int signal)
{
    int none = 0;
    if (!g_caught.compare_exchange_strong(none, signal)) {
        // The second signal: the stop the first one asked for has not ended
        // the program, so the signal's default action ends it now.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
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
    g_signals.clear();
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : signalNumbers) {
        // The disposition as the program found it: an ignored signal stays so.
        struct sigaction current = {};
        if (::sigaction(s, nullptr, &current) != 0)
            continue;
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(s, &action, nullptr) == 0)
            g_signals.push_back({s, current});
    }
}

StopSignals::~StopSignals()
{
    if (!m_catching)
        return;
    for (const CaughtSignal &s : g_signals)
        ::sigaction(s.number, &s.previous, nullptr);
    m_notifier.reset();
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
    g_signals.clear();
}

bool StopSignals::catches(int signalNumber) const
{
    return m_catching && std::any_of(g_signals.begin(), g_signals.end(),
                                     [signalNumber](const CaughtSignal &s) { return s.number == signalNumber; });
}

int StopSignals::caught() const
{
    return m_catching ? g_caught.load() : 0;
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

void StopSignals::endBy(int signalNumber)
{
    if (signalNumber <= 0)
        return;
    ::signal(signalNumber, SIG_DFL);
    // Delivered at once, even where the program had it blocked.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signalNumber);
}

#else

StopSignals::StopSignals(std::initializer_list<int>) {}
StopSignals::~StopSignals() = default;
bool StopSignals::catches(int) const { return false; }
int StopSignals::caught() const { return 0; }
void StopSignals::whenCaught(std::function<void()> handler) { m_handler = std::move(handler); }
void StopSignals::endBy(int) {}

#endif
