// Start-up of the window and the confirmed close.
#pragma once

#include "App.h"
#include "Connection.h"

namespace bms {

// The window is shown for the first time: port list, flags, timers,
// product-type and address selections, grid captions.
void FormShow();

// Stops the four timers (the window is about to close).
void StopAllTimers();

// The window is asked to close: "Exit now?"; on Yes the timers stop and the
// port is closed, and the result is true (the window may close). The
// controls are left as they are.
template <class Comm>
bool FormCloseQuery(Comm& cm1)
{
    if (!App.ui->askYesNo(QStringLiteral("Confirm"), QStringLiteral("Exit now?")))
        return false;
    StopAllTimers();
    ClosePort(cm1);
    return true;
}

} // namespace bms
