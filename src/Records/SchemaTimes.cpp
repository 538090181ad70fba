#include "SchemaTimes.h"

#include "Database.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QTimeZone>
#include <utility>
#include <vector>

namespace bms::records {

namespace {

// The columns of `runs` that stay as they were, in their order.
const char kKeptRunColumns[] =
    "run_id, station_id, fixture, operator, tool_version, recipe_name, recipe_version, recipe_sha256, product,"
    " barcode, uid, serial_number, outcome, failure_code, retest";

// SQLite: a table's columns cannot change their type, so `runs` is made
// anew and filled from the old one (SQLite's own procedure; the foreign
// keys of its children hold, as every run keeps its id).
//  - started: started_ms, which the tool computed from started_at;
//  - utc_offset_s: the wall clock of started_at (to the minute) against its
//    UTC time truncated to the minute;
//  - ended, stored: their texts, read in this PC's time zone when they have
//    no offset ('utc' leaves a text with one as it is).
// A text is taken as a time only when it starts like one (julianday() also
// knows "now").
QString SqliteTime(const char* column)
{
    return QStringLiteral("CASE WHEN %1 GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9][T ][0-9][0-9]:[0-9][0-9]*'"
                          " THEN CAST(ROUND((julianday(%1, 'utc') - 2440587.5) * 86400000) AS INTEGER) END")
        .arg(QLatin1String(column));
}

std::vector<QString> SqliteRuns()
{
    const QString kept = QLatin1String(kKeptRunColumns);
    return {
        QStringLiteral("CREATE TABLE runs_v3 ("
                       " run_id TEXT PRIMARY KEY, station_id TEXT NOT NULL, fixture TEXT, operator TEXT,"
                       " tool_version TEXT, recipe_name TEXT, recipe_version TEXT, recipe_sha256 TEXT, product TEXT,"
                       " barcode TEXT, uid TEXT, serial_number TEXT, outcome TEXT NOT NULL, failure_code TEXT,"
                       " retest INTEGER NOT NULL, started BIGINT NOT NULL, utc_offset_s INTEGER NOT NULL, ended BIGINT,"
                       " duration_s DOUBLE PRECISION, header TEXT NOT NULL, stored BIGINT)"),
        QStringLiteral("INSERT INTO runs_v3 (%1, started, utc_offset_s, ended, duration_s, header, stored)"
                       " SELECT %1, started_ms,"
                       " COALESCE(CAST(ROUND((julianday(substr(started_at, 1, 16))"
                       " - julianday(started_ms / 60000 * 60, 'unixepoch')) * 1440) AS INTEGER) * 60, 0),"
                       " %2, duration_s, header, %3 FROM runs")
            .arg(kept, SqliteTime("ended_at"), SqliteTime("stored_at")),
        QStringLiteral("DROP TABLE runs"),
        QStringLiteral("ALTER TABLE runs_v3 RENAME TO runs"),
    };
}

// PostgreSQL changes the table in place. Texts are read by a function that
// gives null for one that is no time (a cast would end the migration);
// texts without an offset are read in the session's time zone, set to this
// PC's when the server knows it.
const char kPgTimeFunction[] =
    "CREATE OR REPLACE FUNCTION pg_temp.bms_time(t TEXT) RETURNS TIMESTAMPTZ LANGUAGE plpgsql AS $$"
    " BEGIN"
    "  IF t !~ '^\\d{4}-\\d\\d-\\d\\d[T ]\\d\\d:\\d\\d(:\\d\\d(\\.\\d+)?)?(Z|[+-]\\d\\d(:?\\d\\d)?)?$' THEN RETURN NULL; END IF;"
    "  RETURN CAST(t AS TIMESTAMPTZ);"
    " EXCEPTION WHEN OTHERS THEN RETURN NULL;"
    " END $$";

std::vector<QString> PgRuns()
{
    return {
        QLatin1String(kPgTimeFunction),
        QStringLiteral("ALTER TABLE runs ADD COLUMN started TIMESTAMPTZ, ADD COLUMN utc_offset_s INTEGER,"
                       " ADD COLUMN ended TIMESTAMPTZ, ADD COLUMN stored TIMESTAMPTZ"),
        QStringLiteral("UPDATE runs SET started = TIMESTAMPTZ 'epoch' + started_ms * INTERVAL '1 millisecond',"
                       " ended = pg_temp.bms_time(ended_at), stored = pg_temp.bms_time(stored_at)"),
        QStringLiteral("UPDATE runs SET utc_offset_s = COALESCE(CASE WHEN started_at ~ '^\\d{4}-\\d\\d-\\d\\d[T ]\\d\\d:\\d\\d'"
                       " THEN ROUND(EXTRACT(EPOCH FROM CAST(substr(started_at, 1, 16) AS TIMESTAMP)"
                       " - date_trunc('minute', started AT TIME ZONE 'UTC')) / 60) * 60 END, 0)"),
        QStringLiteral("ALTER TABLE runs ALTER COLUMN started SET NOT NULL, ALTER COLUMN utc_offset_s SET NOT NULL"),
        // Their indexes go with them.
        QStringLiteral("ALTER TABLE runs DROP COLUMN started_at, DROP COLUMN started_ms, DROP COLUMN day,"
                       " DROP COLUMN ended_at, DROP COLUMN stored_at"),
    };
}

// What both dialects do alike: the indexes of `runs` on its new start
// (runs_started with the run id: the order of the export, read without a
// sort; runs_station_started: a station's runs since a time, the shift
// counters), and the time of each serial number and migration.
std::vector<QString> Common(Database& db)
{
    const auto time = [&](const char* column) {
        return db.dialect() == Dialect::SQLite ? SqliteTime(column)
                                               : QStringLiteral("pg_temp.bms_time(%1)").arg(QLatin1String(column));
    };
    const QString type = QLatin1String(db.timeType());
    return {
        QStringLiteral("CREATE INDEX runs_barcode ON runs (barcode, started)"),
        QStringLiteral("CREATE INDEX runs_uid ON runs (uid, started)"),
        QStringLiteral("CREATE INDEX runs_serial ON runs (serial_number, started)"),
        QStringLiteral("CREATE INDEX runs_started ON runs (started, run_id)"),
        QStringLiteral("CREATE INDEX runs_recipe ON runs (recipe_name, started)"),
        QStringLiteral("CREATE INDEX runs_station_barcode ON runs (station_id, barcode, started)"),
        QStringLiteral("CREATE INDEX runs_station_started ON runs (station_id, started)"),
        QStringLiteral("ALTER TABLE serial_numbers ADD COLUMN changed ") + type,
        QStringLiteral("UPDATE serial_numbers SET changed = ") + time("changed_at"),
        QStringLiteral("DROP INDEX serial_numbers_barcode"),
        QStringLiteral("ALTER TABLE serial_numbers DROP COLUMN changed_at"),
        QStringLiteral("CREATE INDEX serial_numbers_barcode ON serial_numbers (barcode, changed)"),
        QStringLiteral("ALTER TABLE schema_migrations ADD COLUMN applied ") + type,
        QStringLiteral("UPDATE schema_migrations SET applied = ") + time("applied_at"),
        QStringLiteral("ALTER TABLE schema_migrations DROP COLUMN applied_at"),
    };
}

// The session reads texts without an offset in this PC's time zone, as the
// tool that wrote them meant them.
bool SetPgTimeZone(Database& db, QString& error)
{
    const QString zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    QSqlQuery& known = db.prepared(QStringLiteral("SELECT 1 FROM pg_timezone_names WHERE name = ?"));
    known.bindValue(0, zone);
    if (!db.exec(known, error))
        return false;
    const bool found = known.next();
    known.finish();
    return !found || db.exec(QStringLiteral("SET LOCAL TIME ZONE '%1'").arg(zone), error);
}

// The moments kept in station_state: milliseconds, as text.
bool ConvertStationState(Database& db, QString& error)
{
    QSqlQuery& read = db.prepared(QStringLiteral(
        "SELECT name, value FROM station_state WHERE name IN ('line_unreachable_since', 'line_failed_at')"));
    if (!db.exec(read, error))
        return false;
    std::vector<std::pair<QString, QString>> values;
    while (read.next()) {
        const QDateTime at = QDateTime::fromString(read.value(1).toString(), Qt::ISODateWithMs);
        values.emplace_back(read.value(0).toString(), at.isValid() ? QString::number(at.toMSecsSinceEpoch()) : QString());
    }
    read.finish();
    for (const auto& [name, ms] : values) {
        QSqlQuery& write = db.prepared(ms.isEmpty() ? QStringLiteral("DELETE FROM station_state WHERE name = ?")
                                                    : QStringLiteral("UPDATE station_state SET value = ? WHERE name = ?"));
        if (ms.isEmpty()) {
            write.bindValue(0, name);
        } else {
            write.bindValue(0, ms);
            write.bindValue(1, name);
        }
        if (!db.exec(write, error))
            return false;
    }
    return true;
}

} // namespace

bool ConvertTimes(Database& db, QString& error)
{
    const bool sqlite = db.dialect() == Dialect::SQLite;
    if (!sqlite && !SetPgTimeZone(db, error))
        return false;
    std::vector<QString> statements = sqlite ? SqliteRuns() : PgRuns();
    for (QString& s : Common(db))
        statements.push_back(std::move(s));
    for (const QString& sql : statements) {
        if (!db.exec(sql, error))
            return false;
    }
    return ConvertStationState(db, error);
}

} // namespace bms::records
