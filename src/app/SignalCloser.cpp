#include "app/SignalCloser.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1}; // [0] written by the signal, [1] read by the notifier
volatile std::sig_atomic_t g_heard = 0;

void onSignalNumber(int signal)
{
    if (g_heard != 0) {
        // The second signal: the close that the first one asked for has not
        // ended the program (an operation or a box holds it up), so the
        // signal's default action ends it now.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_heard = 1;
    const int saved = errno; // the interrupted code may be about to read it
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}

} // namespace

SignalCloser::SignalCloser(std::function<void()> handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
    if (g_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return; // one at a time; without the pair the signals keep their default
    g_heard = 0;
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::onSignal);
    struct sigaction action = {};
    action.sa_handler = onSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : Signals)
        ::sigaction(s, &action, nullptr);
}

SignalCloser::~SignalCloser()
{
    if (!m_notifier)
        return;
    for (int s : Signals)
        ::signal(s, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SignalCloser::onSignal()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(g_pipe[1], &byte, 1);
    if (m_done)
        return;
    m_done = true;
    m_handler();
}

#else

SignalCloser::SignalCloser(std::function<void()> handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
}

SignalCloser::~SignalCloser() = default;

void SignalCloser::onSignal() {}

#endif
