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
// A signal that is ignored when the object is made (nohup, a shell's
// background job without job control) is left ignored: it is not caught.
//
// Once the program has cleaned up after a caught signal, endBy() ends it by
// that signal, so that the parent (a shell, a script's loop) sees a death by
// the signal and not an ordinary exit.
//
// One object at a time: while one catches, another one catches nothing and
// leaves the signals as they are. On platforms without POSIX signals nothing
// is caught.
class StopSignals
{
public:
    explicit StopSignals(std::initializer_list<int> signalNumbers);
    // The signals caught go back to the action they had before.
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    bool isCatching() const { return m_catching; }
    // Whether signalNumber is caught by this object (false for one that was
    // ignored when it was made).
    bool catches(int signalNumber) const;
    // The first signal caught; 0 until one comes. Safe to call at any time.
    int caught() const;
    // Calls handler once on the event loop of the calling thread when the
    // first signal has come.
    void whenCaught(std::function<void()> handler);

    // Puts back the default action of signalNumber and raises it: the process
    // ends as that signal ends it (a core dump where the signal makes one).
    // Returns only for a signal whose default action is not to end the process.
    // Flush the output first.
    static void endBy(int signalNumber);

private:
    bool m_catching = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_handler;
    bool m_handled = false;
};
