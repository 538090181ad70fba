#include "RecordStore.h"

#include "Database.h"
#include "Record.h"
#include "SqliteRows.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>
#include <QJsonArray>
#include <QLocale>
#include <algorithm>

namespace bms::records {

namespace {

const std::vector<const char*> kRunColumns = {
    "run_id",        "station_id", "fixture", "operator", "tool_version",  "recipe_name", "recipe_version",
    "recipe_sha256", "product",    "barcode", "uid",      "serial_number", "outcome",     "failure_code",
    "retest",        "started",    "utc_offset_s", "ended", "duration_s",  "header",      "stored",
};
const std::vector<const char*> kStepColumns = {"run_id", "seq",     "step_index", "name",   "kind", "outcome",
                                               "started_at", "ended_at", "retries", "reason", "extra"};
const std::vector<const char*> kMeasurementColumns = {"run_id", "seq",   "step",    "name",   "value_num",
                                                      "value_text", "unit", "limits", "outcome", "extra"};
const std::vector<const char*> kAttachmentColumns = {"run_id", "name", "meta", "data"};

// The tables of a run in the order they are written (children after their
// run) with their columns and which of them are times.
struct RunTable {
    const char* name;
    const std::vector<const char*>& columns;
    const char* times[3]; // up to three, the rest null
};
const RunTable kRunTables[] = {
    {"runs", kRunColumns, {"started", "ended", "stored"}},
    {"steps", kStepColumns, {}},
    {"measurements", kMeasurementColumns, {}},
    {"attachments", kAttachmentColumns, {}},
};

// A column value as JSON for the server: bytes in bytea's hex input form.
// Written straight into the text: this runs for every value forwarded.
void AppendJson(QByteArray& out, const QVariant& v)
{
    if (v.isNull()) {
        out += "null";
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Double: {
        const double d = v.toDouble();
        out += qIsFinite(d) ? QByteArray::number(d, 'g', QLocale::FloatingPointShortest) : QByteArray("null");
        return;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        out += QByteArray::number(v.toLongLong());
        return;
    case QMetaType::QByteArray:
        out += "\"\\\\x" + v.toByteArray().toHex() + '"';
        return;
    case QMetaType::QDateTime:
        out += '"' + v.toDateTime().toUTC().toString(Qt::ISODateWithMs).toLatin1() + '"';
        return;
    default:
        break;
    }
    const QByteArray text = v.toString().toUtf8();
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00";
            out += "0123456789abcdef"[(c >> 4) & 0xF];
            out += "0123456789abcdef"[c & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

// The rows of a child table. SQLite: one prepared statement stepped per row
// through the SQLite library (no round trips to pay for, and Qt SQL's
// binding would cost more than the inserts); multi-row INSERTs of 64, 32,
// ..., 1 rows through Qt SQL should the driver give no handle. PostgreSQL:
// one INSERT of all the rows, handed over as one JSON parameter and spread
// into the table's columns by the server (json_populate_recordset), which
// costs a fraction of hundreds of bound values and is one round trip. Both
// ignore rows that are there already.
bool InsertRows(Database& db, const QString& table, const std::vector<const char*>& columns,
                const std::vector<QVariantList>& rows, QString& error)
{
    if (rows.empty())
        return true;
    QStringList names;
    for (const char* c : columns)
        names.append(QLatin1String(c));
    if (db.dialect() == Dialect::PostgreSQL) {
        QSqlQuery& q = db.prepared(table + QStringLiteral("/json"), [&] {
            return QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM json_populate_recordset(NULL::%1, ?::json)"
                                  " ON CONFLICT DO NOTHING")
                .arg(table, names.join(QStringLiteral(", ")));
        });
        QByteArray json = "[";
        for (const QVariantList& row : rows) {
            json += json.size() > 1 ? ",{" : "{";
            for (size_t i = 0; i < columns.size(); ++i) {
                if (i)
                    json += ',';
                json += '"';
                json += columns[i];
                json += "\":";
                AppendJson(json, row[qsizetype(i)]);
            }
            json += '}';
        }
        json += ']';
        q.bindValue(0, QString::fromUtf8(json));
        return db.exec(q, error);
    }
    if (SqliteRows* native = db.sqliteRows()) {
        if (native->insert(table, columns, rows, QStringLiteral("ON CONFLICT DO NOTHING"), error))
            return true;
        error = QStringLiteral("database %1: %2").arg(db.name(), error);
        return false;
    }
    size_t next = 0;
    for (int chunk = 64; chunk >= 1; chunk /= 2) {
        while (rows.size() - next >= size_t(chunk)) {
            QSqlQuery& q = db.prepared(table + QStringLiteral("/%1").arg(chunk), [&] {
                return MultiRowInsert(table, columns, chunk, QStringLiteral("ON CONFLICT DO NOTHING"));
            });
            int param = 0;
            for (int i = 0; i < chunk; ++i)
                for (const QVariant& v : rows[next++])
                    q.bindValue(param++, v);
            if (!db.exec(q, error))
                return false;
        }
    }
    return true;
}

QVariant Nullable(const QJsonObject& o, const char* key)
{
    return TextOrNull(o.value(QLatin1String(key)));
}

// The time of an ISO 8601 text of the record; null when it is none.
QVariant TimeOf(const Database& db, const QJsonValue& text)
{
    const QDateTime t = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    return t.isValid() ? db.time(t.toMSecsSinceEpoch()) : QVariant();
}

} // namespace

bool RecordStore::insertRun(Database& db, const RunRows& rows, bool& added, QString& error)
{
    const QJsonObject& h = rows.header;
    const QJsonObject recipe = h.value(QLatin1String("recipe")).toObject();
    const QJsonObject pack = h.value(QLatin1String("pack")).toObject();
    QVariant product = Nullable(pack, "product");
    if (product.isNull())
        product = Nullable(recipe, "product");
    const QJsonValue duration = h.value(QLatin1String("duration_s"));

    QSqlQuery& run = db.prepared(QStringLiteral("runs/1"), [] {
        return MultiRowInsert(QStringLiteral("runs"), kRunColumns, 1, QStringLiteral("ON CONFLICT (run_id) DO NOTHING"));
    });
    const QVariantList values = {
        rows.runId,
        rows.stationId,
        Nullable(h, "fixture"),
        Nullable(h, "operator"),
        Nullable(h, "tool_version"),
        Nullable(recipe, "name"),
        Nullable(recipe, "version"),
        Nullable(recipe, "sha256"),
        product,
        Nullable(pack, "barcode"),
        Nullable(pack, "uid"),
        Nullable(pack, "serial_number"),
        rows.outcome,
        Nullable(h, "failure_code"),
        h.value(QLatin1String("retest")).toBool() ? 1 : 0,
        db.time(rows.startedMs),
        rows.utcOffsetS,
        TimeOf(db, h.value(QLatin1String("ended_at"))),
        duration.isDouble() ? QVariant(duration.toDouble()) : QVariant(),
        QString::fromUtf8(QJsonDocument(h).toJson(QJsonDocument::Compact)),
        db.now(),
    };
    for (int i = 0; i < values.size(); ++i)
        run.bindValue(i, values[i]);
    if (!db.exec(run, error))
        return false;
    added = run.numRowsAffected() == 1;
    if (!added)
        return true;

    std::vector<QVariantList> stepRows, measurementRows;
    stepRows.reserve(size_t(rows.steps.size()));
    for (qsizetype i = 0; i < rows.steps.size(); ++i) {
        const StepColumns c = ColumnsOfStep(rows.steps[i].toObject());
        stepRows.push_back({rows.runId, qint64(i), c.stepIndex, c.name, c.kind, c.outcome, c.startedAt, c.endedAt,
                            c.retries, c.reason, c.extra});
    }
    measurementRows.reserve(size_t(rows.measurements.size()));
    for (qsizetype i = 0; i < rows.measurements.size(); ++i) {
        const MeasurementColumns c = ColumnsOfMeasurement(rows.measurements[i].toObject());
        measurementRows.push_back({rows.runId, qint64(i), c.step, c.name, c.valueNum, c.valueText, c.unit, c.limits,
                                   c.outcome, c.extra});
    }
    if (!InsertRows(db, QStringLiteral("steps"), kStepColumns, stepRows, error)
        || !InsertRows(db, QStringLiteral("measurements"), kMeasurementColumns, measurementRows, error))
        return false;
    if (rows.hasTrace) {
        const std::vector<QVariantList> attachment = {
            {rows.runId, QStringLiteral("trace"), QString::fromUtf8(QJsonDocument(rows.traceMeta).toJson(QJsonDocument::Compact)),
             rows.traceData}};
        if (!InsertRows(db, QStringLiteral("attachments"), kAttachmentColumns, attachment, error))
            return false;
    }
    return true;
}

bool RecordStore::copyRuns(Database& from, Database& to, const QStringList& runIds, QString& error)
{
    if (runIds.isEmpty())
        return true;
    QStringList marks;
    for (qsizetype i = 0; i < runIds.size(); ++i)
        marks.append(QStringLiteral("?"));
    for (const RunTable& table : kRunTables) {
        const QString name = QLatin1String(table.name);
        QSqlQuery& read = from.prepared(QStringLiteral("%1/in/%2").arg(name).arg(runIds.size()), [&] {
            QStringList columns;
            for (const char* c : table.columns)
                columns.append(QLatin1String(c));
            return QStringLiteral("SELECT %1 FROM %2 WHERE run_id IN (%3)")
                .arg(columns.join(QStringLiteral(", ")), name, marks.join(QStringLiteral(", ")));
        });
        for (qsizetype i = 0; i < runIds.size(); ++i)
            read.bindValue(int(i), runIds[i]);
        if (!from.exec(read, error))
            return false;
        std::vector<QVariantList> rows;
        const int width = int(table.columns.size());
        std::vector<int> times;
        for (const char* time : table.times)
            if (time)
                times.push_back(int(std::find_if(table.columns.begin(), table.columns.end(),
                                             [&](const char* c) { return qstrcmp(c, time) == 0; })
                                - table.columns.begin()));
        while (read.next()) {
            QVariantList row;
            row.reserve(width);
            for (int c = 0; c < width; ++c)
                row.append(read.value(c));
            for (const int c : times)
                if (!row[c].isNull())
                    row[c] = to.time(Database::msOf(row[c]));
            rows.push_back(std::move(row));
        }
        read.finish();
        if (!InsertRows(to, name, table.columns, rows, error))
            return false;
    }
    return true;
}

bool RecordStore::store(const QJsonObject& record, QString& error)
{
    bool added = false;
    return store(record, added, error);
}

bool RecordStore::store(const QJsonObject& record, bool& added, QString& error)
{
    const std::optional<RunRows> rows = SplitRecord(record, error);
    return rows && store(*rows, added, error);
}

bool RecordStore::store(const RunRows& rows, bool& added, QString& error)
{
    Transaction tx(db_);
    if (!tx.begin(error) || !insertRun(db_, rows, added, error))
        return false;
    if (added && queue_) {
        QSqlQuery& q = db_.prepared(QStringLiteral(
            "INSERT INTO forward_queue (run_id, queued_ms, attempts, next_ms) VALUES (?, ?, 0, 0) ON CONFLICT (run_id) DO NOTHING"));
        q.bindValue(0, rows.runId);
        q.bindValue(1, QDateTime::currentMSecsSinceEpoch());
        if (!db_.exec(q, error))
            return false;
    }
    return tx.commit(error);
}

std::optional<QJsonObject> RecordStore::load(const QString& runId, QString& error)
{
    QSqlQuery& h = db_.prepared(QStringLiteral("SELECT header FROM runs WHERE run_id = ?"));
    h.bindValue(0, runId);
    if (!db_.exec(h, error))
        return std::nullopt;
    if (!h.next())
        return QJsonObject();
    QJsonObject record = QJsonDocument::fromJson(h.value(0).toString().toUtf8()).object();
    h.finish();

    QSqlQuery& s = db_.prepared(QStringLiteral("SELECT step_index, name, kind, outcome, started_at, ended_at, retries, reason, extra"
                                               " FROM steps WHERE run_id = ? ORDER BY seq"));
    s.bindValue(0, runId);
    if (!db_.exec(s, error))
        return std::nullopt;
    QJsonArray steps;
    while (s.next())
        steps.append(StepOfColumns({s.value(0), s.value(1), s.value(2), s.value(3), s.value(4), s.value(5), s.value(6),
                                    s.value(7), s.value(8)}));
    s.finish();

    QSqlQuery& m = db_.prepared(QStringLiteral("SELECT step, name, value_num, value_text, unit, limits, outcome, extra"
                                               " FROM measurements WHERE run_id = ? ORDER BY seq"));
    m.bindValue(0, runId);
    if (!db_.exec(m, error))
        return std::nullopt;
    QJsonArray measurements;
    while (m.next())
        measurements.append(MeasurementOfColumns(
            {m.value(0), m.value(1), m.value(2), m.value(3), m.value(4), m.value(5), m.value(6), m.value(7)}));
    m.finish();

    QSqlQuery& a = db_.prepared(QStringLiteral("SELECT meta, data FROM attachments WHERE run_id = ? AND name = 'trace'"));
    a.bindValue(0, runId);
    if (!db_.exec(a, error))
        return std::nullopt;
    if (a.next())
        record.insert(QLatin1String("trace"), TraceOfColumns(a.value(0).toString(), a.value(1).toByteArray()));
    a.finish();

    record.insert(QLatin1String("steps"), steps);
    record.insert(QLatin1String("measurements"), measurements);
    return record;
}

std::optional<bool> RecordStore::sameAsStored(const RunRows& rows, QString& error)
{
    const std::optional<QJsonObject> kept = load(rows.runId, error);
    if (!kept)
        return std::nullopt;
    if (kept->isEmpty()) {
        error = QStringLiteral("run %1 is not kept in %2").arg(rows.runId, db_.name());
        return std::nullopt;
    }
    return *kept == RecordOfRows(rows);
}

std::optional<QString> RecordStore::resolveRunId(const QString& idOrPrefix, QString& error)
{
    const QString wanted = idOrPrefix.trimmed().toLower();
    static const QRegularExpression idChars(QStringLiteral("^[0-9a-f-]+$"));
    if (wanted.size() < 8 || !idChars.match(wanted).hasMatch()) {
        error = QStringLiteral("'%1': give the run id or at least its first 8 characters").arg(idOrPrefix);
        return std::nullopt;
    }
    // The ids that start with it: a range of the primary key, from the
    // prefix up to the prefix with its last hexadecimal digit one higher
    // (hyphens stand at the same places in every id; a collation of the
    // line's server may pass over them and over characters between '9' and
    // 'a', so the range is built of digits alone and checked).
    QString from = wanted;
    while (from.endsWith(QLatin1Char('-')))
        from.chop(1);
    if (from.isEmpty())
        return QString();
    QString past = from;
    past.back() = past.back() == QLatin1Char('9') ? QChar(u'a') : QChar(past.back().unicode() + 1);
    QSqlQuery& q = db_.prepared(
        QStringLiteral("SELECT run_id FROM runs WHERE run_id >= ? AND run_id < ? ORDER BY run_id LIMIT 2"));
    q.bindValue(0, from);
    q.bindValue(1, past);
    if (!db_.exec(q, error))
        return std::nullopt;
    QStringList found;
    while (q.next())
        if (const QString id = q.value(0).toString(); id.startsWith(wanted))
            found.append(id);
    q.finish();
    if (found.size() > 1) {
        error = QStringLiteral("'%1' names several runs; give more of the id").arg(idOrPrefix);
        return std::nullopt;
    }
    return found.value(0);
}

std::optional<bool> RecordStore::passedBefore(const QString& barcode, const QString& stationId, QString& error)
{
    QSqlQuery& q = db_.prepared(
        QStringLiteral("SELECT 1 FROM runs WHERE station_id = ? AND barcode = ? AND outcome = 'PASS' LIMIT 1"));
    // A run without a station is stored with an empty one, never null.
    q.bindValue(0, stationId.isNull() ? QStringLiteral("") : stationId);
    q.bindValue(1, barcode);
    if (!db_.exec(q, error))
        return std::nullopt;
    const bool found = q.next();
    q.finish();
    return found;
}

} // namespace bms::records
