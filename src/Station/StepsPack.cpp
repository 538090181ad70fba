// The steps that act on the pack: upgrade, calibrate, settings, and the
// operator's prompt.
#include "RecipeOutputs.h"
#include "StepsCommon.h"

#include "TextChecks.h"
#include "TextFormat.h"

#include "ReferenceCommand.h"

#include <QTimer>
#include <cmath>

namespace bms::station {

QString WriteFailure(const QStringList& words, const WriteResult& r)
{
    const QString what = words.join(QLatin1Char(' '));
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
                return host_.done(outcome::Error, t.error);
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
            return host_.done(outcome::Skipped, QStringLiteral("the pack already runs %1").arg(s.version));
        }
        host_.driver().upgrade(s.image, s.devFirmware, [this](const UpgradeResult& r) { upgraded(r); });
    }

    void upgraded(const UpgradeResult& r)
    {
        const RecipeStep& s = host_.recipeStep();
        if (host_.driver().inBootLoader()) {
            // Whatever ran before, the pack now runs no firmware of its own.
            host_.state().swVersion.reset();
            return host_.done(outcome::Error, r.ending + QStringLiteral("; ") + PackInBootLoaderText());
        }
        if (!r.ok)
            return host_.done(outcome::Error, r.ending);
        if (s.devFirmware) {
            host_.measure(QStringLiteral("ending"), r.ending, {}, {});
            return host_.done(outcome::Pass);
        }
        if (!r.swAfter)
            return host_.done(outcome::Error, QStringLiteral("the pack did not answer after the upgrade"));
        host_.state().swVersion = *r.swAfter;
        host_.record().pack.swAfter = VersionText(*r.swAfter);
        Limits target;
        target.equals = s.version;
        host_.measure(QStringLiteral("sw_version_after"), VersionText(*r.swAfter), {}, target);
        host_.done(outcome::Pass);
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
                return host_.done(outcome::Error, out);
            fromText(out.trimmed(), QStringLiteral("the reference command"));
        });
    }

    void fromText(const QString& text, const QString& source)
    {
        bool ok = false;
        const double v = text.section(QLatin1Char(' '), 0, 0).toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return host_.done(outcome::Error, QStringLiteral("%1 gave '%2', not a number").arg(source, Printable(text.left(80))));
        if (const QString refusal = ReferenceRefusal(host_.recipeStep().quantity, v); !refusal.isEmpty())
            return host_.done(outcome::Error, refusal);
        referenced(v);
    }

    void referenced(double reference)
    {
        reference_ = reference;
        host_.measure(QStringLiteral("reference"), reference, unit_, {});
        host_.driver().readTelemetry([this](const TelemetryRead& t) {
            const std::optional<double> before = t.ok ? Reading(host_.recipeStep().quantity, t) : std::nullopt;
            if (!before)
                return host_.done(outcome::Error, t.ok ? QStringLiteral("the pack reports no cells") : t.error);
            Limits limit;
            if (const std::optional<double> max = host_.recipeStep().maxErrorBefore) {
                limit.low = -*max;
                limit.high = *max;
            }
            // A reading that far off is a faulty pack: it fails without a
            // calibration written to it.
            if (host_.measure(QStringLiteral("error_before"), *before - reference_, unit_, limit) == Verdict::Fail)
                return host_.done(outcome::Pass);
            calibrate();
        });
    }

    void calibrate()
    {
        const QString quantity = host_.recipeStep().quantity;
        QStringList words{quantity};
        if (quantity != QLatin1String("zero"))
            words.append(QString::number(static_cast<qint64>(reference_)));
        host_.driver().write(words, true, [this, words](const WriteResult& r) {
            if (r.kind != WriteResult::Kind::Acknowledged)
                return host_.done(outcome::Error, WriteFailure(words, r));
            host_.driver().readTelemetry([this](const TelemetryRead& t) {
                const std::optional<double> after = t.ok ? Reading(host_.recipeStep().quantity, t) : std::nullopt;
                if (!after)
                    return host_.done(outcome::Error, t.ok ? QStringLiteral("the pack reports no cells") : t.error);
                Limits tolerance;
                tolerance.low = -host_.recipeStep().tolerance;
                tolerance.high = host_.recipeStep().tolerance;
                host_.measure(QStringLiteral("error_after"), *after - reference_, unit_, tolerance);
                host_.done(outcome::Pass);
            });
        });
    }

    QString unit_;
    double reference_ = 0;
    std::unique_ptr<ReferenceCommand> command_; // ends what it started with the step
};

// What the information read shows of a setting, to compare with the words
// written: the info key, the argument it must equal, and whether the pack
// keeps it as text (a barcode of digits is still a text).
struct ReadBackField {
    const char* setting;
    const char* key;
    int argument; // index into the words
    bool text;
};

constexpr ReadBackField kReadBack[] = {
    {"sleep", "sleep_multiplier", 1, false}, {"sleep", "sleep_base", 2, false},
    {"protocol", "protocol_type", 1, false}, {"barcode", "barcode", 1, true},
    {"serial", "serial_number", 1, true},    {"rated-capacity", "rated_cap", 1, false},
};

} // namespace

QStringList SettingsMeasurementNames(const QStringList& words)
{
    QStringList names;
    for (const ReadBackField& f : kReadBack)
        if (words.value(0) == QLatin1String(f.setting))
            names << QString::fromLatin1(f.key);
    // A write whose read-back did not come is recorded under its own name.
    QString name = words.value(0);
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    if (words.value(0) == QLatin1String("param") && words.size() > 1)
        name = QStringLiteral("param_") + QString(words[1]).replace(QLatin1Char('-'), QLatin1Char('_'));
    return names << name;
}

namespace {

class SettingsStep : public Step {
public:
    using Step::Step;
    void run() override { next(0); }

private:
    void next(size_t i)
    {
        const std::vector<QStringList>& writes = host_.recipeStep().writes;
        if (i >= writes.size())
            return host_.done(outcome::Pass);
        const QStringList words = writes[i];
        host_.driver().write(words, false, [this, i, words](const WriteResult& r) {
            if (r.kind != WriteResult::Kind::Acknowledged)
                return host_.done(outcome::Error, WriteFailure(words, r));
            QString name = words.first();
            name.replace(QLatin1Char('-'), QLatin1Char('_'));
            if (words.first() == QLatin1String("param") && words.size() > 1)
                name = QStringLiteral("param_") + QString(words[1]).replace(QLatin1Char('-'), QLatin1Char('_'));
            bool compared = false;
            for (const ReadBackField& f : kReadBack) {
                if (words.first() != QLatin1String(f.setting) || !r.readBack || !r.readBack->ok)
                    continue;
                const QJsonValue got = r.readBack->info.value(QLatin1String(f.key));
                const QString want = words.value(f.argument);
                Limits same;
                bool number = false;
                const double n = want.toDouble(&number);
                same.equals = number && !f.text ? QJsonValue(n) : QJsonValue(want);
                host_.measure(QString::fromLatin1(f.key), got.isUndefined() ? QJsonValue() : got, {}, same);
                compared = true;
            }
            if (!compared)
                host_.measure(name, QStringLiteral("acknowledged"), {}, {});
            next(i + 1);
        });
    }
};

class PromptStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        host_.ask(PromptKind::Confirm, host_.recipeStep().text, [this](const QString&) { host_.done(outcome::Pass); });
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
