// Consumers that the response dispatcher hands complete frames to. The
// composition root (the main window, or a test) fills them in, so that the
// protocol layer does not depend on the decoders, the upgrade run or the
// window.
#pragma once

#include <cstdint>
#include <functional>

namespace bms {

// The six steps of an upgrade run that pack responses drive.
enum class UpgradeStep {
    DeviceRebooting, // 0x31
    Erase,           // 0x32
    FirstWrite,      // 0x33
    NextWrite,       // 0x34
    WriteError,      // 0x35
    WaitingForCheck, // 0x36
};

struct DispatchHooks {
    // A good function-4 response: decode, refresh the displays, log a row.
    std::function<void()> telemetry;
    // Response code 23: decode the device information in RxBuf.
    std::function<void()> deviceInfo;
    // Re-read the device information as the "Read Info" button does.
    std::function<void()> reReadDeviceInfo;
    // One step of the upgrade run.
    std::function<void(UpgradeStep)> upgradeStep;
    // After `telemetry`: the answer was taken for register block `block`
    // (the ReadBlock it was read for; 8 is the device information).
    std::function<void(int32_t block)> blockAnswered;
    // Response code 0x38: the boot loader reported "Upgrade Complete!".
    std::function<void()> upgradeComplete;
};

extern DispatchHooks Hooks;

} // namespace bms
