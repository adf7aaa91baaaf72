#pragma once

#include <functional>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

// The signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP), caught
// through a self-pipe. The handler only records the first signal and writes
// one byte into a socket pair; the program acts on it in its own time, by
// polling caught() between steps or with whenCaught() on its event loop.
// A second signal of the set ends the process at once by the signal's
// default action: whatever held the first one up, the user gets out.
//
// One object at a time: while one catches, another one catches nothing and
// leaves the signals at their default. On platforms without POSIX signals
// nothing is caught.
class StopSignals
{
public:
    explicit StopSignals(std::initializer_list<int> signalNumbers);
    // The signals go back to their default action.
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    bool isCatching() const { return m_catching; }
    // The first signal caught; 0 until one comes. Safe to call at any time.
    int caught() const;
    // Calls handler once on the event loop of the calling thread when the
    // first signal has come.
    void whenCaught(std::function<void()> handler);

private:
    bool m_catching = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_handler;
    bool m_handled = false;
};
