#include "StationDriver.h"

#include "InfoOperation.h"
#include "InfoView.h"
#include "SetCommands.h"
#include "Session.h"
#include "WriteOperation.h"

#include "App.h"
#include "CommRecord.h"
#include "FirmwareReadBack.h"
#include "Hooks.h"
#include "ImageCheck.h"
#include "PackTable.h"
#include "RequestBuilder.h"
#include "UpgradeEndings.h"
#include "UpgradeHooks.h"
#include "UpgradeRun.h"
#include "UpgradeTab.h"

#include <QMetaObject>
#include <algorithm>

namespace bms::cli {

using station::InfoRead;
using station::TelemetryRead;
using station::UpgradeResult;
using station::WriteResult;

namespace {

const QString kStatus = QStringLiteral("lbl35");

TelemetryRead Snapshot()
{
    const PackRecord& p = PackTable[0];
    TelemetryRead t;
    t.swVersion = p.sw_version;
    t.hwVersion = p.hw_version;
    t.protocolType = p.version_minor;
    t.cellCount = p.cell_count;
    for (int i = 0; i < std::min<int>(p.cell_count & 0xFF, 16); ++i)
        t.cellMv.push_back(p.cell_volt[static_cast<size_t>(i)]);
    for (int i = 0; i < std::min<int>(p.temp_a_count, 16); ++i)
        t.cellTempC.push_back(p.temp_a[static_cast<size_t>(i)] / 10.0);
    for (int i = 0; i < std::min<int>(p.temp_b_count, 16); ++i)
        t.mosTempC.push_back(p.temp_b[static_cast<size_t>(i)] / 10.0);
    t.packMv = p.total_volt * 10.0;
    t.currentMa = p.current;
    t.rsocPercent = p.rsoc / 10.0;
    t.sohPercent = p.soh;
    t.cycles = p.cycles;
    t.words = p.fault_status;
    return t;
}

} // namespace

struct StationDriver::Upgrade {
    std::function<void(const UpgradeResult&)> done;
    std::function<void(const QString&, const QString&)> savedOnText;
    std::unique_ptr<FirmwareReadBack> readBack;
    QTimer wait;
    QString last;
    std::optional<bool> goodEnding;
};

StationDriver::StationDriver(Session& session)
    : s_(session),
      rotation_(session),
      info_(std::make_unique<InfoOperation>(session)),
      write_(std::make_unique<WriteOperation>(session))
{
    // The last message box or error: the words for a write that was not sent.
    const auto message = s_.host.onMessage;
    s_.host.onMessage = [this, message](const QString& m) {
        lastMessage_ = m;
        if (message)
            message(m);
    };
    const auto error = s_.host.onError;
    s_.host.onError = [this, error](const QString& m) {
        lastMessage_ = m;
        if (error)
            error(m);
    };
}

StationDriver::~StationDriver()
{
    cancel();
    endedUpgrades_.clear();
}

void StationDriver::later(std::function<void()> f)
{
    const int generation = generation_;
    QMetaObject::invokeMethod(&context_, [this, generation, f] {
        if (generation == generation_)
            f();
    }, Qt::QueuedConnection);
}

void StationDriver::begin()
{
    // The session's handlers stay until the next operation sets its own (this
    // may run inside one of them); they check the generation or the
    // operation they belong to.
    ++generation_;
    rotation_.stop();
    info_->cancel();
    write_->cancel();
    writeDone_ = nullptr;
    pendingInfo_ = nullptr;
    pendingTelemetry_ = nullptr;
    if (upgrade_)
        s_.host.onText = upgrade_->savedOnText;
    // Its timers may be the callers: it goes once the call has returned (or
    // with the driver).
    if (upgrade_)
        endedUpgrades_.push_back(std::move(upgrade_));
    if (!endedUpgrades_.empty())
        QMetaObject::invokeMethod(&context_, [this] { endedUpgrades_.clear(); }, Qt::QueuedConnection);
}

void StationDriver::cancel()
{
    begin();
}

void StationDriver::portLost()
{
    lost_ = true;
    if (writeDone_)
        return endWrite(WriteResult::Kind::NoAnswer, QStringLiteral("the port was lost"), write_->state().infoArrived);
    if (upgrade_)
        return endUpgrade(false, QStringLiteral("the port was lost"));
    const auto info = pendingInfo_;
    const auto telemetry = pendingTelemetry_;
    begin();
    const QString why = QStringLiteral("the port was lost");
    if (info)
        later([this, info, why] { info(infoNow(false, why)); });
    if (telemetry) {
        TelemetryRead t;
        t.error = why;
        later([telemetry, t] { telemetry(t); });
    }
}

InfoRead StationDriver::infoNow(bool ok, const QString& error) const
{
    InfoRead r;
    r.ok = ok;
    r.error = error;
    if (ok) {
        r.info = InfoObject(s_.host);
        r.clock = DeviceClock;
    }
    return r;
}

void StationDriver::readInfo(std::function<void(const InfoRead&)> done)
{
    begin();
    if (lost_)
        return later([this, done] { done(infoNow(false, QStringLiteral("the port was lost"))); });
    pendingInfo_ = done;
    info_->start(false, [this, done](const InfoOutcome& o) {
        QString error;
        switch (o.failure) {
        case InfoOutcome::Failure::None: break;
        case InfoOutcome::Failure::NotSent: error = lastMessage_; break;
        case InfoOutcome::Failure::Refused: error = QStringLiteral("the pack refused the information read"); break;
        case InfoOutcome::Failure::TimedOut: error = QStringLiteral("the pack did not answer the information read"); break;
        case InfoOutcome::Failure::BadFrame:
            error = QStringLiteral("the answer to the information read failed its CRC check");
            break;
        }
        const InfoRead r = infoNow(o.failure == InfoOutcome::Failure::None, error);
        begin();
        later([done, r] { done(r); });
    });
}

void StationDriver::readTelemetry(std::function<void(const TelemetryRead&)> done)
{
    begin();
    if (lost_) {
        TelemetryRead t;
        t.error = QStringLiteral("the port was lost");
        return later([done, t] { done(t); });
    }
    pendingTelemetry_ = done;
    const int generation = generation_;
    rotation_.start([this, generation, done](bool complete) {
        if (generation != generation_)
            return;
        TelemetryRead t = Snapshot();
        t.ok = complete;
        if (!complete) {
            QStringList refused;
            for (int b : rotation_.refused())
                refused.append(QString::number(b));
            t.error = refused.isEmpty() ? QStringLiteral("the pack did not answer a telemetry read")
                                        : QStringLiteral("the pack refused the telemetry block %1").arg(refused.join(QStringLiteral(", ")));
        }
        begin();
        later([done, t] { done(t); });
    });
}

const Setting* StationDriver::FindSetting(const QStringList& words, bool calibrate, QString& error)
{
    const std::vector<Setting>& table = calibrate ? CalibrateSettings() : SetSettings();
    const Setting* setting = cli::FindSetting(table, words.value(0));
    if (!setting)
        error = QStringLiteral("'%1' is not a setting (%2)").arg(words.value(0), SettingWords(table));
    return setting;
}

void StationDriver::write(const QStringList& words, bool calibrate, std::function<void(const WriteResult&)> done)
{
    begin();
    writeDone_ = std::move(done);
    if (lost_)
        return endWrite(WriteResult::Kind::NoAnswer, QStringLiteral("the port was lost"));
    QString error;
    const Setting* setting = FindSetting(words, calibrate, error);
    const std::function<void()> handler = setting ? PrepareSetting(s_, *setting, words.mid(1), error) : std::function<void()>();
    if (!handler)
        return endWrite(WriteResult::Kind::BadInput, error);
    lastMessage_.clear();
    write_->start(*setting, handler, [this](const WriteOutcome& o) { written(o); });
}

void StationDriver::written(const WriteOutcome& o)
{
    using Ending = WriteOutcome::Ending;
    if (o.ending == Ending::NotSent)
        return endWrite(WriteResult::Kind::BadInput, lastMessage_);
    if (o.ending == Ending::NoAnswer)
        return endWrite(WriteResult::Kind::NoAnswer);
    // An own-function write stands or falls with its read-back; any other
    // with its answer, whether or not the information came after it.
    if (o.ending == Ending::ReadBackFailed && o.readingBack)
        return endWrite(WriteResult::Kind::NoAnswer,
                        o.readBackUnsent ? lastMessage_ : QStringLiteral("the value was not read back"), o.infoArrived);
    if (o.answer == WriteOutcome::Answer::Refused)
        return endWrite(WriteResult::Kind::Refused, QStringLiteral("exception %1").arg(o.exception, 2, 16, QLatin1Char('0')),
                        o.infoArrived);
    endWrite(WriteResult::Kind::Acknowledged, {}, o.infoArrived);
}

void StationDriver::endWrite(WriteResult::Kind kind, const QString& detail, bool infoArrived)
{
    if (!writeDone_)
        return;
    WriteResult r;
    r.kind = kind;
    r.detail = detail;
    if (infoArrived)
        r.readBack = infoNow(true, {});
    const std::function<void(const WriteResult&)> done = writeDone_;
    begin();
    later([done, r] { done(r); });
}

void StationDriver::upgrade(const QString& image, bool devFirmware, std::function<void(const UpgradeResult&)> done)
{
    begin();
    upgrade_ = std::make_unique<Upgrade>();
    upgrade_->done = std::move(done);
    upgrade_->savedOnText = s_.host.onText;
    if (lost_)
        return endUpgrade(false, QStringLiteral("the port was lost"));
    const ImageCheckResult check = CheckImage(image, devFirmware);
    if (!check.ok())
        return endUpgrade(false, check.problem);

    // As the command line's upgrade: the image is opened with the main-board
    // target selected, then the target is chosen.
    s_.run(rbtn_upgrade_main_boardClick);
    s_.run([&] { opbtnClick(image); });
    if (devFirmware)
        s_.run(rbtn_upgrade_wifiClick);
    s_.host.onText = [this](const QString& control, const QString& text) {
        if (upgrade_ && upgrade_->savedOnText)
            upgrade_->savedOnText(control, text);
        if (control == kStatus)
            upgradeStatus(text);
    };
    upgrade_->wait.setSingleShot(true);
    QObject::connect(&upgrade_->wait, &QTimer::timeout, &context_,
                     [this] { endUpgrade(false, QStringLiteral("the pack did not answer the record count")); });
    if (!devFirmware) {
        upgrade_->readBack = std::make_unique<FirmwareReadBack>();
        upgrade_->readBack->install();
        upgrade_->readBack->finished = [this](const VersionCheckResult& result) {
            if (!upgrade_)
                return;
            const std::optional<uint16_t> sw = result.after ? std::optional<uint16_t>(result.after->sw_version) : std::nullopt;
            endUpgrade(upgrade_->goodEnding.value_or(false), upgrade_->last, sw);
        };
    }
    // The recipe asked for the upgrade: the run's question is answered Yes.
    const auto question = s_.host.onQuestion;
    s_.host.onQuestion = [](const QString&, const QString&) { return true; };
    Upgrade* u = upgrade_.get();
    const uint64_t before = s_.framesSent();
    lastMessage_.clear();
    s_.run(upbtnClick);
    s_.host.onQuestion = question;
    if (upgrade_.get() != u || UpgradeActive || (u->readBack && u->readBack->busy()))
        return;
    endUpgrade(false, s_.framesSent() == before ? QStringLiteral("the upgrade did not start: ") + lastMessage_ : u->last);
}

void StationDriver::upgradeStatus(const QString& text)
{
    if (!upgrade_)
        return;
    upgrade_->last = text;
    // The dev firmware's record count goes out now; its answer ends the run.
    if (text == QLatin1String("Write Complete!"))
        return upgrade_->wait.start(std::max(s_.options.timeoutMs, App.replyTimeoutMs) * 2);
    if (const UpgradeEnding* e = FindUpgradeEnding(text)) {
        upgrade_->goodEnding = e->good;
        // A main-board run goes on with the read-back of the versions.
        if (e->good && upgrade_->readBack && upgrade_->readBack->busy())
            return;
        later([this, good = e->good, text] { endUpgrade(good, text); });
    }
}

void StationDriver::endUpgrade(bool ok, const QString& ending, std::optional<uint16_t> swAfter)
{
    if (!upgrade_)
        return;
    const std::function<void(const UpgradeResult&)> done = upgrade_->done;
    UpgradeResult r;
    r.ok = ok;
    r.ending = ending;
    r.swAfter = swAfter;
    // The read-back may be the caller: it goes with the operation, once its
    // call has returned.
    if (upgrade_->readBack)
        upgrade_->readBack->finished = nullptr;
    begin();
    later([done, r] { done(r); });
}

} // namespace bms::cli
