// The steps that act on the pack: upgrade, calibrate, settings, and the
// operator's prompt.
#include "RecipeOutputs.h"
#include "StepsCommon.h"

#include "TextChecks.h"
#include "TextFormat.h"

#include "JsonFields.h"
#include "ReferenceCommand.h"

#include <QTimer>
#include <cmath>

namespace bms::station {

QString WriteFailure(const PackWrite& write, const WriteResult& r)
{
    const QString what = WriteText(write);
    switch (r.kind) {
    case WriteResult::Kind::Refused: return QStringLiteral("the pack refused %1").arg(what) + (r.detail.isEmpty() ? QString() : QStringLiteral(": ") + r.detail);
    case WriteResult::Kind::NoAnswer: return QStringLiteral("the pack did not answer %1").arg(what) + (r.detail.isEmpty() ? QString() : QStringLiteral(": ") + r.detail);
    case WriteResult::Kind::BadInput: return QStringLiteral("%1 was not sent: %2").arg(what, r.detail);
    case WriteResult::Kind::Acknowledged: break;
    }
    return {};
}

namespace {

class UpgradeStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        // A pack in its boot loader runs no version: the upgrade is what it
        // waits for.
        if (host_.driver().inBootLoader())
            return decide(std::nullopt);
        if (host_.state().swVersion)
            return decide(*host_.state().swVersion);
        host_.driver().readTelemetry([this](const TelemetryRead& t) {
            if (!t.ok && host_.driver().inBootLoader())
                return decide(std::nullopt);
            if (!t.ok)
                return host_.done(Outcome::Error, t.error);
            host_.state().swVersion = t.swVersion;
            host_.record().pack.swBefore = VersionText(t.swVersion);
            decide(t.swVersion);
        });
    }

private:
    void decide(std::optional<uint16_t> before)
    {
        const RecipeStep& s = host_.recipeStep();
        host_.measure(QStringLiteral("sw_version_before"), before ? QJsonValue(VersionText(*before)) : QJsonValue(), {}, {});
        if (!s.devFirmware && before && ParseVersion(s.version) == *before) {
            host_.record().pack.swAfter = VersionText(*before);
            return host_.done(Outcome::Skipped, QStringLiteral("the pack already runs %1").arg(s.version));
        }
        host_.driver().upgrade(s.image, s.devFirmware, [this](const UpgradeResult& r) { upgraded(r); });
    }

    void upgraded(const UpgradeResult& r)
    {
        const RecipeStep& s = host_.recipeStep();
        if (host_.driver().inBootLoader()) {
            // Whatever ran before, the pack now runs no firmware of its own.
            host_.state().swVersion.reset();
            return host_.done(Outcome::Error, r.ending + QStringLiteral("; ") + PackInBootLoaderText());
        }
        if (!r.ok)
            return host_.done(Outcome::Error, r.ending);
        if (s.devFirmware) {
            host_.measure(QStringLiteral("ending"), r.ending, {}, {});
            return host_.done(Outcome::Pass);
        }
        if (!r.swAfter)
            return host_.done(Outcome::Error, QStringLiteral("the pack did not answer after the upgrade"));
        host_.state().swVersion = *r.swAfter;
        host_.record().pack.swAfter = VersionText(*r.swAfter);
        Limits target;
        target.equals = s.version;
        host_.measure(QStringLiteral("sw_version_after"), VersionText(*r.swAfter), {}, target);
        host_.done(Outcome::Pass);
    }
};

// The reading a calibration corrects: the current, or cell 1's voltage
// (the voltage calibration writes cell 1).
std::optional<double> Reading(const QString& quantity, const TelemetryRead& t)
{
    if (quantity != QLatin1String("voltage"))
        return t.currentMa;
    if (t.cellMv.empty())
        return std::nullopt;
    return t.cellMv.front();
}

class CalibrateStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        const RecipeStep& s = host_.recipeStep();
        unit_ = s.quantity == QLatin1String("voltage") ? QStringLiteral("mV") : QStringLiteral("mA");
        switch (s.reference.kind) {
        case Reference::Kind::Constant: return referenced(s.quantity == QLatin1String("zero") ? 0 : s.reference.value);
        case Reference::Kind::Prompt:
            return host_.ask(PromptKind::Value, s.reference.text,
                             [this](const QString& v) { fromText(v, QStringLiteral("the operator")); },
                             [quantity = s.quantity](double v) { return ReferenceRefusal(quantity, v); });
        case Reference::Kind::Command: return runCommand();
        }
    }

private:
    // A line's meter: the command's standard output is the number.
    void runCommand()
    {
        command_ = std::make_unique<ReferenceCommand>(host_.recipeStep().reference.text, [this](bool ok, const QString& out) {
            if (!ok)
                return host_.done(Outcome::Error, out);
            fromText(out.trimmed(), QStringLiteral("the reference command"));
        });
    }

    void fromText(const QString& text, const QString& source)
    {
        bool ok = false;
        const double v = text.section(QLatin1Char(' '), 0, 0).toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return host_.done(Outcome::Error, QStringLiteral("%1 gave '%2', not a number").arg(source, Printable(text.left(80))));
        if (const QString refusal = ReferenceRefusal(host_.recipeStep().quantity, v); !refusal.isEmpty())
            return host_.done(Outcome::Error, refusal);
        referenced(v);
    }

    void referenced(double reference)
    {
        reference_ = reference;
        host_.measure(QStringLiteral("reference"), reference, unit_, {});
        host_.driver().readTelemetry([this](const TelemetryRead& t) {
            const std::optional<double> before = t.ok ? Reading(host_.recipeStep().quantity, t) : std::nullopt;
            if (!before)
                return host_.done(Outcome::Error, t.ok ? QStringLiteral("the pack reports no cells") : t.error);
            Limits limit;
            if (const std::optional<double> max = host_.recipeStep().maxErrorBefore) {
                limit.low = -*max;
                limit.high = *max;
            }
            // A reading that far off is a faulty pack: it fails without a
            // calibration written to it.
            if (host_.measure(QStringLiteral("error_before"), *before - reference_, unit_, limit) == Outcome::Fail)
                return host_.done(Outcome::Pass);
            calibrate();
        });
    }

    void calibrate()
    {
        const QString quantity = host_.recipeStep().quantity;
        const auto reference = static_cast<qint64>(reference_);
        const PackWrite calibration = quantity == QLatin1String("zero")      ? PackWrite(ZeroCalibration{})
                                      : quantity == QLatin1String("voltage") ? PackWrite(VoltageCalibration{reference, {}})
                                                                             : PackWrite(CurrentCalibration{reference});
        host_.driver().write(calibration, [this, calibration](const WriteResult& r) {
            if (r.kind != WriteResult::Kind::Acknowledged)
                return host_.done(Outcome::Error, WriteFailure(calibration, r));
            host_.driver().readTelemetry([this](const TelemetryRead& t) {
                const std::optional<double> after = t.ok ? Reading(host_.recipeStep().quantity, t) : std::nullopt;
                if (!after)
                    return host_.done(Outcome::Error, t.ok ? QStringLiteral("the pack reports no cells") : t.error);
                Limits tolerance;
                tolerance.low = -host_.recipeStep().tolerance;
                tolerance.high = host_.recipeStep().tolerance;
                host_.measure(QStringLiteral("error_after"), *after - reference_, unit_, tolerance);
                host_.done(Outcome::Pass);
            });
        });
    }

    QString unit_;
    double reference_ = 0;
    std::unique_ptr<ReferenceCommand> command_; // ends what it started with the step
};

// What the information read shows of a setting, to compare with what was
// written: the measurement's name, the value written, and the value read
// back, each of its own type (a barcode of digits is a text, a capacity a
// number).
struct ReadBack {
    const char* name;
    QJsonValue written;
    QJsonValue read;
};

std::vector<ReadBack> ReadBacks(const PackWrite& write, const PackInfo& back)
{
    if (const auto* w = std::get_if<SleepWrite>(&write))
        return {{"sleep_multiplier", double(w->multiplier), json::OrNull(back.sleepMultiplier)},
                {"sleep_base", double(w->base), json::OrNull(back.sleepBase)}};
    if (const auto* w = std::get_if<ProtocolWrite>(&write))
        return {{"protocol_type", double(w->type), json::OrNull(back.protocolType)}};
    if (const auto* w = std::get_if<BarcodeWrite>(&write))
        return {{"barcode", w->text, json::OrNull(back.barcode)}};
    if (const auto* w = std::get_if<SerialWrite>(&write))
        return {{"serial_number", w->text, json::OrNull(back.serialNumber)}};
    if (const auto* w = std::get_if<RatedCapacityWrite>(&write))
        return {{"rated_cap", double(w->mah), json::OrNull(back.ratedCapMah)}};
    return {};
}

// The measurement of a write that nothing reads back: "protocol",
// "upload_interval", "param_cycle_life".
QString AcknowledgedName(const PackWrite& write)
{
    const QStringList words = WriteWords(write);
    QString name = words.first();
    if (std::holds_alternative<ParamWrite>(write))
        name = QStringLiteral("param_") + words.value(1);
    return name.replace(QLatin1Char('-'), QLatin1Char('_'));
}

} // namespace

QStringList SettingsMeasurementNames(const PackWrite& write)
{
    QStringList names;
    for (const ReadBack& r : ReadBacks(write, PackInfo{}))
        names << QString::fromLatin1(r.name);
    // A write whose read-back did not come is recorded under its own name.
    return names << AcknowledgedName(write);
}

namespace {

class SettingsStep : public Step {
public:
    using Step::Step;
    void run() override { next(0); }

private:
    void next(size_t i)
    {
        const std::vector<PackWrite>& writes = host_.recipeStep().writes;
        if (i >= writes.size())
            return host_.done(Outcome::Pass);
        const PackWrite write = writes[i];
        host_.driver().write(write, [this, i, write](const WriteResult& r) {
            if (r.kind != WriteResult::Kind::Acknowledged)
                return host_.done(Outcome::Error, WriteFailure(write, r));
            const std::vector<ReadBack> backs = r.readBack && r.readBack->ok ? ReadBacks(write, r.readBack->info)
                                                                             : std::vector<ReadBack>();
            for (const ReadBack& b : backs) {
                Limits same;
                same.equals = b.written;
                host_.measure(QString::fromLatin1(b.name), b.read, {}, same);
            }
            if (backs.empty())
                host_.measure(AcknowledgedName(write), QStringLiteral("acknowledged"), {}, {});
            next(i + 1);
        });
    }
};

class PromptStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        host_.ask(PromptKind::Confirm, host_.recipeStep().text, [this](const QString&) { host_.done(Outcome::Pass); });
    }
};

} // namespace

std::unique_ptr<Step> MakeUpgradeStep(StepHost& h) { return std::make_unique<UpgradeStep>(h); }
std::unique_ptr<Step> MakeCalibrateStep(StepHost& h) { return std::make_unique<CalibrateStep>(h); }
std::unique_ptr<Step> MakeSettingsStep(StepHost& h) { return std::make_unique<SettingsStep>(h); }
std::unique_ptr<Step> MakePromptStep(StepHost& h) { return std::make_unique<PromptStep>(h); }

std::unique_ptr<Step> MakeStep(StepKind kind, StepHost& h)
{
    switch (kind) {
    case StepKind::Identify: return MakeIdentifyStep(h);
    case StepKind::Scan: return MakeScanStep(h);
    case StepKind::Upgrade: return MakeUpgradeStep(h);
    case StepKind::WriteIdentity: return MakeWriteIdentityStep(h);
    case StepKind::Calibrate: return MakeCalibrateStep(h);
    case StepKind::Settings: return MakeSettingsStep(h);
    case StepKind::Check: return MakeCheckStep(h);
    case StepKind::Prompt: return MakePromptStep(h);
    }
    return nullptr;
}

} // namespace bms::station
