#include "LineSettings.h"

#include "LineSpeed.h"

#include <sys/ioctl.h>
#include <termios.h>

namespace bms {

namespace {

tcflag_t DataBits(TByteSize size)
{
    switch (size) {
    case TByteSize::_5: return CS5;
    case TByteSize::_6: return CS6;
    case TByteSize::_7: return CS7;
    case TByteSize::_8: break;
    }
    return CS8;
}

tcflag_t ParityBits(TParity parity)
{
    switch (parity) {
    case TParity::None: break;
    case TParity::Odd: return PARENB | PARODD;
    case TParity::Even: return PARENB;
    case TParity::Mark: return PARENB | CMSPAR | PARODD;
    case TParity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

void BuildTermios(const LineConfig& c, termios& t)
{
    // Raw mode, rebuilt from scratch except for the speed bits.
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= CBAUD | CIBAUD;
    t.c_cflag |= CREAD | CLOCAL | DataBits(c.ByteSize) | ParityBits(c.Parity);
    if (c.StopBits != TStopBits::_1)
        t.c_cflag |= CSTOPB;
    if (c.Outx_CtsFlow || c.RtsControl == TRtsControl::RtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (c.ParityCheck)
        t.c_iflag |= INPCK;
    if (c.Outx_XonXoffFlow)
        t.c_iflag |= IXON;
    if (c.Inx_XonXoffFlow)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(c.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(c.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

void ApplyModemLines(int fd, const LineConfig& c)
{
    int raise = 0;
    int lower = 0;
    (c.DtrControl == TDtrControl::DtrDisable ? lower : raise) |= TIOCM_DTR;
    switch (c.RtsControl) {
    case TRtsControl::RtsDisable: lower |= TIOCM_RTS; break;
    case TRtsControl::RtsHandshake: break; // the kernel drives RTS
    case TRtsControl::RtsEnable:
    case TRtsControl::RtsTransmissionAvailable: raise |= TIOCM_RTS; break;
    }
    if (raise)
        (void)ioctl(fd, TIOCMBIS, &raise);
    if (lower)
        (void)ioctl(fd, TIOCMBIC, &lower);
}

} // namespace

bool LineSpeedServes(uint32_t requested, uint32_t actual)
{
    if (requested == 0 || actual == 0)
        return false;
    const uint64_t difference = requested > actual ? requested - actual : actual - requested;
    return difference * 100 <= uint64_t { requested } * 3;
}

bool ApplyLineSettings(int fd, const LineConfig& config)
{
    termios t {};
    if (tcgetattr(fd, &t) == 0) {
        BuildTermios(config, t);
        (void)tcsetattr(fd, TCSANOW, &t);
    }
    const bool speedSet = SetLineSpeed(fd, config.BaudRate);
    ApplyModemLines(fd, config);
    return speedSet && LineSpeedServes(config.BaudRate, ReadLineSpeed(fd));
}

} // namespace bms
