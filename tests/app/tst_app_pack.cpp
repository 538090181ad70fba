// Settings commands against a virtual pack on a pseudo-terminal: the exact
// frame reaches the pack, changes its state, the acknowledgement shows its
// message and the information read that follows shows the new value; a
// refusing pack gives the failure message.
#include "AppTestSupport.h"
#include "Connection.h"
#include "PackTable.h"
#include "Sampling.h"
#include "SerialComm.h"
#include "Settings.h"
#include "VirtualPack.h"
#include "Wiring.h"

#include <algorithm>

using namespace bms;
using namespace bms::test;

namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

sim::PackConfig QuietPack()
{
    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    return config;
}

class PackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPackTable();
        SetDesignState(app.host);
        WireHooks();
        WireTimers();
        App.cm1 = &cm1;
        cm1.OnReceiveData = [](const uint8_t* data, uint16_t length) { cm1ReceiveData(data, length); };
        app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(pack.start());
        opencomClick(cm1);
        ASSERT_TRUE(cm1.Connected());
    }
    void TearDown() override { cm1.CloseComm(); }

    bool HasMessage(const char* text) const { return app.host.messages.contains(QString::fromLatin1(text)); }

    bool PackReceived(const std::vector<uint8_t>& frame) const
    {
        const auto requests = pack.requests();
        return std::find(requests.begin(), requests.end(), frame) != requests.end();
    }

    TestApp app;
    sim::VirtualPack pack{QuietPack()};
    TComm cm1;
};

TEST_F(PackTest, barcodeWriteChangesThePackAndTheReadBackShowsIt)
{
    app.host.texts[QStringLiteral("cbb3")] = QStringLiteral("1000");
    cybtnClick();
    app.host.texts[QStringLiteral("edt1")] = QStringLiteral("123456789012");
    btn8Click();
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 1000);
    app.host.texts[QStringLiteral("edt1")].clear();

    ASSERT_TRUE(WaitUntil([this] { return HasMessage("Modified barcode successfully!"); }));
    EXPECT_TRUE(PackReceived(Framed({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06, 0x0C, '1', '2', '3', '4', '5', '6', '7',
                                     '8', '9', '0', '1', '2'})));
    EXPECT_EQ(pack.barcode(), "123456789012");
    // The acknowledgement re-reads the information, which fills the box.
    ASSERT_TRUE(WaitUntil([this] { return app.host.text(QStringLiteral("edt1")) == QStringLiteral("123456789012"); }));
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 1000);
}

TEST_F(PackTest, refusedWriteShowsTheFailureAndForgetsTheWrite)
{
    pack.refuseRegister(0x9D05);
    const std::string before = pack.barcode();
    app.host.texts[QStringLiteral("edt1")] = QStringLiteral("999999999999");
    btn8Click();
    ASSERT_TRUE(WaitUntil([this] { return HasMessage("Modified barcode failed!"); }));
    EXPECT_EQ(LastWriteReg, 0);
    EXPECT_EQ(pack.barcode(), before);
    EXPECT_FALSE(app.tmr1.enabled());
}

TEST_F(PackTest, protocolTypeAndSleepTimeReachThePack)
{
    app.host.texts[QStringLiteral("cbb_protocol_type")] = QStringLiteral("5");
    btn_protocol_typeClick();
    ASSERT_TRUE(WaitUntil([this] { return HasMessage("Setup protocol type successfully!"); }));
    EXPECT_TRUE(PackReceived(Framed({0x06, 0x10, 0x9D, 0x1E, 0x00, 0x01, 0x02, 0x00, 0x05})));
    EXPECT_EQ(pack.reg(0x9D1E), 5);

    app.host.texts[QStringLiteral("edt_sleep_time_mul")] = QStringLiteral("3");
    app.host.texts[QStringLiteral("edt_sleep_time_base")] = QStringLiteral("600");
    btn_set_sleep_timeClick();
    ASSERT_TRUE(WaitUntil([this] { return HasMessage("Sleep time setting successfully!"); }));
    EXPECT_TRUE(PackReceived(Framed({0x06, 0x10, 0x9D, 0x25, 0x00, 0x02, 0x04, 0x00, 0x03, 0x02, 0x58})));
    EXPECT_EQ(pack.reg(0x9D25), 3);
    EXPECT_EQ(pack.reg(0x9D26), 600);
}

TEST_F(PackTest, packAnswering700msLateFillsEveryBlockWithItsOwnValues)
{
    pack.setAnswerDelay(700);
    cybtnClick(); // a poll every 500 ms: each answer comes after the next poll
    const PackRecord& p = PackTable[0];
    ASSERT_TRUE(WaitUntil([&] { return p.cell_volt[15] != 0; }, 30000));
    cybtnClick();

    auto temp = [](uint16_t raw) { return static_cast<int16_t>(raw - 2731); };
    for (uint16_t i = 0; i < 16; ++i)
        EXPECT_EQ(p.cell_volt[i], pack.reg(0x0500 + i)) << i;
    for (uint16_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p.temp_a[i], temp(pack.reg(0x0400 + i))) << i;
        EXPECT_EQ(p.fault_status[i], pack.reg(0x0080 + i)) << i;
        EXPECT_EQ(p.bms_status[i], pack.reg(0x0100 + i)) << i;
    }
    EXPECT_EQ(p.temp_b[1], temp(pack.reg(0x0481)));
    EXPECT_EQ(p.sw_version, pack.reg(0x000B));
    EXPECT_EQ(p.rsoc, pack.reg(0x0018));
    EXPECT_EQ(p.soh, pack.reg(0x0203));
}

} // namespace
