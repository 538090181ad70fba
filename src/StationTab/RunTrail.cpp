#include "RunTrail.h"

#include "FixtureRunner.h"

#include <QFileInfo>

#include <algorithm>

namespace bms::stationtab {

namespace {

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

void RunTrail::event(const station::RunEvent& e)
{
    std::visit([this](const auto& event) { take(event); }, e);
}

station::StepRecord* RunTrail::step(int index)
{
    return index >= 0 && index < int(record_.steps.size()) ? &record_.steps[size_t(index)] : nullptr;
}

void RunTrail::take(const station::RunStartEvent& e)
{
    record_.runId = e.runId;
    record_.startedAt = QDateTime::currentDateTime();
    record_.recipeName = e.recipeName;
    record_.recipeVersion = e.recipeVersion;
    record_.recipeSha256 = e.recipeSha256;
    // As the run itself tells them.
    for (auto [told, field] : {std::pair{&e.stationId, &record_.stationId}, {&e.fixture, &record_.fixture},
                               {&e.operatorName, &record_.operatorName}, {&e.port, &record_.port}})
        if (!told->isEmpty())
            *field = *told;
    record_.steps.clear();
    for (const station::StepHeader& header : e.steps) {
        station::StepRecord s;
        s.index = int(record_.steps.size());
        s.name = header.name;
        s.kind = header.kind;
        record_.steps.push_back(s);
    }
}

void RunTrail::take(const station::StepStartEvent& e)
{
    station::StepRecord* s = step(e.index);
    if (!s)
        return;
    current_ = e.index;
    if (e.attempt == 1)
        s->startedAt = QDateTime::currentDateTime();
    // A step tried again keeps its last attempt's measurements.
    s->retries = e.attempt - 1;
    std::erase_if(record_.measurements, [&](const station::MeasurementRecord& m) { return m.step == e.index; });
}

void RunTrail::take(const station::MeasurementEvent& e)
{
    if (!step(e.measurement.step))
        return;
    record_.measurements.push_back(e.measurement);
    LearnPack(record_.pack, e.measurement.name, e.measurement.value);
}

void RunTrail::take(const station::StepEndEvent& e)
{
    station::StepRecord* s = step(e.index);
    if (!s)
        return;
    s->outcome = e.outcome;
    s->reason = e.reason;
    s->retries = e.retries;
    s->packSeconds = e.packS;
    s->endedAt = QDateTime::currentDateTime();
    if (!s->startedAt.isValid())
        s->startedAt = s->endedAt;
    if (current_ == e.index)
        current_ = -1;
}

QJsonObject RunTrail::lostRecord(const QString& reason) const
{
    station::RunRecord r = record_;
    r.endedAt = QDateTime::currentDateTime();
    if (!r.startedAt.isValid())
        r.startedAt = r.endedAt;
    r.outcome = station::Outcome::Error;
    r.failureCode = QStringLiteral("run.error");
    r.failureReason = reason;
    if (current_ >= 0) {
        station::StepRecord& step = r.steps[size_t(current_)];
        step.outcome = station::Outcome::Error;
        step.reason = reason;
        step.endedAt = r.endedAt;
    }
    return r.toJson();
}

} // namespace bms::stationtab
