// The port list, the Open Port / Close Port toggle on a real port component
// (a missing device, and a virtual pack on a pseudo-terminal), start-up and
// the confirmed close.
#include "AppTestSupport.h"
#include "BootLoaderNote.h"
#include "Connection.h"
#include "Errors.h"
#include "IntelHex.h"
#include "LineSettings.h"
#include "PackTable.h"
#include "Sampling.h"
#include "SerialComm.h"
#include "Settings.h"
#include "Startup.h"
#include "UpgradeRun.h"
#include "UpgradeTab.h"
#include "VirtualPack.h"
#include "Wiring.h"

#include <QTemporaryDir>
#include <memory>

using namespace bms;
using namespace bms::test;

namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

const char* const kLinkButtons[] = {"cybtn", "btn3", "btn_read_sleep_time", "btn_set_sleep_time",
                                    "btn_read_time", "btn_rtc", "btn8", "btn_rcap", "Button3"};

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPackTable();
        SetDesignState(app.host);
        WireHooks();
        WireTimers();
        App.cm1 = &cm1;
        cm1.OnReceiveData = [](const uint8_t* data, uint16_t length) { cm1ReceiveData(data, length); };
        cm1.OnRequestHangup = [this] { cm1RequestHangup(cm1); };
    }
    void TearDown() override
    {
        cm1.CloseComm();
        PortSource = nullptr;
    }

    void ExpectOffline()
    {
        EXPECT_EQ(PortOpen, 0);
        EXPECT_FALSE(cm1.Connected());
        EXPECT_EQ(app.host.text(QStringLiteral("opencom")), QStringLiteral("Open Port"));
        EXPECT_EQ(app.host.panels.value(0), QStringLiteral("Offline!"));
        EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColGrey);
        EXPECT_TRUE(app.host.isEnabled(QStringLiteral("cbb1")));
        EXPECT_TRUE(app.host.isEnabled(QStringLiteral("cbb2")));
        EXPECT_FALSE(app.host.isEnabled(QStringLiteral("cbb3")));
        for (const char* name : kLinkButtons)
            EXPECT_FALSE(app.host.isEnabled(QString::fromLatin1(name))) << name;
    }

    bool MemoHas(const QString& prefix) const
    {
        for (const QString& line : app.host.memos.value(QStringLiteral("mmo1")))
            if (line.startsWith(prefix))
                return true;
        return false;
    }

    TestApp app;
    TComm cm1;
};

TEST_F(ConnectionTest, openFailureReturnsOfflineAndReportsTheError)
{
    app.host.texts[QStringLiteral("cbb1")] = QStringLiteral("/nonexistent/ttyNone");
    RunGuarded([this] { opencomClick(cm1); });
    EXPECT_EQ(app.host.errors, QStringList{QStringLiteral("Error opening serial port.")});
    EXPECT_TRUE(MemoHas(QStringLiteral("Note: /nonexistent/ttyNone does not exist: is the communication box plugged in?(")));
    ExpectOffline();
    EXPECT_FALSE(app.host.isEnabled(QStringLiteral("opbtn")));

    // The next press tries to open again rather than closing.
    RunGuarded([this] { opencomClick(cm1); });
    EXPECT_EQ(app.host.errors.size(), 2);
    ExpectOffline();
}

TEST_F(ConnectionTest, baudRateThatIsNoNumberLeavesTheWindowOffline)
{
    sim::PackConfig config;
    config.publish = false;
    sim::VirtualPack pack(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(pack.start());
    app.host.texts[QStringLiteral("cbb2")] = QStringLiteral("19200x");
    EXPECT_THROW(opencomClick(cm1), EConvertError);
    ExpectOffline();
}

TEST_F(ConnectionTest, baudRateTheLineCannotTakeLeavesTheWindowOfflineNamingTheRate)
{
    sim::PackConfig config;
    config.publish = false;
    sim::VirtualPack pack(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(pack.start());
    for (const char* rate : {"0", "-9600"}) {
        app.host.errors.clear();
        app.host.texts[QStringLiteral("cbb2")] = QString::fromLatin1(rate);
        RunGuarded([this] { opencomClick(cm1); });
        EXPECT_EQ(app.host.errors, QStringList{QStringLiteral("The serial port cannot run at %1 baud.").arg(rate)});
        ExpectOffline();
    }
    // What a driver reports back decides whether it took the rate.
    const struct {
        uint32_t requested, actual;
        bool serves;
    } speeds[] = {{19200, 19200, true}, {76800, 76923, true}, {125000, 115200, false}, {115200, 9600, false},
                  {9600, 0, false}};
    for (const auto& s : speeds)
        EXPECT_EQ(LineSpeedServes(s.requested, s.actual), s.serves) << s.requested << " " << s.actual;
}

TEST_F(ConnectionTest, vanishedPortIsClosedAndShownOfflineKeepingTheWorkbook)
{
    sim::PackConfig config;
    config.publish = false;
    sim::VirtualPack pack(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(pack.start());
    opencomClick(cm1);
    cybtnClick();
    DataLogging = 1;
    ASSERT_TRUE(WaitUntil([this] { return MemoHas(QStringLiteral("Note: communication is normal!(")); }));

    pack.stop();
    ASSERT_TRUE(WaitUntil([] { return PortOpen == 0; }));
    ExpectOffline();
    EXPECT_EQ(Sampling, 0);
    EXPECT_FALSE(app.tmr1.enabled() || app.tmr2.enabled());
    EXPECT_EQ(app.host.panels.value(1), QStringLiteral("Ready!"));
    EXPECT_TRUE(MemoHas(QStringLiteral("Note: serial port ") + app.host.text(QStringLiteral("cbb1"))
                        + QStringLiteral(" was lost and has been closed!(")));
    EXPECT_EQ(DataLogging, 1);
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("excbtn"))); // the log can still be ended
    EXPECT_TRUE(app.host.errors.isEmpty());
    DataLogging = 0;
}

TEST_F(ConnectionTest, packOpenedAfterAnotherStartsWithNothingOfTheFirst)
{
    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.barcode = "111111111111";
    auto first = std::make_unique<sim::VirtualPack>(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(first->start());
    opencomClick(cm1);
    btn3Click();
    ASSERT_TRUE(WaitUntil([this] { return app.host.text(QStringLiteral("edt1")) == QStringLiteral("111111111111"); }));
    cybtnClick();
    ASSERT_TRUE(WaitUntil([] { return PackTable[0].cell_volt[0] != 0; }, 15000));
    first->stop();
    ASSERT_TRUE(WaitUntil([] { return PortOpen == 0; }));

    config.barcode = "222222222222";
    config.startSoc = 0.25;
    sim::VirtualPack second(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(second.start());
    app.host.texts[QStringLiteral("edt_pack_id")] = QStringLiteral("TYPED"); // the operator's input stays
    opencomClick(cm1);
    EXPECT_EQ(PackTable[0].cell_volt[0], 0);
    EXPECT_EQ(PackTable[0].rsoc, 0);
    for (const char* name : {"edt1", "edt_uid", "edt3", "Customer_code_edit"})
        EXPECT_EQ(app.host.text(QString::fromLatin1(name)), QString()) << name;
    EXPECT_EQ(app.host.text(QStringLiteral("edt_pack_id")), QStringLiteral("TYPED"));
    EXPECT_EQ(app.host.text(QStringLiteral("lbl10")), QStringLiteral("bms status 0:"));
    EXPECT_EQ(app.host.cell(QStringLiteral("strngrd1"), 1, 1), QString());

    // The second pack's first answers are never paired with the first
    // pack's cells: each sample holds only what this pack has sent.
    std::vector<std::pair<uint16_t, uint16_t>> rsocAndCell; // at each block-0 answer
    AppHooks.trendSample = [&](int block) {
        if (block == 0)
            rsocAndCell.emplace_back(PackTable[0].rsoc, PackTable[0].cell_volt[0]);
    };
    cybtnClick();
    ASSERT_TRUE(WaitUntil([&] { return !rsocAndCell.empty(); }));
    AppHooks.trendSample = nullptr;
    EXPECT_EQ(rsocAndCell[0], std::make_pair(second.reg(0x0018), uint16_t{0}));
}

// During an upgrade run Close Port is refused; a port that goes away ends
// the run as stopped, not by its watchdog, and the board left in its boot
// loader is named on every later time-out of that port.
TEST_F(ConnectionTest, upgradeRunKeepsThePortAndALostPortStopsIt)
{
    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.bootRebootMs = config.bootEraseMs = 50;
    config.baud = 19200; // a transfer of seconds
    sim::VirtualPack pack(config);
    const QString port = QString::fromStdString(pack.start());
    app.host.texts[QStringLiteral("cbb1")] = port;
    opencomClick(cm1);
    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("fw.hex")));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    for (int i = 0; i < 200; ++i)
        image.write(HexRecord(static_cast<uint16_t>(i * 16), 0, QByteArray(16, static_cast<char>(i))) + "\n");
    image.write(":00000001FF\n");
    image.close();
    rbtn_upgrade_main_boardClick();
    opbtnClick(image.fileName());
    upbtnClick();
    ASSERT_EQ(UpgradeActive, 1) << app.host.messages.join('|').toStdString();

    opencomClick(cm1);
    EXPECT_EQ(PortOpen, 1);
    EXPECT_TRUE(cm1.Connected());
    EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("Please wait until the upgrade has ended!")});

    ASSERT_TRUE(WaitUntil([this] { return app.host.text(QStringLiteral("lbl35")) == QLatin1String("Writing To Flash!"); }));
    pack.stop();
    ASSERT_TRUE(WaitUntil([] { return PortOpen == 0; }));
    EXPECT_EQ(app.host.text(QStringLiteral("lbl35")), QStringLiteral("Upgrade Stopped! The port was closed."));
    EXPECT_EQ(UpgradeActive, 0);
    EXPECT_FALSE(app.tmr4.enabled());
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("upbtn")));
    EXPECT_TRUE(MemoHas(BootLoaderWaitText()));
    EXPECT_TRUE(BootLoaderNoteLeft(port));

    app.host.memos.clear();
    tmr2Timer();
    const QStringList lines = app.host.memos.value(QStringLiteral("mmo1"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(IsTimeoutLine(lines[0]));
    EXPECT_TRUE(lines[1].startsWith(BootLoaderWaitText()));
    RemoveBootLoaderNote(port);
}

TEST_F(ConnectionTest, openSamplesAVirtualPackAndClosingGoesOffline)
{
    sim::PackConfig config;
    config.publish = false;
    sim::VirtualPack pack(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(pack.start());
    AwaitingCheck = 1;

    opencomClick(cm1);
    EXPECT_TRUE(cm1.Connected());
    EXPECT_EQ(PortOpen, 1);
    EXPECT_EQ(AwaitingCheck, 0);
    EXPECT_EQ(cm1.BaudRate(), 19200u);
    EXPECT_EQ(app.host.text(QStringLiteral("opencom")), QStringLiteral("Close Port"));
    EXPECT_EQ(app.host.panels.value(0), QStringLiteral("Connected to the communication box!"));
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColRed);
    EXPECT_FALSE(app.host.isEnabled(QStringLiteral("cbb1")));
    EXPECT_FALSE(app.host.isEnabled(QStringLiteral("cbb2")));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("cbb3")));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("opbtn")));
    for (const char* name : kLinkButtons)
        EXPECT_TRUE(app.host.isEnabled(QString::fromLatin1(name))) << name;

    cybtnClick();
    ASSERT_TRUE(WaitUntil([this] { return MemoHas(QStringLiteral("Note: communication is normal!(")); }));
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColLime);
    EXPECT_GE(pack.requestCount(0x04), 1u);

    // Closing while sampling: sampling stops, the sampling texts stay.
    opencomClick(cm1);
    ExpectOffline();
    EXPECT_EQ(Sampling, 0);
    EXPECT_FALSE(app.tmr1.enabled());
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_FALSE(app.host.isEnabled(QStringLiteral("limiter1")));
    EXPECT_EQ(app.host.text(QStringLiteral("cybtn")), QStringLiteral("Start Sampling"));
    EXPECT_EQ(app.host.panels.value(1), QStringLiteral("Sampling!"));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("excbtn")));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("opbtn")));
}

TEST_F(ConnectionTest, startUpSortsThePortsAndAppliesTheSelections)
{
    PortSource = [] { return std::optional<QStringList>({"COM3", "COM10", "com1"}); };
    PortOpen = 1;
    Sampling = 1;
    DataLogging = 1;
    DevFirmwareMode = 1;
    app.tmr1.setEnabled(true);
    app.tmr2.setEnabled(true);
    FormShow();
    EXPECT_EQ(app.host.items(QStringLiteral("cbb1")), (QStringList{"com1", "COM10", "COM3"}));
    EXPECT_EQ(app.host.text(QStringLiteral("cbb1")), QStringLiteral("COM3"));
    EXPECT_EQ(PortOpen + Sampling + DataLogging + DevFirmwareMode, 0);
    EXPECT_FALSE(app.tmr1.enabled());
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_TRUE(app.tmr3.enabled());
    EXPECT_EQ(app.tmr3.interval(), 500);
    EXPECT_EQ(NotBsi, 1);
    EXPECT_EQ(SlaveAddr, 6);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: 06"));

    // An unreadable list leaves the box alone; an empty one selects nothing.
    PortSource = [] { return std::optional<QStringList>(); };
    FillPorts();
    EXPECT_EQ(app.host.items(QStringLiteral("cbb1")).size(), 3);
    PortSource = [] { return std::optional<QStringList>(QStringList{}); };
    FillPorts();
    EXPECT_TRUE(app.host.items(QStringLiteral("cbb1")).isEmpty());
    EXPECT_EQ(app.host.text(QStringLiteral("cbb1")), QStringLiteral("COM3"));
}

TEST_F(ConnectionTest, portListFollowsDevicesAndKeepsTheOperatorsText)
{
    QStringList system = {"/dev/ttyUSB0"};
    PortSource = [&system] { return std::optional<QStringList>(system); };
    RefreshPorts(); // an empty box takes the last port, as at start-up
    EXPECT_EQ(app.host.text(QStringLiteral("cbb1")), QStringLiteral("/dev/ttyUSB0"));
    app.host.texts[QStringLiteral("cbb1")] = QStringLiteral("ttyUSB0x"); // typed by the operator
    system = {"/dev/ttyUSB1", "/dev/ttyACM0"};
    RefreshPorts();
    EXPECT_EQ(app.host.items(QStringLiteral("cbb1")), (QStringList{"/dev/ttyACM0", "/dev/ttyUSB1"}));
    EXPECT_EQ(app.host.text(QStringLiteral("cbb1")), QStringLiteral("ttyUSB0x"));
}

TEST_F(ConnectionTest, closeAsksAndOnlyYesStopsTimersAndPort)
{
    sim::PackConfig config;
    config.publish = false;
    sim::VirtualPack pack(config);
    app.host.texts[QStringLiteral("cbb1")] = QString::fromStdString(pack.start());
    opencomClick(cm1);
    cybtnClick();
    app.tmr3.setEnabled(true);

    app.host.answerYes = false;
    EXPECT_FALSE(FormCloseQuery(cm1));
    EXPECT_EQ(app.host.questions, QStringList{QStringLiteral("Confirm|Exit now?")});
    EXPECT_TRUE(cm1.Connected());
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_TRUE(app.tmr3.enabled());

    app.host.answerYes = true;
    EXPECT_TRUE(FormCloseQuery(cm1));
    EXPECT_FALSE(cm1.Connected());
    EXPECT_FALSE(app.tmr1.enabled() || app.tmr2.enabled() || app.tmr3.enabled() || app.tmr4.enabled());
    // The controls are not reset.
    EXPECT_EQ(app.host.text(QStringLiteral("opencom")), QStringLiteral("Close Port"));
}

} // namespace
