// Line quality over a records database (the PC's or the line's): yields,
// the failure Pareto, the capability of each measurement and its control
// chart with the run rules, as docs/quality.md defines them. Every figure is
// computed by the database (aggregates and window functions, one statement
// text for both dialects); only the summed-up rows come back.
#pragma once

#include "Queries.h"

#include <QString>
#include <optional>
#include <vector>

namespace bms::records {

class Database;

enum class YieldBy { Total, Hour, Day, Shift, Station, Fixture, Operator };

// One group of runs. First runs, last runs and the station losses as
// docs/quality.md ("Yield") defines them.
struct YieldRow {
    QString group;
    // The start of the group's hour, day or shift in the stations' local
    // time, as seconds since 1970-01-01T00:00 of that clock (time groups).
    qint64 localStartS = 0;
    qint64 runs = 0, pass = 0, fail = 0, error = 0, aborted = 0;
    qint64 firstRuns = 0, firstPass = 0, lastRuns = 0, lastPass = 0;
    std::optional<double> firstPassYield() const; // per cent; none without first runs
    std::optional<double> finalYield() const;     // per cent; none without last runs
    std::optional<double> lossRate() const;       // per cent of the runs
};

// One row per group, ordered by group.
std::optional<std::vector<YieldRow>> Yields(Database& db, const RunFilter& filter, YieldBy by, QString& error);
QString YieldByName(YieldBy by);

struct ParetoRow {
    QString code;
    qint64 count = 0;
    double share = 0, cumulative = 0; // per cent of the list's runs
};
struct Pareto {
    std::vector<ParetoRow> failures; // FAIL runs by failure code, largest first
    std::vector<ParetoRow> losses;   // ERROR and ABORTED runs by code
    qint64 failRuns = 0, lossRuns = 0;
};
std::optional<Pareto> FailurePareto(Database& db, const RunFilter& filter, QString& error);

// A measurement's name: "<step>.<measurement>".
struct Capability {
    QString key, unit, limits, stationId, fixture; // station, fixture: set per chart
    std::optional<double> low, high;
    qint64 n = 0, outside = 0;
    double mean = 0, min = 0, max = 0;
    std::optional<double> sigmaOverall, sigmaWithin, mrBar;
    std::optional<double> cp, cpk, pp, ppk;
    double outsidePercent() const { return n ? 100.0 * double(outside) / double(n) : 0.0; }
};

// Each measurement with limits (or only `key`), per set of limits; with
// `perChart` one row per station and fixture too (the figures of each
// control chart, in its own run order).
std::optional<std::vector<Capability>> Capabilities(Database& db, const RunFilter& filter, const QString& key,
                                                    bool perChart, QString& error);

// The readings with limits of a filter's runs in a temporary table on the
// connection, joined and their limits read once for all the figures that
// go over every reading; the table goes when this does.
class KeptReadings {
public:
    explicit KeptReadings(Database& db) : db_(db) {}
    ~KeptReadings();
    KeptReadings(const KeptReadings&) = delete;
    KeptReadings& operator=(const KeptReadings&) = delete;
    bool make(const RunFilter& filter, QString& error);
    Database& db() const { return db_; }

private:
    Database& db_;
    bool made_ = false;
};
std::optional<std::vector<Capability>> Capabilities(const KeptReadings& readings, bool perChart, QString& error);

// Counts of `key`'s readings in `bins` bins of `width` from `low` (a
// reading on a bin's upper edge is the next bin's; the last bin takes the
// rest), for a histogram.
std::optional<std::vector<qint64>> Histogram(Database& db, const RunFilter& filter, const QString& key, double low,
                                             double width, int bins, QString& error);

// The rules a point completes, one bit each: rule N above the centre
// (RuleBit(N, +1)) or below it (RuleBit(N, -1)).
constexpr int RuleBit(int rule, int side) { return 1 << ((rule - 1) * 2 + (side > 0 ? 0 : 1)); }
constexpr int kRuleCount = 4;

struct ChartPoint {
    QString runId;
    qint64 startedMs = 0;
    int utcOffsetS = 0;
    qint64 index = 0; // 1 for the chart's first reading
    double x = 0;
    std::optional<double> mr;
    int rules = 0;
};

// An I-MR chart of one measurement at one station and fixture.
struct ControlChart {
    QString key, limits, stationId, fixture;
    qint64 n = 0;
    double centre = 0;
    std::optional<double> sigmaWithin, mrBar;
    std::vector<ChartPoint> points; // the newest maxPoints readings
};
std::optional<std::vector<ControlChart>> ControlCharts(Database& db, const RunFilter& filter, const QString& key,
                                                       int maxPoints, QString& error);

// A rule that flagged points of a chart: the latest stretch of points it
// flagged one after another, from the start of the stretch's first row.
struct RuleAlert {
    QString key, limits, stationId, fixture;
    int rule = 0, side = 0; // side: +1 above the centre, -1 below
    qint64 flagged = 0;     // points the rule flagged in the chart
    qint64 sinceMs = 0, lastMs = 0;
    int utcOffsetS = 0;
    bool current = false; // the stretch reaches the chart's newest point
};
std::optional<std::vector<RuleAlert>> RuleAlerts(Database& db, const RunFilter& filter, QString& error);
std::optional<std::vector<RuleAlert>> RuleAlerts(const KeptReadings& readings, QString& error);

// "8 in a row above the centre", and the like.
QString RuleText(int rule, int side);

} // namespace bms::records
