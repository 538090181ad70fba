#include "PackState.h"
#include "Telemetry.h"

#include "Codec.h"

#include <gtest/gtest.h>

using namespace bms::sim;

namespace {

PackConfig StaticConfig()
{
    PackConfig c;
    c.live = false;
    c.cellCount = 13;
    c.cellTempCount = 3;
    c.mosTempCount = 1;
    c.capacityMah = 50000;
    c.startSoc = 0.5;
    return c;
}

uint32_t U32(const std::vector<uint16_t>& r, size_t at) { return static_cast<uint32_t>(r[at]) << 16 | r[at + 1]; }

} // namespace

TEST(PackState, TelemetryBlocksFollowTheConfiguredPack)
{
    PackState s(StaticConfig(), 0);
    const auto b3 = s.read(0x0200, 6, 0);
    EXPECT_EQ(b3[4], 0x0103);   // MOS sensors high byte, cell sensors low byte
    EXPECT_EQ(b3[5], 13);
    const auto cells = s.read(0x0500, 14, 0);
    long total = 0;
    for (int i = 0; i < 13; ++i) {
        EXPECT_GT(cells[i], 3000);
        EXPECT_LT(cells[i], 3500);
        total += cells[i];
    }
    EXPECT_EQ(cells[13], 0);    // past the last cell
    const auto b0 = s.read(0x000A, 30, 0);
    EXPECT_EQ(b0[0x17 - 0x0A], total / 10);      // pack voltage in 10 mV
    EXPECT_EQ(b0[0x18 - 0x0A], 500);             // 50.0 %
    EXPECT_EQ(U32(b0, 0x19 - 0x0A), 24500u);     // half of 98 % of 50000 mAh
    EXPECT_EQ(static_cast<int32_t>(U32(b0, 0x15 - 0x0A)), -35000);  // discharging at 0.7 C
    EXPECT_EQ(b0[0x1C - 0x0A], 2981);            // 25.0 °C in 0.1 K
    const auto temps = s.read(0x0400, 3, 0);
    EXPECT_GE(temps[0], 2981);
    EXPECT_EQ(s.reg(0x0480, 0) > 2981, true);
    EXPECT_EQ(s.reg(0x0481, 0), 0);              // one MOS sensor only
    EXPECT_EQ(s.reg(0x0100, 0) & 0x33, 0x13);    // discharging, both MOS on
    // Without "BSI" the parallel block is empty.
    for (uint16_t v : s.read(0x2000, 40, 0))
        EXPECT_EQ(v, 0);
    EXPECT_EQ(s.reg(0x7777, 0), 0);
}

TEST(PackState, InformationBlockHoldsTheIdentity)
{
    PackConfig c = StaticConfig();
    c.barcode = "123456789012";
    c.serialNumber = "AB C";
    PackState s(c, 0);
    const auto info = s.read(0x9D01, 38, 0);
    EXPECT_EQ(U32(info, 2), 50000u);
    EXPECT_EQ(s.text(0x9D05, 12, 0), "123456789012");
    EXPECT_EQ(s.text(0x9D0F, 20, 0), std::string(16, ' ') + "AB C");
    EXPECT_EQ(s.text(0x9D0B, 8, 0), std::string("QUORLEX") + '\0');
    EXPECT_EQ(info[0x9D25 - 0x9D01], 1);
    EXPECT_EQ(info[0x9D26 - 0x9D01], 3600);
    EXPECT_EQ(info[0x9D1E - 0x9D01], 1);
}

TEST(PackState, WritesReadBackAndActOnThePack)
{
    PackState s(StaticConfig(), 0);
    const uint8_t barcode[] = "999988887777";
    s.write(0x9D05, 6, barcode, 1);
    EXPECT_EQ(s.text(0x9D05, 12, 1), "999988887777");

    const uint8_t type[] = {0x00, 0x05};
    s.write(0x9D1E, 1, type, 1);
    EXPECT_EQ(s.reg(0x9D1E, 1), 5);
    EXPECT_EQ(s.reg(0x000A, 1) & 0xFF, 5);       // the version register carries the protocol type

    const uint8_t current[] = {0x00, 0x00, 0x27, 0x10};  // reading now 10000 mA
    s.write(0x0015, 2, current, 1);
    EXPECT_EQ(U32(s.read(0x0015, 2, 1), 0), 10000u);

    const uint8_t remain[] = {0x00, 0x00, 0x1F, 0x40};   // 8000 mAh
    s.write(0x0019, 2, remain, 1);
    EXPECT_EQ(U32(s.read(0x0019, 2, 1), 0), 8000u);

    const uint8_t cell1[] = {0x0C, 0xE4};                // 3300 mV
    s.write(0x0500, 1, cell1, 1);
    EXPECT_EQ(s.reg(0x0500, 1), 3300);

    const uint8_t param[] = {0x01, 0xFF, 0x0E, 0x10};    // type 1, all cells, 3600
    s.write(0x9CFA, 2, param, 1);
    EXPECT_EQ(s.parameters().at({1, 0xFF}), 3600u);
    EXPECT_EQ(s.reg(0x9CFA, 1), 0x01FF);

    const uint8_t sleep[] = {0x00, 0x03, 0x02, 0x58};
    s.write(0x9D25, 2, sleep, 1);
    EXPECT_EQ(s.read(0x9D25, 2, 1), (std::vector<uint16_t>{3, 600}));

    const uint8_t other[] = {0x12, 0x34};
    s.write(0x0202, 1, other, 1);                        // a live register without meaning: pinned
    EXPECT_EQ(s.reg(0x0202, 1), 0x1234);
    s.write(0x4321, 1, other, 1);
    EXPECT_EQ(s.reg(0x4321, 1), 0x1234);
}

TEST(PackState, ClockRunsFromTheWrittenTime)
{
    PackState s(StaticConfig(), 0);
    const uint8_t clock[] = {58, 59, 23, 1, 31, 12, 26, 8};  // 2026-12-31 23:59:58, zone +8
    s.write(0x9D19, 4, clock, 10);
    auto c = s.clock(10);
    EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.end()), (std::vector<uint8_t>{58, 59, 23, 4, 31, 12, 26, 8}));
    c = s.clock(13);  // three seconds later: new year
    EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.end()), (std::vector<uint8_t>{1, 0, 0, 5, 1, 1, 27, 8}));
    EXPECT_EQ(s.reg(0x9D19, 13), 0x0100);
    // Nonsense stands still and reads back as written.
    const uint8_t bad[] = {5, 30, 14, 2, 0, 6, 24, 0xF8};
    s.write(0x9D19, 4, bad, 20);
    c = s.clock(99);
    EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.end()), std::vector<uint8_t>(bad, bad + 8));
}

TEST(PackState, OwnFunctionsStoreCapacityAndSerialNumber)
{
    PackState s(StaticConfig(), 0);
    s.setRatedCapacity(123456);
    EXPECT_EQ(s.ratedCapacity(), 123456u);
    EXPECT_EQ(U32(s.read(0x9D03, 2, 0), 0), 123456u);
    const std::string sn = "                  AB";
    s.setSerialNumber(reinterpret_cast<const uint8_t*>(sn.data()));
    EXPECT_EQ(s.text(0x9D0F, 20, 0), sn);
}

TEST(Telemetry, CycleRaisesAlarmsAndProtectionsWithConsistentStateBits)
{
    PackConfig c;
    c.startSoc = 0.9;
    Telemetry t(c);
    // Discharge to the under-voltage limit: low-voltage alarm first, then protection.
    bool sawLowAlarm = false;
    for (int i = 0; i < 2000 && t.phase() == Telemetry::Phase::Discharge; ++i) {
        t.advance(10);
        EXPECT_EQ(t.stateWord() & 0x30, t.phase() == Telemetry::Phase::Discharge ? 0x10 : 0x00);
        if (t.alarmWord() & 0x0001)
            sawLowAlarm = true;
    }
    EXPECT_TRUE(sawLowAlarm);
    ASSERT_EQ(t.phase(), Telemetry::Phase::RestEmpty);
    EXPECT_EQ(t.protectionWord() & 0x0001, 0x0001);
    EXPECT_EQ(t.stateWord() & 0x0003, 0x0001);   // discharge MOS off
    EXPECT_EQ(t.currentMa(), 0);
    // Rest, then charge up to the over-voltage limit.
    for (int i = 0; i < 100 && t.phase() == Telemetry::Phase::RestEmpty; ++i)
        t.advance(10);
    ASSERT_EQ(t.phase(), Telemetry::Phase::Charge);
    EXPECT_EQ(t.protectionWord(), 0);
    EXPECT_GT(t.currentMa(), 0);
    bool sawHighAlarm = false;
    for (int i = 0; i < 2000 && t.phase() == Telemetry::Phase::Charge; ++i) {
        t.advance(10);
        EXPECT_EQ(t.stateWord() & 0x30, t.phase() == Telemetry::Phase::Charge ? 0x20 : 0x00);
        if (t.alarmWord() & 0x0002)
            sawHighAlarm = true;
    }
    EXPECT_TRUE(sawHighAlarm);
    ASSERT_EQ(t.phase(), Telemetry::Phase::RestFull);
    EXPECT_EQ(t.protectionWord() & 0x0002, 0x0002);
    EXPECT_EQ(t.stateWord() & 0x0003, 0x0002);   // charge MOS off
    EXPECT_NEAR(t.soc(), 1.0, 0.03);
}

TEST(Telemetry, BsiFillsTheParallelBlock)
{
    PackConfig c;
    c.productType = "BSI";
    c.parallelCount = 3;
    c.live = false;
    Telemetry t(c);
    EXPECT_EQ(*t.value(0x2000) >> 8, 3);          // uid_num
    EXPECT_EQ(*t.value(0x2000) & 0xFF, 0);        // member index
    EXPECT_EQ(*t.value(0x2000 + 18), 0x0007);     // online tag, bytes 36-37
    EXPECT_EQ(*t.value(0x2000 + 22) >> 8, 3);     // cp_bat_num, byte 44
    t.nextParallelMember();
    EXPECT_EQ(*t.value(0x2000) & 0xFF, 1);
}

TEST(Telemetry, CountsBeyondSixteenAreReported)
{
    PackConfig c;
    c.cellCount = 40;
    c.cellTempCount = 20;
    c.live = false;
    Telemetry t(c);
    EXPECT_EQ(*t.value(0x0205), 40);
    EXPECT_EQ(*t.value(0x0204) & 0xFF, 20);
    EXPECT_GT(*t.value(0x0500 + 39), 3000);
    EXPECT_FALSE(t.value(0x0500 + 40));
}

TEST(Telemetry, PackWithoutCellsReportsZerosAndStillCycles)
{
    PackConfig c;
    c.cellCount = 0;
    c.cellTempCount = 0;
    c.mosTempCount = 0;
    Telemetry t(c);
    EXPECT_EQ(*t.value(0x0205), 0);
    EXPECT_EQ(*t.value(0x0017), 0);      // pack voltage
    EXPECT_EQ(*t.value(0x001D), 0);      // highest cell
    EXPECT_EQ(*t.value(0x0021), 0);      // its position
    EXPECT_FALSE(t.value(0x0500));
    for (int i = 0; i < 500; ++i)
        t.advance(60);
    EXPECT_GE(t.soc(), -0.02);
    EXPECT_LE(t.soc(), 1.02);
}
