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
#include <map>

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

// Bytes written as hexadecimal pairs, blanks ignored.
std::vector<uint8_t> Hex(const char* text)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return {bytes.begin(), bytes.end()};
}

TEST_F(SettingsTest, everySettingsButtonSendsTheFrameOfItsCommandFirst)
{
    // The request each button asks for and its frame (address 06, CRC not
    // written), with valid input in the boxes it reads.
    const std::map<QString, QString> boxes = {
        {"edtv1", "3300"},          {"edt_rcap", "250000"},      {"edt_pack_id", "AB"},
        {"Edit3", "10"},            {"edt_interval", "60"},      {"edt1", "123456789012"},
        {"edtc", "1000"},           {"cbb_protocol_type", "2"},  {"edt_sleep_time_mul", "3"},
        {"edt_sleep_time_base", "600"}, {"edt4", "200000"},      {"cbb_pretype", "0"},
        {"edt_cell_volt_param", "3300"}, {"cbb_cell_volt_param", "2"}, {"edt_cell_temp_param", "-5"},
        {"cbb_cell_temp_param", "3"}, {"edt_current_param", "100"}, {"edt_cycle_param", "5"},
        {"edt_max_charge_volt_param", "58000"}, {"edt_min_discharge_volt_param", "42000"},
        {"edt_max_charge_current_param", "100000"}, {"edt_max_discharge_current_param", "150000"},
        {"edt_lifetime_charge_energy_param", "70000"}, {"edt_lifetime_discharge_energy_param", "65536"},
        {"edt_fullChargeTime", "86400"}};
    const char* const readInfo = "06 04 9D 01 00 26";
    const char* const customerCode = "06 10 9D 01 00 02 04 00 00 5E 00";
    const std::pair<const char*, const char*> buttons[] = {
        {"btn3", readInfo},
        {"btn_read_time", readInfo},
        {"btn_read_sleep_time", readInfo},
        {"Customer_code_read", readInfo},
        {"btn8", "06 10 9D 05 00 06 0C 31 32 33 34 35 36 37 38 39 30 31 32"},
        {"btn9", "06 14 00 04 00 03 0D 40"},
        {"btn_rcap", "06 10 00 19 00 02 04 00 03 D0 90"},
        {"btn_set_pack_id", "06 1B 00 14 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 41 42"},
        {"btnc", "06 10 00 15 00 02 04 00 00 03 E8"},
        {"btn_zero_current", "06 10 00 15 00 02 04 00 00 00 00"},
        {"btnv", "06 10 05 00 00 01 02 0C E4"},
        {"btn_rtc", "06 10 9D 19 00 04 08"}, // then the PC's clock
        {"btn_parallel", "01 10 9D 1D 00 01 02 00 01"}, // reset indicator lime
        {"btn_protocol_type", "06 10 9D 1E 00 01 02 00 02"},
        {"btn_set_sleep_time", "06 10 9D 25 00 02 04 00 03 02 58"},
        {"Button3", "06 10 9D 27 00 01 02 00 0A"},
        {"btn_interval", "06 52 00 04 00 00 00 3C"},
        {"Customer_code_set", customerCode},
        {"Button1", customerCode},
        {"btn_reset_param", "06 10 9C FA 00 05 0A 00 00 00 00 00 00 00 00 00 00"},
        {"btn_set_cell_volt_param", "06 10 9C FA 00 02 04 01 01 0C E4"},
        {"btn_set_cell_temp_param", "06 10 9C FA 00 02 04 02 02 FF FB"},
        {"btn_set_current_param", "06 10 9C FA 00 02 04 03 00 00 64"},
        {"btn_set_cycle_param", "06 10 9C FA 00 02 04 04 00 00 05"},
        {"btn_set_max_charge_volt_param", "06 10 9C FA 00 03 06 05 00 00 00 E2 90"},
        {"btn_set_min_discharge_volt_param", "06 10 9C FA 00 03 06 06 00 00 00 A4 10"},
        {"btn_set_max_charge_current_param", "06 10 9C FA 00 03 06 07 00 00 01 86 A0"},
        {"btn_set_max_discharge_current_param", "06 10 9C FA 00 03 06 08 00 00 02 49 F0"},
        {"btn_set_lifetime_charge_energy_param", "06 10 9C FA 00 03 06 09 00 00 01 11 70"},
        {"btn_set_lifetime_discharge_energy_param", "06 10 9C FA 00 03 06 0A 00 00 01 00 00"},
        {"btn_set_fullChargeTime", "06 10 9C FA 00 03 06 0B 00 00 01 51 80"},
    };
    for (const auto& [box, value] : boxes)
        app.host.texts[box] = value;
    for (const auto& [button, frame] : buttons) {
        app.link.frames.clear();
        Click(QString::fromLatin1(button));
        ASSERT_FALSE(app.link.frames.empty()) << button;
        const std::vector<uint8_t>& sent = app.link.frames.front();
        if (QByteArray(button) == "btn_rtc") {
            ASSERT_EQ(sent.size(), 17u);
            EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 7), Hex(frame));
            EXPECT_EQ(sent, Framed({sent.begin(), sent.end() - 2}));
        } else {
            EXPECT_EQ(sent, Framed(Hex(frame))) << button;
        }
    }
    EXPECT_TRUE(app.host.messages.isEmpty()) << app.host.messages.join('|').toStdString();
    EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join('|').toStdString();

    // While an upgrade run is on, none of them, nor Start Sampling, reaches
    // the pack: each is refused with a message, the controls stay as they are.
    UpgradeActive = 1;
    app.link.frames.clear();
    for (const auto& [button, frame] : buttons)
        Click(QString::fromLatin1(button));
    Click(QStringLiteral("cybtn"));
    UpgradeActive = 0;
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_EQ(Sampling, 0);
    EXPECT_EQ(app.host.messages.size(), static_cast<qsizetype>(std::size(buttons)) + 1);
    EXPECT_EQ(app.host.messages.count(QStringLiteral("Please wait until the upgrade has ended!")), app.host.messages.size());
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

    // Every wait of the sweep (200 ms before each request, 500 ms after it)
    // keeps the event loop running: none is a blocking pause.
    std::vector<int> waits;
    App.delay = [&waits](int ms) { waits.push_back(ms); };
    Click(QStringLiteral("btn_parallel"));
    App.delay = nullptr;
    ASSERT_EQ(app.link.frames.size(), 16u);
    for (uint8_t addr = 1; addr <= 16; ++addr)
        EXPECT_EQ(app.link.frames[addr - 1u], Framed({addr, 0x10, 0x9D, 0x1D, 0x00, 0x01, 0x02, 0x00, 0x06}))
            << int(addr);
    std::vector<int> designed;
    for (int addr = 1; addr <= 16; ++addr)
        designed.insert(designed.end(), {200, 500});
    EXPECT_EQ(waits, designed);
    EXPECT_TRUE(app.pauses.empty());
    // The sweep shows how far it has got and ends its busy state.
    ASSERT_EQ(app.host.busyTexts.size(), 17);
    EXPECT_EQ(app.host.busyTexts[4], QStringLiteral("Series-Parallel Setting: address 5 of 16..."));
    EXPECT_EQ(app.host.busyTexts.last(), QString());

    shp_sp_resetMouseDown();
    EXPECT_EQ(app.host.colour(QStringLiteral("shp_sp_reset")), ColLime);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_sp_reset")), QStringLiteral("Reset"));
    app.link.frames.clear();
    App.delay = [](int) {};
    Click(QStringLiteral("btn_parallel"));
    App.delay = nullptr;
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

    // Text -> message shown; the address and its label stay 0A throughout.
    // A refused text is told once, not at every keystroke; retyping steps
    // (an empty box, 0) are silent.
    const QString refused = QStringLiteral("Please enter the device address as a hexadecimal number from 01 to FF!");
    const std::pair<const char*, bool> steps[] = {{"G1", true}, {"G12", false}, {"", false}, {"0", false},
                                                  {"100", true},  {"1FF", false}, {"", false},
                                                  {"$Z", true}};
    for (const auto& [text, told] : steps) {
        app.host.messages.clear();
        app.host.texts[QStringLiteral("cbb_addr")] = QString::fromLatin1(text);
        cbb_addrChange();
        EXPECT_EQ(app.host.messages, told ? QStringList{refused} : QStringList{}) << text;
        EXPECT_EQ(SlaveAddr, 10) << text;
        EXPECT_EQ(app.host.text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: 0A")) << text;
    }
    EXPECT_TRUE(app.host.errors.isEmpty());

    app.host.texts[QStringLiteral("cbb_addr")] = QStringLiteral("fa");
    cbb_addrChange();
    EXPECT_EQ(SlaveAddr, 0xFA);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: FA"));
}

TEST_F(SettingsTest, valuesThatDoNotFitTheirFieldAreRefusedNamingTheRange)
{
    // Button, box values, then the range message, or the frame sent.
    const struct {
        const char* button;
        std::vector<std::pair<const char*, const char*>> boxes;
        const char* range;
        std::vector<uint8_t> frame;
    } cases[] = {
        {"btn_set_sleep_time", {{"edt_sleep_time_mul", "70000"}, {"edt_sleep_time_base", "600"}}, "0~65535", {}},
        {"btn_set_sleep_time", {{"edt_sleep_time_mul", "3"}, {"edt_sleep_time_base", "99999"}}, "0~65535", {}},
        {"btn_set_sleep_time", {{"edt_sleep_time_mul", "65535"}, {"edt_sleep_time_base", "65535"}}, nullptr,
         {0x06, 0x10, 0x9D, 0x25, 0x00, 0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"Button3", {{"Edit3", "70000"}}, "0~65535", {}},
        {"btn_protocol_type", {{"cbb_protocol_type", "256"}}, "0~255", {}},
        {"btn_set_cell_volt_param", {{"edt_cell_volt_param", "65536"}, {"cbb_cell_volt_param", "1"}}, "0~65535", {}},
        {"btn_set_cell_volt_param", {{"edt_cell_volt_param", "3300"}, {"cbb_cell_volt_param", "0"}}, "1~256", {}},
        {"btn_set_cell_temp_param", {{"edt_cell_temp_param", "-32769"}, {"cbb_cell_temp_param", "1"}},
         "-32768~32767", {}},
        {"btn_set_cell_temp_param", {{"edt_cell_temp_param", "-32768"}, {"cbb_cell_temp_param", "1"}}, nullptr,
         {0x06, 0x10, 0x9C, 0xFA, 0x00, 0x02, 0x04, 0x02, 0x00, 0x80, 0x00}},
        {"btn_set_fullChargeTime", {{"edt_fullChargeTime", "4294967296"}}, "0~4294967295", {}},
        {"btn_set_fullChargeTime", {{"edt_fullChargeTime", "4294967295"}}, nullptr,
         {0x06, 0x10, 0x9C, 0xFA, 0x00, 0x03, 0x06, 0x0B, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        app.link.frames.clear();
        app.host.messages.clear();
        for (const auto& [box, value] : c.boxes)
            app.host.texts[QString::fromLatin1(box)] = QString::fromLatin1(value);
        Click(QString::fromLatin1(c.button));
        if (c.range) {
            EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("Input data error!(input range: %1)").arg(c.range)})
                << c.button << ' ' << c.boxes[0].second;
            EXPECT_TRUE(app.link.frames.empty()) << c.button;
        } else {
            ASSERT_EQ(app.link.frames.size(), 1u) << c.button;
            EXPECT_EQ(app.link.frames[0], Framed(c.frame)) << c.button;
        }
    }
    EXPECT_TRUE(app.host.errors.isEmpty());
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
