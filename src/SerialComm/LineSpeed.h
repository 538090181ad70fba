// Line speed in bits per second through the kernel's termios2 interface, so
// that rates without a standard constant (76800, 125000) work as well. Kept
// apart from <termios.h>, which cannot be included together with the kernel's
// own terminal definitions.
#pragma once

#include <cstdint>

namespace bms {

// Sets input and output speed of the terminal `fd`; false when refused.
bool SetLineSpeed(int fd, uint32_t baud);

// The output speed the terminal holds; 0 when it cannot be read. On a
// pseudo-terminal the master reports the speed set on its slave.
uint32_t ReadLineSpeed(int fd);

} // namespace bms
