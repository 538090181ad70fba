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
