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

// The fixed waits of an upgrade run (300 and 50 ms in the reboot request,
// 500 ms before the first main-board record, 2000 ms after the dev
// firmware's erase). The time passes as in Delay, so the window goes on
// painting and taking input, but the run behaves as after a blocking pause:
// the steps the pack orders meanwhile are held (HoldDuringUpgradePause) and
// handled, in their order, after the step that waited. Through
// App.blockingPause when that is set (tests). Returns false when the upgrade
// run that was on when the wait began has ended meanwhile (the port was
// closed): the step must not go on.
bool UpgradePause(int ms);
// While an upgrade pause runs: keeps `work` for after the step that waits
// and returns true; otherwise returns false and `work` is the caller's.
bool HoldDuringUpgradePause(std::function<void()> work);
// True while an upgrade pause runs.
bool InUpgradePause();

} // namespace bms
