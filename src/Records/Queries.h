// Searches and reports over a records database (the PC's or the line's):
// the runs of a pack, counts and first-pass yield, the pack's passport.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <map>
#include <optional>
#include <vector>

namespace bms::records {

class Database;

struct RunFilter {
    QString barcode, uid, serial, outcome, recipe, station, fixture, failureCode;
    QString anyId; // a barcode, UID or serial number (one search box)
    std::optional<qint64> sinceMs, untilMs; // start time in [since, until)
    int limit = 0;                          // 0: every run
};

// startedAt: ISO 8601 at the station's UTC offset.
struct RunSummary {
    QString runId, startedAt, stationId, fixture, operatorName, recipeName, recipeVersion, product;
    QString barcode, uid, serialNumber, outcome, failureCode;
    QVariant durationS;
};

// " WHERE ..." of a filter over `runs` (alias r), empty for none, and the
// values it binds in order (its limit aside).
QString FilterWhere(const Database& db, const RunFilter& filter, QVariantList& values);

// The runs that match, newest first.
std::optional<std::vector<RunSummary>> History(Database& db, const RunFilter& filter, QString& error);

// Day: the date of a run's start in its station's local time (its start at
// the UTC offset kept beside it).
enum class StatsGroup { None, Day, Recipe, Station };

// Counts of one group. Only PASS and FAIL runs test the pack: ERROR and
// ABORTED runs are losses of the station, counted on their own and never a
// pack's attempt. A PASS or FAIL run is a first attempt when no earlier PASS
// or FAIL run of its barcode exists at its station (a run without a barcode
// always is); the first-pass yield is the share of first attempts that
// passed; the other PASS and FAIL runs are retests. Failures count FAIL and
// ERROR runs by failure code.
struct StatsRow {
    QString group;
    qint64 runs = 0, pass = 0, fail = 0, error = 0, aborted = 0;
    qint64 firstAttempts = 0, firstPass = 0, retests = 0;
    std::map<QString, qint64> failures;
    // First-pass yield in per cent; nothing without first attempts.
    std::optional<double> firstPassYield() const;
};

// One row per group (ordered by group), then the total (group "total").
std::optional<std::vector<StatsRow>> Stats(Database& db, const RunFilter& filter, StatsGroup by, QString& error);

// What a battery passport asks of the pack with `barcode`: identifier, model,
// date of manufacture (the day of its first PASS), rated capacity, SOH,
// cycle count, firmware, last test result (of the last run that tested the
// pack: a run that ended at its scan because the barcode had passed there
// already did not). An empty object when the barcode has no run.
std::optional<QJsonObject> Passport(Database& db, const QString& barcode, QString& error);

// A time for --since/--until: "2026-12-09", "2026-12-09T14:00[:ss]" (the
// local time of this PC unless an offset is given), "today", "yesterday", or
// "Nd"/"Nh" (N days/hours ago).
std::optional<qint64> ParseTimeArgument(const QString& text, qint64 nowMs);

} // namespace bms::records
