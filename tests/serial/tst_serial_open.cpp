// Opening and closing the serial port component, its port names and the line
// settings it writes to a pseudo-terminal.
#include "SerialTestSupport.h"

#include "Errors.h"
#include "LineSpeed.h"
#include "OpenFailure.h"
#include "PortName.h"
#include "SerialComm.h"

#include <QTemporaryFile>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace bms::test {
namespace {

QString OpenError(TComm& comm, int* cause = nullptr)
{
    try {
        comm.OpenComm();
    } catch (const ECommsError& e) {
        if (cause)
            *cause = e.cause();
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
    int cause = 0;
    EXPECT_EQ(OpenError(comm, &cause), QStringLiteral("Error opening serial port"));
    EXPECT_EQ(cause, ENOENT);
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
    EXPECT_FALSE(comm.LowLatency()); // a pseudo-terminal has no such mode and opens all the same
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
    int cause = 0;
    EXPECT_EQ(OpenError(second, &cause), QStringLiteral("Error opening serial port"));
    EXPECT_EQ(cause, EBUSY);
    EXPECT_FALSE(second.Connected());
    first.CloseComm();
    EXPECT_EQ(OpenError(second), QStringLiteral("<opened>"));
    second.CloseComm();
}

TEST(OpenFailure, aPortHeldByAnotherProgramNamesThatProgram)
{
    PtyPair pty;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    TComm comm;
    comm.setCommName(pty.slavePath());
    int cause = 0;
    EXPECT_EQ(OpenError(comm, &cause), QStringLiteral("Error opening serial port"));
    const QString note = OpenFailureNote(GatherOpenFailureFacts(pty.slavePath(), cause));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(note.contains(QStringLiteral("is in use by another program (tst_serial_open, process %1)").arg(child))) << qPrintable(note);
}

TEST(OpenFailure, noteSaysWhatTheOperatorCanDo)
{
    struct Case {
        OpenFailureFacts facts;
        const char* expected; // empty: no note
    };
    const QString dev = QStringLiteral("/dev/ttyUSB0");
    const Case cases[] = {
        {{dev, EACCES, "dialout", false, false, {}},
         "Note: /dev/ttyUSB0 may only be opened by members of group dialout (permission denied). "
         "Join it with \"sudo usermod -aG dialout $USER\", then log out and in again."},
        {{dev, EACCES, "dialout", true, false, {}},
         "Note: /dev/ttyUSB0 belongs to group dialout, which you joined after logging in: log out and in again to use it."},
        {{dev, EACCES, "root", false, false, {}}, "Note: /dev/ttyUSB0 may not be opened by this user (permission denied)."},
        {{dev, EBUSY, {}, false, false, {}}, "Note: /dev/ttyUSB0 is in use by another program; close the port there first."},
        {{dev, ENOENT, {}, false, false, {}}, "Note: /dev/ttyUSB0 does not exist: is the communication box plugged in?"},
        {{dev, EIO, {}, false, false, {}}, "Note: /dev/ttyUSB0 cannot be opened: Input/output error."},
        {{QString(), 0, {}, false, false, {}}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OpenFailureNote(c.facts), QString::fromUtf8(c.expected));
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
