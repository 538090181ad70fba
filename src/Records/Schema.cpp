#include "Schema.h"

#include "Database.h"
#include "SchemaTimes.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <tuple>
#include <vector>

namespace bms::records {

namespace {

// Each migration is a list of statements; "{BLOB}" stands for the binary
// column type of the dialect, "{TIME}" for the type of a time. Never edit a
// migration that has shipped: add the next one.
struct Migration {
    int version;
    std::vector<const char*> statements;
    // Work that plain SQL of both dialects cannot do, after the statements
    // and in the same transaction.
    bool (*after)(Database& db, QString& error) = nullptr;
};

// The text of each number on record, from the record of the run that held
// it (its serial_reservation), for the numbers kept before the text was.
// Every label or report printed for a run, first prints and reprints: when
// (in the time representation of schema 3), by whom, on which printer, the
// CUPS job, how it ended and, for a reprint, why. `synced` is 0 until the
// row is on the line's database.
bool CreatePrints(Database& db, QString& error)
{
    const QString create = QStringLiteral("CREATE TABLE prints ("
                                          " print_id TEXT PRIMARY KEY,"
                                          " run_id TEXT NOT NULL,"
                                          " kind TEXT NOT NULL,"
                                          " printed %1 NOT NULL,"
                                          " operator TEXT,"
                                          " station_id TEXT,"
                                          " printer TEXT,"
                                          " job_id INTEGER,"
                                          " state TEXT NOT NULL,"
                                          " reason TEXT,"
                                          " reprint_reason TEXT,"
                                          " synced INTEGER NOT NULL DEFAULT 0)")
                               .arg(QLatin1String(db.timeType()));
    for (const QString& sql : {create, QStringLiteral("CREATE INDEX prints_run ON prints (run_id, printed)"),
                               QStringLiteral("CREATE INDEX prints_synced ON prints (synced)")})
        if (!db.exec(sql, error))
            return false;
    return true;
}

bool FillSerialTexts(Database& db, QString& error)
{
    QSqlQuery& read = db.prepared(QStringLiteral(
        "SELECT s.key, s.number, r.header FROM serial_numbers s JOIN runs r ON r.run_id = s.run_id WHERE s.value IS NULL"));
    if (!db.exec(read, error))
        return false;
    std::vector<std::tuple<QString, qint64, QString>> texts;
    while (read.next()) {
        const QJsonObject reservation = QJsonDocument::fromJson(read.value(2).toString().toUtf8())
                                            .object()
                                            .value(QLatin1String("serial_reservation"))
                                            .toObject();
        const QString value = reservation.value(QLatin1String("value")).toString();
        if (!value.isEmpty() && reservation.value(QLatin1String("number")).toInteger() == read.value(1).toLongLong())
            texts.emplace_back(read.value(0).toString(), read.value(1).toLongLong(), value);
    }
    read.finish();
    QSqlQuery& write = db.prepared(QStringLiteral("UPDATE serial_numbers SET value = ? WHERE key = ? AND number = ?"));
    for (const auto& [key, number, value] : texts) {
        write.bindValue(0, value);
        write.bindValue(1, key);
        write.bindValue(2, number);
        if (!db.exec(write, error))
            return false;
    }
    return true;
}

const std::vector<Migration>& Migrations()
{
    static const std::vector<Migration> migrations = {
        {1,
         {
             // One row per run: the fields searched and counted, and the
             // record itself without its steps, measurements and trace
             // (which have their own tables).
             "CREATE TABLE runs ("
             " run_id TEXT PRIMARY KEY,"
             " station_id TEXT NOT NULL,"
             " fixture TEXT,"
             " operator TEXT,"
             " tool_version TEXT,"
             " recipe_name TEXT,"
             " recipe_version TEXT,"
             " recipe_sha256 TEXT,"
             " product TEXT,"
             " barcode TEXT,"
             " uid TEXT,"
             " serial_number TEXT,"
             " outcome TEXT NOT NULL,"
             " failure_code TEXT,"
             " retest INTEGER NOT NULL,"
             " started_at TEXT NOT NULL,"
             " started_ms BIGINT NOT NULL,"
             " day TEXT NOT NULL,"
             " ended_at TEXT,"
             " duration_s DOUBLE PRECISION,"
             " header TEXT NOT NULL,"
             " stored_at TEXT NOT NULL)",
             "CREATE INDEX runs_barcode ON runs (barcode, started_ms)",
             "CREATE INDEX runs_uid ON runs (uid, started_ms)",
             "CREATE INDEX runs_serial ON runs (serial_number, started_ms)",
             "CREATE INDEX runs_started ON runs (started_ms)",
             "CREATE INDEX runs_recipe ON runs (recipe_name, started_ms)",
             "CREATE INDEX runs_station_barcode ON runs (station_id, barcode, started_ms)",
             "CREATE TABLE steps ("
             " run_id TEXT NOT NULL REFERENCES runs (run_id),"
             " seq INTEGER NOT NULL,"
             " step_index INTEGER,"
             " name TEXT,"
             " kind TEXT,"
             " outcome TEXT,"
             " started_at TEXT,"
             " ended_at TEXT,"
             " retries INTEGER,"
             " reason TEXT,"
             " extra TEXT,"
             " PRIMARY KEY (run_id, seq))",
             "CREATE TABLE measurements ("
             " run_id TEXT NOT NULL REFERENCES runs (run_id),"
             " seq INTEGER NOT NULL,"
             " step INTEGER,"
             " name TEXT NOT NULL,"
             " value_num DOUBLE PRECISION,"
             " value_text TEXT,"
             " unit TEXT,"
             " limits TEXT,"
             " outcome TEXT,"
             " extra TEXT,"
             " PRIMARY KEY (run_id, seq))",
             "CREATE TABLE attachments ("
             " run_id TEXT NOT NULL REFERENCES runs (run_id),"
             " name TEXT NOT NULL,"
             " meta TEXT NOT NULL,"
             " data {BLOB},"
             " PRIMARY KEY (run_id, name))",
             "CREATE TABLE serial_sequences ("
             " key TEXT PRIMARY KEY,"
             " next_number BIGINT NOT NULL)",
             // Every number handed out: reserved (a run holds it), committed
             // (on a passed pack) or released (free for the next run).
             "CREATE TABLE serial_numbers ("
             " key TEXT NOT NULL,"
             " number BIGINT NOT NULL,"
             " run_id TEXT NOT NULL,"
             " state TEXT NOT NULL,"
             " changed_at TEXT NOT NULL,"
             " PRIMARY KEY (key, number))",
             "CREATE INDEX serial_numbers_state ON serial_numbers (key, state, number)",
             // Runs of this database still to be copied to the line's.
             "CREATE TABLE forward_queue ("
             " run_id TEXT PRIMARY KEY REFERENCES runs (run_id),"
             " queued_ms BIGINT NOT NULL,"
             " attempts INTEGER NOT NULL,"
             " next_ms BIGINT NOT NULL,"
             " last_error TEXT)",
             "CREATE INDEX forward_queue_due ON forward_queue (next_ms)",
         }},
        {2,
         {
             // A serial number belongs to the pack it was written into:
             // its text, the pack's barcode and UID, the process that holds
             // a reservation (so that one left by a killed run is settled),
             // where it came from ('local' sequence or a 'line' lease) and
             // whether the line has heard of its last change.
             "ALTER TABLE serial_numbers ADD COLUMN value TEXT",
             "ALTER TABLE serial_numbers ADD COLUMN barcode TEXT",
             "ALTER TABLE serial_numbers ADD COLUMN uid TEXT",
             "ALTER TABLE serial_numbers ADD COLUMN holder TEXT",
             "ALTER TABLE serial_numbers ADD COLUMN origin TEXT",
             "ALTER TABLE serial_numbers ADD COLUMN synced INTEGER NOT NULL DEFAULT 1",
             "CREATE INDEX serial_numbers_barcode ON serial_numbers (barcode, changed_at)",
             // Keys a station keeps numbers leased for, with the day each
             // key belongs to (null for a template without a date) and the
             // size of a block.
             "CREATE TABLE serial_pools ("
             " key TEXT PRIMARY KEY,"
             " day TEXT,"
             " block INTEGER NOT NULL,"
             " wanted_ms BIGINT NOT NULL)",
             // Small facts of this database: the station PC's id, since
             // when the line database has not answered.
             "CREATE TABLE station_state ("
             " name TEXT PRIMARY KEY,"
             " value TEXT NOT NULL)",
             // Numbers of runs that passed belong to their pack.
             "UPDATE serial_numbers SET barcode = (SELECT r.barcode FROM runs r WHERE r.run_id = serial_numbers.run_id)"
             " WHERE state = 'committed'",
             // A number given back after its run had written it into the
             // pack is that pack's, not free.
             "UPDATE serial_numbers SET state = 'written',"
             " barcode = (SELECT r.barcode FROM runs r WHERE r.run_id = serial_numbers.run_id)"
             " WHERE state = 'released' AND EXISTS (SELECT 1 FROM measurements m JOIN steps s"
             " ON s.run_id = m.run_id AND s.step_index = m.step"
             " WHERE m.run_id = serial_numbers.run_id AND m.name = 'serial_number' AND s.kind = 'write_identity')",
             "UPDATE serial_numbers SET origin = 'local'",
         },
         FillSerialTexts},
        // Every time in one representation (SchemaTimes.h).
        {kTimesSchemaVersion, {}, ConvertTimes},
        {4, {}, CreatePrints},
    };
    return migrations;
}

QString NewerMessage(const Database& db, int version)
{
    return QStringLiteral("%1 has records schema version %2, newer than this tool knows (%3): "
                          "update the tool before writing to it; nothing was written")
        .arg(db.name())
        .arg(version)
        .arg(KnownSchemaVersion());
}

} // namespace

int KnownSchemaVersion()
{
    return Migrations().back().version;
}

int SchemaVersion(Database& db, QString& error)
{
    QSqlQuery& q = db.prepared(QStringLiteral("SELECT MAX(version) FROM schema_migrations"));
    if (!db.exec(q, error))
        return -1;
    const int version = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    return version;
}

bool Migrate(Database& db, QString& error)
{
    // The common case reads one row and writes nothing.
    {
        QString ignored;
        const int version = SchemaVersion(db, ignored);
        if (version == KnownSchemaVersion())
            return true;
        if (version > KnownSchemaVersion()) {
            error = NewerMessage(db, version);
            return false;
        }
    }
    // SQLite rebuilds a table whose columns change with its children's
    // foreign keys left unchecked (a setting outside any transaction).
    struct ForeignKeysOff {
        Database& db;
        explicit ForeignKeysOff(Database& d) : db(d) { set("OFF"); }
        ~ForeignKeysOff() { set("ON"); }
        void set(const char* state)
        {
            QString ignored;
            if (db.dialect() == Dialect::SQLite)
                db.exec(QStringLiteral("PRAGMA foreign_keys=") + QLatin1String(state), ignored);
        }
    } foreignKeysOff(db);
    Transaction tx(db);
    if (!tx.begin(error))
        return false;
    // PostgreSQL: one migrating process at a time (SQLite's BEGIN IMMEDIATE
    // has taken the database's write lock already).
    if (db.dialect() == Dialect::PostgreSQL && !db.exec(QStringLiteral("SELECT pg_advisory_xact_lock(5133847251)"), error))
        return false;
    if (!db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_migrations ("
                                " version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)"),
                 error))
        return false;
    const int version = SchemaVersion(db, error);
    if (version < 0)
        return false;
    if (version > KnownSchemaVersion()) {
        error = NewerMessage(db, version);
        return false;
    }
    for (const Migration& m : Migrations()) {
        if (m.version <= version)
            continue;
        for (const char* statement : m.statements) {
            QString sql = QLatin1String(statement);
            sql.replace(QLatin1String("{BLOB}"), QLatin1String(db.blobType()));
            sql.replace(QLatin1String("{TIME}"), QLatin1String(db.timeType()));
            if (!db.exec(sql, error))
                return false;
        }
        if (m.after && !m.after(db, error))
            return false;
        // Recorded as the table stands after the migration.
        const bool timed = m.version >= kTimesSchemaVersion;
        QSqlQuery& record = db.prepared(timed ? QStringLiteral("INSERT INTO schema_migrations (version, applied) VALUES (?, ?)")
                                              : QStringLiteral("INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)"));
        record.bindValue(0, m.version);
        record.bindValue(1, timed ? db.now() : QVariant(QDateTime::currentDateTime().toString(Qt::ISODateWithMs)));
        if (!db.exec(record, error))
            return false;
    }
    return tx.commit(error);
}

} // namespace bms::records
