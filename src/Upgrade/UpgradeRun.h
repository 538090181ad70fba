// The upgrade run: reboot into the boot loader (main board), erase, the
// record transfer, the check and every ending, driven by the "Upgrade"
// button, by the pack's responses (through Hooks.upgradeStep) and by the
// watchdog timer tmr4. Progress shows in lbl35, the lines sent in mmo2.
#pragma once

#include "Hooks.h"
#include "ImageCheck.h"

#include <QString>
#include <cstdint>

namespace bms {

// Run variables of this unit (UpgradeActive, AwaitingCheck and RecordIndex
// live with the protocol variables).
extern uint8_t Rebooting;     // 1 once the main board reported that it reboots
extern uint8_t WatchdogTicks; // watchdog expiries counted while Rebooting = 0
// Times a dev-firmware record whose answer did not come is sent again
// (under its index, which makes that harmless) before the run's watchdog
// decides; the command line's --retries. Set before a run starts; it belongs
// to the one upgrade run of this process, like the rest of the run's state.
constexpr int kDefaultRecordRetries = 2;
void SetRecordRetries(int retries);

// "Upgrade": refused with a message while the port is closed; reads the
// image DlgFileName names once and checks it, asks for confirmation, stops
// sampling and starts the run, which sends the bytes that were checked.
void upbtnClick();
// "Upgrade" with an image the caller has read in and checked already (the
// command line checks before it opens the port): the run sends exactly
// `checked.image`, the file is not read again. An image checked for the
// other target is checked again from the same bytes.
void upbtnClickChecked(const ImageCheckResult& checked);
// Watchdog expiry (tmr4.OnTimer).
void tmr4Timer();
// One step ordered by the pack (Hooks.upgradeStep). Does nothing while no
// run is active. A run-time error inside a step ends the run and is
// reported through the general error handler.
void RunUpgradeStep(UpgradeStep step);
// "Erase dev firmware".
void btn_erase_dev_firmwareClick();

// While an upgrade run or the version check after it is on, a handler that
// would talk to the pack (sampling, reads, settings, closing the port) is
// refused: shows "Please wait until the upgrade has ended!" and returns
// true. Otherwise false.
bool UpgradeRefuses();
// The port was closed (by the operator or because the device went away): a
// run on ends as "Upgrade Stopped! The port was closed.", with the controls
// given back, instead of running into its watchdog.
void UpgradePortClosed();
// Stops a run, or the version read before it, as UpgradePortClosed does,
// with `reason` after "Upgrade Stopped! ": nothing more of it goes out. A
// main board left in its boot loader is noted for the port.
void StopUpgradeRun(const QString& reason);

// Puts the run variables of this unit back to their start values (tests).
void ResetUpgradeRun();

} // namespace bms
