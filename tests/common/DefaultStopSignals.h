#pragma once

#include <csignal>
#include <initializer_list>

// A test run started in the background of a script (as CI may start it) has
// SIGINT ignored, and a program keeps a signal that was ignored when it began
// ignored. The process tests send these signals to their children on purpose:
// the children must start with the signals' default actions.
inline void defaultStopSignals()
{
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        ::signal(s, SIG_DFL);
}
