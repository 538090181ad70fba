#include "Quality.h"

#include "Database.h"
#include "QualitySql.h"

#include <QDateTime>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace bms::records {

namespace {

constexpr qint64 kHourS = 3600, kDayS = 86400, kShiftS = 8 * kHourS, kEarlyS = 6 * kHourS;

std::optional<double> Percent(qint64 part, qint64 whole)
{
    if (whole <= 0)
        return std::nullopt;
    return 100.0 * double(part) / double(whole);
}

std::optional<double> OptionalNumber(const QVariant& v)
{
    if (v.isNull())
        return std::nullopt;
    return v.toDouble();
}

QString LocalText(qint64 localS, const char* format)
{
    return QDateTime::fromSecsSinceEpoch(localS, Qt::UTC).toString(QLatin1String(format));
}

// The group of a run, as SQL, and its label from the value the database
// gives back.
QString GroupSql(const Database& db, YieldBy by)
{
    const QString local = quality_sql::LocalSeconds(db);
    switch (by) {
    case YieldBy::Hour:
        return QStringLiteral("(%1 / %2) * %2").arg(local).arg(kHourS);
    case YieldBy::Day:
        return QStringLiteral("(%1 / %2) * %2").arg(local).arg(kDayS);
    case YieldBy::Shift: // blocks of 8 hours from 06:00
        return QStringLiteral("((%1 - %2) / %3) * %3 + %2").arg(local).arg(kEarlyS).arg(kShiftS);
    case YieldBy::Station:
        return QStringLiteral("r.station_id");
    case YieldBy::Fixture:
        return QStringLiteral("COALESCE(r.fixture, '')");
    case YieldBy::Operator:
        return QStringLiteral("COALESCE(r.operator, '')");
    case YieldBy::Total:
        break;
    }
    return QStringLiteral("'total'");
}

QString GroupLabel(YieldBy by, const QVariant& value)
{
    const qint64 s = value.toLongLong();
    switch (by) {
    case YieldBy::Hour:
        return LocalText(s, "yyyy-MM-dd HH:00");
    case YieldBy::Day:
        return LocalText(s, "yyyy-MM-dd");
    case YieldBy::Shift: {
        static const char* const names[] = {" early", " late", " night"};
        return LocalText(s, "yyyy-MM-dd") + QLatin1String(names[((s - kEarlyS) / kShiftS) % 3]);
    }
    default:
        return value.toString();
    }
}

bool IsTimeGroup(YieldBy by)
{
    return by == YieldBy::Hour || by == YieldBy::Day || by == YieldBy::Shift;
}

std::optional<double> Index(std::optional<double> low, std::optional<double> high, double mean, std::optional<double> sigma,
                            bool centred)
{
    if (!sigma || *sigma <= 0)
        return std::nullopt;
    if (centred)
        return low && high ? std::optional<double>((*high - *low) / (6 * *sigma)) : std::nullopt;
    std::optional<double> k;
    if (high)
        k = (*high - mean) / (3 * *sigma);
    if (low)
        k = std::min(k.value_or(INFINITY), (mean - *low) / (3 * *sigma));
    return k;
}

} // namespace

std::optional<double> YieldRow::firstPassYield() const { return Percent(firstPass, firstRuns); }
std::optional<double> YieldRow::finalYield() const { return Percent(lastPass, lastRuns); }
std::optional<double> YieldRow::lossRate() const { return Percent(error + aborted, runs); }

QString YieldByName(YieldBy by)
{
    static const char* const names[] = {"total", "hour", "day", "shift", "station", "fixture", "operator"};
    return QLatin1String(names[int(by)]);
}

std::optional<std::vector<YieldRow>> Yields(Database& db, const RunFilter& filter, YieldBy by, QString& error)
{
    QVariantList values;
    if (filter.untilMs)
        values.append(db.time(*filter.untilMs));
    const QString where = FilterWhere(db, filter, values);
    QSqlQuery& q = db.prepared(quality_sql::Yields(GroupSql(db, by), where, filter.untilMs.has_value()));
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::vector<YieldRow> rows;
    while (q.next()) {
        YieldRow row;
        row.group = GroupLabel(by, q.value(0));
        if (IsTimeGroup(by))
            row.localStartS = q.value(0).toLongLong();
        qint64* counts[] = {&row.runs,      &row.pass,     &row.fail,     &row.error,   &row.aborted,
                            &row.firstRuns, &row.firstPass, &row.lastRuns, &row.lastPass};
        for (int i = 0; i < 9; ++i)
            *counts[i] = q.value(i + 1).toLongLong();
        rows.push_back(std::move(row));
    }
    q.finish();
    return rows;
}

std::optional<Pareto> FailurePareto(Database& db, const RunFilter& filter, QString& error)
{
    QVariantList values;
    QSqlQuery& q = db.prepared(quality_sql::Pareto(FilterWhere(db, filter, values)));
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::map<QString, qint64> failures, losses;
    Pareto pareto;
    while (q.next()) {
        const bool fail = q.value(0).toString() == QLatin1String("FAIL");
        const qint64 n = q.value(2).toLongLong();
        (fail ? failures : losses)[q.value(1).toString()] += n;
        (fail ? pareto.failRuns : pareto.lossRuns) += n;
    }
    q.finish();
    const auto fill = [](const std::map<QString, qint64>& counts, qint64 total, std::vector<ParetoRow>& rows) {
        for (const auto& [code, n] : counts)
            rows.push_back({code, n, 0, 0});
        std::stable_sort(rows.begin(), rows.end(), [](const ParetoRow& a, const ParetoRow& b) { return a.count > b.count; });
        qint64 sum = 0;
        for (ParetoRow& row : rows) {
            sum += row.count;
            row.share = 100.0 * double(row.count) / double(total);
            row.cumulative = 100.0 * double(sum) / double(total);
        }
    };
    fill(failures, pareto.failRuns, pareto.failures);
    fill(losses, pareto.lossRuns, pareto.losses);
    return pareto;
}

namespace {

std::vector<Capability> ReadCapabilities(QSqlQuery& q);

std::optional<std::vector<Capability>> CapabilitiesOf(Database& db, const QString& readings, const QVariantList& values,
                                                      bool perChart, QString& error)
{
    QSqlQuery& q = db.prepared(quality_sql::Capabilities(readings, perChart));
    if (!db.exec(q, values, error))
        return std::nullopt;
    return ReadCapabilities(q);
}

std::vector<Capability> ReadCapabilities(QSqlQuery& q)
{
    std::vector<Capability> rows;
    while (q.next()) {
        Capability c;
        c.key = q.value(0).toString();
        c.limits = q.value(1).toString();
        c.unit = q.value(2).toString();
        c.low = OptionalNumber(q.value(3));
        c.high = OptionalNumber(q.value(4));
        c.stationId = q.value(5).toString();
        c.fixture = q.value(6).toString();
        c.n = q.value(7).toLongLong();
        c.mean = q.value(8).toDouble();
        if (c.n >= 2) {
            const double sum = q.value(9).toDouble(), squares = q.value(10).toDouble();
            c.sigmaOverall = std::sqrt(std::max(0.0, squares - sum * sum / double(c.n)) / double(c.n - 1));
            c.mrBar = q.value(11).toDouble();
            c.sigmaWithin = *c.mrBar / 1.128;
        }
        c.min = q.value(12).toDouble();
        c.max = q.value(13).toDouble();
        c.outside = q.value(14).toLongLong();
        c.cp = Index(c.low, c.high, c.mean, c.sigmaWithin, true);
        c.cpk = Index(c.low, c.high, c.mean, c.sigmaWithin, false);
        c.pp = Index(c.low, c.high, c.mean, c.sigmaOverall, true);
        c.ppk = Index(c.low, c.high, c.mean, c.sigmaOverall, false);
        rows.push_back(std::move(c));
    }
    q.finish();
    return rows;
}

const char kAlertPoints[] = " WHERE rules > 0";

QString KeptReadingsSql()
{
    return QStringLiteral("SELECT * FROM %1").arg(quality_sql::KeptReadings());
}

} // namespace

KeptReadings::~KeptReadings()
{
    QString error;
    if (made_)
        for (const QString& drop : quality_sql::DropKeptReadings())
            db_.exec(drop, error);
}

bool KeptReadings::make(const RunFilter& filter, QString& error)
{
    QVariantList values;
    const QStringList statements = quality_sql::MakeKeptReadings(db_, FilterWhere(db_, filter, values));
    made_ = true;
    for (int i = 0; i + 1 < statements.size(); ++i)
        if (!db_.exec(statements[i], error))
            return false;
    QSqlQuery& q = db_.prepared(statements.back());
    const bool ok = db_.exec(q, values, error);
    q.finish();
    if (!ok)
        return false;
    for (const QString& statement : quality_sql::MakeKeptCharts())
        if (!db_.exec(statement, error))
            return false;
    return true;
}

std::optional<std::vector<Capability>> Capabilities(Database& db, const RunFilter& filter, const QString& key,
                                                    bool perChart, QString& error)
{
    QVariantList values;
    QString where = FilterWhere(db, filter, values);
    if (!key.isEmpty()) {
        where = quality_sql::And(where, QStringLiteral("s.name || '.' || m.name = ?"));
        values.append(key);
    }
    return CapabilitiesOf(db, quality_sql::Readings(db, where), values, perChart, error);
}

std::optional<std::vector<Capability>> Capabilities(const KeptReadings& readings, bool perChart, QString& error)
{
    if (!perChart)
        return CapabilitiesOf(readings.db(), KeptReadingsSql(), {}, false, error);
    QSqlQuery& q = readings.db().prepared(
        QStringLiteral("SELECT * FROM %1 ORDER BY k, lim, st, fx").arg(quality_sql::KeptCharts()));
    if (!readings.db().exec(q, error))
        return std::nullopt;
    return ReadCapabilities(q);
}

std::optional<std::vector<qint64>> Histogram(Database& db, const RunFilter& filter, const QString& key, double low,
                                             double width, int bins, QString& error)
{
    QVariantList values{low, width};
    QString where = FilterWhere(db, filter, values);
    where = quality_sql::And(where, QStringLiteral("s.name || '.' || m.name = ?"));
    values.append(key);
    QSqlQuery& q = db.prepared(quality_sql::Histogram(db, quality_sql::Readings(db, where)));
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::vector<qint64> counts(size_t(std::max(bins, 1)), 0);
    while (q.next())
        counts[size_t(std::clamp<qint64>(q.value(0).toLongLong(), 0, qint64(counts.size()) - 1))] += q.value(1).toLongLong();
    q.finish();
    return counts;
}

std::optional<std::vector<ControlChart>> ControlCharts(Database& db, const RunFilter& filter, const QString& key,
                                                       int maxPoints, QString& error)
{
    QVariantList values;
    QString where = FilterWhere(db, filter, values);
    where = quality_sql::And(where, QStringLiteral("s.name || '.' || m.name = ?"));
    values.append(key);
    QSqlQuery& q = db.prepared(
        quality_sql::ChartPoints(quality_sql::Readings(db, where), QStringLiteral(" WHERE i > n - %1").arg(std::max(1, maxPoints))));
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::vector<ControlChart> charts;
    while (q.next()) {
        const QString lim = q.value(1).toString(), st = q.value(2).toString(), fx = q.value(3).toString();
        if (charts.empty() || charts.back().limits != lim || charts.back().stationId != st || charts.back().fixture != fx) {
            ControlChart c;
            c.key = q.value(0).toString();
            c.limits = lim;
            c.stationId = st;
            c.fixture = fx;
            c.n = q.value(5).toLongLong();
            c.centre = q.value(11).toDouble();
            c.mrBar = OptionalNumber(q.value(12));
            if (c.mrBar)
                c.sigmaWithin = *c.mrBar / 1.128;
            charts.push_back(std::move(c));
        }
        ChartPoint p;
        p.index = q.value(4).toLongLong();
        p.startedMs = Database::msOf(q.value(6));
        p.utcOffsetS = q.value(7).toInt();
        p.runId = q.value(8).toString();
        p.x = q.value(9).toDouble();
        p.mr = OptionalNumber(q.value(10));
        p.rules = q.value(13).toInt();
        charts.back().points.push_back(std::move(p));
    }
    q.finish();
    return charts;
}

namespace {

std::optional<std::vector<RuleAlert>> RuleAlertsOf(Database& db, const QString& points, const QVariantList& values,
                                                   QString& error)
{
    QSqlQuery& q = db.prepared(points);
    if (!db.exec(q, values, error))
        return std::nullopt;
    // Per chart and rule bit, the latest stretch of points it flagged one
    // after another; the stretch began with the row of its first point.
    struct Stretch {
        RuleAlert alert;
        qint64 lastIndex = 0;
    };
    std::map<std::tuple<QString, QString, QString, QString, int>, Stretch> stretches;
    while (q.next()) {
        const QString k = q.value(0).toString(), lim = q.value(1).toString(), st = q.value(2).toString(),
                      fx = q.value(3).toString();
        const qint64 i = q.value(4).toLongLong(), t = Database::msOf(q.value(6));
        const int rules = q.value(13).toInt();
        for (int rule = 1; rule <= kRuleCount; ++rule)
            for (int side : {+1, -1}) {
                if (!(rules & RuleBit(rule, side)))
                    continue;
                Stretch& s = stretches[{k, lim, st, fx, RuleBit(rule, side)}];
                RuleAlert& a = s.alert;
                if (a.flagged == 0 || i != s.lastIndex + 1) {
                    const QVariant rowStart = rule == 1 ? q.value(6) : q.value(12 + rule);
                    a.sinceMs = rowStart.isNull() ? t : Database::msOf(rowStart);
                }
                s.lastIndex = i;
                a.key = k;
                a.limits = lim;
                a.stationId = st;
                a.fixture = fx;
                a.rule = rule;
                a.side = side;
                a.flagged += 1;
                a.lastMs = t;
                a.utcOffsetS = q.value(7).toInt();
                a.current = i == q.value(5).toLongLong();
            }
    }
    q.finish();
    std::vector<RuleAlert> alerts;
    for (const auto& [id, s] : stretches)
        alerts.push_back(s.alert);
    std::sort(alerts.begin(), alerts.end(), [](const RuleAlert& a, const RuleAlert& b) {
        return std::tie(a.fixture, a.key, a.stationId, a.rule, a.side) < std::tie(b.fixture, b.key, b.stationId, b.rule, b.side);
    });
    return alerts;
}

} // namespace

std::optional<std::vector<RuleAlert>> RuleAlerts(Database& db, const RunFilter& filter, QString& error)
{
    QVariantList values;
    const QString where = FilterWhere(db, filter, values);
    return RuleAlertsOf(db, quality_sql::ChartPoints(quality_sql::Readings(db, where), QLatin1String(kAlertPoints)), values, error);
}

std::optional<std::vector<RuleAlert>> RuleAlerts(const KeptReadings& readings, QString& error)
{
    return RuleAlertsOf(readings.db(),
                        quality_sql::KeptChartPoints(KeptReadingsSql(),
                                                     QStringLiteral("SELECT * FROM %1").arg(quality_sql::KeptCharts()),
                                                     QLatin1String(kAlertPoints)),
                        {}, error);
}

QString RuleText(int rule, int side)
{
    const QString where = side > 0 ? QStringLiteral("above") : QStringLiteral("below");
    switch (rule) {
    case 1:
        return QStringLiteral("beyond 3 sigma %1 the centre").arg(where);
    case 2:
        return QStringLiteral("2 of 3 beyond 2 sigma %1 the centre").arg(where);
    case 3:
        return QStringLiteral("4 of 5 beyond 1 sigma %1 the centre").arg(where);
    default:
        return QStringLiteral("8 in a row %1 the centre").arg(where);
    }
}

} // namespace bms::records
