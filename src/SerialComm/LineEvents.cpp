#include "LineEvents.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace bms {

bool ReadLineCounts(int fd, LineCounts& counts)
{
    serial_icounter_struct ic {};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return false;
    counts.dcd = ic.dcd;
    counts.rng = ic.rng;
    counts.frame = ic.frame;
    counts.overrun = ic.overrun;
    counts.parity = ic.parity;
    counts.brk = ic.brk;
    counts.bufOverrun = ic.buf_overrun;
    return true;
}

uint32_t LineErrorFlags(const LineCounts& before, const LineCounts& after)
{
    uint32_t flags = 0;
    if (after.bufOverrun != before.bufOverrun)
        flags |= CE_RXOVER;
    if (after.overrun != before.overrun)
        flags |= CE_OVERRUN;
    if (after.parity != before.parity)
        flags |= CE_RXPARITY;
    if (after.frame != before.frame)
        flags |= CE_FRAME;
    if (after.brk != before.brk)
        flags |= CE_BREAK;
    return flags;
}

uint32_t ModemEventValue(const LineCounts& before, const LineCounts& after)
{
    uint32_t value = 0;
    if (after.dcd != before.dcd)
        value |= kModemCarrierDetect;
    if (after.rng != before.rng)
        value |= kModemRing;
    return value;
}

} // namespace bms
