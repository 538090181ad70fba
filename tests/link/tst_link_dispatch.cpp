// Main-board framing, the response-code table, the write report tables and
// the carried frame of code 81.
#include "LinkTestSupport.h"

using namespace bms;
using namespace bms::test;

namespace {

class MainBoardTest : public LinkTest {
protected:
    MainBoardTest()
    {
        DevFirmwareMode = 0;
        UpgradeActive = 1;
    }
    // A main-board status frame: address, length, the bytes, CRC.
    static Bytes Status(uint8_t addr, const Bytes& bytes)
    {
        Bytes body{addr, static_cast<uint8_t>(bytes.size() + 2)};
        body.insert(body.end(), bytes.begin(), bytes.end());
        return WithCrc(body);
    }
};

TEST_F(MainBoardTest, framingFollowsTheUpgradeFlagsForEachByte)
{
    UpgradeActive = 0;
    EXPECT_FALSE(MainBoardFramingInForce());
    AwaitingCheck = 1;
    EXPECT_TRUE(MainBoardFramingInForce());
    DevFirmwareMode = 1;
    EXPECT_FALSE(MainBoardFramingInForce());

    // A handler that starts the run switches the framing within one chunk.
    DevFirmwareMode = 0;
    AwaitingCheck = 0;
    Hooks.telemetry = [&] {
        log.push_back("telemetry");
        UpgradeActive = 1;
    };
    Feed(Concat({WithCrc({0x06, 0x04, 0x00}), Status(0x06, {0x33})}));
    EXPECT_EQ(log, (std::vector<std::string>{"telemetry", "step first"}));
}

TEST_F(MainBoardTest, statusCodesDriveTheUpgradeSteps)
{
    const char* names[] = {"rebooting", "erase", "first", "next", "error", "check"};
    for (uint8_t code = 0x31; code <= 0x36; ++code) {
        log.clear();
        Feed(Status(0x06, {code}));
        EXPECT_EQ(log, std::vector<std::string>{std::string("step ") + names[code - 0x31]});
    }
    log.clear();
    Feed(Status(0x06, {0x37}));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(Memo().size(), 7);
}

TEST_F(MainBoardTest, notBsiFramesStartWithAddressSixAndZeroLengthTakesTwoBytes)
{
    NotBsi = 1;
    SlaveAddr = 0x01;
    app.tmr2.setEnabled(true);
    const Bytes empty = WithCrc({0x06, 0x00});
    Feed(Concat({{0x01, 0x02, 0x05}, Bytes(empty.begin(), empty.end() - 1)}));
    EXPECT_TRUE(app.tmr2.enabled());
    Feed({empty.back()});
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_EQ(MY_COM.RxLen, 4);
    EXPECT_EQ(Memo().size(), 1);

    NotBsi = 0;
    Feed(Concat({Status(0x06, {0x32}), Status(0x01, {0x32})}));
    EXPECT_EQ(log, std::vector<std::string>{"step erase"});
}

TEST_F(MainBoardTest, longestMainBoardFrameIsHeldWhole)
{
    Bytes bytes{0x34};
    bytes.insert(bytes.end(), 252, 0x06);
    const Bytes frame = Status(0x06, bytes);
    ASSERT_EQ(frame.size(), 257u);
    ASSERT_EQ(frame[1], 255);
    Feed(Concat({frame, Status(0x06, {0x33})}));
    EXPECT_EQ(log, (std::vector<std::string>{"step next", "step first"}));
}

TEST_F(MainBoardTest, upgradeCompleteEnablesTheTargetsAndEndsTheCheck)
{
    AwaitingCheck = 1;
    UpgradeActive = 0;
    app.host.enabled[QStringLiteral("rbtn_upgrade_main_board")] = false;
    app.host.enabled[QStringLiteral("rbtn_upgrade_wifi")] = false;
    Feed(Status(0x06, {0x38}));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("rbtn_upgrade_main_board")));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("rbtn_upgrade_wifi")));
    EXPECT_EQ(app.host.text(QStringLiteral("lbl35")), QStringLiteral("Upgrade Complete!"));
    EXPECT_EQ(AwaitingCheck, 0);
    EXPECT_FALSE(MainBoardFramingInForce());
}

TEST_F(MainBoardTest, responseCodesShowTheirMessages)
{
    const struct {
        uint8_t code;
        const char* text;
    } rows[] = {{17, "Current calibration completed!"}, {145, "Current calibration failed!"},
                {18, "Set baud rate successfully!"},    {146, "Set baud rate failed!"},
                {19, "Modified barcode successfully!"}, {20, "Set rated capacity completely!"},
                {148, "Set rated capacity failed"},     {27, "Modified PACK ID successfully!"},
                {155, "Modified PACK ID failed!"},      {28, "Modified Parameter successfully!"},
                {156, "Modified Parameter failed!"},    {57, "Set remain capacity completely!"},
                {163, "Set remain capacity failed"},    {82, "Set upload interval time successfully!"},
                {210, "Set upload interval time failed!"}, {83, "RTC Time Calibration Successful!"},
                {211, "RTC Time Calibration failed!"},  {84, "Setup function module successfully!"},
                {212, "Setup function module failed!"}, {86, "Setup serial parallel successfully!"},
                {214, "Setup serial parallel failed!"}, {88, "Setup protocol type successfully!"},
                {216, "Setup protocol type failed!"}};
    for (const auto& row : rows) {
        log.clear();
        Feed(Status(0x06, {row.code}));
        EXPECT_EQ(log, std::vector<std::string>{std::string("msg:") + row.text}) << int(row.code);
    }
    log.clear();
    Feed(Status(0x06, {23}));
    EXPECT_EQ(log, (std::vector<std::string>{"deviceInfo", "msg:Get the information completely!"}));
    log.clear();
    Feed(Status(0x06, {0x99}));
    EXPECT_TRUE(log.empty());
}

TEST_F(MainBoardTest, carriedFrameCountsOnlyWhenInsideAndItsOwnCrcHolds)
{
    AwaitingCheck = 1;
    // Outer: addr, L, 0x51, k, carried frame (k + 1 bytes), outer CRC.
    auto outer = [](const Bytes& carried, int extra = 0) {
        Bytes bytes{0x51, static_cast<uint8_t>(carried.size() - 1 + extra)};
        bytes.insert(bytes.end(), carried.begin(), carried.end());
        return Status(0x06, bytes);
    };
    Feed(outer(WithCrc({0x06, 0x33})));
    EXPECT_EQ(log, std::vector<std::string>{"step first"});
    EXPECT_EQ(MY_COM.SubRxLen, 4);

    log.clear();
    Feed(outer(WithCrc({0x06, 0x38})));
    EXPECT_EQ(app.host.text(QStringLiteral("lbl35")), QStringLiteral("Upgrade Complete!"));
    EXPECT_EQ(AwaitingCheck, 1); // only the direct code ends the check

    Bytes bad = WithCrc({0x06, 0x34});
    bad[1] = 0x35;
    Feed(outer(bad));
    EXPECT_TRUE(log.empty());

    // k reaching into the outer CRC, or beyond the frame: nothing happens.
    MY_COM.SubRxBuf.fill(0xEE);
    MY_COM.SubRxLen = 0;
    Feed(outer(WithCrc({0x06, 0x34}), 1));
    Feed(outer(WithCrc({0x06, 0x34}), 200));
    Feed(Status(0x06, {0x51}));
    // A carried frame of two bytes is too short to hold a CRC.
    Feed(outer({0x06, 0x34}));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(MY_COM.SubRxBuf[0], 0xEE);
    EXPECT_EQ(MY_COM.SubRxLen, 0);
}

class WriteReportTest : public LinkTest {
protected:
    void Ack(uint16_t reg, uint16_t qty)
    {
        LastWriteReg = reg;
        LastWriteQty = qty;
        Feed(WithCrc({0x06, 0x10, uint8_t(reg >> 8), uint8_t(reg), uint8_t(qty >> 8), uint8_t(qty)}));
    }
    void Fail(uint16_t reg)
    {
        LastWriteReg = reg;
        Feed(WithCrc({0x06, 0x90, 0x04}));
    }
};

TEST_F(WriteReportTest, acknowledgementsShowTheRowOfTheRecordedRegister)
{
    const struct {
        uint16_t reg;
        std::vector<std::string> ok, failed;
    } rows[] = {
        {0x0015, {"msg:Current calibration completed!"}, {"msg:Current calibration failed!"}},
        {0x0500, {"msg:Voltage calibration completed!"}, {"msg:Voltage calibration failed!"}},
        {0x9D1D, {"msg:Series-Parallel Setting completed!"}, {"msg:Series-Parallel Setting failed!"}},
        {0x9CFA, {"msg:Modified Parameter successfully!"}, {"msg:Modified parameter failed!"}},
        {0x9D1E, {"reRead", "msg:Setup protocol type successfully!"}, {"reRead", "msg:Setup protocol type failed!"}},
        {0x9D05, {"reRead", "msg:Modified barcode successfully!"}, {"reRead", "msg:Modified barcode failed!"}},
        {0x9D25, {"reRead", "msg:Sleep time setting successfully!"}, {"reRead", "msg:Sleep time setting failed!"}},
        {0x9D19, {"reRead", "msg:RTC Time Calibration Successful!"}, {"reRead", "msg:RTC Time Calibration failed!"}},
        {0x1234, {}, {}},
    };
    for (const auto& row : rows) {
        log.clear();
        Ack(row.reg, 3);
        EXPECT_EQ(log, row.ok) << std::hex << row.reg;
        EXPECT_EQ(LastWriteReg, 0);
        log.clear();
        Fail(row.reg);
        EXPECT_EQ(log, row.failed) << std::hex << row.reg;
        EXPECT_EQ(LastWriteReg, 0);
    }
}

TEST_F(WriteReportTest, firmwareWritesKeepTheRecordTransferGoing)
{
    Ack(0x9F00, 9);
    EXPECT_EQ(log, std::vector<std::string>{"step next"});
    EXPECT_EQ(LastWriteReg, 0x9F00);

    log.clear();
    Ack(0x9E00, 17);
    EXPECT_EQ(app.pauses, std::vector<int>{2000});
    EXPECT_EQ(log, std::vector<std::string>{"step next"});
    EXPECT_EQ(LastWriteReg, 0x9E00);

    log.clear();
    EraseDevPending = 1;
    Ack(0x9E00, 17);
    EXPECT_EQ(log, std::vector<std::string>{"msg:Erase dev firmware successfully!"});
    EXPECT_EQ(EraseDevPending, 0);
    EXPECT_EQ(LastWriteReg, 0);

    log.clear();
    Ack(0x9E05, 2);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl35")), QStringLiteral("Writed firmware information successfully!"));
    EXPECT_EQ(LastWriteReg, 0);
    Fail(0x9E05);
    EXPECT_EQ(app.host.text(QStringLiteral("lbl35")), QStringLiteral("Writed firmware information failed!"));
    EXPECT_TRUE(log.empty());

    EraseDevPending = 1;
    Fail(0x9E00);
    EXPECT_EQ(log, std::vector<std::string>{"msg:Erase dev firmware failed!"});
    EXPECT_EQ(EraseDevPending, 0);

    log.clear();
    Fail(0x9F00);
    EXPECT_EQ(log, (std::vector<std::string>{"step error", "msg:Write dev firmware failed!"}));
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(WriteReportTest, writesWithoutAMessageOfTheirOwnGetAMemoLine)
{
    const Bytes zeroDrift = WithCrc({0x06, 0x10, 0x9D, 0x27, 0x00, 0x01, 0x02, 0x00, 0x0A});
    const Bytes readBlock = WithCrc({0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E});
    const struct {
        Bytes sent;
        uint16_t recorded;
        Bytes answer;
        const char* line; // start of the memo line after "communication is normal", or nullptr
        uint16_t recordedAfter;
    } rows[] = {
        {zeroDrift, 0, WithCrc({0x06, 0x10, 0x9D, 0x27, 0x00, 0x01}),
         "Note: the pack accepted the zero drift write (register 0x9D27)!(", 0},
        // A stale recorded write stays pending; the refusal is the last write's.
        {zeroDrift, 0x9D05, WithCrc({0x06, 0x90, 0x03}),
         "Note: the pack refused the zero drift write (register 0x9D27): exception 03, illegal data value!(", 0x9D05},
        {readBlock, 0, WithCrc({0x06, 0x90, 0x02}), "Note: the pack refused a write: exception 02, illegal data address!(", 0},
        {zeroDrift, 0, WithCrc({0x06, 0x10, 0x9D, 0x27, 0x00, 0x02}), nullptr, 0}, // another count: not this write
    };
    for (const auto& row : rows) {
        app.host.memos.clear();
        log.clear();
        MY_COM.TxBuf = row.sent;
        LastWriteReg = row.recorded;
        LastWriteQty = 6;
        Feed(row.answer);
        const QStringList memo = Memo();
        ASSERT_EQ(memo.size(), row.line ? 2 : 1) << memo.join(QLatin1Char('|')).toStdString();
        if (row.line) {
            EXPECT_TRUE(memo.last().startsWith(QString::fromLatin1(row.line))) << memo.last().toStdString();
        }
        EXPECT_TRUE(log.empty());
        EXPECT_EQ(LastWriteReg, row.recordedAfter);
    }
}

TEST_F(WriteReportTest, answersToThePacksOwnWriteFunctionsShowTheirMessages)
{
    const struct {
        uint8_t function;
        const char* accepted;
        const char* refused;
    } rows[] = {
        {0x14, "msg:Set rated capacity completely!", "msg:Set rated capacity failed"},
        {0x1B, "msg:Modified PACK ID successfully!", "msg:Modified PACK ID failed!"},
        {0x52, "msg:Set upload interval time successfully!", "msg:Set upload interval time failed!"},
    };
    for (const auto& row : rows) {
        const uint8_t f = row.function;
        MY_COM.TxBuf = WithCrc({0x06, f, 0x00, 0x04, 0x00, 0x00, 0x00, 0x3C});
        log.clear();
        Feed(WithCrc({0x06, f, 0x00, 0x04}));
        Feed(WithCrc({0x06, uint8_t(f | 0x80), 0x03}));
        EXPECT_EQ(log, (std::vector<std::string>{row.accepted, row.refused})) << int(f);
        // Not the last request sent: not an answer to it.
        MY_COM.TxBuf = WithCrc({0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E});
        log.clear();
        Feed(WithCrc({0x06, f, 0x00, 0x04}));
        EXPECT_TRUE(log.empty()) << int(f);
    }
}

} // namespace
