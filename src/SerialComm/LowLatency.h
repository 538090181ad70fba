// Low-latency mode of a serial driver.
//
// Most USB-to-serial drivers collect received bytes and hand them to the
// kernel only when their buffer fills or a latency timer runs out (16 ms on
// FTDI chips, similar on others). Every answer of the pack then arrives up
// to that much later, and an upgrade of thousands of records pays it per
// record. ASYNC_LOW_LATENCY asks the driver to pass bytes on at once (the
// FTDI driver sets its latency timer to 1 ms).
#pragma once

namespace bms {

// Switches low-latency mode on for the open terminal `fd`, through
// TIOCGSERIAL/TIOCSSERIAL. Returns true when the driver reports the mode on
// afterwards; false, with nothing changed, where the driver does not offer
// it (pseudo-terminals, some USB drivers) or refuses the change.
bool RequestLowLatency(int fd);

} // namespace bms
