#include "StationDriver.h"

#include "InfoOperation.h"
#include "InfoView.h"
#include "Later.h"
#include "SetCommands.h"
#include "Session.h"
#include "UpgradeOperation.h"
#include "WriteOperation.h"

#include "App.h"
#include "BootLoaderNote.h"
#include "CommRecord.h"
#include "ImageCheck.h"
#include "PackTable.h"

#include <algorithm>

namespace bms::cli {

using station::InfoRead;
using station::TelemetryRead;
using station::UpgradeResult;
using station::WriteResult;

namespace {

// The information read as the station reads it, from what `info` shows.
station::PackInfo InfoOf(const QJsonObject& info)
{
    const auto text = [&](const char* key) {
        const QJsonValue v = info.value(QLatin1String(key));
        return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
    };
    const auto whole = [&](const char* key) {
        const QJsonValue v = info.value(QLatin1String(key));
        return v.isDouble() ? std::optional<int>(v.toInt()) : std::nullopt;
    };
    station::PackInfo p;
    p.barcode = text("barcode");
    p.serialNumber = text("serial_number");
    p.uid = text("uid");
    p.uidCrc = text("uid_crc");
    p.mfrName = text("mfr_name");
    p.customerCode = text("customer_code");
    if (const QJsonValue v = info.value(QLatin1String("rated_cap")); v.isDouble())
        p.ratedCapMah = v.toDouble();
    p.protocolType = whole("protocol_type");
    p.sleepMultiplier = whole("sleep_multiplier");
    p.sleepBase = whole("sleep_base");
    return p;
}

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

StationDriver::StationDriver(Session& session)
    : s_(session),
      rotation_(session),
      info_(std::make_unique<InfoOperation>(session)),
      write_(std::make_unique<WriteOperation>(session)),
      upgrade_(std::make_unique<UpgradeOperation>(session))
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
}

void StationDriver::later(std::function<void()> f)
{
    Later(context_, generation_, std::move(f));
}

void StationDriver::begin()
{
    // The session's handlers stay until the next operation sets its own (this
    // may run inside one of them); the operations ignore them once ended.
    ++generation_;
    rotation_.stop();
    info_->cancel();
    write_->cancel();
    if (upgradeDone_) {
        // An upgrade that has not ended stops here (one that has, stops
        // nothing); the note its port keeps tells where the pack is now.
        upgrade_->stop(QStringLiteral("The station step ended."));
        bootLoader_ = BootLoaderNoteLeft(s_.host.text(QStringLiteral("cbb1")));
    }
    upgrade_->cancel();
    writeDone_ = nullptr;
    upgradeDone_ = nullptr;
    pendingInfo_ = nullptr;
    pendingTelemetry_ = nullptr;
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
    if (upgradeDone_)
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

QString StationDriver::noAnswer(const QString& words)
{
    if (BootLoaderNoteLeft(s_.host.text(QStringLiteral("cbb1"))))
        bootLoader_ = true;
    return bootLoader_ ? station::PackInBootLoaderText() : words;
}

InfoRead StationDriver::infoNow(bool ok, const QString& error) const
{
    InfoRead r;
    r.ok = ok;
    r.error = error;
    if (ok) {
        r.info = InfoOf(InfoObject(s_.host));
        r.clock = DeviceClock;
    }
    return r;
}

void StationDriver::readInfo(std::function<void(const InfoRead&)> done)
{
    begin();
    if (lost_ || bootLoader_) {
        const QString why = lost_ ? QStringLiteral("the port was lost") : station::PackInBootLoaderText();
        return later([this, done, why] { done(infoNow(false, why)); });
    }
    pendingInfo_ = done;
    info_->start(false, [this, done](const InfoOutcome& o) {
        QString error;
        switch (o.failure) {
        case InfoOutcome::Failure::None: break;
        case InfoOutcome::Failure::NotSent: error = lastMessage_; break;
        case InfoOutcome::Failure::Refused: error = QStringLiteral("the pack refused the information read"); break;
        case InfoOutcome::Failure::TimedOut: error = noAnswer(QStringLiteral("the pack did not answer the information read")); break;
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
    if (lost_ || bootLoader_) {
        TelemetryRead t;
        t.error = lost_ ? QStringLiteral("the port was lost") : station::PackInBootLoaderText();
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
            t.error = refused.isEmpty() ? noAnswer(QStringLiteral("the pack did not answer a telemetry read"))
                                        : QStringLiteral("the pack refused the telemetry block %1").arg(refused.join(QStringLiteral(", ")));
        }
        begin();
        later([done, t] { done(t); });
    });
}

void StationDriver::write(const station::PackWrite& w, std::function<void(const WriteResult&)> done)
{
    begin();
    writeDone_ = std::move(done);
    if (lost_)
        return endWrite(WriteResult::Kind::NoAnswer, QStringLiteral("the port was lost"));
    if (bootLoader_)
        return endWrite(WriteResult::Kind::BadInput, station::PackInBootLoaderText());
    // The write as the window's button takes it: its boxes filled from the
    // typed values, a parameter's index selector set.
    QString error = WriteRefusal(w);
    const QStringList words = station::WriteWords(w);
    const Setting* setting = FindSetting(station::IsCalibration(w) ? CalibrateSettings() : SetSettings(), words.first());
    std::optional<QString> index;
    if (const auto* p = std::get_if<station::ParamWrite>(&w); p && p->index)
        index = *p->index == station::ParamWrite::kAllIndexes ? QStringLiteral("ALL") : QString::number(*p->index);
    const std::function<void()> handler = setting && error.isEmpty() ? PrepareSetting(s_, *setting, words.mid(1), error, index)
                                                                     : std::function<void()>();
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
    if (o.ending == Ending::NoAnswer) {
        const QString why = noAnswer({});
        return endWrite(WriteResult::Kind::NoAnswer, why);
    }
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
    upgradeDone_ = std::move(done);
    if (lost_)
        return endUpgrade(false, QStringLiteral("the port was lost"));
    const ImageCheckResult check = CheckImage(image, devFirmware);
    if (!check.ok())
        return endUpgrade(false, check.problem);

    upgrade_->choose(check, devFirmware);
    // The recipe asked for the upgrade: the run's question is answered Yes.
    const auto question = s_.host.onQuestion;
    s_.host.onQuestion = [](const QString&, const QString&) { return true; };
    lastMessage_.clear();
    upgrade_->start(std::max(s_.options.timeoutMs, App.replyTimeoutMs) * 2,
                    [this](const UpgradeOutcome& o) { upgraded(o); });
    s_.host.onQuestion = question;
}

void StationDriver::upgraded(const UpgradeOutcome& o)
{
    switch (o.end) {
    case UpgradeOutcome::End::NotStarted:
        return endUpgrade(false, o.sent ? o.status : QStringLiteral("the upgrade did not start: ") + lastMessage_);
    case UpgradeOutcome::End::Ended:
        // Leave the dispatch or the watchdog tick that showed the ending.
        return later([this, good = o.good.value_or(false), text = o.status] { endUpgrade(good, text); });
    case UpgradeOutcome::End::RecordCountUnanswered:
        return endUpgrade(false, QStringLiteral("the pack did not answer the record count"));
    case UpgradeOutcome::End::VersionsRead: {
        const std::optional<FirmwareVersions>& after = o.versions->after;
        return endUpgrade(o.good.value_or(false), o.status,
                          after ? std::optional<uint16_t>(after->sw_version) : std::nullopt);
    }
    }
}

void StationDriver::endUpgrade(bool ok, const QString& ending, std::optional<uint16_t> swAfter)
{
    if (!upgradeDone_)
        return;
    const std::function<void(const UpgradeResult&)> done = upgradeDone_;
    UpgradeResult r;
    r.ok = ok;
    r.ending = ending;
    r.swAfter = swAfter;
    begin();
    later([done, r] { done(r); });
}

} // namespace bms::cli
