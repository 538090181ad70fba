// Writes the component's line settings to an open terminal.
//
// What Linux can and cannot do of the settings:
//   - the terminal is put into raw mode (no echo, no line editing, no
//     translation of bytes, no signals), receiver on, modem status ignored
//     for opening;
//   - any baud rate, including 76800 and 125000 (see LineSpeed.h);
//   - 5 to 8 data bits; parity none, odd, even, mark and space;
//   - 1 or 2 stop bits. 1.5 stop bits do not exist in the terminal
//     interface: 2 are used, the nearest setting a receiver expecting 1.5
//     accepts (a 16550-type UART sends 1.5 with 5 data bits in that mode);
//   - CTS output flow and RTS handshake both switch on the kernel's RTS/CTS
//     flow control, which covers both directions at once;
//   - XON/XOFF output and input flow control, with XonChar and XoffChar;
//   - ParityCheck switches on input parity checking; a byte with a parity
//     error is then read as 0 (the kernel cannot substitute ReplacedChar);
//   - DTR and RTS are raised or lowered as DtrControl and RtsControl ask;
//     DTR handshake and RTS toggle keep the line raised;
//   - DSR flow and sensitivity, continue-on-XOFF and the XON/XOFF limits have
//     no Linux counterpart and are not applied;
//   - IgnoreNullChar is honoured by the receive thread, which drops 0 bytes.
// Failures are ignored: a pseudo-terminal has no modem lines, and the
// settings of an open port are applied without a report. The one result is
// whether the line took the baud rate.
#pragma once

#include "CommTypes.h"

#include <cstdint>

namespace bms {

// True when the terminal now runs at the configured baud rate.
bool ApplyLineSettings(int fd, const LineConfig& config);

// True when the speed a driver reports, `actual`, serves a line asked to run
// at `requested`: within 3 %, the mismatch two UARTs still bridge. A driver
// that cannot make a rate keeps its old one or clamps to its range.
bool LineSpeedServes(uint32_t requested, uint32_t actual);

} // namespace bms
