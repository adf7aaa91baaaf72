#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Ends the program the way the user does when the desktop session ends or the
// process is asked to stop (SIGTERM, SIGINT, SIGHUP): the handler runs on the
// event loop (it closes the main window, which saves the settings), once.
// The signal only writes a byte into a socket pair; the notifier of the other
// end calls the handler. A second signal ends the process at once by the
// signal's default action.
class SignalCloser : public QObject
{
public:
    explicit SignalCloser(std::function<void()> handler, QObject *parent = nullptr);
    ~SignalCloser() override;
    SignalCloser(const SignalCloser &) = delete;
    SignalCloser &operator=(const SignalCloser &) = delete;

private:
    void onSignal();

    std::function<void()> m_handler;
    QSocketNotifier *m_notifier = nullptr;
    bool m_done = false;
};
