// The firmware versions read before and after a main-board upgrade, against
// the virtual pack: a new version, a board that kept the old one, a pack that
// never came back, a check answer that was lost and a pack that did not
// answer before the run.
#include "E2eSupport.h"
#include "QuickPack.h"

#include "FirmwareReadBack.h"
#include "PackTable.h"
#include "ReadAnswers.h"

#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

namespace {

struct Case {
    const char* name;
    void (*configure)(sim::PackConfig&);
    bool silentBeforeRun;    // the answer to the read before the run is lost
    bool loseCheckAnswer;    // the status 0x38 is lost
    VersionOutcome outcome;
    const char* line;
    const char* warning;     // empty: no warning box
    const char* status;      // lbl35 at the end
};

const Case kCases[] = {
    {"newVersion", [](sim::PackConfig&) {}, false, false, VersionOutcome::Changed,
     "Firmware before: HV:2.1.0 SV:1.5.3 after: HV:2.1.0 SV:1.5.4", "", "Upgrade Complete!"},
    {"versionSetByOption", [](sim::PackConfig& c) { c.upgradedVersion = 0x2000; }, false, false,
     VersionOutcome::Changed, "Firmware before: HV:2.1.0 SV:1.5.3 after: HV:2.1.0 SV:2.0.0", "", "Upgrade Complete!"},
    {"keptVersion", [](sim::PackConfig& c) { c.keepVersion = true; }, false, false, VersionOutcome::Unchanged,
     "Firmware before: HV:2.1.0 SV:1.5.3 after: HV:2.1.0 SV:1.5.3",
     "The software version did not change (SV:1.5.3): the board still runs the earlier firmware.",
     "Upgrade Complete! Warning: the software version did not change!"},
    {"lostCheckAnswer", [](sim::PackConfig& c) { c.bootCheckMs = 300; }, false, true, VersionOutcome::Changed,
     "Firmware before: HV:2.1.0 SV:1.5.3 after: HV:2.1.0 SV:1.5.4", "", "Waiting For Check!"},
    {"noAnswerBeforeTheRun", [](sim::PackConfig&) {}, true, false, VersionOutcome::BeforeUnknown,
     "Firmware before: not read after: HV:2.1.0 SV:1.5.4", "", "Upgrade Complete!"},
};

class ReadBackTest : public ::testing::Test {
protected:
    ReadBackTest()
    {
        ResetPackTable();
        Hooks.telemetry = [] { TakeReadAnswer(); };
        app.tmr2.OnTimer = [this] {
            ++timeouts;
            app.tmr2.setEnabled(false);
        };
        readBack.install();
        readBack.finished = [this](const VersionCheckResult& r) { results.push_back(r); };
    }
    ~ReadBackTest() override { ResetPackTable(); }

    static sim::PackConfig FastPack() { return QuickPack(); }
    // Connects the pack and presses "Upgrade" for the main board; `silent`
    // answers of the pack are lost from then on.
    void start(const sim::PackConfig& config, int silent = 0)
    {
        linked = std::make_unique<LinkedPack>(config, app);
        linked->pack.setSilent(silent);
        rbtn_upgrade_main_boardClick();
        opbtnClick(files.write(QStringLiteral("main.hex"), MakeImage(20)));
        upbtnClick();
    }
    QString lbl35() const { return app.host.text(QStringLiteral("lbl35")); }

    UpgradeApp app;
    ImageFiles files;
    FirmwareReadBack readBack{{300, 800, 1500, 200}};
    std::unique_ptr<LinkedPack> linked;
    std::vector<VersionCheckResult> results;
    int timeouts = 0;
};

class ReadBackCases : public ReadBackTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ReadBackCases, versionsBeforeAndAfterAreCompared)
{
    const Case& c = GetParam();
    sim::PackConfig config = FastPack();
    c.configure(config);
    // The first answer is the one to the read before the run.
    start(config, c.silentBeforeRun ? 1 : 0);
    if (c.loseCheckAnswer) {
        ASSERT_TRUE(WaitUntil([&] { return lbl35() == QLatin1String("Waiting For Check!"); }, 10000)) << lbl35().toStdString();
        linked->pack.setSilent(1);
    }
    ASSERT_TRUE(WaitUntil([&] { return !results.empty(); }, 15000)) << lbl35().toStdString();
    const VersionCheckResult& r = results.front();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.line, QLatin1String(c.line));
    EXPECT_EQ(app.host.memos[QStringLiteral("mmo2")].value(22), QLatin1String(c.line)); // after the 22 image lines
    // The verdicts that need the operator's eye come with the warning icon,
    // and the status line says so after the run's ending.
    EXPECT_EQ(app.host.warnings, QLatin1String(c.warning).isEmpty() ? QStringList() : QStringList{QLatin1String(c.warning)});
    EXPECT_TRUE(app.host.messages.isEmpty()) << app.host.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lbl35(), QLatin1String(c.status));
    EXPECT_EQ(timeouts, 0);
    EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Packs, ReadBackCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

TEST_F(ReadBackTest, packSilentAfterTheUpgradeDidNotComeBack)
{
    start(FastPack());
    linked->pack.setSilentAfterUpgrade();
    ASSERT_TRUE(WaitUntil([&] { return lbl35().startsWith(QLatin1String("Upgrade Complete!")); }, 10000)) << lbl35().toStdString();
    const qint64 completeAt = QDateTime::currentMSecsSinceEpoch();
    // While the pack is awaited the status says what the tool is doing.
    EXPECT_TRUE(WaitUntil([&] { return lbl35() == QLatin1String("Upgrade Complete! Checking the firmware version..."); }, 1000))
        << lbl35().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !results.empty(); }, 10000));
    const qint64 waitedMs = QDateTime::currentMSecsSinceEpoch() - completeAt;
    EXPECT_GE(waitedMs, 1400); // the whole 1.5 s of polling
    const VersionCheckResult& r = results.front();
    EXPECT_EQ(r.outcome, VersionOutcome::NotBack);
    EXPECT_EQ(r.line, QStringLiteral("Firmware before: HV:2.1.0 SV:1.5.3 after: no answer"));
    EXPECT_EQ(app.host.warnings,
              QStringList{QStringLiteral("The pack did not come back after the upgrade: it has not answered for 2 s.")});
    EXPECT_EQ(lbl35(), QStringLiteral("Upgrade Complete! Warning: the pack did not come back!"));
    EXPECT_EQ(timeouts, 0);
    // A read every 200 ms while waiting.
    EXPECT_GE(linked->pack.requestCount(0x04), 1u + 4u);
}

} // namespace
