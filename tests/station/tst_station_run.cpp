// The step engine against a scripted pack: retries keep only the last
// attempt, on_fail = continue goes on and still fails the run, a step that
// hangs times out, and the operator's answers reach the right prompt.
#include "QtTestSupport.h"
#include "StationRecords.h"
#include "StationRun.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <csignal>
#include <gtest/gtest.h>

using namespace bms::station;
using bms::test::WaitUntil;

namespace {

// Answers every read with the next scripted current (mA); a read with no
// script left never answers, as a pack that hangs.
class ScriptedPack : public PackDriver {
public:
    std::deque<double> currents;
    PackInfo info; // the information block, read and read back after writes

    void readInfo(std::function<void(const InfoRead&)> done) override
    {
        InfoRead r;
        r.ok = true;
        r.info = info;
        later([done, r] { done(r); });
    }
    void readTelemetry(std::function<void(const TelemetryRead&)> done) override
    {
        if (currents.empty())
            return;
        TelemetryRead t;
        t.ok = true;
        t.currentMa = currents.front();
        currents.pop_front();
        later([done, t] { done(t); });
    }
    void write(const PackWrite&, std::function<void(const WriteResult&)> done) override
    {
        WriteResult r;
        r.kind = WriteResult::Kind::Acknowledged;
        r.readBack = InfoRead{true, {}, info, {}};
        later([done, r] { done(r); });
    }
    void upgrade(const QString&, bool, std::function<void(const UpgradeResult&)>) override {}
    void cancel() override { ++generation_; }

private:
    void later(std::function<void()> f)
    {
        QTimer::singleShot(0, &context_, [this, g = generation_, f] {
            if (g == generation_)
                f();
        });
    }
    QObject context_;
    int generation_ = 0;
};

// A process that has not ended (a zombie has, whoever reaps it).
bool Running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

RecipeStep Check(const QString& name, double low, double high)
{
    RecipeStep s;
    s.kind = StepKind::Check;
    s.name = name;
    s.rotations = 1;
    s.timeoutS = 5;
    Limits l;
    l.low = low;
    l.high = high;
    s.limits.push_back({QStringLiteral("current"), l, {}});
    return s;
}

RecipeStep Ask(StepKind kind, const QString& name, double timeoutS = 5)
{
    RecipeStep s;
    s.kind = kind;
    s.name = name;
    s.pattern = QStringLiteral("\\d{12}");
    s.text = QStringLiteral("Connect the load");
    s.timeoutS = timeoutS;
    return s;
}

class StationRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "tst_station_run";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    // Starts the run; `typed` are lines typed before it starts.
    void start(std::vector<RecipeStep> steps, const QStringList& typed = {})
    {
        Recipe recipe;
        recipe.name = QStringLiteral("t");
        recipe.steps = std::move(steps);
        RunSettings settings;
        settings.resultsFolder = dir.filePath(QStringLiteral("results"));
        run = std::make_unique<StationRun>(recipe, settings, RunServices{pack, *records, *records, *records});
        run->onEvent = [this](const RunEvent& e) {
            events.append(EventJson(e));
            if (onEvent)
                onEvent(events.last());
        };
        run->onFinished = [this](Outcome o, const QString&) { outcome = OutcomeName(o); };
        for (const QString& line : typed)
            run->answer(line);
        run->start();
    }
    bool finish() { return WaitUntil([this] { return !outcome.isEmpty(); }, 10000); }
    QStringList stepOutcomes() const
    {
        QStringList out;
        for (const StepRecord& s : run->runRecord().steps)
            out.append(OutcomeName(s.outcome));
        return out;
    }
    int count(const char* kind) const
    {
        int n = 0;
        for (const QJsonObject& e : events)
            n += e.value("event").toString() == QLatin1String(kind);
        return n;
    }

    QTemporaryDir dir;
    ScriptedPack pack;
    QString openError;
    std::unique_ptr<bms::records::StationRecords> records =
        bms::records::StationRecords::open({dir.filePath(QStringLiteral("station.db")), {}}, openError);
    std::unique_ptr<StationRun> run;
    QList<QJsonObject> events;
    std::function<void(const QJsonObject&)> onEvent;
    QString outcome;
};

TEST_F(StationRunTest, retryKeepsOnlyTheLastAttemptsMeasurements)
{
    RecipeStep check = Check(QStringLiteral("load"), 9500, 10500);
    check.retries = 2;
    pack.currents = {12000, 10000};
    start({check});
    ASSERT_TRUE(finish());
    EXPECT_EQ(outcome, OutcomeName(Outcome::Pass));
    EXPECT_EQ(run->runRecord().steps[0].retries, 1);
    ASSERT_EQ(run->runRecord().measurements.size(), 1u);
    EXPECT_EQ(run->runRecord().measurements[0].value.toDouble(), 10000);
    EXPECT_EQ(count("step_retry"), 1);
}

TEST_F(StationRunTest, continueAfterAFailRunsTheRestAndTheFirstFailureNamesTheRun)
{
    RecipeStep first = Check(QStringLiteral("idle"), -100, 100);
    first.stopOnFail = false;
    pack.currents = {500, 10000, 7};
    start({first, Check(QStringLiteral("load"), 9500, 10500), Check(QStringLiteral("after"), 9500, 10500)});
    ASSERT_TRUE(finish());
    EXPECT_EQ(outcome, OutcomeName(Outcome::Fail));
    EXPECT_EQ(run->runRecord().failureCode, QStringLiteral("idle.current"));
    EXPECT_EQ(stepOutcomes(), (QStringList{"FAIL", "PASS", "FAIL"}));
}

TEST_F(StationRunTest, hangingPackTimesTheStepOutAsAnErrorAndStopsTheRun)
{
    RecipeStep check = Check(QStringLiteral("load"), 9500, 10500);
    check.timeoutS = 0.2;
    check.retries = 3; // a time-out ends the step whatever its retries
    start({check, Check(QStringLiteral("after"), 0, 1)});
    ASSERT_TRUE(finish());
    EXPECT_EQ(outcome, OutcomeName(Outcome::Error));
    EXPECT_EQ(run->runRecord().failureCode, QStringLiteral("load.error"));
    EXPECT_EQ(stepOutcomes(), (QStringList{"ERROR", "NOT_RUN"}));
}

// Answers typed ahead wait for their prompt; an answer for a prompt that has
// gone, or one of the wrong kind, answers nothing; an unanswered prompt
// aborts when its step times out.
TEST_F(StationRunTest, answersReachTheirPromptAndAnUnansweredPromptAborts)
{
    onEvent = [this](const QJsonObject& e) {
        if (e.value("event").toString() == QLatin1String("prompt") && e.value("kind").toString() == QLatin1String("confirm"))
            QTimer::singleShot(0, [this] {
                run->answer(QStringLiteral("@p9 yes"));  // not this prompt
                run->answer(QStringLiteral("maybe"));    // refused
            });
    };
    start({Ask(StepKind::Scan, QStringLiteral("scan")), Ask(StepKind::Prompt, QStringLiteral("load"), 0.3)},
          {QStringLiteral("202612080001\r")});
    ASSERT_TRUE(finish());
    EXPECT_EQ(outcome, OutcomeName(Outcome::Aborted));
    EXPECT_EQ(run->runRecord().pack.barcode, QStringLiteral("202612080001"));
    EXPECT_EQ(stepOutcomes(), (QStringList{"PASS", "ABORTED"}));
    EXPECT_EQ(run->runRecord().failureCode, QStringLiteral("load.aborted"));
    EXPECT_EQ(count("prompt_refused"), 1);

    // "no" to an instruction aborts at once.
    events.clear();
    outcome.clear();
    onEvent = [this](const QJsonObject& e) {
        if (e.value("event").toString() == QLatin1String("prompt"))
            QTimer::singleShot(0, [this, id = e.value("id").toString()] { run->answer(QLatin1Char('@') + id + QStringLiteral(" no")); });
    };
    start({Ask(StepKind::Prompt, QStringLiteral("load"))});
    ASSERT_TRUE(finish());
    EXPECT_EQ(outcome, OutcomeName(Outcome::Aborted));
    EXPECT_EQ(run->runRecord().failureReason, QStringLiteral("the operator answered no"));
}

// The reference of a calibration from a line's meter command or the
// operator: the number is taken, anything else from the command is an error
// of the step; an operator's answer the calibration would refuse is asked
// again.
TEST_F(StationRunTest, calibrationReferenceComesFromACommandOrTheOperator)
{
    struct Case {
        Reference::Kind kind;
        const char* text; // PIDS: a file for the process ids the command leaves
        const char* outcome;
        int refused = 0; // operator's answers asked again
        const char* reason = "";
    };
    const Case cases[] = {
        {Reference::Kind::Command, "printf '10012 mA\\n'", "PASS"},
        {Reference::Kind::Command, "echo volts", "ERROR"},
        {Reference::Kind::Command, "echo 10012; exit 3", "ERROR"},
        {Reference::Kind::Command, "echo 600000", "ERROR"}, // beyond what the calibration takes
        {Reference::Kind::Command, "yes 10012", "ERROR", 0, "wrote more than 64 KiB"},
        // A meter that hangs, its shell and child deaf to SIGTERM: the step
        // times out and takes both with it.
        {Reference::Kind::Command, "trap '' TERM; echo $$ > PIDS; sleep 60 & echo $! >> PIDS; wait", "ERROR", 0, "longer than"},
        {Reference::Kind::Command, "sleep 60 & echo $! > PIDS; echo 10012", "PASS"}, // the meter's daemon
        {Reference::Kind::Prompt, "Meter reading (mA)", "PASS"},
        {Reference::Kind::Prompt, "Meter reading (mA)", "PASS", 6},
    };
    const QString pids = dir.filePath(QStringLiteral("pids"));
    const QStringList typos{QStringLiteral("10000.5"), QStringLiteral("1e308"), QStringLiteral("nan"),
                            QStringLiteral("inf"), QStringLiteral("-5"), QStringLiteral("0")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        events.clear();
        outcome.clear();
        pack.currents = {10000, 10012};
        RecipeStep s;
        s.kind = StepKind::Calibrate;
        s.name = QStringLiteral("cal");
        s.quantity = QStringLiteral("current");
        s.reference = {c.kind, 0, QString::fromUtf8(c.text).replace(QStringLiteral("PIDS"), pids)};
        s.tolerance = 5;
        s.timeoutS = QByteArray(c.text).contains("wait") ? 0.5 : 10;
        QFile::remove(pids);
        onEvent = [this, answers = typos.mid(0, c.refused) + QStringList{QStringLiteral("10012")}](const QJsonObject& e) {
            if (e.value("event").toString() == QLatin1String("prompt"))
                QTimer::singleShot(0, [this, answers] {
                    for (const QString& a : answers)
                        run->answer(a);
                });
        };
        start({s});
        ASSERT_TRUE(finish());
        EXPECT_EQ(OutcomeName(run->runRecord().steps[0].outcome), QLatin1String(c.outcome)) << run->runRecord().steps[0].reason.toStdString();
        EXPECT_EQ(count("prompt_refused"), c.refused);
        EXPECT_TRUE(run->runRecord().steps[0].reason.contains(QLatin1String(c.reason))) << run->runRecord().steps[0].reason.toStdString();
        QFile left(pids);
        if (left.open(QIODevice::ReadOnly)) {
            for (const QByteArray& pid : left.readAll().split('\n')) {
                const pid_t id = pid.toInt();
                if (id > 0) {
                    EXPECT_TRUE(WaitUntil([id] { return !Running(id); }, 2000)) << "process " << id << " left running";
                }
            }
        }
        if (QLatin1String(c.outcome) == QLatin1String("PASS")) {
            EXPECT_EQ(run->runRecord().measurements[1].name, QStringLiteral("error_before"));
            EXPECT_EQ(run->runRecord().measurements[1].value.toDouble(), -12);
        }
    }
}

// What is read back is compared as the pack keeps it: a barcode or serial
// number of digits as text, a capacity as a number; identify names the
// first failure in the order the recipe lists its limits.
TEST_F(StationRunTest, readBacksCompareTypedAndIdentifyFailsInTheRecipesOrder)
{
    struct Case {
        const char* write;
        PackInfo back;
        const char* outcome;
    };
    PackInfo capacity;
    capacity.ratedCapMah = 100000;
    const Case cases[] = {
        {"barcode 111122223333", {.barcode = QStringLiteral("111122223333")}, "PASS"},
        {"serial 0042", {.serialNumber = QStringLiteral("0042")}, "PASS"},
        {"serial 0042", {.serialNumber = QStringLiteral("42")}, "FAIL"},
        {"rated-capacity 100000", capacity, "PASS"},
        // Written as the window's box takes it, read back as the number.
        {"rated-capacity 0x186A0", capacity, "PASS"},
        {"sleep 1 3600", {.sleepMultiplier = 1, .sleepBase = 3600}, "PASS"},
        {"sleep 1 3600", {.sleepMultiplier = 1, .sleepBase = 60}, "FAIL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.write);
        outcome.clear();
        RecipeStep s = Ask(StepKind::Settings, QStringLiteral("settings"));
        s.writes = {std::get<PackWrite>(ParseSettingWrite(QLatin1String(c.write)))};
        pack.info = c.back;
        start({s});
        ASSERT_TRUE(finish());
        EXPECT_EQ(outcome, QLatin1String(c.outcome)) << run->runRecord().failureReason.toStdString();
    }

    outcome.clear();
    RecipeStep identify = Ask(StepKind::Identify, QStringLiteral("identify"));
    Limits cells, uid;
    cells.equals = 8.0;
    uid.matches = QStringLiteral("[0-9A-F]{24}");
    identify.limits = {{QStringLiteral("cell_count"), cells, {}}, {QStringLiteral("uid"), uid, {}}};
    pack.currents = {0};
    pack.info = {.uid = QStringLiteral("none")};
    start({identify});
    ASSERT_TRUE(finish());
    EXPECT_EQ(run->runRecord().failureCode, QStringLiteral("identify.cell_count"));
}

} // namespace
