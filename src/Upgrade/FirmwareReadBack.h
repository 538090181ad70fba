// Proof that a main-board upgrade left new firmware running: the pack's
// versions (register block 0) are read before the run starts and read back
// once the board has come back from its boot loader, and the two are
// compared. The result goes to mmo2 as "Firmware before: HV:a.b.c SV:d.e.f
// after: ...", a warning box and the status line lbl35 (after "Upgrade
// Complete!") say when the software version did not change or the pack
// never answered, and `finished` hands the result to the front end (the
// command line's exit status). While it waits for the pack to come back,
// lbl35 says that the version is being checked.
//
// Event-driven like the run itself: its own timer, the pack's answers
// (Hooks.blockAnswered) and the run's events move it on; it never waits in a
// nested event loop. Every read is an ordinary block-0 read through the
// request builder and the telemetry decoder; the reply time-out of the reads
// made while waiting is disarmed, so a board still restarting adds no
// "communication timeout!" lines.
//
// Only main-board runs are read back: block 0 holds the versions of the
// pack's own control board, not those of the device a dev-firmware run
// writes. The port must be marked open (PortOpen) for the reads; a port
// closed while waiting ends the read-back with "not read" and no warning.
//
// The composition root (the window, the command line) owns one and calls
// install(); without an installed read-back the run starts at once and
// nothing is read back. A front end that ends with the run waits, after
// "Upgrade Complete!" or "Waiting For Check!", while busy() holds.
#pragma once

#include "FirmwareVersions.h"
#include "Timer.h"

#include <QDeadlineTimer>
#include <cstdint>
#include <functional>
#include <optional>

namespace bms {

struct ReadBackTiming {
    int beforeMs = 500;     // for the answer to the read before the run
    int checkWaitMs = 5000; // after "Waiting For Check!" for "Upgrade Complete!"
    int comeBackMs = 30000; // reading until the pack answers again
    int pollMs = 500;       // one read per period
};

class FirmwareReadBack {
public:
    explicit FirmwareReadBack(ReadBackTiming timing = {});
    ~FirmwareReadBack();
    FirmwareReadBack(const FirmwareReadBack&) = delete;
    FirmwareReadBack& operator=(const FirmwareReadBack&) = delete;

    // Makes this the read-back of every main-board run and sets the
    // dispatcher's hooks it listens to; the destructor undoes it.
    void install();

    // Called with the result of each completed read-back.
    std::function<void(const VersionCheckResult&)> finished;

    // The upgrade run: a main-board run is about to start; `startRun` is
    // called once the versions are read or 500 ms passed without an answer.
    void beforeRun(std::function<void()> startRun);
    // The run ended with "Waiting For Check!": wait for "Upgrade Complete!",
    // and read back anyway when it does not come.
    void transferEnded();
    // Stops whatever it is doing (another kind of run starts), no result.
    void cancel();
    // The run ended without success: nothing is left to read back.
    void runFailed();

    // The dispatcher: a function-4 answer for `block` was decoded.
    void blockAnswered(int32_t block);
    // The dispatcher: the boot loader reported "Upgrade Complete!".
    void upgradeComplete();

    // True from beforeRun until the result or cancel.
    bool busy() const { return phase_ != Phase::Idle; }
    // True while the versions are read before the run starts.
    bool startingRun() const { return phase_ == Phase::Before || phase_ == Phase::Starting; }

private:
    enum class Phase { Idle, Before, Starting, Running, Check, Polling };

    void onTimer();
    void arm(int ms);
    void sendRead();
    void startRun();
    void beginPolling();
    void poll();
    void finish(const std::optional<FirmwareVersions>& after, bool portClosed = false);

    ReadBackTiming timing_;
    Timer timer_;
    Phase phase_ = Phase::Idle;
    std::function<void()> startRun_;
    std::optional<FirmwareVersions> before_;
    QDeadlineTimer deadline_;
    QString status_; // lbl35 when the check began
};

// The installed read-back, or null.
FirmwareReadBack* InstalledReadBack();

} // namespace bms
