// Every line-quality figure of a period at once (docs/quality.md), as
// `station quality`, its HTML report and their JSON give them.
#pragma once

#include "Quality.h"

#include <QJsonObject>
#include <map>

namespace bms::records {

struct QualityFigures {
    RunFilter filter;
    std::map<YieldBy, std::vector<YieldRow>> yields; // total, day, shift, station, fixture, operator
    Pareto pareto;
    std::vector<Capability> capability; // per measurement and limits
    std::vector<Capability> charts;     // per measurement, limits, station and fixture
    std::vector<RuleAlert> alerts;
};

std::optional<QualityFigures> CollectQuality(Database& db, const RunFilter& filter, QString& error);

// The figures as one JSON object (`station quality --json`).
QJsonObject QualityJson(const QualityFigures& figures);

// A run's time on its station's clock: "10:42" on the day `todayLocalS`
// (a time in the same seconds-since-1970 of that clock), else
// "2026-12-09 10:42".
QString StationTime(qint64 ms, int utcOffsetS, qint64 todayLocalS);
// "fixture 3, calibrate_current.error_before: 8 in a row above the centre since 10:42"
QString AlertText(const RuleAlert& alert, qint64 nowMs);

// Control limits of an I-MR chart: the centre ± 3 within sigmas, and the
// moving range's upper limit D4 · MR-bar.
constexpr double kMrUpperFactor = 3.267;

} // namespace bms::records
