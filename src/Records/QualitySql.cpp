#include "QualitySql.h"

#include "Database.h"

namespace bms::records::quality_sql {

namespace {

// A chart's points: one measurement under one set of limits at one station
// and fixture, in run order.
const char kChart[] = "PARTITION BY k, lim, st, fx";
const char kChartOrder[] = "PARTITION BY k, lim, st, fx ORDER BY t, id";

} // namespace

QString LocalSeconds(const Database& db)
{
    if (db.dialect() == Dialect::SQLite)
        return QStringLiteral("(r.started / 1000 + COALESCE(r.utc_offset_s, 0))");
    return QStringLiteral("(CAST(FLOOR(EXTRACT(EPOCH FROM r.started)) AS BIGINT) + COALESCE(r.utc_offset_s, 0))");
}

QString Limit(const Database& db, const char* name)
{
    if (db.dialect() == Dialect::SQLite)
        return QStringLiteral("json_extract(m.limits, '$.%1')").arg(QLatin1String(name));
    return QStringLiteral("CAST(CAST(m.limits AS jsonb) ->> '%1' AS DOUBLE PRECISION)").arg(QLatin1String(name));
}

QString And(const QString& where, const QString& term)
{
    return (where.isEmpty() ? QStringLiteral(" WHERE ") : where + QStringLiteral(" AND ")) + term;
}

QString Yields(const QString& group, const QString& where, bool until)
{
    // A PASS or FAIL run is its pack's first (last) run when no other PASS
    // or FAIL run of the pack at the station comes before (after) it in run
    // order; the last run looks no further than the end of the period.
    const QString other = QStringLiteral(
        "r.outcome IN ('PASS', 'FAIL') AND (r.barcode IS NULL OR NOT EXISTS (SELECT 1 FROM runs p"
        " WHERE p.station_id = r.station_id AND p.barcode = r.barcode AND p.outcome IN ('PASS', 'FAIL')"
        " AND (p.started %1 r.started OR (p.started = r.started AND p.run_id %1 r.run_id))%2))");
    return QStringLiteral(
               "SELECT g, COUNT(*),"
               " SUM(CASE WHEN outcome = 'PASS' THEN 1 ELSE 0 END), SUM(CASE WHEN outcome = 'FAIL' THEN 1 ELSE 0 END),"
               " SUM(CASE WHEN outcome = 'ERROR' THEN 1 ELSE 0 END), SUM(CASE WHEN outcome = 'ABORTED' THEN 1 ELSE 0 END),"
               " SUM(first_run), SUM(CASE WHEN first_run = 1 AND outcome = 'PASS' THEN 1 ELSE 0 END),"
               " SUM(last_run), SUM(CASE WHEN last_run = 1 AND outcome = 'PASS' THEN 1 ELSE 0 END)"
               " FROM (SELECT %1 AS g, r.outcome,"
               "  CASE WHEN %2 THEN 1 ELSE 0 END AS first_run,"
               "  CASE WHEN %3 THEN 1 ELSE 0 END AS last_run"
               " FROM runs r%4) t GROUP BY g ORDER BY g")
        .arg(group, other.arg(QLatin1String("<"), QString()),
             other.arg(QLatin1String(">"), until ? QStringLiteral(" AND p.started < ?") : QString()), where);
}

QString Pareto(const QString& where)
{
    return QStringLiteral("SELECT r.outcome, COALESCE(r.failure_code, ''), COUNT(*) FROM runs r%1"
                          " GROUP BY r.outcome, r.failure_code")
        .arg(And(where, QStringLiteral("r.outcome <> 'PASS'")));
}

QString Readings(const Database& db, const QString& where)
{
    const QString lo = Limit(db, "low"), hi = Limit(db, "high");
    return QStringLiteral("SELECT s.name || '.' || m.name AS k, m.limits AS lim, COALESCE(m.unit, '') AS unit,"
                          " %1 AS lo, %2 AS hi, r.station_id AS st, COALESCE(r.fixture, '') AS fx,"
                          " m.value_num AS x, r.started AS t, COALESCE(r.utc_offset_s, 0) AS o, r.run_id AS id"
                          " FROM runs r JOIN measurements m ON m.run_id = r.run_id"
                          " JOIN steps s ON s.run_id = r.run_id AND s.step_index = m.step%3")
        .arg(lo, hi,
             And(where, QStringLiteral("m.value_num IS NOT NULL AND m.limits IS NOT NULL AND s.name IS NOT NULL"
                                       " AND (%1 IS NOT NULL OR %2 IS NOT NULL)")
                            .arg(lo, hi)));
}

QStringList MakeKeptReadings(const Database& db, const QString& where)
{
    const bool lite = db.dialect() == Dialect::SQLite;
    // SQLite's columns without a type keep each value as the join gave it.
    const QString number = lite ? QString() : QStringLiteral(" DOUBLE PRECISION");
    const QString text = lite ? QString() : QStringLiteral(" TEXT");
    return DropKeptReadings()
        + QStringList{
            QStringLiteral("CREATE TEMPORARY TABLE %1 (k%2, lim%2, unit%2, lo%3, hi%3, st%2, fx%2, x%3, t%4, o%5, id%2)")
                .arg(KeptReadings(), text, number, lite ? QString() : QStringLiteral(" TIMESTAMPTZ"),
                     lite ? QString() : QStringLiteral(" INTEGER")),
            QStringLiteral("INSERT INTO %1 %2").arg(KeptReadings(), Readings(db, where))};
}

QStringList MakeKeptCharts()
{
    // The first index holds every column in chart and run order: the
    // per-chart window functions read it in its order instead of sorting
    // all the readings each. The second lets each reading find its chart.
    const QString charts = KeptCharts();
    return {QStringLiteral("CREATE INDEX %1_chart ON %1 (k, lim, st, fx, t, id, x, o, unit, lo, hi)")
                .arg(KeptReadings()),
            QStringLiteral("CREATE TEMPORARY TABLE %1 AS %2")
                .arg(charts, Capabilities(QStringLiteral("SELECT * FROM %1").arg(KeptReadings()), true)),
            QStringLiteral("CREATE INDEX %1_chart ON %1 (k, lim, st, fx)").arg(charts)};
}

QStringList DropKeptReadings()
{
    return {QStringLiteral("DROP TABLE IF EXISTS %1").arg(KeptCharts()),
            QStringLiteral("DROP TABLE IF EXISTS %1").arg(KeptReadings())};
}

QString Capabilities(const QString& readings, bool perChart)
{
    // The overall sigma from sums of the readings' distances d to the middle
    // of their limits (close to the mean, so the sums lose no precision):
    // one sort for the moving ranges, none for a mean per row.
    const QString by = perChart ? QStringLiteral(", st, fx") : QString();
    return QStringLiteral("WITH v AS (%1),"
                          " a AS (SELECT k, lim, unit, lo, hi, st, fx, x, x - COALESCE((lo + hi) / 2, lo, hi) AS d,"
                          "  ABS(x - LAG(x) OVER (PARTITION BY k, lim%2 ORDER BY t, id)) AS mr FROM v)"
                          " SELECT k, lim, MIN(unit) AS unit, MIN(lo) AS lo, MIN(hi) AS hi, %3, COUNT(*) AS n, AVG(x) AS mu,"
                          "  SUM(d) AS sd, SUM(d * d) AS sdd, AVG(mr) AS mrbar, MIN(x) AS mn, MAX(x) AS mx,"
                          "  SUM(CASE WHEN x < lo OR x > hi THEN 1 ELSE 0 END) AS outside"
                          " FROM a GROUP BY k, lim%2 ORDER BY k, lim%2")
        .arg(readings, by, perChart ? QStringLiteral("st, fx") : QStringLiteral("'' AS st, '' AS fx"));
}

QString Histogram(const Database& db, const QString& readings)
{
    // PostgreSQL rounds a number cast to an integer; SQLite truncates it
    // (the same as the floor for the readings at or above the low end).
    const QString bin = db.dialect() == Dialect::SQLite ? QStringLiteral("CAST((x - ?) / ? AS INTEGER)")
                                                        : QStringLiteral("CAST(FLOOR((x - ?) / ?) AS INTEGER)");
    return QStringLiteral("SELECT b, COUNT(*) FROM (SELECT %1 AS b FROM (%2) v) h GROUP BY b ORDER BY b").arg(bin, readings);
}

namespace {

// The sums over the rows of 3, 5 and 8 points that end at each point of a
// chart, of its points' z (the distance from the centre in within sigmas),
// and the start of those rows.
QString RowWindows()
{
    return QStringLiteral(
               "  SUM(CASE WHEN z > 2 THEN 1 ELSE 0 END) OVER (%1 ROWS 2 PRECEDING) AS a2,"
               "  SUM(CASE WHEN z < -2 THEN 1 ELSE 0 END) OVER (%1 ROWS 2 PRECEDING) AS b2,"
               "  SUM(CASE WHEN z > 1 THEN 1 ELSE 0 END) OVER (%1 ROWS 4 PRECEDING) AS a1,"
               "  SUM(CASE WHEN z < -1 THEN 1 ELSE 0 END) OVER (%1 ROWS 4 PRECEDING) AS b1,"
               "  SUM(CASE WHEN z > 0 THEN 1 ELSE 0 END) OVER (%1 ROWS 7 PRECEDING) AS a0,"
               "  SUM(CASE WHEN z < 0 THEN 1 ELSE 0 END) OVER (%1 ROWS 7 PRECEDING) AS b0,"
               "  LAG(t, 2) OVER (%1) AS t2, LAG(t, 4) OVER (%1) AS t4, LAG(t, 7) OVER (%1) AS t7")
        .arg(QLatin1String(kChartOrder));
}

// The rule bits of the points of d (the columns of RowWindows() with the
// point's i, n, z and the chart's mu and mrbar), then the points chosen.
QString RuleBits(const QString& pointsWhere)
{
    return QStringLiteral(
               " e AS (SELECT k, lim, st, fx, i, n, t, o, id, x, mr, mu, mrbar, t2, t4, t7,"
               "  CASE WHEN z > 3 THEN 1 ELSE 0 END + CASE WHEN z < -3 THEN 2 ELSE 0 END"
               "  + CASE WHEN i >= 3 AND a2 >= 2 THEN 4 ELSE 0 END + CASE WHEN i >= 3 AND b2 >= 2 THEN 8 ELSE 0 END"
               "  + CASE WHEN i >= 5 AND a1 >= 4 THEN 16 ELSE 0 END + CASE WHEN i >= 5 AND b1 >= 4 THEN 32 ELSE 0 END"
               "  + CASE WHEN i >= 8 AND a0 = 8 THEN 64 ELSE 0 END + CASE WHEN i >= 8 AND b0 = 8 THEN 128 ELSE 0 END"
               "  AS rules FROM d)"
               " SELECT k, lim, st, fx, i, n, t, o, id, x, mr, mu, mrbar, rules, t2, t4, t7 FROM e%1 ORDER BY k, lim, st, fx, i")
        .arg(pointsWhere);
}

const char kZ[] = "CASE WHEN mrbar > 0 THEN (x - mu) / (mrbar / 1.128) END";

} // namespace

QString ChartPoints(const QString& readings, const QString& pointsWhere)
{
    const QString chart = QLatin1String(kChart), order = QLatin1String(kChartOrder);
    // z: the reading's distance from the centre in within sigmas
    // (MR-bar / 1.128); a row of N points is the point and the N - 1 before.
    return QStringLiteral(
               "WITH v AS (%1),"
               " a AS (SELECT v.*, AVG(x) OVER (%2) AS mu, ABS(x - LAG(x) OVER (%3)) AS mr,"
               "  ROW_NUMBER() OVER (%3) AS i, COUNT(*) OVER (%2) AS n FROM v),"
               " b AS (SELECT a.*, AVG(mr) OVER (%2) AS mrbar FROM a),"
               " c AS (SELECT b.*, %4 AS z FROM b),"
               " d AS (SELECT c.*,%5 FROM c),%6")
        .arg(readings, chart, order, QLatin1String(kZ), RowWindows(), RuleBits(pointsWhere));
}

QString KeptChartPoints(const QString& readings, const QString& charts, const QString& pointsWhere)
{
    // The charts' centre, MR-bar and size come from their figures: the
    // points are put in run order once, for the moving ranges and the rows.
    const QString order = QLatin1String(kChartOrder);
    return QStringLiteral(
               "WITH c AS (SELECT v.*, g.mu, g.mrbar, g.n, %1 AS z FROM (%2) v JOIN (%3) g"
               "  ON g.k = v.k AND g.lim = v.lim AND g.st = v.st AND g.fx = v.fx),"
               " d AS (SELECT c.*, ROW_NUMBER() OVER (%4) AS i, ABS(x - LAG(x) OVER (%4)) AS mr,%5 FROM c),%6")
        .arg(QLatin1String(kZ), readings, charts, order, RowWindows(), RuleBits(pointsWhere));
}

} // namespace bms::records::quality_sql
