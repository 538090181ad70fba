#include "StationDriver.h"

#include "InfoView.h"
#include "SetCommands.h"
#include "Session.h"

#include "App.h"
#include "Codec.h"
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

// The pack's own functions: their answers are not frames of the receive
// assembly, so only a read-back can tell whether the value arrived.
bool IsOwnFunction(uint8_t function) { return function == 0x14 || function == 0x1B || function == 0x52; }

// Bytes of an answer the assembly does not frame are taken as complete once
// the line has been quiet this long.
constexpr int kQuietMs = 20;

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

struct StationDriver::Write {
    const Setting* setting = nullptr;
    std::function<void(const WriteResult&)> done;
    enum class Outcome { None, Acknowledged, Refused } outcome = Outcome::None;
    int exception = 0;
    bool running = false;
    bool ownFunction = false;
    bool bytesSeen = false;
    bool readingBack = false;
    bool waitingInfo = false;
    bool infoArrived = false;
    bool infoFailed = false;
    QTimer quiet;
};

struct StationDriver::Upgrade {
    std::function<void(const UpgradeResult&)> done;
    std::function<void(const QString&, const QString&)> savedOnText;
    std::unique_ptr<FirmwareReadBack> readBack;
    QTimer wait;
    QString last;
    std::optional<bool> goodEnding;
};

StationDriver::StationDriver(Session& session) : s_(session), rotation_(session)
{
    // A write the dispatcher follows with an information read: the write's
    // answer is complete once that read is in.
    const auto reRead = Hooks.reReadDeviceInfo;
    Hooks.reReadDeviceInfo = [this, reRead] {
        reReadRequested_ = true;
        s_.host.forgetWrites();
        if (reRead)
            reRead();
    };
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
    endedWrites_.clear();
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
    pendingInfo_ = nullptr;
    pendingTelemetry_ = nullptr;
    if (upgrade_)
        s_.host.onText = upgrade_->savedOnText;
    // Their timers may be the callers: they go once the call has returned
    // (or with the driver).
    if (write_)
        endedWrites_.push_back(std::move(write_));
    if (upgrade_)
        endedUpgrades_.push_back(std::move(upgrade_));
    if (!endedWrites_.empty() || !endedUpgrades_.empty())
        QMetaObject::invokeMethod(&context_, [this] {
            endedWrites_.clear();
            endedUpgrades_.clear();
        }, Qt::QueuedConnection);
}

void StationDriver::cancel()
{
    begin();
}

void StationDriver::portLost()
{
    lost_ = true;
    if (write_)
        return endWrite(WriteResult::Kind::NoAnswer, QStringLiteral("the port was lost"));
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
    const int generation = generation_;
    auto finish = [this, generation, done](bool ok, const QString& error) {
        if (generation != generation_)
            return;
        const InfoRead r = infoNow(ok, error);
        StationDriver* self = this;
        const auto callback = done;
        self->begin();
        self->later([callback, r] { callback(r); });
    };
    s_.onRead = [finish](const ReadOutcome& read) {
        if (read.block != 8)
            return;
        if (read.kind == ReadOutcomeKind::Decoded)
            finish(true, {});
        else if (read.kind == ReadOutcomeKind::Refused)
            finish(false, QStringLiteral("the pack refused the information read"));
        else if (read.kind == ReadOutcomeKind::TimedOut)
            finish(false, QStringLiteral("the pack did not answer the information read"));
    };
    s_.onBadFrame = [finish] { finish(false, QStringLiteral("the answer to the information read failed its CRC check")); };
    s_.host.forgetWrites();
    if (!s_.run([] { BuildRequest(cmd_read_info); }))
        finish(false, lastMessage_);
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
    QStringList names;
    for (const Setting& s : table) {
        if (words.value(0) == QLatin1String(s.word))
            return &s;
        names.append(QString::fromLatin1(s.word));
    }
    error = QStringLiteral("'%1' is not a setting (%2)").arg(words.value(0), names.join(QStringLiteral(", ")));
    return nullptr;
}

void StationDriver::write(const QStringList& words, bool calibrate, std::function<void(const WriteResult&)> done)
{
    begin();
    write_ = std::make_unique<Write>();
    write_->done = std::move(done);
    if (lost_)
        return endWrite(WriteResult::Kind::NoAnswer, QStringLiteral("the port was lost"));
    QString error;
    write_->setting = FindSetting(words, calibrate, error);
    const std::function<void()> handler =
        write_->setting ? PrepareSetting(s_, *write_->setting, words.mid(1), error) : std::function<void()>();
    if (!handler)
        return endWrite(WriteResult::Kind::BadInput, error);

    s_.onFrame = [this] { judgeFrame(); };
    s_.onTimeout = [this] { writeTimedOut(); };
    s_.onBadFrame = [this] { writeTimedOut(); };
    s_.onRead = [this](const ReadOutcome& read) {
        if (!write_ || read.block != 8 || read.kind == ReadOutcomeKind::Dropped)
            return;
        write_->infoArrived = read.kind == ReadOutcomeKind::Decoded;
        write_->infoFailed = !write_->infoArrived;
        if (write_->readingBack)
            return endWrite(write_->infoArrived ? WriteResult::Kind::Acknowledged : WriteResult::Kind::NoAnswer,
                            write_->infoArrived ? QString() : QStringLiteral("the value was not read back"));
        if (write_->waitingInfo)
            writeProceed();
    };
    s_.onBytes = [this](int) {
        if (!write_)
            return;
        write_->bytesSeen = true;
        if (write_->ownFunction && !write_->readingBack)
            write_->quiet.start(kQuietMs);
    };
    write_->quiet.setSingleShot(true);
    QObject::connect(&write_->quiet, &QTimer::timeout, &context_, [this] { ownFunctionAnswered(); });

    Write* w = write_.get();
    const uint64_t before = s_.framesSent();
    lastMessage_.clear();
    reReadRequested_ = false;
    w->running = true;
    const bool ok = s_.run(handler);
    if (write_.get() != w)
        return; // ended or cancelled while the handler waited
    w->running = false;
    if (!ok || s_.framesSent() == before)
        return endWrite(WriteResult::Kind::BadInput, lastMessage_);
    if (IsOwnFunction(s_.lastFunctionSent())) {
        w->ownFunction = true;
        if (w->bytesSeen)
            w->quiet.start(kQuietMs);
        else if (!s_.tmr2.enabled())
            endWrite(WriteResult::Kind::NoAnswer);
        return;
    }
    if (w->outcome != Write::Outcome::None)
        writeProceed();
    else if (!s_.tmr2.enabled())
        endWrite(WriteResult::Kind::NoAnswer); // the time-out fired while the handler waited
}

void StationDriver::judgeFrame()
{
    if (!write_ || write_->outcome != Write::Outcome::None)
        return;
    const uint8_t function = MY_COM.RxBuf[1];
    if (function == 0x10 && MY_COM.RxLen == 8 && s_.registersWritten().count(ReadU16BE(MY_COM.RxBuf.data(), 2))) {
        write_->outcome = Write::Outcome::Acknowledged;
    } else if (function == 0x90) {
        write_->outcome = Write::Outcome::Refused;
        write_->exception = MY_COM.RxBuf[2];
    } else {
        return;
    }
    // The dispatcher reports the answer (and may ask for the information
    // read-back) before its dispatch returns; go on after that.
    if (!write_->running)
        later([this] { writeProceed(); });
}

void StationDriver::writeProceed()
{
    if (!write_)
        return;
    if (reReadRequested_ && !write_->infoArrived && !write_->infoFailed) {
        write_->waitingInfo = true;
        return;
    }
    if (write_->outcome == Write::Outcome::Refused)
        return endWrite(WriteResult::Kind::Refused, QStringLiteral("exception %1").arg(write_->exception, 2, 16, QLatin1Char('0')));
    endWrite(WriteResult::Kind::Acknowledged);
}

void StationDriver::writeTimedOut()
{
    // Reads are judged by their outcome; a time-out inside the handler is
    // judged when it returns.
    if (!write_ || write_->running || write_->readingBack || write_->waitingInfo)
        return;
    if (write_->outcome != Write::Outcome::None)
        return;
    if (write_->ownFunction && write_->bytesSeen)
        return;
    endWrite(WriteResult::Kind::NoAnswer);
}

void StationDriver::ownFunctionAnswered()
{
    if (!write_ || write_->readingBack)
        return;
    // The answer came; it needs no time-out line.
    s_.tmr2.setEnabled(false);
    if (!write_->setting->readBack)
        return endWrite(WriteResult::Kind::Acknowledged);
    write_->readingBack = true;
    s_.host.forgetWrites();
    if (!s_.run([] { BuildRequest(cmd_read_info); }))
        endWrite(WriteResult::Kind::NoAnswer, lastMessage_);
}

void StationDriver::endWrite(WriteResult::Kind kind, const QString& detail)
{
    if (!write_)
        return;
    WriteResult r;
    r.kind = kind;
    r.detail = detail;
    if (write_->infoArrived)
        r.readBack = infoNow(true, {});
    const std::function<void(const WriteResult&)> done = write_->done;
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
