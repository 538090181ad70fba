#include "Options.h"
#include "PortClient.h"
#include "RuntimeDir.h"

#include <gtest/gtest.h>

using namespace bms::sim;
using namespace bms::sim::test;

TEST(Options, FlagsFillTheConfigurationAndTheFaults)
{
    ProgramOptions o;
    const auto error = ParseOptions({"--address", "0x0A", "--cells", "40", "--product", "BSI", "--baud", "0",
                                     "--soc", "25", "--static", "--noise", "FF00", "--split", "4:20",
                                     "--refuse", "0x9D1E", "--refuse", "40221", "--write-error-at", "3",
                                     "--silence-after", "0", "--dump-main", "/tmp/x.hex", "--new-version", "2.10.1",
                                     "--keep-version", "--silent-after-upgrade", "--lose-answer", "7", "--corrupt-answer", "9"},
                                    o);
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(o.config.address, 0x0A);
    EXPECT_EQ(o.config.cellCount, 40);
    EXPECT_EQ(o.config.productType, "BSI");
    EXPECT_EQ(o.config.baud, 0u);
    EXPECT_DOUBLE_EQ(o.config.startSoc, 0.25);
    EXPECT_FALSE(o.config.live);
    EXPECT_EQ(o.faults.noise, (std::vector<uint8_t>{0xFF, 0x00}));
    EXPECT_EQ(o.faults.pieces, 4);
    EXPECT_EQ(o.faults.gapMs, 20);
    EXPECT_EQ(o.faults.refused, (std::vector<uint16_t>{0x9D1E, 0x9D1D}));
    EXPECT_EQ(o.faults.writeErrorAt, 3);
    EXPECT_EQ(o.faults.silenceAfter, 0);
    EXPECT_EQ(o.dumpMain, "/tmp/x.hex");
    EXPECT_EQ(o.config.upgradedVersion, 0x20A1);
    EXPECT_TRUE(o.config.keepVersion);
    EXPECT_TRUE(o.faults.silentAfterUpgrade);
    EXPECT_EQ(o.faults.loseAnswerAt, 7);
    EXPECT_EQ(o.faults.corruptAnswerAt, 9);
}

TEST(Options, DefaultsAreTheDemoPackAtLineSpeed)
{
    ProgramOptions o;
    ASSERT_FALSE(ParseOptions({}, o));
    EXPECT_EQ(o.config.address, 0x06);
    EXPECT_EQ(o.config.name, "demo");
    EXPECT_EQ(o.config.baud, 19200u);
    EXPECT_TRUE(o.config.publish);
}

TEST(Options, BadValuesAreRefusedWithAReason)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--cells"}, {"--cells", "x"}, {"--cells", "12x"}, {"--cells", "-1"}, {"--address", "0"},
             {"--noise", "GG"}, {"--split", "0"}, {"--bogus"}, {"--new-version", "1.5"},
             {"--new-version", "16.0.0"}, {"--new-version", "1.256.0"}, {"--new-version", "1.5.3x"}}) {
        ProgramOptions o;
        EXPECT_TRUE(ParseOptions(args, o)) << args[0];
    }
}

TEST(Options, ConsoleCommandsChangeTheRunningPack)
{
    TestRuntimeDir();
    PackConfig c;
    c.live = false;
    VirtualPack pack(c);
    PortClient client(pack.start());
    EXPECT_EQ(RunCommand("refuse 0x9D1E", pack), "ok\n");
    EXPECT_EQ(client.ask(WriteRequest(0x06, 0x9D1E, {0x00, 0x02}), 5), WithCrc({0x06, 0x90, 0x02}));
    EXPECT_EQ(RunCommand("clear", pack), "ok\n");
    EXPECT_EQ(client.ask(WriteRequest(0x06, 0x9D1E, {0x00, 0x02}), 8), WriteAck(0x06, 0x9D1E, 1));
    EXPECT_NE(RunCommand("silent abc", pack), "ok\n");
    EXPECT_NE(RunCommand("frobnicate", pack).find("unknown command"), std::string::npos);
    EXPECT_NE(RunCommand("status", pack).find("write 2"), std::string::npos);
    EXPECT_NE(RunCommand("status", pack).find("software 1.5.3"), std::string::npos);
}

// Every check of an end-of-line test can be made to fail from the console:
// each command shows in the register the tool reads, and the calibrations
// undo the reading errors.
TEST(Options, BatteryFaultsShowInTheirRegistersUntilCorrected)
{
    TestRuntimeDir();
    PackConfig c;
    c.live = false;
    VirtualPack pack(c);
    ASSERT_EQ(RunCommand("current 10000", pack), "ok\n");
    EXPECT_EQ(static_cast<int32_t>(pack.reg(0x0015) << 16 | pack.reg(0x0016)), 10000);
    EXPECT_EQ(pack.reg(0x0100) & 0x30, 0x20); // charging

    const uint16_t cell3 = pack.reg(0x0502);
    EXPECT_EQ(RunCommand("cell-offset 3 -250", pack), "ok\n");
    EXPECT_EQ(pack.reg(0x0502), cell3 - 250);
    EXPECT_EQ(RunCommand("temp 2 61.5", pack), "ok\n");
    EXPECT_EQ(pack.reg(0x0401), 2731 + 615);
    EXPECT_EQ(RunCommand("mos-temp 1 -5", pack), "ok\n");
    EXPECT_EQ(pack.reg(0x0480), 2731 - 50);
    EXPECT_EQ(RunCommand("bit 0x0080 6", pack), "ok\n");
    EXPECT_EQ(RunCommand("bit 0x0083 12", pack), "ok\n");
    EXPECT_EQ(pack.reg(0x0080) & 0x40, 0x40);
    EXPECT_EQ(pack.reg(0x0083), 0x1000);
    EXPECT_EQ(RunCommand("bit 0x0083 12 off", pack), "ok\n");
    EXPECT_EQ(pack.reg(0x0083), 0);
    EXPECT_EQ(RunCommand("current-error 5", pack), "ok\n");
    EXPECT_EQ(static_cast<int32_t>(pack.reg(0x0015) << 16 | pack.reg(0x0016)), 10500);
    for (const char* bad : {"bit 0x0084 1", "bit 0x0080 16", "temp 2", "cell-offset x 1", "current"})
        EXPECT_NE(RunCommand(bad, pack), "ok\n") << bad;

    // A current calibration and a voltage calibration of cell 1 make the
    // readings right again; the temperature follows the battery once off.
    PortClient client(pack.start());
    EXPECT_EQ(RunCommand("cell-offset 1 40", pack), "ok\n");
    EXPECT_EQ(client.ask(WriteRequest(0x06, 0x0015, {0x00, 0x00, 0x27, 0x10}), 8), WriteAck(0x06, 0x0015, 2));
    EXPECT_EQ(static_cast<int32_t>(pack.reg(0x0015) << 16 | pack.reg(0x0016)), 10000);
    EXPECT_EQ(client.ask(WriteRequest(0x06, 0x0500, {0x0C, 0xE4}), 8), WriteAck(0x06, 0x0500, 1));
    EXPECT_EQ(pack.reg(0x0500), 3300);
    EXPECT_EQ(RunCommand("temp 2 off", pack), "ok\n");
    EXPECT_LT(pack.reg(0x0401), 2731 + 400);
    EXPECT_EQ(RunCommand("clear", pack), "ok\n");
    EXPECT_EQ(pack.reg(0x0080) & 0x40, 0);
    EXPECT_EQ(pack.reg(0x0502), cell3);

    ProgramOptions o;
    ASSERT_FALSE(ParseOptions({"--cell-offset", "3:-250", "--temp", "2:61.5", "--mos-temp", "1:-5", "--bit", "0x0081:4",
                               "--current-error", "-3", "--current", "-20000"}, o));
    EXPECT_EQ(o.faults.cellFaults, (std::vector<std::pair<int, int>>{{3, -250}}));
    EXPECT_EQ(o.faults.temperatures.size(), 2u);
    EXPECT_EQ(o.faults.bits, (std::vector<std::pair<uint16_t, int>>{{0x0081, 4}}));
    EXPECT_EQ(o.faults.currentError, -3);
    EXPECT_EQ(o.faults.heldCurrent, -20000);
    for (const char* bad : {"--cell-offset", "--bit", "--temp"}) {
        ProgramOptions b;
        EXPECT_TRUE(ParseOptions({bad, "7"}, b)) << bad;
    }
}
