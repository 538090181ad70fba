#include "BlockFreshness.h"
#include "Clocks.h"
#include "DisplayTestSupport.h"
#include "FakeHost.h"
#include "Indicators.h"
#include "PackTable.h"

#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

static auto* const qtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

namespace {

class View : public ::testing::Test {
protected:
    void SetUp() override { ResetPackTable(); }
    void TearDown() override { ResetPackTable(); }
    QString main(int col, int row) const { return app.host.cell(QStringLiteral("strngrd1"), col, row); }
    QString bsi(int col, int row) const { return app.host.cell(QStringLiteral("strgrid_bsi"), col, row); }
    // The tooltips of the values: the engineering value and its unit.
    struct Tip {
        const char* grid;
        int col;
        int row;
        const char* tip;
    };
    void expectTips(std::initializer_list<Tip> tips)
    {
        ShowGridStates(BlockFreshness{});
        for (const Tip& t : tips)
            EXPECT_EQ(app.host.cellTip(QString::fromLatin1(t.grid), t.col, t.row), QString::fromUtf8(t.tip))
                << t.grid << " " << t.col << "/" << t.row;
    }
    QString text(const char* name) const { return app.host.text(QString::fromLatin1(name)); }
    uint32_t colour(const char* name) const { return app.host.colour(QString::fromLatin1(name)); }
    void showIndicators()
    {
        ShowTelemetry();
        ShowAlarmBits();
        ShowProtectionBits();
        ShowParallelProgress();
    }
    TestApp app;
    PackRecord& pack = PackTable[0];
};

} // namespace

TEST_F(View, receivedBlock0IsShownInItsFormats)
{
    // current FF FF FF 9C, fcc FF FF FF FF, ENV temperature 0 K.
    Receive(0, Registers({0x0102, 0x1203, 0x1203, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0, 0, 0xFFFF, 0xFF9C,
                          5432, 1000, 0, 7, 12, 0}));
    ShowTelemetry();
    EXPECT_EQ(main(7, 1), QStringLiteral("54320mV"));
    EXPECT_EQ(main(7, 2), QStringLiteral("-100mA"));
    EXPECT_EQ(main(7, 3), QStringLiteral("4294967295mAH"));
    EXPECT_EQ(main(7, 4), QStringLiteral("0mAH"));
    EXPECT_EQ(main(7, 5), QStringLiteral("7mAH"));
    EXPECT_EQ(main(7, 6), QStringLiteral("100.0%"));
    EXPECT_EQ(main(7, 7), QStringLiteral("12"));
    EXPECT_EQ(text("lblc"), QStringLiteral("Current:-100"));
    EXPECT_EQ(text("edt3"), QStringLiteral("HV:1.32.3 SV:1.32.3"));
    EXPECT_EQ(text("Edit1"), QStringLiteral("V:1.2"));
    EXPECT_EQ(pack.temp_001C, -2731);
    expectTips({{"strngrd1", 7, 1, "54.32 V"},
                {"strngrd1", 7, 2, "-0.100 A"},
                {"strngrd1", 7, 3, "4294967.295 Ah"},
                {"strngrd1", 7, 5, "0.007 Ah"},
                {"strngrd1", 7, 6, "100.0 %"},
                {"strngrd1", 7, 7, "12 cycles"}});
}

TEST_F(View, cellsTemperaturesAndPercentagesUseTheirUnits)
{
    for (size_t i = 0; i < 16; ++i)
        pack.cell_volt[i] = static_cast<uint16_t>(3300 + i);
    pack.cell_count = 13;
    pack.temp_a = {250, -2731, 0};
    pack.temp_b = {-5, 1, 2, 32767};
    pack.soh = 98;
    pack.sw_version = 0xFFFF;
    pack.hw_version = 0x0010;

    const std::pair<uint16_t, const char*> rsocs[] = {{1234, "123.4%"}, {5, "0.5%"}, {0, "0.0%"}, {65535, "6553.5%"}};
    for (const auto& [rsoc, shown] : rsocs) {
        pack.rsoc = rsoc;
        ShowTelemetry();
        EXPECT_EQ(main(7, 6), QString::fromLatin1(shown));
    }
    EXPECT_EQ(main(1, 1), QStringLiteral("3300mV"));
    EXPECT_EQ(main(1, 8), QStringLiteral("3307mV"));
    EXPECT_EQ(main(3, 1), QStringLiteral("3308mV"));
    EXPECT_EQ(main(3, 8), QStringLiteral("3315mV")); // beyond cell_count, still shown
    EXPECT_EQ(main(5, 1), QStringLiteral("250'C"));
    EXPECT_EQ(main(5, 2), QStringLiteral("-2731'C"));
    EXPECT_EQ(main(5, 4), QStringLiteral("-5'C"));
    EXPECT_EQ(main(5, 7), QStringLiteral("32767'C"));
    EXPECT_EQ(main(5, 8), QStringLiteral("13"));
    EXPECT_EQ(main(7, 8), QStringLiteral("98%"));
    EXPECT_EQ(text("lblv1"), QStringLiteral(" Cell 1 Voltage:3300 mV"));
    EXPECT_EQ(text("lblv2"), QStringLiteral(" Cell 2 Voltage:3301 mV"));
    EXPECT_EQ(text("edt3"), QStringLiteral("HV:0.1.0 SV:15.255.15"));
    EXPECT_TRUE(main(8, 1).isNull());
    // The designed texts stay ("250'C" is 25.0 degC); the tooltips scale.
    pack.rsoc = 123;
    expectTips({{"strngrd1", 1, 1, "3.300 V"},
                {"strngrd1", 3, 8, "3.315 V"},
                {"strngrd1", 5, 1, "25.0 °C"},
                {"strngrd1", 5, 2, "-273.1 °C"},
                {"strngrd1", 5, 4, "-0.5 °C"},
                {"strngrd1", 5, 8, "13 cells"},
                {"strngrd1", 7, 6, "12.3 %"},
                {"strngrd1", 7, 8, "98 %"}});
}

TEST_F(View, parallelGridShowsHexOfItsWidthsAndScaledVolts)
{
    BsiRecord.sys_state = {0x0A, 0xFF};
    BsiRecord.error_state = {0, 1, 2, 0xB0};
    BsiRecord.online_tag = 0x00AB;
    BsiRecord.heater_abnormal = 0x12AB;
    BsiRecord.dmos_on_max_volt = 6553;
    BsiRecord.uid_num = 200;
    BsiRecord.cp_bat_num = 7;
    BsiRecord.sys_work_state = 3;
    BsiRecord.heat_mos_ctrl = 0xBEEF;
    ShowTelemetry();
    EXPECT_EQ(bsi(1, 1), QStringLiteral("0x0A"));
    EXPECT_EQ(bsi(1, 2), QStringLiteral("0xFF"));
    EXPECT_EQ(bsi(1, 6), QStringLiteral("0xB0"));
    EXPECT_EQ(bsi(1, 7), QStringLiteral("0x00AB"));
    EXPECT_EQ(bsi(3, 3), QStringLiteral("7"));
    EXPECT_EQ(bsi(3, 7), QStringLiteral("0x03"));
    EXPECT_EQ(bsi(5, 2), QStringLiteral("0x000012AB"));
    EXPECT_EQ(bsi(5, 3), QStringLiteral("65530mV"));
    EXPECT_EQ(bsi(5, 5), QStringLiteral("200"));
    EXPECT_EQ(bsi(5, 8), QStringLiteral("0xBEEF"));
    EXPECT_TRUE(bsi(7, 1).isNull());
    expectTips({{"strgrid_bsi", 1, 7, "171"}, {"strgrid_bsi", 5, 3, "65.53 V"}, {"strgrid_bsi", 3, 3, "7"}});
}

TEST_F(View, gridCaptionsAreWrittenOnce)
{
    SetupGridLabels();
    EXPECT_EQ(main(0, 0), QStringLiteral("Item:"));
    EXPECT_EQ(main(7, 0), QStringLiteral("values:"));
    EXPECT_EQ(main(0, 1), QStringLiteral("Cell1 Volt:"));
    EXPECT_EQ(main(2, 8), QStringLiteral("Cell16 Volt:"));
    EXPECT_EQ(main(4, 7), QStringLiteral("Tem 7:"));
    EXPECT_EQ(main(4, 8), QStringLiteral("  Cell String:"));
    EXPECT_EQ(main(6, 5), QStringLiteral("Remain Cap:"));
    EXPECT_EQ(main(6, 8), QStringLiteral("SOH:"));
    EXPECT_TRUE(main(8, 0).isNull());
    EXPECT_EQ(bsi(6, 0), QStringLiteral("Item:"));
    EXPECT_EQ(bsi(7, 0), QStringLiteral("values:"));
    EXPECT_EQ(bsi(0, 8), QStringLiteral("pre sp tag:"));
    EXPECT_EQ(bsi(2, 6), QStringLiteral("cascad bat num set:"));
    EXPECT_EQ(bsi(4, 3), QStringLiteral("dmos on max volt:"));
    EXPECT_TRUE(bsi(1, 1).isNull());
}

TEST_F(View, eachAlarmBitLightsExactlyItsSquare)
{
    for (int bit = 0; bit < 16; ++bit) {
        pack.fault_status[0] = static_cast<uint16_t>(1u << bit);
        ShowAlarmBits();
        int yellow = 0;
        for (const IndicatorInfo& i : AlarmIndicators()) {
            const uint32_t expected = i.bit == bit ? ColYellow : ColLime;
            EXPECT_EQ(colour(i.square), expected) << i.square << " bit " << bit;
            yellow += colour(i.square) == ColYellow;
        }
        EXPECT_EQ(yellow, bit <= 10 ? 1 : 0) << bit;
    }
    // The idle alarm squares are never driven.
    for (const IndicatorInfo& i : IdleAlarmIndicators())
        EXPECT_FALSE(app.host.colours.contains(QString::fromLatin1(i.square))) << i.square;
}

TEST_F(View, eachFaultBitColoursTheSquareOfTheStatusTables)
{
    // Fault word, bit, square: word 0 alarms (yellow), words 1..3
    // protections (red), as the status tables of the pack list them.
    const struct {
        int word, bit;
        const char* square;
    } squares[] = {
        {0, 0, "alarm_cuv"},  {0, 1, "alarm_cov"},   {0, 2, "alarm_puv"},  {0, 3, "alarm_pov"},
        {0, 4, "alarm_dhc"},  {0, 5, "alarm_chc"},   {0, 6, "alarm_dht"},  {0, 7, "alarm_dlt"},
        {0, 8, "alarm_cht"},  {0, 9, "alarm_clt"},   {0, 10, "alarm_fht"}, {1, 0, "prt_cuv"},
        {1, 1, "prt_cov"},    {1, 2, "prt_puv"},     {1, 3, "prt_pov"},    {1, 4, "prt_dhc"},
        {1, 5, "prt_chc"},    {1, 6, "prt_dht"},     {1, 7, "prt_dlt"},    {1, 8, "prt_cht"},
        {1, 9, "prt_clt"},    {1, 10, "prt_fht"},    {2, 1, "prt_sc"},     {2, 4, "prt_doc"},
        {2, 5, "prt_coc"},    {2, 10, "protect_heat"}, {3, 0, "protect_mos"}, {3, 2, "protect_ntc"},
        {3, 4, "protect_ads"}, {3, 7, "protect_afe"}, {3, 10, "can_offline"}, {3, 12, "protect_hardwear"},
    };
    for (const auto& lit : squares) {
        pack.fault_status = {};
        pack.fault_status[lit.word] = static_cast<uint16_t>(1u << lit.bit);
        ShowAlarmBits();
        ShowProtectionBits();
        for (const auto& other : squares) {
            const uint32_t expected = &other != &lit ? ColLime : lit.word == 0 ? ColYellow : ColRed;
            EXPECT_EQ(colour(other.square), expected) << "word " << lit.word << " bit " << lit.bit << ": " << other.square;
        }
    }
}

TEST_F(View, alarmAndProtectionWordsColourTheirSquares)
{
    pack.fault_status = {0x0401, 0, 0x0002, 0x1000};
    showIndicators();
    EXPECT_EQ(colour("alarm_cuv"), ColYellow);
    EXPECT_EQ(colour("alarm_fht"), ColYellow);
    EXPECT_EQ(colour("alarm_cov"), ColLime);
    EXPECT_EQ(colour("alarm_clt"), ColLime);
    EXPECT_EQ(colour("prt_sc"), ColRed);
    EXPECT_EQ(colour("protect_hardwear"), ColRed);
    EXPECT_EQ(colour("prt_doc"), ColLime);
    EXPECT_EQ(colour("prt_coc"), ColLime);
    EXPECT_EQ(colour("prt_cuv"), ColLime);
    EXPECT_EQ(colour("can_offline"), ColLime);

    // Protection word 1 bit 0 and word 3 bit 10; other bits drive nothing.
    pack.fault_status = {0xF800, 0xF801, 0xFBCD, 0x0400};
    showIndicators();
    for (const IndicatorInfo& i : AlarmIndicators())
        EXPECT_EQ(colour(i.square), ColLime) << i.square;
    EXPECT_EQ(text("lbl_secProtect"), QStringLiteral("fault status 0:F800"));
    EXPECT_EQ(text("lbl_fault"), QStringLiteral("fault status 1:F801"));
    EXPECT_EQ(colour("prt_cuv"), ColRed);
    EXPECT_EQ(colour("prt_cov"), ColLime);
    EXPECT_EQ(colour("can_offline"), ColRed);
    EXPECT_EQ(colour("protect_hardwear"), ColLime);
    // 0xFBCD: bits 0, 2, 3, 6, 7, 8, 9, 11..15 — of the driven bits 1, 4, 5, 10 none is set.
    EXPECT_EQ(colour("prt_sc"), ColLime);
    EXPECT_EQ(colour("prt_doc"), ColLime);
    EXPECT_EQ(colour("prt_coc"), ColLime);
    EXPECT_EQ(colour("protect_heat"), ColLime);
}

TEST_F(View, stateWordSetsRunStateAndMosTexts)
{
    struct Case {
        uint16_t word;
        const char* run;
        const char* charge;
        const char* discharge;
    };
    const Case cases[] = {
        {0x0030, "Charging...", "Charge MOS:off", "Discharge MOS:off"},
        {0x0010, "Discharging...", "Charge MOS:off", "Discharge MOS:off"},
        {0x0003, "Standby", "Charge MOS:on", "Discharge MOS:on"},
        {0x0021, "Charging...", "Charge MOS:on", "Discharge MOS:off"},
        {0xFFCC, "Standby", "Charge MOS:off", "Discharge MOS:off"},
    };
    for (const Case& c : cases) {
        pack.bms_status[0] = c.word;
        ShowTelemetry();
        EXPECT_EQ(text("lbl30"), QString::fromLatin1(c.run)) << c.word;
        EXPECT_EQ(text("lbl33"), QString::fromLatin1(c.charge)) << c.word;
        EXPECT_EQ(text("lbl34"), QString::fromLatin1(c.discharge)) << c.word;
    }
    pack.bms_status = {0x0021, 0x0BCD, 0, 0xFFFF};
    ShowTelemetry();
    EXPECT_EQ(text("lbl10"), QStringLiteral("bms status 0:0021"));
    EXPECT_EQ(text("lbl11"), QStringLiteral("bms status 1:0BCD"));
    EXPECT_EQ(text("lbl12"), QStringLiteral("bms status 2:0000"));
    EXPECT_EQ(text("lbl16"), QStringLiteral("bms status 3:FFFF"));
}

TEST_F(View, unfilledParallelStateShowsRedShapesAndZeroWords)
{
    ProtocolType = 7;
    showIndicators();
    for (const ProgressShape& s : ParallelProgressShapes())
        EXPECT_EQ(colour(s.shape), ColRed) << s.shape;
    EXPECT_EQ(text("lbl_pre_parallel_bit"), QStringLiteral("PRE:0000"));
    EXPECT_EQ(text("lbl_parallel_bit"), QStringLiteral("PAR:0000"));
    EXPECT_EQ(text("lbl_protocol_type"), QStringLiteral("Protocol Type: 7"));
    EXPECT_TRUE(text("lbl_curtime").startsWith(QStringLiteral("System Time: ")));

    ParallelProgress = 0x05;
    ShowParallelProgress();
    EXPECT_EQ(colour("shp_start_parallel"), ColLime);
    EXPECT_EQ(colour("shp_get_slave_data"), ColRed);
    EXPECT_EQ(colour("shp_pre_parallel"), ColLime);
    ParallelProgress = 0;
}
