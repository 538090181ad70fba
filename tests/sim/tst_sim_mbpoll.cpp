// The virtual pack is a correct Modbus RTU slave for functions 3, 4, 6 and
// 16: a standard master (mbpoll) reads and writes it.
#include "RuntimeDir.h"
#include "VirtualPack.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

using namespace bms::sim;

namespace {

struct Result {
    int status = -1;
    std::string output;
};

Result RunCommandLine(const std::string& command)
{
    Result r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    std::array<char, 512> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0)
        r.output.append(buffer.data(), n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Mbpoll(const std::string& port, const std::string& args)
{
    // The configure step found mbpoll (scripts/setup installs it).
    return "timeout 20 " BMS_MBPOLL " -m rtu -a 6 -b 19200 -P none -o 2 -1 " + args + " " + port;
}

class MbpollTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bms::sim::test::TestRuntimeDir();
        PackConfig c;
        c.live = false;
        c.cellCount = 7;
        c.cellTempCount = 3;
        c.mosTempCount = 2;
        c.capacityMah = 80000;
        pack = std::make_unique<VirtualPack>(c);
        port = pack->start();
    }
    std::unique_ptr<VirtualPack> pack;
    std::string port;
};

} // namespace

TEST_F(MbpollTest, ReadsTheConfiguredInputRegisters)
{
    // Registers 0x0204..0x0205 (1-based 517, 518): sensor counts and cells.
    const Result r = RunCommandLine(Mbpoll(port, "-t 3 -r 517 -c 2"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[517]: \t515"), std::string::npos) << r.output;  // 0x0204: 2 MOS, 3 cell sensors
    EXPECT_NE(r.output.find("[518]: \t7"), std::string::npos) << r.output;
    // Design capacity 80000 mAh at 0x0013..0x0014, read 0-based.
    const Result cap = RunCommandLine(Mbpoll(port, "-0 -t 3:int -B -r 19 -c 1"));
    ASSERT_EQ(cap.status, 0) << cap.output;
    EXPECT_NE(cap.output.find("80000"), std::string::npos) << cap.output;
}

TEST_F(MbpollTest, WritesHoldingRegistersAndReadsThemBack)
{
    Result w = RunCommandLine(Mbpoll(port, "-0 -t 4 -r 0x9D25") + " 7 900");
    ASSERT_EQ(w.status, 0) << w.output;
    EXPECT_EQ(pack->registers(0x9D25, 2), (std::vector<uint16_t>{7, 900}));
    w = RunCommandLine(Mbpoll(port, "-0 -t 4 -r 0x9D27") + " 42");   // one register: function 6
    ASSERT_EQ(w.status, 0) << w.output;
    EXPECT_EQ(pack->reg(0x9D27), 42);
    const Result r = RunCommandLine(Mbpoll(port, "-0 -t 4 -r 0x9D25 -c 3"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\t7"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\t900"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\t42"), std::string::npos) << r.output;
}

TEST_F(MbpollTest, RefusedRegisterIsReportedAsAnException)
{
    pack->refuseRegister(0x9D25);
    const Result r = RunCommandLine(Mbpoll(port, "-0 -t 4 -r 0x9D25") + " 1 2");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Illegal data address"), std::string::npos) << r.output;
}
