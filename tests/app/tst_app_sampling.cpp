// The polling loop: start and stop, the read rotation through the receive
// path, the reply time-out and the interval rules.
#include "AppTestSupport.h"
#include "BlockFreshness.h"
#include "Errors.h"
#include "PackTable.h"
#include "Sampling.h"
#include "Selectors.h"
#include "Settings.h"
#include "Wiring.h"

#include <map>

using namespace bms;
using namespace bms::test;

namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

int BlockOf(uint16_t reg)
{
    static const std::map<uint16_t, int> blocks = {
        {0x000A, 0}, {0x0080, 1}, {0x0100, 2}, {0x0200, 3},
        {0x0400, 4}, {0x0480, 5}, {0x0500, 6}, {0x2000, 7},
    };
    auto it = blocks.find(reg);
    return it == blocks.end() ? -1 : it->second;
}

class SamplingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPackTable();
        SetDesignState(app.host);
        WireHooks();
        WireTimers();
    }

    // Ticks the sampling timer `polls` times, the pack answering each read
    // before the next tick; the blocks asked for, in order.
    std::vector<int> Poll(int polls)
    {
        pack.readRegisters.clear();
        for (int i = 0; i < polls; ++i) {
            app.tmr1.fire();
            pack.deliver();
        }
        std::vector<int> blocks;
        for (uint16_t reg : pack.readRegisters)
            blocks.push_back(BlockOf(reg));
        return blocks;
    }

    QStringList TimeoutLines() const
    {
        QStringList lines;
        for (const QString& line : app.host.memos.value(QStringLiteral("mmo1")))
            if (line.startsWith(QStringLiteral("communication timeout!")))
                lines.append(line);
        return lines;
    }

    TestApp app;
    ScriptedPack pack{app.link};
};

TEST_F(SamplingTest, startWaitsOnePeriodAndSwitchesTheControls)
{
    app.host.texts[QStringLiteral("cbb3")] = QStringLiteral("2000");
    ReadBlock = 5;
    cybtnClick();

    EXPECT_TRUE(app.link.frames.empty()); // the first read goes out one period later
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 2000);
    EXPECT_EQ(SampleIntervalMs, 2000);
    EXPECT_EQ(ReadBlock, 0);
    EXPECT_EQ(Sampling, 1);
    EXPECT_EQ(app.host.text(QStringLiteral("cybtn")), QStringLiteral("Close Sampling"));
    EXPECT_FALSE(app.host.isEnabled(QStringLiteral("cbb3")));
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColLime);
    EXPECT_EQ(app.host.panels.value(1), QStringLiteral("Sampling!"));
    for (const char* name : {"excbtn", "btn_save_uid", "limiter1"})
        EXPECT_TRUE(app.host.isEnabled(QString::fromLatin1(name))) << name;

    cybtnClick();
    EXPECT_EQ(Sampling, 0);
    EXPECT_FALSE(app.tmr1.enabled());
    EXPECT_EQ(app.host.text(QStringLiteral("cybtn")), QStringLiteral("Start Sampling"));
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("cbb3")));
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColRed);
    EXPECT_EQ(app.host.panels.value(1), QStringLiteral("Ready!"));
    for (const char* name : {"excbtn", "btn_save_uid", "limiter1"})
        EXPECT_FALSE(app.host.isEnabled(QString::fromLatin1(name))) << name;
}

TEST_F(SamplingTest, startingGivesBackOnlyTheButtonsOfWorkbooksThatMayOpen)
{
    // Open workbook (data log, UID, calibration) -> excbtn, btn_save_uid enabled.
    const struct {
        uint8_t data, uid, cal;
        bool excbtn, saveUid;
    } cases[] = {{0, 0, 0, true, true}, {1, 0, 0, true, false}, {0, 1, 0, false, true}, {0, 0, 1, false, false}};
    for (const auto& c : cases) {
        DataLogging = c.data;
        UidWorkbookOpen = c.uid;
        CalWorkbookOpen = c.cal;
        cybtnClick();
        EXPECT_EQ(app.host.isEnabled(QStringLiteral("excbtn")), c.excbtn) << int(c.data) << int(c.uid) << int(c.cal);
        EXPECT_EQ(app.host.isEnabled(QStringLiteral("btn_save_uid")), c.saveUid) << int(c.data) << int(c.uid) << int(c.cal);
        cybtnClick();
    }
}

TEST_F(SamplingTest, rotationFollowsTheCountsAndTheProductType)
{
    cybtnClick();
    EXPECT_EQ(Poll(8), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 0}));

    // A BSI product reads the parallel-system block after the cells.
    app.host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("BSI");
    cbb_pdTypeChange();
    EXPECT_EQ(Poll(8), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0}));

    // No sensors of group A: straight back to block 0 (or to 7 for BSI).
    pack.tempACount = 0;
    EXPECT_EQ(Poll(6), (std::vector<int>{1, 2, 3, 7, 0, 1}));
    app.host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("Q-Serial");
    cbb_pdTypeChange();
    EXPECT_EQ(Poll(6), (std::vector<int>{2, 3, 0, 1, 2, 3}));
}

TEST_F(SamplingTest, silentPackGivesOneTimeoutLinePerPollAndAGoodFrameTurnsLime)
{
    pack.silent = true;
    cybtnClick();
    for (int poll = 1; poll <= 3; ++poll) {
        app.tmr1.fire();
        ASSERT_TRUE(app.tmr2.enabled());
        EXPECT_EQ(app.tmr2.interval(), 500);
        app.tmr2.fire();
        EXPECT_FALSE(app.tmr2.enabled());
        EXPECT_EQ(TimeoutLines().size(), poll);
    }
    for (const QString& line : TimeoutLines())
        EXPECT_TRUE(IsTimeoutLine(line)) << line.toStdString();
    EXPECT_EQ(ReadBlock, 0);
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColRed);
    EXPECT_EQ(BlockOf(pack.readRegisters.back()), 0);

    pack.silent = false;
    app.tmr1.fire();
    pack.deliver();
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColLime);
    EXPECT_EQ(TimeoutLines().size(), 3);
    EXPECT_EQ(ReadBlock, 1);
}

TEST_F(SamplingTest, silentPackTimesOutOnTheRunningTimers)
{
    pack.silent = true;
    app.host.texts[QStringLiteral("cbb3")] = QStringLiteral("1000");
    cybtnClick();
    ASSERT_TRUE(WaitUntil([this] { return TimeoutLines().size() >= 2; }, 10000));
    // One line per read: each time-out ends half-way between two polls.
    EXPECT_GE(pack.readRegisters.size(), 2u);
    EXPECT_LE(pack.readRegisters.size(), static_cast<size_t>(TimeoutLines().size()) + 1);
}

TEST_F(SamplingTest, pollDueBeforeThePreviousTimeoutReportsItFirst)
{
    // At 500 ms the next tick comes before the previous request's time-out
    // has fired; every unanswered request still gets its own line.
    pack.silent = true;
    cybtnClick();
    for (int poll = 1; poll <= 4; ++poll)
        app.tmr1.fire();
    EXPECT_EQ(pack.readRegisters.size(), 4u);
    EXPECT_EQ(TimeoutLines().size(), 3);
    app.tmr2.fire();
    EXPECT_EQ(TimeoutLines().size(), 4);

    // An answered request leaves nothing to report at the next tick.
    pack.silent = false;
    app.tmr1.fire();
    pack.deliver();
    app.tmr1.fire();
    EXPECT_EQ(TimeoutLines().size(), 4);
}

TEST_F(SamplingTest, silentPackAt500msGivesOneLinePerPoll)
{
    pack.silent = true;
    cybtnClick();
    ASSERT_TRUE(WaitUntil([this] { return pack.readRegisters.size() >= 4; }, 10000));
    const auto polls = pack.readRegisters.size();
    const auto lines = static_cast<size_t>(TimeoutLines().size());
    // The newest poll may still be waiting for its time-out.
    EXPECT_GE(lines + 1, polls);
    EXPECT_LE(lines, polls);
}

TEST_F(SamplingTest, intervalUnder500IsRaisedTo500WithTheMessage)
{
    app.host.texts[QStringLiteral("cbb3")] = QStringLiteral("200");
    cybtnClick();
    EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("The sampling interval must be greater than 500 ms!")});
    EXPECT_EQ(app.host.text(QStringLiteral("cbb3")), QStringLiteral("500"));
    EXPECT_EQ(SampleIntervalMs, 500);
    EXPECT_EQ(app.tmr1.interval(), 500);
    EXPECT_TRUE(app.tmr1.enabled());
    Poll(3);
    EXPECT_EQ(app.tmr1.interval(), 500);
}

TEST_F(SamplingTest, intervalThatIsNoNumberLeavesSamplingOff)
{
    app.host.texts[QStringLiteral("cbb3")] = QStringLiteral("5x0");
    ReadBlock = 3;
    EXPECT_THROW(cybtnClick(), EConvertError);
    EXPECT_EQ(Sampling, 0);
    EXPECT_EQ(ReadBlock, 0);
    EXPECT_FALSE(app.tmr1.enabled());
    EXPECT_EQ(app.host.text(QStringLiteral("cybtn")), QStringLiteral("Start Sampling"));
}

TEST_F(SamplingTest, stoppingRightAfterARequestDropsTheTimeout)
{
    pack.silent = true;
    cybtnClick();
    app.tmr1.fire();
    ASSERT_TRUE(app.tmr2.enabled());
    cybtnClick();
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_FALSE(app.tmr1.enabled());
    EXPECT_TRUE(TimeoutLines().isEmpty());
}

TEST_F(SamplingTest, tickSendsNothingWhileAnInformationReadIsOutstanding)
{
    cybtnClick();
    ReadBlock = 8;
    app.tmr1.fire();
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_EQ(app.tmr1.interval(), 500);
}

TEST_F(SamplingTest, answersArrivingAfterTheNextPollLandInTheirOwnBlocks)
{
    // A pack answering 700 ms late at a 500 ms period: every answer comes in
    // after the next poll went out.
    pack.registerValues = true;
    cybtnClick();
    int delivered = 0;
    for (int tick = 0; tick < 40; ++tick) {
        app.tmr1.fire();
        delivered += tick > 0 ? 1 : 0;
        pack.deliver(1);
    }
    for (uint16_t reg : {0x000A, 0x0080, 0x0100, 0x0200, 0x0400, 0x0480, 0x0500})
        EXPECT_NE(std::count(pack.readRegisters.begin(), pack.readRegisters.end(), reg), 0) << std::hex << reg;

    // Each value is its register's address: one from another block shows.
    const PackRecord& p = PackTable[0];
    const std::pair<uint32_t, uint32_t> fields[] = {
        {p.sw_version, 0x000B}, {p.hw_version, 0x000C}, {p.fcc_cap, 0x00110012}, {p.current, 0x00150016},
        {p.rsoc, 0x0018}, {p.fault_status[0], 0x0080}, {p.fault_status[3], 0x0083}, {p.bms_status[0], 0x0100},
        {p.bms_status[3], 0x0103}, {p.soh, 0x0203}, {uint16_t(p.temp_a[1]), uint16_t(0x0401 - 2731)},
        {uint16_t(p.temp_b[1]), uint16_t(0x0481 - 2731)}, {p.cell_volt[0], 0x0500}, {p.cell_volt[3], 0x0503},
    };
    for (size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(fields[i].first, fields[i].second) << "field " << i;

    // Every good frame still notes a normal communication.
    const QStringList memo = app.host.memos.value(QStringLiteral("mmo1"));
    EXPECT_EQ(memo.filter(QStringLiteral("Note: communication is normal!(")).size(), delivered);
}

TEST_F(SamplingTest, gridGreysTheValuesTheLastRotationDidNotRefresh)
{
    BlockFreshness freshness;
    WireHooks(&freshness);
    cybtnClick(); // two sensors of each group, four cells: seven blocks a rotation
    // Grid cells and whether they are grey, after each step.
    struct Cell {
        int col, row;
        bool grey;
    };
    const auto expectGrey = [this](const char* step, std::initializer_list<Cell> cells) {
        for (const Cell& c : cells)
            EXPECT_EQ(app.host.cellStale(QStringLiteral("strngrd1"), c.col, c.row), c.grey)
                << step << ": column " << c.col << " row " << c.row;
    };

    Poll(7);
    expectGrey("one rotation", {{1, 1, false}, {1, 4, false}, {1, 5, true}, {3, 8, true}, // cells beyond the 4
                                {5, 2, false}, {5, 3, true}, {5, 5, false}, {5, 6, true}, // sensors beyond 2
                                {5, 8, false}, {7, 1, false}, {7, 8, false}});

    pack.refuseRegister = 0x0500; // the cells' block is refused at its next turn
    Poll(7);
    expectGrey("cells refused", {{1, 1, true}, {1, 4, true}, {5, 1, false}, {7, 6, false}});

    pack.refuseRegister = 0;
    pack.tempACount = 0; // the rotation now skips the temperature and cell blocks
    Poll(7);
    expectGrey("blocks skipped", {{1, 1, true}, {5, 1, true}, {5, 4, true}, {5, 8, false}, {7, 6, false}});

    // A silent pack: the block asked for (3) goes grey at its time-out, the
    // others once a rotation's polls have passed without refreshing them.
    pack.silent = true;
    app.tmr1.fire();
    app.tmr2.fire();
    expectGrey("block 3 unanswered", {{5, 8, true}, {7, 1, false}});
    for (int poll = 0; poll < 4; ++poll) {
        app.tmr1.fire();
        app.tmr2.fire();
    }
    expectGrey("a rotation unanswered", {{5, 8, true}, {7, 1, true}});
}

TEST_F(SamplingTest, refusedReadIsNamedAndTheRotationMovesOn)
{
    const struct {
        uint16_t reg;
        const char* line;
    } rows[] = {
        {0x0500, "Note: the pack refused register 0500 (block 6), exception code 02!("},
        {0x0200, "Note: the pack refused register 0200 (block 3), exception code 02!("},
        {0x9D01, "Note: the pack refused register 9D01 (information), exception code 02!("},
    };
    cybtnClick();
    for (const auto& row : rows) {
        pack.refuseRegister = row.reg;
        app.host.memos.clear();
        app.host.messages.clear();
        ReadBlock = row.reg == 0x0500 ? 6 : 3;
        if (row.reg == 0x9D01)
            btn3Click();
        else
            app.tmr1.fire();
        pack.deliver();
        const QStringList memo = app.host.memos.value(QStringLiteral("mmo1"));
        ASSERT_EQ(memo.filter(QString::fromLatin1(row.line)).size(), 1) << memo.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(app.host.messages.isEmpty());
        EXPECT_EQ(ReadBlock, 0) << std::hex << row.reg; // the counts are 0: block 3 is followed by 0
    }
}

TEST_F(SamplingTest, unansweredInformationReadRestartsTheRotation)
{
    pack.silent = true;
    cybtnClick();
    btn3Click();
    ASSERT_EQ(ReadBlock, 8);
    app.tmr2.fire();
    EXPECT_EQ(TimeoutLines().size(), 1);
    EXPECT_EQ(ReadBlock, 0);
    app.tmr1.fire();
    EXPECT_EQ(BlockOf(pack.readRegisters.back()), 0);
}

TEST_F(SamplingTest, shortBlockZeroAnswerStoresWhatFits)
{
    pack.silent = true;
    PackTable[0].fdc_cap = 77;
    cybtnClick();
    app.tmr1.fire();
    std::vector<uint8_t> answer = {0x06, 0x04, 20};
    for (uint16_t reg = 0x000A; reg < 0x0014; ++reg)
        answer.insert(answer.end(), {uint8_t(reg >> 8), uint8_t(reg)});
    answer = Framed(answer);
    cm1ReceiveData(answer.data(), uint16_t(answer.size()));
    EXPECT_EQ(PackTable[0].fcc_cap, 0x00110012u);
    EXPECT_EQ(PackTable[0].fdc_cap, 77u);
    EXPECT_EQ(ReadBlock, 1);
}

} // namespace
