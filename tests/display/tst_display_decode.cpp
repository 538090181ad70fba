#include "DisplayTestSupport.h"
#include "FakeHost.h"
#include "PackTable.h"

#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

static auto* const qtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

namespace {

class Decode : public ::testing::Test {
protected:
    void SetUp() override { ResetPackTable(); }
    void TearDown() override { ResetPackTable(); }
    TestApp app;
    PackRecord& pack = PackTable[0];
};

// 30 registers of block 0 with every field distinct.
std::vector<uint8_t> FullBlock0()
{
    return Registers({
        0x0102,         // version major 1, minor 2
        0x1203, 0x2345, // sw, hw version
        10, 11, 12, 13, // limits
        0xFFFF, 0xFFFF, // fcc
        0x0000, 0x2710, // fdc 10000
        0xFFFF, 0xFF9C, // current -100
        5432, 1234,     // total volt, rsoc
        0x0001, 0x0000, // remain 65536
        321,            // cycles
        0,              // ENV temperature 0 K
        4100, 3000,     // max, min cell volt
        2981, 0xFFFF,   // max, min cell temperature
        1, 2, 3, 4,     // addresses
        3031, 5,        // MOS temperature, address
        0xAB01,         // pack flags in the high byte
    });
}

} // namespace

TEST_F(Decode, fullBlock0StoresSignedUnsignedAndTemperatureFields)
{
    Receive(0, FullBlock0());
    EXPECT_EQ(pack.version_major, 1);
    EXPECT_EQ(pack.version_minor, 2);
    EXPECT_EQ(pack.sw_version, 0x1203);
    EXPECT_EQ(pack.hw_version, 0x2345);
    EXPECT_EQ(pack.reg_0010, 13);
    EXPECT_EQ(pack.fcc_cap, 4294967295u);
    EXPECT_EQ(pack.fdc_cap, 10000u);
    EXPECT_EQ(pack.current, -100);
    EXPECT_EQ(pack.total_volt, 5432);
    EXPECT_EQ(pack.rsoc, 1234);
    EXPECT_EQ(pack.remain_cap, 65536u);
    EXPECT_EQ(pack.cycles, 321);
    EXPECT_EQ(pack.temp_001C, -2731);
    EXPECT_EQ(pack.reg_001E, 3000);
    EXPECT_EQ(pack.temp_001F, 250);
    EXPECT_EQ(pack.temp_0020, -2732); // 65535 - 2731 wraps in 16 bits
    EXPECT_EQ(pack.reg_0024, 4);
    EXPECT_EQ(pack.temp_0025, 300);
    EXPECT_EQ(pack.reg_0026, 5);
    EXPECT_EQ(pack.pack_flags, 0xAB);
    EXPECT_EQ(ReadBlock, 1);
}

TEST_F(Decode, shortBlock0StoresOnlyWholeFieldsAndStillAdvances)
{
    pack.fdc_cap = 111;
    pack.current = -5;
    pack.total_volt = 77;
    pack.pack_flags = 9;
    // 10 registers: 0x000A..0x0013, the last one half of fdc_cap.
    Receive(0, Registers({0x0102, 0x1203, 0x2345, 10, 11, 12, 13, 0x0001, 0x86A0, 0xFFFF}));
    EXPECT_EQ(pack.version_major, 1);
    EXPECT_EQ(pack.hw_version, 0x2345);
    EXPECT_EQ(pack.reg_0010, 13);
    EXPECT_EQ(pack.fcc_cap, 100000u);
    EXPECT_EQ(pack.fdc_cap, 111u);
    EXPECT_EQ(pack.current, -5);
    EXPECT_EQ(pack.total_volt, 77);
    EXPECT_EQ(pack.pack_flags, 9);
    EXPECT_EQ(ReadBlock, 1);

    // A block cut one byte short of its last register keeps that register.
    pack.bms_status = {1, 2, 3, 4};
    auto data = Registers({0x10, 0x20, 0x30, 0x40});
    data.pop_back();
    Receive(2, data);
    EXPECT_EQ(pack.bms_status, (std::array<uint16_t, 4>{0x10, 0x20, 0x30, 4}));
    EXPECT_EQ(ReadBlock, 3);
}

TEST_F(Decode, framesTooShortForAnyDataChangeNothingOrOnlyAdvance)
{
    pack.fault_status = {7, 7, 7, 7};
    ReadBlock = 1;
    MY_COM.RxLen = 1;
    DecodeTelemetry();
    EXPECT_EQ(ReadBlock, 1);

    // Address, function, count and CRC only: nothing stored, block counted.
    Receive(1, {});
    EXPECT_EQ(pack.fault_status, (std::array<uint16_t, 4>{7, 7, 7, 7}));
    EXPECT_EQ(ReadBlock, 2);

    // A length beyond the buffer is clamped, never read past it.
    ReadBlock = 1;
    MY_COM.RxLen = 0xFFFF;
    DecodeTelemetry();
    EXPECT_EQ(ReadBlock, 2);
}

// Block 3 data: reg_0200..soh, temp_b_count, temp_a_count, cell_count.
static std::vector<uint8_t> Block3(uint8_t tempB, uint8_t tempA, uint16_t cells)
{
    auto data = Registers({0x0200, 0x0201, 0x0202, 97});
    data.push_back(tempB);
    data.push_back(tempA);
    data.push_back(static_cast<uint8_t>(cells >> 8));
    data.push_back(static_cast<uint8_t>(cells));
    return data;
}

// Feeds full responses from block 3 on and lists the blocks that follow it
// until the rotation is back at 0.
static std::vector<int32_t> RotationAfterBlock3(uint8_t tempB, uint8_t tempA, uint16_t cells)
{
    std::vector<int32_t> blocks;
    Receive(3, Block3(tempB, tempA, cells));
    for (int guard = 0; ReadBlock != 0 && guard < 10; ++guard) {
        blocks.push_back(ReadBlock);
        Receive(ReadBlock, std::vector<uint8_t>(80, 0x0B));
    }
    return blocks;
}

TEST_F(Decode, rotationFollowsStoredCountsAndProductType)
{
    app.host.texts["cbb_pdType"] = QStringLiteral("Q-Serial");
    EXPECT_EQ(RotationAfterBlock3(3, 0, 13), std::vector<int32_t>{});
    EXPECT_EQ(RotationAfterBlock3(4, 3, 13), (std::vector<int32_t>{4, 5, 6}));

    app.host.texts["cbb_pdType"] = QStringLiteral("BSI");
    EXPECT_EQ(RotationAfterBlock3(0, 0, 0), std::vector<int32_t>{7});
    EXPECT_EQ(RotationAfterBlock3(0, 4, 13), std::vector<int32_t>{4});
    EXPECT_EQ(RotationAfterBlock3(4, 3, 0), (std::vector<int32_t>{4, 5}));
    EXPECT_EQ(RotationAfterBlock3(4, 3, 13), (std::vector<int32_t>{4, 5, 6, 7}));

    // Only the exact text selects the parallel-system block.
    app.host.texts["cbb_pdType"] = QStringLiteral("bsi");
    EXPECT_EQ(RotationAfterBlock3(0, 0, 0), std::vector<int32_t>{});

    // A block-3 response too short for the counts uses the stored ones.
    pack.temp_a_count = 5;
    Receive(3, Registers({1, 2}));
    EXPECT_EQ(ReadBlock, 4);

    // Unknown block numbers restart the rotation.
    Receive(9, {});
    EXPECT_EQ(ReadBlock, 0);
    Receive(-1, {});
    EXPECT_EQ(ReadBlock, 0);
}

TEST_F(Decode, countsAboveSixteenStoreTheFirstSixteenAndNeverOverflow)
{
    Receive(3, Block3(40, 20, 20));
    ASSERT_EQ(pack.cell_count, 20);

    std::vector<uint16_t> cells;
    std::vector<uint8_t> data;
    for (uint16_t i = 0; i < 40; ++i) {
        data.push_back(0x0C);
        data.push_back(static_cast<uint8_t>(i));
    }
    // Each array is written before the one ahead of it in the record, so a
    // write past any of them would show in its neighbour.
    Receive(5, data); // 40 registers, 40 announced
    Receive(4, data); // 40 registers, 20 announced
    Receive(6, std::vector<uint8_t>(data.begin(), data.begin() + 40));
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(pack.cell_volt[i], 0x0C00 + i);
        EXPECT_EQ(pack.temp_a[i], 0x0C00 + static_cast<int>(i) - 2731);
        EXPECT_EQ(pack.temp_b[i], 0x0C00 + static_cast<int>(i) - 2731);
    }
    // Whatever follows the arrays is untouched.
    EXPECT_EQ(pack.member_info, (std::array<uint8_t, 12>{}));
    EXPECT_EQ(PackTable[1].version_major, 0);

    // cell_count counts by its low byte: 0x0103 reads three registers.
    Receive(3, Block3(1, 1, 0x0103));
    Receive(6, Registers({3300, 3301, 3302, 3303}));
    EXPECT_EQ(pack.cell_volt[2], 3302);
    EXPECT_EQ(pack.cell_volt[3], 0x0C03);
}

TEST_F(Decode, registerBlocksShorterThanTheirCountKeepTheRest)
{
    Receive(3, Block3(2, 3, 4));
    pack.temp_a = {};
    Receive(4, Registers({2981, 2731}));
    EXPECT_EQ(pack.temp_a[0], 250);
    EXPECT_EQ(pack.temp_a[1], 0);
    EXPECT_EQ(pack.temp_a[2], 0);
    EXPECT_EQ(ReadBlock, 5);
}

// 80 bytes of block 7: byte i holds 0x80 + i except where set below.
static std::vector<uint8_t> FullBlock7(uint8_t member, uint8_t wordIndex)
{
    std::vector<uint8_t> data(80);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x80 + i);
    data[1] = member;
    data[66] = wordIndex;
    return data;
}

TEST_F(Decode, block7FillsTheParallelRecordAndMemberEntries)
{
    Receive(7, FullBlock7(2, 5));
    EXPECT_EQ(BsiRecord.uid_num, 0x80);
    EXPECT_EQ(BsiRecord.sys_state, (std::array<uint8_t, 2>{0x9E, 0x9F}));
    EXPECT_EQ(BsiRecord.error_state, (std::array<uint8_t, 4>{0xA0, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(BsiRecord.online_tag, 0xA4A5);
    EXPECT_EQ(BsiRecord.done_sp_tag, 0xAAAB);
    EXPECT_EQ(BsiRecord.cp_bat_num, 0xAC);
    EXPECT_EQ(BsiRecord.bat_online_num, 0xB1);
    EXPECT_EQ(BsiRecord.heater_abnormal, 0xB2B3B4B5u);
    EXPECT_EQ(BsiRecord.dmos_on_max_volt, 0xB8B9);
    EXPECT_EQ(BsiRecord.heat_mos_ctrl, 0xC0C1);
    EXPECT_EQ(BsiRecord.member_words[5], 0xC3C4); // bytes 67-68
    EXPECT_EQ(BsiRecord.parallel_bat_num, 0);

    EXPECT_EQ(PackTable[3].member_info,
              (std::array<uint8_t, 12>{2, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C}));
    EXPECT_EQ(PackTable[2].member_info, (std::array<uint8_t, 12>{}));
    for (size_t i = 1; i <= 16; ++i)
        EXPECT_EQ(PackTable[i].pack_flags, 0x8D + i);
    EXPECT_EQ(PackTable[0].pack_flags, 0);
    EXPECT_EQ(ReadBlock, 0);
}

TEST_F(Decode, block7IndicesOfSixteenOrMoreAreIgnored)
{
    Receive(7, FullBlock7(16, 16));
    for (size_t i = 0; i < PackTable.size(); ++i)
        EXPECT_EQ(PackTable[i].member_info, (std::array<uint8_t, 12>{})) << i;
    EXPECT_EQ(BsiRecord.member_words, (std::array<uint16_t, 16>{}));

    Receive(7, FullBlock7(15, 15));
    EXPECT_EQ(PackTable[16].member_info[0], 15);
    EXPECT_EQ(BsiRecord.member_words[15], 0xC3C4);
}

TEST_F(Decode, block7MemberWordNeedsItsIndexAndValueInsideTheData)
{
    BsiRecord.member_words[3] = 0x1111;
    auto data = FullBlock7(0, 3);
    // Index byte 66 is the last byte received: no value, nothing written.
    Receive(7, std::vector<uint8_t>(data.begin(), data.begin() + 67));
    EXPECT_EQ(BsiRecord.member_words[3], 0x1111);
    EXPECT_EQ(BsiRecord.heat_mos_ctrl, 0xC0C1);
    // One byte of the value: still nothing.
    Receive(7, std::vector<uint8_t>(data.begin(), data.begin() + 68));
    EXPECT_EQ(BsiRecord.member_words[3], 0x1111);
    // Both value bytes arrived.
    Receive(7, std::vector<uint8_t>(data.begin(), data.begin() + 69));
    EXPECT_EQ(BsiRecord.member_words[3], 0xC3C4);
}

TEST_F(Decode, shortBlock7CopiesTheMemberOnlyWhenItsBytesArrived)
{
    auto data = FullBlock7(0, 0);
    Receive(7, std::vector<uint8_t>(data.begin(), data.begin() + 13));
    EXPECT_EQ(PackTable[1].member_info[0], 0);
    EXPECT_EQ(BsiRecord.uid_num, 0x80);

    Receive(7, std::vector<uint8_t>(data.begin(), data.begin() + 29));
    EXPECT_EQ(PackTable[1].member_info[11], 0x8C);
    EXPECT_EQ(PackTable[16].pack_flags, 0); // flags need all of bytes 14..29
    EXPECT_EQ(BsiRecord.sys_state[0], 0);
}

TEST_F(Decode, informationReadShowsItsMessageUnlessAnIdentityWriteAskedForIt)
{
    struct Case {
        uint16_t lastWrite;
        uint8_t calOpen;
        bool message;
    };
    const Case cases[] = {
        {0, 0, true},       {0x9D05, 0, false}, {0x9D19, 0, false}, {0x9D1E, 0, false},
        {0x9D25, 0, false}, {0x9D0F, 0, true},  {0x9D01, 1, false}, {0x9D26, 0, true},
    };
    for (const Case& c : cases) {
        app.host.messages.clear();
        LastWriteReg = c.lastWrite;
        CalWorkbookOpen = c.calOpen;
        Receive(8, std::vector<uint8_t>(76, 0));
        EXPECT_EQ(ReadBlock, 0) << std::hex << c.lastWrite;
        EXPECT_EQ(app.host.messages, c.message ? QStringList{QStringLiteral("Get the information completely!")} : QStringList{})
            << std::hex << c.lastWrite;
    }
}
