// The parts the core reaches at run time, wired by the composition root (the
// main window, or a test): the window interface, the serial port and the four
// timers. Everything runs on the user-interface thread.
#pragma once

#include "Link.h"
#include "Timer.h"
#include "UiHost.h"

#include <functional>

namespace bms {

struct AppContext {
    UiHost* ui = nullptr;
    Link* cm1 = nullptr;
    Timer* tmr1 = nullptr; // sampling
    Timer* tmr2 = nullptr; // reply time-out
    Timer* tmr3 = nullptr; // status-bar clock
    Timer* tmr4 = nullptr; // upgrade watchdog
    // A pause that handles no events (the boot-loader pauses).
    std::function<void(int ms)> blockingPause;
    // Replaces the wait of Delay when set: tests record the waits of a
    // handler instead of spending them.
    std::function<void(int ms)> delay;
    // How long a request waits for its answer before tmr2 reports a
    // time-out: 500 ms in the window; the command line sets its --timeout.
    int replyTimeoutMs = 500;
};

extern AppContext App;

// Blocking pause through App.blockingPause (a plain sleep when unset).
void BlockingPause(int ms);

// Waits at least `ms` milliseconds while the event loop keeps handling
// events, so timers, received data and painting go on (App.delay instead
// when set).
void Delay(int ms);

} // namespace bms
