#include "QualityData.h"

#include <algorithm>
#include <cmath>

namespace bms::stationtab {

using namespace bms::records;

YieldBy TimeGroupOf(const RunFilter& filter, qint64 nowMs)
{
    const qint64 since = filter.sinceMs.value_or(0), until = filter.untilMs.value_or(nowMs);
    return until - since <= 2 * 86400000LL ? YieldBy::Hour : YieldBy::Day;
}

QualityOverview LoadOverview(Database& db, const RunFilter& filter, qint64 nowMs)
{
    QualityOverview o;
    o.timeBy = TimeGroupOf(filter, nowMs);
    QString& error = o.error;
    auto total = Yields(db, filter, YieldBy::Total, error);
    auto overTime = total ? Yields(db, filter, o.timeBy, error) : std::nullopt;
    auto fixtures = overTime ? Yields(db, filter, YieldBy::Fixture, error) : std::nullopt;
    auto pareto = fixtures ? FailurePareto(db, filter, error) : std::nullopt;
    auto capability = pareto ? Capabilities(db, filter, {}, false, error) : std::nullopt;
    auto perChart = capability ? Capabilities(db, filter, {}, true, error) : std::nullopt;
    if (!perChart)
        return o;
    o.total = std::move(*total);
    o.overTime = std::move(*overTime);
    o.fixtures = std::move(*fixtures);
    o.pareto = std::move(*pareto);
    o.capability = std::move(*capability);
    o.perChart = std::move(*perChart);
    return o;
}

MeasurementDetail LoadMeasurement(Database& db, const RunFilter& filter, const QString& key, int bins, int chartPoints)
{
    MeasurementDetail d;
    d.key = key;
    auto capability = Capabilities(db, filter, key, false, d.error);
    if (!capability || capability->empty())
        return d;
    d.capability = capability->front();
    // The histogram spans the readings and the limits.
    double low = d.capability.min, high = d.capability.max;
    for (const auto& limit : {d.capability.low, d.capability.high})
        if (limit) {
            low = std::min(low, *limit);
            high = std::max(high, *limit);
        }
    d.binLow = low;
    d.binWidth = high > low ? (high - low) / bins : 1.0;
    auto counts = Histogram(db, filter, key, d.binLow, d.binWidth, bins, d.error);
    auto charts = counts ? ControlCharts(db, filter, key, chartPoints, d.error) : std::nullopt;
    if (!charts)
        return d;
    d.bins = std::move(*counts);
    d.charts = std::move(*charts);
    return d;
}

bool YieldStandsOut(const YieldRow& fixture, const YieldRow& line)
{
    const auto f = fixture.firstPassYield(), l = line.firstPassYield();
    if (!f || !l || fixture.firstRuns == 0)
        return false;
    const double p = *l / 100;
    const double se = std::sqrt(p * (1 - p) / double(fixture.firstRuns));
    return (*l - *f) / 100 > 3 * std::max(se, 1e-9);
}

bool MeanStandsOut(const Capability& fixture, double medianOfFixtures)
{
    if (!fixture.sigmaOverall || fixture.n < 2)
        return false;
    return std::abs(fixture.mean - medianOfFixtures) > 3 * *fixture.sigmaOverall / std::sqrt(double(fixture.n));
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace bms::stationtab
