// What the upgrade run needs from the rest of the program beyond the UI
// interface; the composition root (the main window, or a test) fills it in.
#pragma once

#include <QString>
#include <functional>

namespace bms {

struct UpgradeHooksT {
    // Stops sampling exactly as a click on "Start Sampling"/"Close Sampling"
    // does (cybtnClick); called only while sampling is on. When unset the
    // run stops the sampling and time-out timers itself.
    std::function<void()> stopSampling;
    // Sets a progress bar (object name `control`) to `value` out of `maximum`.
    std::function<void(const QString& control, int value, int maximum)> setProgress;
    // A run starts (true) or ends (false): received bytes are handed on as
    // soon as they are in during the run rather than after the port's read
    // interval, so that each answer moves the transfer on at once. Unset
    // where the port reads that way anyway (the command line).
    std::function<void(bool immediate)> transferReads;
};

extern UpgradeHooksT UpgradeHooks;

} // namespace bms
