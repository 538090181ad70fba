// Line errors and modem-line changes, watched through the driver's interrupt
// counters (TIOCGICOUNT). Real UARTs and most USB serial adapters keep these
// counters; a pseudo-terminal does not, and then no line event is ever
// reported. The receive thread samples the counters while it waits and turns
// each change into the notification values of the component.
#pragma once

#include <cstdint>

namespace bms {

// Line-error flags as the component reports them.
constexpr uint32_t CE_RXOVER = 0x0001;   // input buffer overflow
constexpr uint32_t CE_OVERRUN = 0x0002;  // hardware overrun
constexpr uint32_t CE_RXPARITY = 0x0004; // parity error
constexpr uint32_t CE_FRAME = 0x0008;    // framing error
constexpr uint32_t CE_BREAK = 0x0010;    // break condition

// Modem event values: carrier detect changed, ring.
constexpr uint32_t kModemCarrierDetect = 8;
constexpr uint32_t kModemRing = 4;

struct LineCounts {
    int dcd = 0, rng = 0;
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

// Reads the counters of `fd`; false when the device has none.
bool ReadLineCounts(int fd, LineCounts& counts);

// The line-error flags for what changed between two readings (0 for none).
uint32_t LineErrorFlags(const LineCounts& before, const LineCounts& after);

// The modem event value for what changed between two readings (0 for none).
uint32_t ModemEventValue(const LineCounts& before, const LineCounts& after);

} // namespace bms
