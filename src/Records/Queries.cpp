#include "Queries.h"

#include "Database.h"
#include "RunRecord.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlQuery>

namespace bms::records {

QString FilterWhere(const Database& db, const RunFilter& f, QVariantList& values)
{
    QStringList terms;
    const auto add = [&](const char* term, const QVariant& value) {
        terms.append(QLatin1String(term));
        values.append(value);
    };
    if (!f.anyId.isEmpty()) {
        terms.append(QStringLiteral("(r.barcode = ? OR r.uid = ? OR r.serial_number = ?)"));
        values += {f.anyId, f.anyId, f.anyId};
    }
    if (!f.barcode.isEmpty())
        add("r.barcode = ?", f.barcode);
    if (!f.uid.isEmpty())
        add("r.uid = ?", f.uid);
    if (!f.serial.isEmpty())
        add("r.serial_number = ?", f.serial);
    if (!f.outcome.isEmpty())
        add("r.outcome = ?", f.outcome.toUpper());
    if (!f.recipe.isEmpty())
        add("r.recipe_name = ?", f.recipe);
    if (!f.station.isEmpty())
        add("r.station_id = ?", f.station);
    if (!f.fixture.isEmpty())
        add("COALESCE(r.fixture, '') = ?", f.fixture);
    if (!f.failureCode.isEmpty())
        add("r.failure_code = ?", f.failureCode);
    if (f.sinceMs)
        add("r.started >= ?", db.time(*f.sinceMs));
    if (f.untilMs)
        add("r.started < ?", db.time(*f.untilMs));
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

std::optional<double> StatsRow::firstPassYield() const
{
    if (firstAttempts == 0)
        return std::nullopt;
    return 100.0 * double(firstPass) / double(firstAttempts);
}

std::optional<std::vector<RunSummary>> History(Database& db, const RunFilter& filter, QString& error)
{
    QVariantList values;
    QString sql = QStringLiteral("SELECT r.run_id, r.started, r.station_id, r.fixture, r.operator, r.recipe_name,"
                                 " r.recipe_version, r.product, r.barcode, r.uid, r.serial_number, r.outcome,"
                                 " r.failure_code, r.duration_s, r.utc_offset_s FROM runs r")
        + FilterWhere(db, filter, values) + QStringLiteral(" ORDER BY r.started DESC, r.run_id");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    QSqlQuery& q = db.prepared(sql);
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::vector<RunSummary> runs;
    while (q.next()) {
        RunSummary s;
        QString* texts[] = {&s.runId,        &s.startedAt, &s.stationId, &s.fixture,     &s.operatorName,
                            &s.recipeName,   &s.recipeVersion, &s.product, &s.barcode,   &s.uid,
                            &s.serialNumber, &s.outcome,   &s.failureCode};
        for (int i = 0; i < 13; ++i)
            *texts[i] = q.value(i).toString();
        s.durationS = q.value(13);
        // At the station's offset, as the record gives it.
        s.startedAt = QDateTime::fromMSecsSinceEpoch(Database::msOf(q.value(1)), Qt::OffsetFromUTC, q.value(14).toInt())
                          .toString(Qt::ISODateWithMs);
        runs.push_back(std::move(s));
    }
    q.finish();
    return runs;
}

std::optional<std::vector<StatsRow>> Stats(Database& db, const RunFilter& filter, StatsGroup by, QString& error)
{
    // A run's day is its local date at the station (its start at the
    // station's UTC offset).
    const QString group = by == StatsGroup::Day ? db.localDay("r.started", "r.utc_offset_s")
        : by == StatsGroup::Recipe              ? QStringLiteral("COALESCE(r.recipe_name, '')")
        : by == StatsGroup::Station             ? QStringLiteral("r.station_id")
                                                : QStringLiteral("''");
    QVariantList values;
    // Counted in the database, grouped down to (group, outcome, failure
    // code, first attempt or not): a month of runs comes back as a few rows.
    const QString sql = QStringLiteral(
        "SELECT g, outcome, failure_code, first_attempt, COUNT(*) FROM ("
        " SELECT %1 AS g, r.outcome, r.failure_code,"
        "  CASE WHEN r.outcome NOT IN ('PASS', 'FAIL') THEN 2"
        "   WHEN r.barcode IS NULL OR NOT EXISTS (SELECT 1 FROM runs p WHERE p.station_id = r.station_id"
        "   AND p.barcode = r.barcode AND p.outcome IN ('PASS', 'FAIL') AND p.started < r.started) THEN 1"
        "   ELSE 0 END AS first_attempt"
        " FROM runs r%2) t GROUP BY g, outcome, failure_code, first_attempt ORDER BY g")
                            .arg(group, FilterWhere(db, filter, values));
    QSqlQuery& q = db.prepared(sql);
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::vector<StatsRow> rows;
    StatsRow total;
    total.group = QStringLiteral("total");
    while (q.next()) {
        const QString g = q.value(0).toString();
        if (rows.empty() || rows.back().group != g) {
            rows.emplace_back();
            rows.back().group = g;
        }
        const std::optional<station::Outcome> outcome = station::OutcomeNamed(q.value(1).toString());
        const QString code = q.value(2).toString();
        // 1: the pack's first test here; 0: a retest; 2: an ERROR or ABORTED
        // run, a loss of the station that tested nothing of the pack.
        const int attempt = q.value(3).toInt();
        const qint64 n = q.value(4).toLongLong();
        for (StatsRow* row : {&rows.back(), &total}) {
            row->runs += n;
            if (outcome == station::Outcome::Pass)
                row->pass += n;
            else if (outcome == station::Outcome::Fail)
                row->fail += n;
            else if (outcome == station::Outcome::Error)
                row->error += n;
            else
                row->aborted += n;
            if (attempt == 1) {
                row->firstAttempts += n;
                if (outcome == station::Outcome::Pass)
                    row->firstPass += n;
            } else if (attempt == 0) {
                row->retests += n;
            }
            if (outcome == station::Outcome::Fail || outcome == station::Outcome::Error)
                row->failures[code] += n;
        }
    }
    q.finish();
    rows.push_back(std::move(total));
    return rows;
}

std::optional<QJsonObject> Passport(Database& db, const QString& barcode, QString& error)
{
    // `refused`: the run ended at its scan because the barcode had passed
    // there already; it did not test the pack.
    QSqlQuery& q = db.prepared(QStringLiteral(
        "SELECT r.run_id, r.header, r.outcome,"
        " CASE WHEN r.outcome = 'FAIL' AND EXISTS (SELECT 1 FROM steps s WHERE s.run_id = r.run_id AND s.kind = 'scan'"
        "  AND r.failure_code = s.name || '.already_passed') THEN 1 ELSE 0 END AS refused"
        " FROM runs r WHERE r.barcode = ? ORDER BY r.started, r.run_id"));
    q.bindValue(0, barcode);
    if (!db.exec(q, error))
        return std::nullopt;
    std::optional<station::RunRecord> firstPass, last;
    QString uid, serial, model, hw, firmware;
    std::optional<int> cells;
    bool any = false;
    const auto keep = [](QString& into, const std::optional<QString>& v) {
        if (v && !v->isEmpty())
            into = *v;
    };
    while (q.next()) {
        any = true;
        const station::RunRecord run = station::RunRecord::fromJson(QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object());
        if (q.value(3).toInt() == 0)
            last = run;
        if (!firstPass && run.outcome == station::Outcome::Pass)
            firstPass = run;
        keep(uid, run.pack.uid);
        keep(serial, run.pack.serialNumber);
        keep(model, run.product);
        keep(hw, run.pack.hwVersion);
        keep(firmware, run.pack.swBefore);
        keep(firmware, run.pack.swAfter);
        if (run.pack.cells)
            cells = run.pack.cells;
    }
    q.finish();
    if (!any)
        return QJsonObject();

    // The newest reading of each quantity, with its unit.
    struct Quantity {
        const char* key;
        QStringList names;
        QJsonValue value = QJsonValue::Null;
    };
    Quantity quantities[] = {
        {"rated_capacity", {QStringLiteral("rated_cap"), QStringLiteral("rated_capacity")}},
        {"soh", {QStringLiteral("soh")}},
        {"cycle_count", {QStringLiteral("cycles"), QStringLiteral("cycle_count")}},
    };
    QSqlQuery& m = db.prepared(QStringLiteral(
        "SELECT m.name, m.value_num, m.unit, r.run_id FROM measurements m JOIN runs r ON r.run_id = m.run_id"
        " WHERE r.barcode = ? AND m.value_num IS NOT NULL"
        " AND m.name IN ('rated_cap', 'rated_capacity', 'soh', 'cycles', 'cycle_count')"
        " ORDER BY r.started DESC, m.seq DESC"));
    m.bindValue(0, barcode);
    if (!db.exec(m, error))
        return std::nullopt;
    while (m.next()) {
        for (Quantity& quantity : quantities) {
            if (quantity.value.isNull() && quantity.names.contains(m.value(0).toString()))
                quantity.value = QJsonObject{{QStringLiteral("value"), m.value(1).toDouble()},
                                             {QStringLiteral("unit"), m.value(2).toString()},
                                             {QStringLiteral("run_id"), m.value(3).toString()}};
        }
    }
    m.finish();

    const auto textOrNull = [](const QString& s) { return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s); };
    QJsonObject passport{
        {QStringLiteral("identifier"), barcode},
        {QStringLiteral("uid"), textOrNull(uid)},
        {QStringLiteral("serial_number"), textOrNull(serial)},
        {QStringLiteral("model"), textOrNull(model)},
        {QStringLiteral("cells"), cells ? QJsonValue(*cells) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("hw_version"), textOrNull(hw)},
        {QStringLiteral("firmware"), textOrNull(firmware)},
        {QStringLiteral("date_of_manufacture"),
         firstPass ? textOrNull(station::RecordTime(firstPass->endedAt.isValid() ? firstPass->endedAt : firstPass->startedAt).left(10))
                   : QJsonValue(QJsonValue::Null)},
    };
    for (const Quantity& quantity : quantities)
        passport.insert(QLatin1String(quantity.key), quantity.value);
    QJsonValue lastTest = QJsonValue::Null; // every run a refused repeat scan
    if (last)
        lastTest = QJsonObject{{QStringLiteral("run_id"), last->runId},
                               {QStringLiteral("outcome"), station::OutcomeName(last->outcome)},
                               {QStringLiteral("failure_code"), textOrNull(last->failureCode)},
                               {QStringLiteral("station_id"), last->stationId},
                               {QStringLiteral("recipe"), last->recipeName},
                               {QStringLiteral("ended_at"), textOrNull(station::RecordTime(last->endedAt))}};
    passport.insert(QStringLiteral("last_test"), lastTest);
    return passport;
}

std::optional<qint64> ParseTimeArgument(const QString& text, qint64 nowMs)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs);
    if (text == QLatin1String("today"))
        return QDateTime(now.date(), QTime(0, 0)).toMSecsSinceEpoch();
    if (text == QLatin1String("yesterday"))
        return QDateTime(now.date().addDays(-1), QTime(0, 0)).toMSecsSinceEpoch();
    static const QRegularExpression ago(QStringLiteral("^(\\d{1,5})([dh])$"));
    if (const auto m = ago.match(text); m.hasMatch()) {
        const qint64 n = m.captured(1).toLongLong();
        return nowMs - n * (m.captured(2) == QLatin1String("d") ? 86400000LL : 3600000LL);
    }
    if (const QDate date = QDate::fromString(text, Qt::ISODate); date.isValid() && text.size() == 10)
        return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
    if (const QDateTime t = QDateTime::fromString(text, Qt::ISODate); t.isValid())
        return t.toMSecsSinceEpoch();
    return std::nullopt;
}

} // namespace bms::records
