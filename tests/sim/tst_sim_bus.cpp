// A rack of virtual packs on one line: each address answers with its own
// pack, two packs at one address garble each other's answers, and faults
// set on one pack (also through the console's "@N") leave the others alone.
#include "Options.h"
#include "PortClient.h"
#include "RuntimeDir.h"
#include "VirtualBus.h"

#include <gtest/gtest.h>

using namespace bms::sim;
using namespace bms::sim::test;

namespace {

PackConfig Base()
{
    TestRuntimeDir();
    PackConfig c;
    c.live = false;
    c.publish = false;
    return c;
}

// The serial number of the answer to a read of the information block.
std::string Serial(const std::vector<uint8_t>& answer)
{
    if (answer.size() != 81 || !bms::CrcMatches(answer.data(), 81))
        return {};
    // 0x9D0F is register 14 of the block, 20 bytes, padded with spaces in front.
    std::string s(answer.begin() + 3 + 28, answer.begin() + 3 + 48);
    return s.substr(s.find_first_not_of(' '));
}

} // namespace

TEST(VirtualBus, EachAddressAnswersWithItsOwnPackAndACollisionGarbles)
{
    VirtualBus bus(RackConfigs(4, Base(), 2), Base());
    ASSERT_EQ(bus.size(), 5u);
    PortClient client(bus.start());
    ASSERT_TRUE(client.isOpen());
    for (uint8_t a : {1, 3, 4})
        EXPECT_EQ(Serial(client.ask(ReadRequest(a, 0x9D01, 38), 81)), "QX-RACK-" + std::to_string(1000 + a));
    // The low pack of the rack reports its charge.
    EXPECT_EQ(bus.packs(3).front()->reg(0x0018), client.ask(ReadRequest(3, 0x0018, 1), 7)[4]);
    // Both packs at 2 answer at once: a frame of the right length whose CRC fails.
    const auto garbled = client.ask(ReadRequest(2, 0x9D01, 38), 81);
    ASSERT_EQ(garbled.size(), 81u);
    EXPECT_EQ(garbled[0], 2);
    EXPECT_FALSE(bms::CrcMatches(garbled.data(), 81));
    EXPECT_EQ(bus.packs(2).size(), 2u);
    // No pack at 9: silence.
    client.send(ReadRequest(9, 0x9D01, 38));
    EXPECT_TRUE(client.quietFor(150));
}

TEST(VirtualBus, ConsoleCommandsGoToTheAddressedPackOnly)
{
    VirtualBus bus(RackConfigs(3, Base()), Base());
    PortClient client(bus.start());
    EXPECT_EQ(RunBusCommand("@2 silent", bus), "@2: ok\n");
    EXPECT_EQ(RunBusCommand("@3 cell-offset 2 -300", bus), "@3: ok\n");
    client.send(ReadRequest(2, 0x0017, 1));
    EXPECT_TRUE(client.quietFor(150));
    const auto cells = [&](uint8_t a) {
        const auto r = client.ask(ReadRequest(a, 0x0500, 2), 9);
        return r.size() == 9 ? (r[5] << 8 | r[6]) - (r[3] << 8 | r[4]) : 0;
    };
    EXPECT_LT(cells(3), -250); // cell 2 reads 300 mV low on pack 3 only
    EXPECT_GT(cells(1), -50);
    EXPECT_EQ(RunBusCommand("clear", bus), "@1: ok\n@2: ok\n@3: ok\n");
    EXPECT_EQ(client.ask(ReadRequest(2, 0x0017, 1), 7).size(), 7u);
    EXPECT_EQ(RunBusCommand("@7 status", bus), "no pack at @7\n");
    EXPECT_EQ(bus.packs(RackAlarmAddress(3)).front()->forcedBits(0x0080), 0);
    ApplyRackTraits(bus, 3);
    EXPECT_EQ(bus.packs(3).front()->forcedBits(0x0080), 1 << 6);
}
