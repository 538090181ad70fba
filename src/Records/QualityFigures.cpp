#include "QualityFigures.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace bms::records {

namespace {

QJsonValue Number(std::optional<double> v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QJsonObject YieldJson(const YieldRow& r)
{
    return {{QStringLiteral("group"), r.group},
            {QStringLiteral("runs"), r.runs},
            {QStringLiteral("pass"), r.pass},
            {QStringLiteral("fail"), r.fail},
            {QStringLiteral("error"), r.error},
            {QStringLiteral("aborted"), r.aborted},
            {QStringLiteral("first_runs"), r.firstRuns},
            {QStringLiteral("first_pass"), r.firstPass},
            {QStringLiteral("first_pass_yield"), Number(r.firstPassYield())},
            {QStringLiteral("last_runs"), r.lastRuns},
            {QStringLiteral("last_pass"), r.lastPass},
            {QStringLiteral("final_yield"), Number(r.finalYield())},
            {QStringLiteral("loss_rate"), Number(r.lossRate())}};
}

QJsonArray ParetoJson(const std::vector<ParetoRow>& rows)
{
    QJsonArray array;
    for (const ParetoRow& r : rows)
        array.append(QJsonObject{{QStringLiteral("code"), r.code},
                                 {QStringLiteral("count"), r.count},
                                 {QStringLiteral("share"), r.share},
                                 {QStringLiteral("cumulative"), r.cumulative}});
    return array;
}

QJsonObject Limits(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QJsonObject CapabilityJson(const Capability& c, bool chart)
{
    QJsonObject o{{QStringLiteral("key"), c.key},
                  {QStringLiteral("limits"), Limits(c.limits)},
                  {QStringLiteral("unit"), c.unit},
                  {QStringLiteral("low"), Number(c.low)},
                  {QStringLiteral("high"), Number(c.high)},
                  {QStringLiteral("n"), c.n},
                  {QStringLiteral("mean"), c.mean},
                  {QStringLiteral("min"), c.min},
                  {QStringLiteral("max"), c.max},
                  {QStringLiteral("sigma_overall"), Number(c.sigmaOverall)},
                  {QStringLiteral("sigma_within"), Number(c.sigmaWithin)},
                  {QStringLiteral("mr_bar"), Number(c.mrBar)}};
    if (chart) {
        o.insert(QStringLiteral("station_id"), c.stationId);
        o.insert(QStringLiteral("fixture"), c.fixture);
        o.insert(QStringLiteral("centre"), c.mean);
        const auto s = c.sigmaWithin;
        o.insert(QStringLiteral("ucl"), Number(s ? std::optional<double>(c.mean + 3 * *s) : std::nullopt));
        o.insert(QStringLiteral("lcl"), Number(s ? std::optional<double>(c.mean - 3 * *s) : std::nullopt));
        o.insert(QStringLiteral("mr_ucl"), Number(c.mrBar ? std::optional<double>(kMrUpperFactor * *c.mrBar) : std::nullopt));
        return o;
    }
    o.insert(QStringLiteral("cp"), Number(c.cp));
    o.insert(QStringLiteral("cpk"), Number(c.cpk));
    o.insert(QStringLiteral("pp"), Number(c.pp));
    o.insert(QStringLiteral("ppk"), Number(c.ppk));
    o.insert(QStringLiteral("outside"), c.outside);
    o.insert(QStringLiteral("outside_percent"), c.outsidePercent());
    return o;
}

QString Iso(qint64 ms, int offsetS)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetS).toString(Qt::ISODateWithMs);
}

} // namespace

std::optional<QualityFigures> CollectQuality(Database& db, const RunFilter& filter, QString& error)
{
    QualityFigures f;
    f.filter = filter;
    for (YieldBy by : {YieldBy::Total, YieldBy::Day, YieldBy::Shift, YieldBy::Station, YieldBy::Fixture, YieldBy::Operator}) {
        auto rows = Yields(db, filter, by, error);
        if (!rows)
            return std::nullopt;
        f.yields[by] = std::move(*rows);
    }
    auto pareto = FailurePareto(db, filter, error);
    KeptReadings readings(db);
    const bool kept = pareto && readings.make(filter, error);
    auto capability = kept ? Capabilities(readings, false, error) : std::nullopt;
    auto charts = capability ? Capabilities(readings, true, error) : std::nullopt;
    auto alerts = charts ? RuleAlerts(readings, error) : std::nullopt;
    if (!alerts)
        return std::nullopt;
    f.pareto = std::move(*pareto);
    f.capability = std::move(*capability);
    f.charts = std::move(*charts);
    f.alerts = std::move(*alerts);
    return f;
}

QJsonObject QualityJson(const QualityFigures& f)
{
    QJsonObject yields;
    for (const auto& [by, rows] : f.yields) {
        if (by == YieldBy::Total) {
            yields.insert(QStringLiteral("total"), rows.empty() ? YieldJson(YieldRow{QStringLiteral("total")}) : YieldJson(rows.front()));
            continue;
        }
        QJsonArray array;
        for (const YieldRow& r : rows)
            array.append(YieldJson(r));
        yields.insert(YieldByName(by), array);
    }
    QJsonArray capability, charts, alerts;
    for (const Capability& c : f.capability)
        capability.append(CapabilityJson(c, false));
    for (const Capability& c : f.charts)
        charts.append(CapabilityJson(c, true));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const RuleAlert& a : f.alerts)
        alerts.append(QJsonObject{{QStringLiteral("key"), a.key},
                                  {QStringLiteral("limits"), Limits(a.limits)},
                                  {QStringLiteral("station_id"), a.stationId},
                                  {QStringLiteral("fixture"), a.fixture},
                                  {QStringLiteral("rule"), a.rule},
                                  {QStringLiteral("side"), a.side > 0 ? QStringLiteral("above") : QStringLiteral("below")},
                                  {QStringLiteral("flagged"), a.flagged},
                                  {QStringLiteral("since"), Iso(a.sinceMs, a.utcOffsetS)},
                                  {QStringLiteral("last"), Iso(a.lastMs, a.utcOffsetS)},
                                  {QStringLiteral("current"), a.current},
                                  {QStringLiteral("text"), AlertText(a, now)}});
    return {{QStringLiteral("yields"), yields},
            {QStringLiteral("pareto"), QJsonObject{{QStringLiteral("fail_runs"), f.pareto.failRuns},
                                                   {QStringLiteral("failures"), ParetoJson(f.pareto.failures)},
                                                   {QStringLiteral("loss_runs"), f.pareto.lossRuns},
                                                   {QStringLiteral("losses"), ParetoJson(f.pareto.losses)}}},
            {QStringLiteral("capability"), capability},
            {QStringLiteral("charts"), charts},
            {QStringLiteral("alerts"), alerts}};
}

QString StationTime(qint64 ms, int utcOffsetS, qint64 todayLocalS)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms + qint64(utcOffsetS) * 1000, Qt::UTC);
    const QDate today = QDateTime::fromSecsSinceEpoch(todayLocalS, Qt::UTC).date();
    return t.toString(t.date() == today ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString AlertText(const RuleAlert& a, qint64 nowMs)
{
    const QString where = a.fixture.isEmpty() ? QStringLiteral("station %1").arg(a.stationId)
                                              : QStringLiteral("fixture %1").arg(a.fixture);
    return QStringLiteral("%1, %2: %3 since %4")
        .arg(where, a.key, RuleText(a.rule, a.side), StationTime(a.sinceMs, a.utcOffsetS, nowMs / 1000 + a.utcOffsetS));
}

} // namespace bms::records
