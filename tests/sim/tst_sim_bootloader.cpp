#include "BootLoader.h"

#include <gtest/gtest.h>

using namespace bms::sim;
using Codes = BootLoader::Codes;
using State = BootLoader::State;

namespace {

const std::vector<uint8_t> Data{0x3A, 0x04, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF2};
const std::vector<uint8_t> EndOfFile{0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF};

BootLoader::Timing Timing() { return {400, 600, 800, 15000}; }

// Drives the loader through the reboot order up to "first write".
void ToWriting(BootLoader& b)
{
    b.onRebootOrder(0.0);
    b.onBootCommand(0x30, 0.3);
    ASSERT_EQ(b.onRebootFrame(0.35), Codes{0x31});
    EXPECT_EQ(b.poll(0.5), Codes{});
    ASSERT_EQ(b.poll(0.76), Codes{0x32});
    b.onBootCommand(0x37, 0.8);
    EXPECT_EQ(b.poll(1.0), Codes{});
    ASSERT_EQ(b.poll(1.41), Codes{0x33});
    ASSERT_EQ(b.state(), State::Writing);
}

} // namespace

TEST(BootLoader, FullRunGivesTheStatusCodesInOrderWithTheirDelays)
{
    BootLoader b(Timing());
    ToWriting(b);
    EXPECT_EQ(b.onRecord(Data, false, 2.0), Codes{0x34});
    EXPECT_EQ(b.onRecord(Data, false, 2.01), Codes{0x34});
    EXPECT_EQ(b.onRecord(EndOfFile, false, 2.02), Codes{0x36});
    ASSERT_TRUE(b.nextDeadline());
    EXPECT_NEAR(*b.nextDeadline(), 2.82, 1e-9);
    EXPECT_EQ(b.poll(2.5), Codes{});
    EXPECT_EQ(b.poll(2.83), Codes{0x38});
    EXPECT_EQ(b.state(), State::Application);
    EXPECT_EQ(b.recordsInRun(), 3);
}

TEST(BootLoader, RebootNeedsTheWholeOrder)
{
    BootLoader b(Timing());
    EXPECT_EQ(b.onRebootFrame(0.0), Codes{});          // no register order, no boot command
    b.onRebootOrder(0.1);
    EXPECT_EQ(b.onRebootFrame(0.2), Codes{});          // boot command missing
    b.onBootCommand(0x30, 0.3);
    EXPECT_EQ(b.onRebootFrame(0.35), Codes{0x31});
    // An order left half-way expires.
    BootLoader c(Timing());
    c.onRebootOrder(0.0);
    c.poll(10.0);
    EXPECT_EQ(c.state(), State::Application);
}

TEST(BootLoader, BadRecordOrRefusedWriteGivesWriteErrorAndWaitsForANewRun)
{
    BootLoader b(Timing());
    ToWriting(b);
    auto bad = Data;
    bad.back() ^= 1;
    EXPECT_EQ(b.onRecord(bad, false, 2.0), Codes{0x35});
    EXPECT_FALSE(b.acceptsRecords());
    EXPECT_TRUE(b.inBootLoader());
    // A new reboot frame in the boot loader starts again.
    EXPECT_EQ(b.onRebootFrame(3.0), Codes{0x31});

    BootLoader c(Timing());
    ToWriting(c);
    EXPECT_EQ(c.onRecord(Data, true, 2.0), Codes{0x35});
}

TEST(BootLoader, QuietBootLoaderFallsBackToTheApplication)
{
    BootLoader b(Timing());
    ToWriting(b);
    b.onRecord(Data, false, 2.0);
    EXPECT_EQ(b.poll(16.0), Codes{});
    EXPECT_TRUE(b.inBootLoader());
    b.poll(17.1);
    EXPECT_EQ(b.state(), State::Application);
}

TEST(BootLoader, RecordsBeforeFirstWriteAreIgnored)
{
    BootLoader b(Timing());
    EXPECT_EQ(b.onRecord(Data, false, 0.0), Codes{});
    EXPECT_EQ(b.recordsInRun(), 0);
}
