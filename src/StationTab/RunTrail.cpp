#include "RunTrail.h"

#include "FixtureRunner.h"

#include "EventLines.h"

#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>

namespace bms::stationtab {

namespace {

station::Limits LimitsOf(const QJsonObject& o)
{
    station::Limits l;
    if (o.value(QStringLiteral("low")).isDouble())
        l.low = o.value(QStringLiteral("low")).toDouble();
    if (o.value(QStringLiteral("high")).isDouble())
        l.high = o.value(QStringLiteral("high")).toDouble();
    if (o.contains(QStringLiteral("equals")))
        l.equals = o.value(QStringLiteral("equals"));
    if (o.value(QStringLiteral("matches")).isString())
        l.matches = o.value(QStringLiteral("matches")).toString();
    if (o.value(QStringLiteral("mask")).isDouble())
        l.mask = o.value(QStringLiteral("mask")).toInteger();
    return l;
}

// What a measurement tells of the pack, by the measurement's name.
void LearnPack(station::PackIdentity& pack, const QString& name, const QJsonValue& value)
{
    if (value.isDouble() && name == QLatin1String("cell_count"))
        pack.cells = value.toInt();
    if (!value.isString())
        return;
    const QString text = value.toString();
    const std::pair<const char*, std::optional<QString> station::PackIdentity::*> texts[] = {
        {"uid", &station::PackIdentity::uid},
        {"uid_crc", &station::PackIdentity::uidCrc},
        {"serial_number", &station::PackIdentity::serialNumber},
        {"hw_version", &station::PackIdentity::hwVersion},
        {"sw_version", &station::PackIdentity::swBefore},
        {"sw_version_before", &station::PackIdentity::swBefore},
        {"sw_version_after", &station::PackIdentity::swAfter},
    };
    for (const auto& [key, field] : texts)
        if (name == QLatin1String(key))
            pack.*field = text;
}

#ifdef BMS_TOOL_VERSION
const QString kToolVersion = QStringLiteral(BMS_TOOL_VERSION);
#else
const QString kToolVersion;
#endif

} // namespace

void RunTrail::begin(const RunnerSettings& s, const QString& barcode)
{
    record_ = {};
    current_ = -1;
    record_.stationId = s.stationId;
    record_.fixture = QString::number(s.fixture);
    record_.operatorName = s.operatorName;
    record_.toolVersion = kToolVersion;
    record_.port = s.port;
    record_.recipeFile = s.recipe.isEmpty() ? QString() : QFileInfo(s.recipe).absoluteFilePath();
    record_.product = s.product;
    record_.pack.barcode = barcode;
}

void RunTrail::event(const QJsonObject& e)
{
    const QString kind = EventText(e, "event");
    if (kind == QLatin1String("run_start")) {
        record_.runId = EventText(e, "run_id");
        record_.startedAt = QDateTime::currentDateTime();
        const QJsonObject recipe = e.value(QStringLiteral("recipe")).toObject();
        record_.recipeName = EventText(recipe, "name");
        record_.recipeVersion = EventText(recipe, "version");
        record_.recipeSha256 = EventText(recipe, "sha256");
        // As the run itself tells them.
        const auto take = [&](const char* key, QString& field) {
            if (const QJsonValue v = e.value(QLatin1String(key)); v.isString())
                field = v.toString();
        };
        take("station_id", record_.stationId);
        take("fixture", record_.fixture);
        take("operator", record_.operatorName);
        take("port", record_.port);
        record_.steps.clear();
        for (const QJsonValue& v : e.value(QStringLiteral("steps")).toArray()) {
            station::StepRecord step;
            step.index = int(record_.steps.size());
            step.name = EventText(v.toObject(), "name");
            step.kind = EventText(v.toObject(), "kind");
            record_.steps.push_back(step);
        }
        return;
    }
    const int index = e.value(QLatin1String(kind == QLatin1String("measurement") ? "step" : "index")).toInt(-1);
    if (index < 0 || index >= int(record_.steps.size()))
        return;
    station::StepRecord& step = record_.steps[size_t(index)];
    if (kind == QLatin1String("step_start")) {
        current_ = index;
        const int attempt = e.value(QStringLiteral("attempt")).toInt(1);
        if (attempt == 1)
            step.startedAt = QDateTime::currentDateTime();
        // A step tried again keeps its last attempt's measurements.
        step.retries = attempt - 1;
        std::erase_if(record_.measurements, [&](const station::MeasurementRecord& m) { return m.step == index; });
    } else if (kind == QLatin1String("measurement")) {
        const QJsonValue value = e.value(QStringLiteral("value"));
        station::Limits limits = LimitsOf(e.value(QStringLiteral("limits")).toObject());
        limits.unit = EventText(e, "unit");
        record_.measurements.push_back({index, EventText(e, "name"), value.isUndefined() ? QJsonValue() : value, limits.unit,
                                        limits, EventText(e, "outcome")});
        LearnPack(record_.pack, EventText(e, "name"), value);
    } else if (kind == QLatin1String("step_end")) {
        step.outcome = EventText(e, "outcome");
        step.reason = EventText(e, "reason");
        step.retries = e.value(QStringLiteral("retries")).toInt(step.retries);
        step.packSeconds = e.value(QStringLiteral("pack_s")).toDouble();
        step.endedAt = QDateTime::currentDateTime();
        if (!step.startedAt.isValid())
            step.startedAt = step.endedAt;
        if (current_ == index)
            current_ = -1;
    }
}

QJsonObject RunTrail::lostRecord(const QString& reason) const
{
    station::RunRecord r = record_;
    r.endedAt = QDateTime::currentDateTime();
    if (!r.startedAt.isValid())
        r.startedAt = r.endedAt;
    r.outcome = station::outcome::Error;
    r.failureCode = QStringLiteral("run.error");
    r.failureReason = reason;
    if (current_ >= 0) {
        station::StepRecord& step = r.steps[size_t(current_)];
        step.outcome = station::outcome::Error;
        step.reason = reason;
        step.endedAt = r.endedAt;
    }
    return r.toJson();
}

} // namespace bms::stationtab
