// Settings commands: the pause and resumption of sampling around each
// request, the frames that reach the port, the series/parallel sweep, the
// selectors and the simulator tab.
#include "AppTestSupport.h"
#include "Errors.h"
#include "PackTable.h"
#include "Sampling.h"
#include "Selectors.h"
#include "Settings.h"
#include "Simulator.h"
#include "Wiring.h"

#include <algorithm>

using namespace bms;
using namespace bms::test;

namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPackTable();
        SetDesignState(app.host);
        WireHooks();
        WireTimers();
        // Note the state of the sampling timer at the moment each frame leaves.
        app.link.onSend = [this](const std::vector<uint8_t>&) { tmr1OnAtSend.push_back(app.tmr1.enabled()); };
    }

    void StartSampling(const char* interval)
    {
        app.host.texts[QStringLiteral("cbb3")] = QString::fromLatin1(interval);
        cybtnClick();
    }

    // Runs a click handler as the window does: errors go to the general
    // error handler.
    void Click(const QString& control)
    {
        const auto& handlers = ClickHandlers();
        auto it = std::find_if(handlers.begin(), handlers.end(),
                               [&](const ClickHandler& h) { return h.control == control; });
        ASSERT_NE(it, handlers.end()) << control.toStdString();
        RunGuarded(it->handler);
    }

    TestApp app;
    std::vector<bool> tmr1OnAtSend;
};

TEST_F(SettingsTest, commandPausesSamplingAndResumesAtTheInterval)
{
    StartSampling("1500");
    btn3Click();
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.link.frames[0], Framed({0x06, 0x04, 0x9D, 0x01, 0x00, 0x26}));
    EXPECT_EQ(tmr1OnAtSend, std::vector<bool>{false});
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 1500);
    EXPECT_EQ(ReadBlock, 8);
}

TEST_F(SettingsTest, commandWithSamplingOffLeavesTheTimerOff)
{
    app.host.texts[QStringLiteral("edt1")] = QStringLiteral("12345678901");
    Click(QStringLiteral("btn8"));
    EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("Please enter 12 bits 0~9 data!")});
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_FALSE(app.tmr1.enabled());

    app.host.texts[QStringLiteral("edt1")] = QStringLiteral("123456789012");
    Click(QStringLiteral("btn8"));
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.link.frames[0].size(), 21u);
    EXPECT_FALSE(app.tmr1.enabled());
}

TEST_F(SettingsTest, refusedInputWithSamplingOnStillResumes)
{
    StartSampling("1000");
    app.host.texts[QStringLiteral("edt1")] = QStringLiteral("12345678901");
    Click(QStringLiteral("btn8"));
    EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("Please enter 12 bits 0~9 data!")});
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 1000);
}

TEST_F(SettingsTest, conversionErrorReachesTheErrorHandlerAndSamplingResumes)
{
    StartSampling("1000");
    app.host.texts[QStringLiteral("edtc")] = QStringLiteral("12a");
    EXPECT_THROW(btncClick(), EConvertError);
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 1000);
    EXPECT_EQ(app.host.panels.value(1), QStringLiteral("Sampling!"));

    app.tmr1.setEnabled(false);
    app.host.texts[QStringLiteral("edt4")] = QStringLiteral("abc");
    Click(QStringLiteral("btn9"));
    EXPECT_EQ(app.host.errors.size(), 1);
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_TRUE(app.tmr1.enabled());
}

TEST_F(SettingsTest, zeroCurrentSendsZeroWithoutReadingTheBox)
{
    Click(QStringLiteral("btn_zero_current"));
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.link.frames[0], Framed({0x06, 0x10, 0x00, 0x15, 0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(ZeroCurrentCal, 0);
    EXPECT_TRUE(app.host.messages.isEmpty());
}

TEST_F(SettingsTest, currentCalibrationWithTheWorkbookOpenReadsBackAndBeginsTheRow)
{
    int rows = 0;
    AppHooks.calibrationRow = [&] { ++rows; };
    CalWorkbookOpen = 1;
    app.host.enabled[QStringLiteral("btn_cal_confirm")] = false;
    app.host.texts[QStringLiteral("edtc")] = QStringLiteral("1000");
    StartSampling("1000");
    Click(QStringLiteral("btnc"));
    AppHooks = AppHookSet{};

    ASSERT_EQ(app.link.frames.size(), 2u);
    EXPECT_EQ(app.link.frames[0], Framed({0x06, 0x10, 0x00, 0x15, 0x00, 0x02, 0x04, 0x00, 0x00, 0x03, 0xE8}));
    EXPECT_EQ(app.link.frames[1], Framed({0x06, 0x04, 0x9D, 0x01, 0x00, 0x26}));
    // Sampling is back before the information read goes out.
    EXPECT_EQ(tmr1OnAtSend, (std::vector<bool>{false, true}));
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("btn_cal_confirm")));
    EXPECT_TRUE(app.host.errors.isEmpty());
}

TEST_F(SettingsTest, sweepReachesSixteenAddressesWithTheRoleOrTheReset)
{
    Click(QStringLiteral("rb_serial_parallel"));
    EXPECT_EQ(app.host.text(QStringLiteral("cbb_pretype")), QStringLiteral("3"));
    shp_sp_resetMouseDown();
    EXPECT_EQ(app.host.colour(QStringLiteral("shp_sp_reset")), ColGrey);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_sp_reset")), QStringLiteral("None"));

    Click(QStringLiteral("btn_parallel"));
    ASSERT_EQ(app.link.frames.size(), 16u);
    for (uint8_t addr = 1; addr <= 16; ++addr)
        EXPECT_EQ(app.link.frames[addr - 1u], Framed({addr, 0x10, 0x9D, 0x1D, 0x00, 0x01, 0x02, 0x00, 0x06}))
            << int(addr);
    EXPECT_EQ(app.pauses, std::vector<int>(16, 500));

    shp_sp_resetMouseDown();
    EXPECT_EQ(app.host.colour(QStringLiteral("shp_sp_reset")), ColLime);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_sp_reset")), QStringLiteral("Reset"));
    app.link.frames.clear();
    Click(QStringLiteral("btn_parallel"));
    ASSERT_EQ(app.link.frames.size(), 16u);
    EXPECT_EQ(app.link.frames[15], Framed({16, 0x10, 0x9D, 0x1D, 0x00, 0x01, 0x02, 0x00, 0x01}));
    EXPECT_EQ(SlaveAddr, 6);
}

TEST_F(SettingsTest, radioButtonsSetTheRoleNumber)
{
    const std::pair<const char*, const char*> cases[] = {
        {"rb_stand_alone", "0"}, {"rb_single_serial", "1"}, {"rb_single_parallel", "2"}, {"rb_serial_parallel", "3"}};
    for (const auto& [button, value] : cases) {
        Click(QString::fromLatin1(button));
        EXPECT_EQ(app.host.text(QStringLiteral("cbb_pretype")), QString::fromLatin1(value)) << button;
    }
}

TEST_F(SettingsTest, addressSelectorReadsHexAndKeepsTheAddressOnBadText)
{
    app.host.texts[QStringLiteral("cbb_addr")] = QStringLiteral("0A");
    cbb_addrChange();
    EXPECT_EQ(SlaveAddr, 10);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: 0A"));
    Click(QStringLiteral("btn3"));
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.link.frames[0][0], 0x0A);

    app.host.texts[QStringLiteral("cbb_addr")] = QStringLiteral("G1");
    EXPECT_THROW(cbb_addrChange(), EConvertError);
    EXPECT_EQ(SlaveAddr, 10);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: 0A"));

    app.host.texts[QStringLiteral("cbb_addr")] = QStringLiteral("fa");
    cbb_addrChange();
    EXPECT_EQ(SlaveAddr, 0xFA);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: FA"));
}

TEST_F(SettingsTest, productTypeSetsTheFramingFlagAndTheCalibrationTexts)
{
    app.host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("BSI");
    cbb_pdTypeChange();
    EXPECT_EQ(NotBsi, 0);
    EXPECT_EQ(app.host.text(QStringLiteral("lblvtxt")),
              QStringLiteral("Please input the first and second cell voltage!\r\n(do not charge or discharge! "
                             "No need to enter\r\na plus or minus sign and unit.\r\nInput range: 1000~5000)"));
    EXPECT_EQ(app.host.text(QStringLiteral("lblv2")), QStringLiteral(" Cell 2 Voltage:"));
    app.host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("bsi");
    cbb_pdTypeChange();
    EXPECT_EQ(NotBsi, 1);
}

TEST_F(SettingsTest, simulatorUnlocksOnlyWithTheExactPassword)
{
    for (const QString& name : SimulatorControls())
        app.host.visible[name] = false;
    app.host.visible[QStringLiteral("btn_set_max_charge_volt_param")] = false;

    for (const char* wrong : {"", "DMKQ804417", "dmkq80441", "dmkq804417 "}) {
        app.host.texts[QStringLiteral("edt_password")] = QString::fromLatin1(wrong);
        Click(QStringLiteral("btn_test"));
    }
    for (const QString& name : SimulatorControls())
        EXPECT_FALSE(app.host.isVisible(name)) << name.toStdString();
    EXPECT_TRUE(app.host.messages.isEmpty());
    EXPECT_TRUE(app.host.errors.isEmpty());

    app.host.texts[QStringLiteral("edt_password")] = QStringLiteral("dmkq804417");
    Click(QStringLiteral("btn_test"));
    for (const QString& name : SimulatorControls())
        EXPECT_TRUE(app.host.isVisible(name)) << name.toStdString();
    EXPECT_FALSE(app.host.isVisible(QStringLiteral("btn_set_max_charge_volt_param")));
}

TEST_F(SettingsTest, parameterRowSendsItsTypeIndexAndValue)
{
    app.host.texts[QStringLiteral("edt_cell_volt_param")] = QStringLiteral("3300");
    app.host.texts[QStringLiteral("cbb_cell_volt_param")] = QStringLiteral("ALL");
    Click(QStringLiteral("btn_set_cell_volt_param"));
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.link.frames[0],
              Framed({0x06, 0x10, 0x9C, 0xFA, 0x00, 0x02, 0x04, 0x01, 0xFF, 0x0C, 0xE4}));
    EXPECT_EQ(ParamType, 1);

    // The RSOC row has no value source: the builder refuses it.
    Click(QStringLiteral("btn_set_rsoc"));
    EXPECT_EQ(ParamType, 12);
    EXPECT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("Please enter the value!")});
}

TEST_F(SettingsTest, limiterSendsNothing)
{
    StartSampling("500");
    Click(QStringLiteral("limiter1"));
    EXPECT_EQ(FunctionModuleWord, 1);
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_TRUE(app.tmr1.enabled());
}

} // namespace
