// The port list and the Open Port / Close Port toggle of the communication
// settings group.
#pragma once

#include "App.h"
#include "CommRecord.h"
#include "Convert.h"

#include <QStringList>
#include <functional>
#include <optional>

namespace bms {

// Where the names of the serial ports come from; no value when the system's
// list cannot be read. WireHooks() points it at the system's port list.
extern std::function<std::optional<QStringList>()> PortSource;

// Fills the items of cbb1 from PortSource (sorted case-insensitively) and
// selects the last one. An unreadable list leaves the box as it is.
void FillPorts();
// "Refresh " button.
inline void sxcomClick() { FillPorts(); }

// The controls of the open state: port and baud boxes locked, the buttons
// that need a link enabled, "Connected to the communication box!", red
// indicator, PortOpen 1.
void ShowPortOpen();
// The controls of the offline state (the closing branch of the toggle apart
// from closing the port): sampling off, both timers stopped, "Offline!",
// grey indicator, PortOpen 0.
void ShowPortClosed();

// The Open Port / Close Port toggle. `Comm` is the serial port component
// (TComm, or a test double with the same members).
//
// When opening fails the window goes back to the offline state and the
// error still reaches the general error handler; a baud rate that is not an
// integer leaves the window offline.
template <class Comm>
void opencomClick(Comm& cm1)
{
    if (PortOpen == 1) {
        cm1.CloseComm();
        ShowPortClosed();
        return;
    }
    cm1.CloseComm();
    cm1.setCommName(App.ui->text(QStringLiteral("cbb1")));
    cm1.setBaudRate(static_cast<uint32_t>(StrToInt(App.ui->text(QStringLiteral("cbb2")))));
    // 8 data bits, no parity, 1 stop bit, no software flow control.
    cm1.setInx_XonXoffFlow(false);
    cm1.setOutx_XonXoffFlow(false);
    cm1.setParity(Comm::Parity::None);
    cm1.setByteSize(Comm::ByteSize::_8);
    cm1.setStopBits(Comm::StopBits::_1);

    const bool opbtnWasEnabled = App.ui->isEnabled(QStringLiteral("opbtn"));
    ShowPortOpen();
    try {
        cm1.OpenComm();
    } catch (...) {
        cm1.CloseComm();
        ShowPortClosed();
        App.ui->setEnabled(QStringLiteral("opbtn"), opbtnWasEnabled);
        throw;
    }
    AwaitingCheck = 0;
}

// Closing the window: the port is closed, the controls are left alone.
template <class Comm>
void ClosePort(Comm& cm1)
{
    cm1.CloseComm();
}

} // namespace bms
