// Opening and closing the serial port component, its port names and the line
// settings it writes to a pseudo-terminal.
#include "SerialTestSupport.h"

#include "Errors.h"
#include "LineSpeed.h"
#include "PortName.h"
#include "SerialComm.h"

#include <QTemporaryFile>
#include <termios.h>

namespace bms::test {
namespace {

QString OpenError(TComm& comm)
{
    try {
        comm.OpenComm();
    } catch (const ECommsError& e) {
        return e.message();
    }
    return QStringLiteral("<opened>");
}

tcflag_t SlaveCflag(const PtyPair& pty)
{
    termios t {};
    EXPECT_EQ(tcgetattr(pty.master(), &t), 0);
    return t.c_cflag;
}

TEST(CommName, isNormalisedAsStoredAndMappedToADevicePath)
{
    TComm comm;
    EXPECT_EQ(comm.CommName(), QStringLiteral("COM2"));
    comm.setCommName(QStringLiteral("COM7"));
    EXPECT_EQ(comm.CommName(), QStringLiteral("\\\\.\\COM7"));
    comm.setCommName(QStringLiteral("\\\\.\\COM7"));
    EXPECT_EQ(comm.CommName(), QStringLiteral("\\\\.\\COM7"));
    comm.setCommName(QStringLiteral("COM3:"));
    EXPECT_EQ(comm.CommName(), QStringLiteral("\\\\.\\COM3"));
    comm.setCommName(QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(comm.CommName(), QStringLiteral("/dev/ttyUSB0"));

    EXPECT_EQ(CommDevicePath(QStringLiteral("COM2")), QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(CommDevicePath(QStringLiteral("\\\\.\\com7")), QStringLiteral("/dev/ttyS6"));
    EXPECT_EQ(CommDevicePath(QStringLiteral("\\\\.\\ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(CommDevicePath(QStringLiteral("\\\\.\\COM0")), QStringLiteral("/dev/COM0"));
    EXPECT_EQ(CommDevicePath(QStringLiteral("/run/user/1/quorlex-bms/pack1")), QStringLiteral("/run/user/1/quorlex-bms/pack1"));
    EXPECT_EQ(CommDevicePath(QStringLiteral("\\\\.\\")), QString());
}

TEST(OpenComm, refusesWhatIsNotAnOpenableTerminal)
{
    TComm comm;
    comm.setCommName(QStringLiteral("/dev/no-such-serial-port"));
    EXPECT_EQ(OpenError(comm), QStringLiteral("Error opening serial port"));
    comm.setCommName(QString()); // an empty port box
    EXPECT_EQ(OpenError(comm), QStringLiteral("Error opening serial port"));

    comm.setCommName(QStringLiteral("/dev/null"));
    EXPECT_EQ(OpenError(comm), QStringLiteral("File handle is not a comm handle "));
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    comm.setCommName(file.fileName());
    EXPECT_EQ(OpenError(comm), QStringLiteral("File handle is not a comm handle "));

    EXPECT_FALSE(comm.Connected());
    EXPECT_EQ(comm.ComHandle(), 0);
    EXPECT_FALSE(comm.SendData(reinterpret_cast<const uint8_t*>("x"), 1));
}

TEST(OpenComm, secondOpenIsRefusedAndLeavesThePortWorking)
{
    PtyPair pty;
    TComm comm;
    comm.setCommName(pty.slavePath());
    comm.OpenComm();
    const int handle = comm.ComHandle();
    EXPECT_GT(handle, 0);
    EXPECT_EQ(OpenError(comm), QStringLiteral("This serial port already opened"));
    EXPECT_TRUE(comm.Connected());
    EXPECT_EQ(comm.ComHandle(), handle);

    const uint8_t request[] = { 0x01, 0x04, 0x00, 0x00, 0x00, 0x0A, 0x70, 0x0D };
    EXPECT_TRUE(comm.SendData(request, sizeof request));
    EXPECT_EQ(pty.Read(sizeof request), std::vector<uint8_t>(request, request + sizeof request));
    comm.CloseComm();
}

TEST(OpenComm, portInUseIsRefusedUntilItsOwnerCloses)
{
    PtyPair pty;
    TComm first;
    TComm second;
    first.setCommName(pty.slavePath());
    second.setCommName(pty.slavePath());
    first.OpenComm();
    EXPECT_EQ(OpenError(second), QStringLiteral("Error opening serial port"));
    EXPECT_FALSE(second.Connected());
    first.CloseComm();
    EXPECT_EQ(OpenError(second), QStringLiteral("<opened>"));
    second.CloseComm();
}

TEST(CloseComm, closesOnceAndNothingIsSentAfterwards)
{
    PtyPair pty;
    TComm comm;
    comm.CloseComm(); // closed: nothing happens
    comm.setCommName(pty.slavePath());
    comm.OpenComm();
    const uint8_t byte = 0x55;
    EXPECT_FALSE(comm.SendData(&byte, 0));
    comm.CloseComm();
    comm.CloseComm();
    EXPECT_FALSE(comm.Connected());
    EXPECT_EQ(comm.ComHandle(), 0);
    EXPECT_FALSE(comm.SendData(&byte, 1));
    EXPECT_TRUE(comm.SendDataEmpty());
}

TEST(LineSettings, framingAndEveryBaudRateOfThePortBoxReachTheDevice)
{
    PtyPair pty;
    TComm comm;
    comm.setCommName(pty.slavePath());
    comm.setByteSize(TByteSize::_7);
    comm.setParity(TParity::Mark);
    comm.setStopBits(TStopBits::_1_5); // nearest Linux setting: 2
    comm.setOutx_CtsFlow(false);
    comm.setOutx_XonXoffFlow(true);
    comm.OpenComm();

    // A pseudo-terminal forces 8 data bits and clears the parity enable bit;
    // the kind of parity and the stop bits stay visible.
    constexpr tcflag_t kParityKind = PARODD | CMSPAR;
    tcflag_t c = SlaveCflag(pty);
    EXPECT_EQ(c & kParityKind, kParityKind);
    EXPECT_TRUE(c & CSTOPB);
    EXPECT_FALSE(c & CRTSCTS);
    EXPECT_EQ(ReadLineSpeed(pty.master()), 9600u);
    termios t {};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));

    for (uint32_t baud : { 4800u, 19200u, 38400u, 76800u, 115200u, 125000u }) {
        comm.setBaudRate(baud);
        EXPECT_EQ(ReadLineSpeed(pty.master()), baud);
    }

    // Parity alone is only stored; the next change of a line setting applies it.
    comm.setParity(TParity::Space);
    EXPECT_EQ(SlaveCflag(pty) & kParityKind, kParityKind);
    comm.setStopBits(TStopBits::_1);
    c = SlaveCflag(pty);
    EXPECT_EQ(c & kParityKind, tcflag_t { CMSPAR });
    EXPECT_FALSE(c & CSTOPB);
    comm.CloseComm();
}

} // namespace
} // namespace bms::test
