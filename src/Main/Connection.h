// The port list and the Open Port / Close Port toggle of the communication
// settings group.
#pragma once

#include <QStringList>
#include <functional>
#include <optional>

namespace bms {

class TComm;

// Where the names of the serial ports come from; no value when the system's
// list cannot be read. WireHooks() points it at the system's port list.
extern std::function<std::optional<QStringList>()> PortSource;

// Fills the items of cbb1 from PortSource (sorted case-insensitively) and
// selects the last one. An unreadable list leaves the box as it is.
void FillPorts();
// "Refresh " button.
inline void sxcomClick() { FillPorts(); }
// A device came or went: the items follow, the box keeps the operator's
// text; an empty box takes the last port as at start-up. Nothing changes
// when the list is the same or cannot be read.
void RefreshPorts();

// The controls of the open state: port and baud boxes locked, the buttons
// that need a link enabled, "Connected to the communication box!", red
// indicator, PortOpen 1.
void ShowPortOpen();
// The controls of the offline state (the closing branch of the toggle apart
// from closing the port): sampling off, both timers stopped, "Offline!",
// grey indicator, PortOpen 0.
void ShowPortClosed();

// The Open Port / Close Port toggle over the serial port component. A port
// that opens starts with no pack: the pack table and its displays are as at
// program start (ShowNoPack), the read requests of the last pack are
// forgotten and AppHooks.portOpened is told. When opening fails the window goes back to the offline state and the
// error still reaches the general error handler; a baud rate that is not an
// integer, 0 or negative, or that the driver refuses, leaves the window
// offline with a message naming the rate.
// A port that AppHooks.portInUse says is in use (a station fixture testing
// on it) is not opened: the window stays offline and the words naming its
// user reach the general error handler.
void opencomClick(TComm& cm1);

// Closing the window: the port is closed, the controls are left alone.
void ClosePort(TComm& cm1);

// The port component's request-hangup event: the device vanished (USB box
// pulled, virtual pack ended) or the line failed. The port is closed as
// "Close Port" closes it, the window shows it offline and not sampling, and
// the memo says the port was lost. Open workbooks keep their rows.
void cm1RequestHangup(TComm& cm1);

} // namespace bms
