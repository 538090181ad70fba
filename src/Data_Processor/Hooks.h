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

// What became of a read (a telemetry block or the information read).
enum class ReadOutcomeKind {
    Decoded,  // the answer was matched to its request and decoded as `block`
    Refused,  // the pack answered with an exception (function 0x84)
    Dropped,  // an answer or refusal that matches no request, or several blocks
    TimedOut, // no answer within the reply time-out
};

struct ReadOutcome {
    ReadOutcomeKind kind = ReadOutcomeKind::Dropped;
    int block = -1;            // 0..7 telemetry block, 8 information read; -1 when dropped
    uint16_t reg = 0;          // start register of the request
    uint8_t exceptionCode = 0; // Refused
    int byteCount = -1;        // Decoded, Dropped: data bytes of the answer (-1 for a refusal)
};

struct DispatchHooks {
    // A good function-4 response: match it to its request, decode, refresh
    // the displays, log a row.
    std::function<void()> telemetry;
    // A good function-0x84 response: a read refused by the pack.
    std::function<void()> readRefused;
    // The outcome of every read (for the command-line program); may be empty.
    std::function<void(const ReadOutcome&)> readOutcome;
    // Response code 23: decode the device information in RxBuf.
    std::function<void()> deviceInfo;
    // Re-read the device information as the "Read Info" button does.
    std::function<void()> reReadDeviceInfo;
    // One step of the upgrade run.
    std::function<void(UpgradeStep)> upgradeStep;
    // A read answer was matched to its request and decoded as register
    // block `block` (8 is the device information); called by TakeReadAnswer
    // after Hooks.readOutcome, not for an answer that was dropped.
    std::function<void(int32_t block)> blockAnswered;
    // Response code 0x38: the boot loader reported "Upgrade Complete!".
    std::function<void()> upgradeComplete;
    // A complete frame passed its CRC check and is about to be acted on
    // (MY_COM.RxBuf and RxLen hold it); the command line judges the pack's
    // answer to a write by it.
    std::function<void()> frameAccepted;
};

extern DispatchHooks Hooks;

} // namespace bms
