#include "UpgradeOperation.h"

#include "Session.h"

#include "CommRecord.h"
#include "UpgradeEndings.h"
#include "UpgradeRun.h"
#include "UpgradeTab.h"

#include <utility>

namespace bms::cli {

namespace {

const QString kStatus = QStringLiteral("lbl35");

} // namespace

UpgradeOperation::UpgradeOperation(Session& session) : s_(session)
{
    wait_.setSingleShot(true);
    QObject::connect(&wait_, &QTimer::timeout, &context_, [this] { end(UpgradeOutcome::End::RecordCountUnanswered); });
    readBack_.finished = [this](const VersionCheckResult& result) { versionsRead(result); };
}

UpgradeOperation::~UpgradeOperation()
{
    restoreText();
}

void UpgradeOperation::restoreText()
{
    if (listening_)
        s_.host.onText = std::move(savedOnText_);
    listening_ = false;
    savedOnText_ = nullptr;
}

void UpgradeOperation::choose(const ImageCheckResult& image, bool devFirmware)
{
    image_ = image;
    s_.run(rbtn_upgrade_main_boardClick);
    s_.run([&] { opbtnClick(image.fileName); });
    if (devFirmware)
        s_.run(rbtn_upgrade_wifiClick);
}

void UpgradeOperation::cancel()
{
    ++generation_;
    active_ = false;
    done_ = nullptr;
    wait_.stop();
    readBack_.cancel();
    restoreText();
}

void UpgradeOperation::stop(const QString& reason)
{
    // Its own ending is not taken for the run's.
    active_ = false;
    s_.run([&] { StopUpgradeRun(reason); });
    cancel();
}

void UpgradeOperation::start(int recordCountWaitMs, std::function<void(const UpgradeOutcome&)> done)
{
    cancel();
    const int generation = generation_;
    active_ = true;
    done_ = std::move(done);
    recordCountWaitMs_ = recordCountWaitMs;
    last_.clear();
    good_.reset();
    savedOnText_ = s_.host.onText;
    listening_ = true;
    s_.host.onText = [this](const QString& control, const QString& text) {
        if (savedOnText_)
            savedOnText_(control, text);
        if (control == kStatus)
            status(text);
    };
    readBack_.install();

    const uint64_t before = s_.framesSent();
    pressing_ = true;
    s_.run([this] { upbtnClickChecked(image_); });
    pressing_ = false;
    if (generation == generation_ && !UpgradeActive && !readBack_.busy())
        end(UpgradeOutcome::End::NotStarted, s_.framesSent() != before);
}

void UpgradeOperation::status(const QString& text)
{
    last_ = text;
    if (onStatus)
        onStatus(text);
    if (!active_)
        return;
    // The dev firmware's record count goes out now; its answer ends the run.
    if (text == QLatin1String("Write Complete!"))
        return wait_.start(recordCountWaitMs_);
    if (const UpgradeEnding* e = FindUpgradeEnding(text)) {
        good_ = e->good;
        // A main-board run goes on with the read-back of the versions; a
        // run that ends within "Upgrade" is judged when it returns.
        if ((e->good && readBack_.busy()) || pressing_)
            return;
        end(UpgradeOutcome::End::Ended);
    }
}

void UpgradeOperation::versionsRead(const VersionCheckResult& result)
{
    end(UpgradeOutcome::End::VersionsRead, true, result);
}

void UpgradeOperation::end(UpgradeOutcome::End how, bool sent, std::optional<VersionCheckResult> versions)
{
    if (!active_)
        return;
    active_ = false;
    wait_.stop();
    UpgradeOutcome o;
    o.end = how;
    o.status = last_;
    o.sent = sent;
    o.good = good_;
    o.versions = std::move(versions);
    if (const auto done = std::exchange(done_, nullptr))
        done(o);
}

} // namespace bms::cli
