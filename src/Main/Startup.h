// Start-up of the window and the confirmed close.
#pragma once

namespace bms {

class TComm;

// The window is shown for the first time: port list, flags, timers,
// product-type and address selections, grid captions.
void FormShow();

// Stops the four timers (the window is about to close).
void StopAllTimers();

// The window is asked to close: "Exit now?"; on Yes the timers stop and the
// port is closed, and the result is true (the window may close). The
// controls are left as they are.
bool FormCloseQuery(TComm& cm1);

} // namespace bms
