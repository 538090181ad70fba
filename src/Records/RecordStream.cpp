#include "RecordStream.h"

#include "Database.h"
#include "Record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <deque>

namespace bms::records {

namespace {

// Rows a PostgreSQL cursor hands over at a time.
constexpr int kFetchRows = 500;

} // namespace

// The rows of one query, a few at a time: SQLite's query itself, a cursor
// `name` of the PostgreSQL server.
class RowCursor {
public:
    static std::unique_ptr<RowCursor> open(Database& db, const char* name, const QString& sql, QString& error)
    {
        std::unique_ptr<RowCursor> cursor(new RowCursor(db, QLatin1String(name)));
        if (db.dialect() == Dialect::SQLite) {
            cursor->query_ = db.select(sql, error);
            return cursor->query_ ? std::move(cursor) : nullptr;
        }
        if (!db.exec(QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR %2").arg(cursor->name_, sql), error))
            return nullptr;
        return cursor;
    }

    // The row at hand; nullptr after the last one (or on failure, with
    // `error`).
    const QVariantList* peek(QString& error)
    {
        if (rows_.empty() && !done_)
            fill(error);
        return rows_.empty() ? nullptr : &rows_.front();
    }
    void pop() { rows_.pop_front(); }

private:
    RowCursor(Database& db, QString name) : db_(db), name_(std::move(name)) {}

    void fill(QString& error)
    {
        const bool sqlite = db_.dialect() == Dialect::SQLite;
        if (!sqlite && !(query_ = db_.select(QStringLiteral("FETCH %1 FROM %2").arg(kFetchRows).arg(name_), error))) {
            done_ = true;
            return;
        }
        const int width = query_->record().count();
        while ((sqlite ? rows_.empty() : true) && query_->next()) {
            QVariantList row;
            row.reserve(width);
            for (int c = 0; c < width; ++c)
                row.append(query_->value(c));
            rows_.push_back(std::move(row));
        }
        if (rows_.empty()) {
            done_ = true;
            if (query_->lastError().type() != QSqlError::NoError)
                error = QStringLiteral("database %1: %2").arg(db_.name(), query_->lastError().text());
        }
    }

    Database& db_;
    QString name_;
    std::unique_ptr<QSqlQuery> query_;
    std::deque<QVariantList> rows_;
    bool done_ = false;
};

RecordStream::RecordStream(Database& db) : db_(db) {}

RecordStream::~RecordStream()
{
    close();
}

void RecordStream::closeCursors()
{
    runs_.reset();
    steps_.reset();
    measurements_.reset();
    traces_.reset();
}

void RecordStream::close()
{
    closeCursors();
    if (!open_)
        return;
    open_ = false;
    QString ignored;
    if (db_.dialect() == Dialect::PostgreSQL)
        db_.rollback(); // its cursors and table go with the transaction
    else
        db_.exec(QStringLiteral("DROP TABLE IF EXISTS temp.bms_export"), ignored);
}

bool RecordStream::open(const RunFilter& filter, Parts parts, QString& error)
{
    close();
    const bool pg = db_.dialect() == Dialect::PostgreSQL;
    if (pg && !db_.begin(error))
        return false;
    open_ = true;
    if ((!pg && !db_.exec(QStringLiteral("DROP TABLE IF EXISTS temp.bms_export"), error))
        || !db_.exec(QStringLiteral("CREATE TEMP TABLE bms_export (n INTEGER PRIMARY KEY, run_id TEXT NOT NULL)")
                         + (pg ? QStringLiteral(" ON COMMIT DROP") : QString()),
                     error))
        return false;
    // One run more than the limit tells whether it cut the list.
    QVariantList values;
    QString sql = QStringLiteral("INSERT INTO bms_export (n, run_id)"
                                 " SELECT ROW_NUMBER() OVER (ORDER BY r.started, r.run_id), r.run_id FROM runs r")
        + FilterWhere(db_, filter, values) + QStringLiteral(" ORDER BY r.started, r.run_id");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(qint64(filter.limit) + 1);
    QSqlQuery& list = db_.prepared(sql);
    if (!db_.exec(list, values, error))
        return false;
    cut_ = filter.limit > 0 && list.numRowsAffected() > filter.limit;
    if (cut_ && !db_.exec(QStringLiteral("DELETE FROM bms_export WHERE n > %1").arg(filter.limit), error))
        return false;
    return reread(parts, error);
}

bool RecordStream::reread(Parts parts, QString& error)
{
    closeCursors();
    parts_ = parts;
    if (db_.dialect() == Dialect::PostgreSQL && !db_.exec(QStringLiteral("CLOSE ALL"), error))
        return false;
    runs_ = RowCursor::open(db_, "bms_runs",
                            parts_.header ? QStringLiteral("SELECT e.run_id, r.header FROM bms_export e"
                                                           " JOIN runs r ON r.run_id = e.run_id ORDER BY e.n")
                                          : QStringLiteral("SELECT e.run_id FROM bms_export e ORDER BY e.n"),
                            error);
    steps_ = runs_ ? RowCursor::open(db_, "bms_steps",
                                     QStringLiteral("SELECT e.run_id, s.step_index, s.name, s.kind, s.outcome, s.started_at,"
                                                    " s.ended_at, s.retries, s.reason, s.extra FROM bms_export e"
                                                    " JOIN steps s ON s.run_id = e.run_id ORDER BY e.n, s.seq"),
                                     error)
                   : nullptr;
    measurements_ = steps_ ? RowCursor::open(db_, "bms_measurements",
                                             QStringLiteral("SELECT e.run_id, m.step, m.name, m.value_num, m.value_text, m.unit,"
                                                            " m.limits, m.outcome, m.extra FROM bms_export e"
                                                            " JOIN measurements m ON m.run_id = e.run_id ORDER BY e.n, m.seq"),
                                             error)
                           : nullptr;
    if (measurements_ && parts_.trace)
        traces_ = RowCursor::open(db_, "bms_traces",
                                  QStringLiteral("SELECT e.run_id, a.meta, a.data FROM bms_export e"
                                                 " JOIN attachments a ON a.run_id = e.run_id AND a.name = 'trace' ORDER BY e.n"),
                                  error);
    return measurements_ && (traces_ || !parts_.trace);
}

std::optional<QJsonObject> RecordStream::next(QString& error)
{
    if (!runs_)
        return QJsonObject();
    const QVariantList* run = runs_->peek(error);
    if (!run)
        return error.isEmpty() ? std::optional<QJsonObject>(QJsonObject()) : std::nullopt;
    const QVariant id = run->at(0);
    QJsonObject record = parts_.header ? QJsonDocument::fromJson(run->at(1).toString().toUtf8()).object()
                                       : QJsonObject{{QStringLiteral("run_id"), id.toString()}};
    runs_->pop();
    // The rows of this run stand next in each query (the same order).
    const auto ofRun = [&](RowCursor& cursor, const auto& take) {
        for (const QVariantList* row = cursor.peek(error); row && row->at(0) == id; row = cursor.peek(error)) {
            take(*row);
            cursor.pop();
        }
        return error.isEmpty();
    };
    QJsonArray steps, measurements;
    const bool read =
        ofRun(*steps_,
              [&](const QVariantList& r) {
                  steps.append(StepOfColumns({r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9]}));
              })
        && ofRun(*measurements_,
                 [&](const QVariantList& r) {
                     measurements.append(MeasurementOfColumns({r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]}));
                 })
        && (!traces_ || ofRun(*traces_, [&](const QVariantList& r) {
               record.insert(QLatin1String("trace"), TraceOfColumns(r[1].toString(), r[2].toByteArray()));
           }));
    if (!read)
        return std::nullopt;
    record.insert(QLatin1String("steps"), steps);
    record.insert(QLatin1String("measurements"), measurements);
    return record;
}

} // namespace bms::records
