// The statements of the line-quality figures (Quality.h): one text for both
// dialects but for the few expressions each says its own way.
#pragma once

#include <QString>
#include <QStringList>

namespace bms::records {

class Database;

namespace quality_sql {

// Seconds since 1970-01-01T00:00 on the station's clock at a run's start.
QString LocalSeconds(const Database& db);
// A numeric limit ("low", "high") of a measurement's limits, or NULL.
QString Limit(const Database& db, const char* name);
// `where` (" WHERE ..." or empty) with `term` added.
QString And(const QString& where, const QString& term);

// Counts per group `group` (an SQL expression over runs r): runs, PASS,
// FAIL, ERROR, ABORTED, first runs, first PASS, last runs, last PASS.
// `until` adds a bound placeholder after the filter's values.
QString Yields(const QString& group, const QString& where, bool until);

// (outcome, failure_code, count) of the runs that did not pass.
QString Pareto(const QString& where);

// The readings with limits of the runs in `where` (runs r, measurements m,
// steps s): k, lim, unit, lo, hi, st, fx, x, t, o, id.
QString Readings(const Database& db, const QString& where);
// The temporary table of readings (the columns of Readings()): its name,
// the statements that make it (the last one takes the filter's values).
inline QLatin1String KeptReadings() { return QLatin1String("quality_readings"); }
QStringList MakeKeptReadings(const Database& db, const QString& where);
// The temporary table of the kept readings' charts (the columns of
// Capabilities() per chart): its name and the statements that make it
// (with an index of the readings in chart order).
inline QLatin1String KeptCharts() { return QLatin1String("quality_charts"); }
QStringList MakeKeptCharts();
// The statements that drop both tables.
QStringList DropKeptReadings();

// Per (k, lim[, st, fx]): k, lim, unit, lo, hi, st, fx, n, mean, the sum
// of d and of d² (d: a reading less the middle of its limits), MR-bar, min,
// max, readings outside.
QString Capabilities(const QString& readings, bool perChart);

// (bin, count) of the readings: bin = floor((x - ?) / ?), then the
// reading's key = ? among the filter's.
QString Histogram(const Database& db, const QString& readings);

// The points of the charts (k, lim, st, fx) with their rule bits: k, lim,
// st, fx, i, n, t, o, id, x, mr, centre, MR-bar, rules, and the start of
// the rows of 3, 5 and 8 points that end at the point.
// `pointsWhere` chooses the rows returned (after the rules are computed).
QString ChartPoints(const QString& readings, const QString& pointsWhere);
// The same with each chart's n, centre (mu) and MR-bar (mrbar) from
// `charts` (the columns of Capabilities() per chart).
QString KeptChartPoints(const QString& readings, const QString& charts, const QString& pointsWhere);

} // namespace quality_sql
} // namespace bms::records
