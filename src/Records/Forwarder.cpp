#include "Forwarder.h"

#include "Database.h"
#include "PrintLog.h"
#include "RecordStore.h"
#include "Schema.h"
#include "StorableText.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <vector>

namespace bms::records {

namespace {

// Runs copied in one transaction of the line database: at most 50, and no
// more than about 8 MiB of their rows as the server is handed them (a run
// larger than that goes alone), so that neither side holds a batch of big
// traces at once.
constexpr qsizetype kBatch = 50;
constexpr qint64 kBatchBytes = 8 * 1024 * 1024;

// About what the rows of each waiting run weigh in the JSON the server is
// handed: texts by their length, a trace's bytes twice (hexadecimal), the
// names of the columns once a row.
const char kDueRuns[] =
    "SELECT q.run_id,"
    " COALESCE((SELECT 2 * LENGTH(r.header) + 600 FROM runs r WHERE r.run_id = q.run_id), 0)"
    " + COALESCE((SELECT SUM(160 + COALESCE(LENGTH(s.name), 0) + COALESCE(LENGTH(s.kind), 0)"
    "   + COALESCE(LENGTH(s.started_at), 0) + COALESCE(LENGTH(s.ended_at), 0) + COALESCE(LENGTH(s.reason), 0)"
    "   + COALESCE(LENGTH(s.extra), 0)) FROM steps s WHERE s.run_id = q.run_id), 0)"
    " + COALESCE((SELECT SUM(200 + LENGTH(m.name) + COALESCE(LENGTH(m.value_text), 0) + COALESCE(LENGTH(m.unit), 0)"
    "   + COALESCE(LENGTH(m.limits), 0) + COALESCE(LENGTH(m.extra), 0)) FROM measurements m WHERE m.run_id = q.run_id), 0)"
    " + COALESCE((SELECT SUM(100 + LENGTH(a.meta) + 2 * COALESCE(LENGTH(a.data), 0)) FROM attachments a"
    "   WHERE a.run_id = q.run_id), 0)"
    " FROM forward_queue q WHERE q.next_ms <= ? ORDER BY q.queued_ms, q.run_id LIMIT ?";

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 Delay(const ForwardTiming& t, int failures)
{
    qint64 delay = t.firstRetryMs;
    for (int i = 1; i < failures && delay < t.maxRetryMs; ++i)
        delay *= 2;
    return std::min<qint64>(delay, t.maxRetryMs);
}

// What of run `runId`, as the PC keeps it, the line's server cannot take:
// a whole number beyond 32 bits in an INTEGER column, or a text it cannot
// hold (both kept by tools that did not check a record for them). Empty
// when nothing is found.
QString FieldTheLineRefuses(Database& local, const QString& runId)
{
    struct IntegerColumn {
        const char* table;
        const char* column;
        const char* field;
    };
    static const IntegerColumn columns[] = {
        {"steps", "step_index", "index"}, {"steps", "retries", "retries"}, {"measurements", "step", "step"}};
    QString error;
    for (const IntegerColumn& c : columns) {
        QSqlQuery& q = local.prepared(QStringLiteral("SELECT seq, %2 FROM %1 WHERE run_id = ? AND %2 NOT BETWEEN -2147483648 AND "
                                                     "2147483647 ORDER BY seq LIMIT 1")
                                          .arg(QLatin1String(c.table), QLatin1String(c.column)));
        q.bindValue(0, runId);
        if (local.exec(q, error) && q.next()) {
            const QString field = QStringLiteral("%1[%2].%3 is %4, beyond 32 bits")
                                      .arg(QLatin1String(c.table))
                                      .arg(q.value(0).toLongLong())
                                      .arg(QLatin1String(c.field))
                                      .arg(q.value(1).toLongLong());
            q.finish();
            return field;
        }
        q.finish();
    }
    const std::optional<QJsonObject> record = RecordStore(local, false).load(runId, error);
    return record ? UnstorableText(*record) : QString();
}

} // namespace

QString WaitingText(int waiting)
{
    if (waiting == 0)
        return QStringLiteral("all forwarded");
    if (waiting == 1)
        return QStringLiteral("1 run waiting for the line database");
    return QStringLiteral("%1 runs waiting for the line database").arg(waiting);
}

Forwarder::Forwarder(Database& local, QString lineUrl, ForwardTiming timing)
    : local_(local), url_(std::move(lineUrl)), timing_(timing)
{
}

Forwarder::~Forwarder() = default;

bool Forwarder::connectLine(QString& error)
{
    if (line_)
        return true;
    line_ = Database::openPostgres(url_, error);
    if (line_ && !Migrate(*line_, error))
        line_.reset();
    return line_ != nullptr;
}

Database* Forwarder::lineDatabase(QString& error)
{
    if (!line_ && NowMs() < serverRetryAtMs_) {
        error = lastError_;
        return nullptr;
    }
    if (!connectLine(error)) {
        ++serverFailures_;
        serverRetryAtMs_ = NowMs() + Delay(timing_, serverFailures_);
        lastError_ = error;
        return nullptr;
    }
    return line_.get();
}

bool Forwarder::lineAlive()
{
    // A statement that ran out of time (a lock held on the server, a server
    // that stopped answering) would do the same for each run tried alone.
    QString ignored;
    return line_ && !line_->overran() && line_->exec(QStringLiteral("SELECT 1"), ignored);
}

std::optional<int> Forwarder::waiting(QString& error)
{
    QSqlQuery& q = local_.prepared(QStringLiteral("SELECT COUNT(*) FROM forward_queue"));
    if (!local_.exec(q, error))
        return std::nullopt;
    const int count = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    return count;
}

qint64 Forwarder::msUntilDue()
{
    QString error;
    QSqlQuery& q = local_.prepared(QStringLiteral("SELECT MIN(next_ms) FROM forward_queue"));
    if (!local_.exec(q, error))
        return timing_.firstRetryMs;
    const QVariant next = q.next() ? q.value(0) : QVariant();
    q.finish();
    if (next.isNull())
        return -1;
    const qint64 due = std::max(next.toLongLong(), serverRetryAtMs_);
    return std::max<qint64>(0, due - NowMs());
}

bool Forwarder::copyRuns(const QStringList& runIds, QString& error)
{
    Transaction tx(*line_);
    return tx.begin(error) && RecordStore::copyRuns(local_, *line_, runIds, error) && tx.commit(error);
}

void Forwarder::backOffRun(const QString& runId, const QString& error)
{
    QSqlQuery& q = local_.prepared(
        QStringLiteral("UPDATE forward_queue SET attempts = attempts + 1, next_ms = ?, last_error = ? WHERE run_id = ?"));
    QSqlQuery& attempts = local_.prepared(QStringLiteral("SELECT attempts FROM forward_queue WHERE run_id = ?"));
    attempts.bindValue(0, runId);
    QString ignored;
    int failures = 1;
    if (local_.exec(attempts, ignored) && attempts.next())
        failures = attempts.value(0).toInt() + 1;
    attempts.finish();
    q.bindValue(0, NowMs() + Delay(timing_, failures));
    q.bindValue(1, error);
    q.bindValue(2, runId);
    local_.exec(q, ignored);
}

bool Forwarder::dequeue(const QStringList& runIds, QString& error)
{
    Transaction tx(local_);
    if (!tx.begin(error))
        return false;
    QSqlQuery& done = local_.prepared(QStringLiteral("DELETE FROM forward_queue WHERE run_id = ?"));
    for (const QString& runId : runIds) {
        done.bindValue(0, runId);
        if (!local_.exec(done, error))
            return false;
    }
    return tx.commit(error);
}

Forwarder::Pass Forwarder::forward(bool dueOnly, int maxRuns)
{
    Pass pass;
    const qint64 now = NowMs();
    if (dueOnly && now < serverRetryAtMs_) {
        pass.error = lastError_;
    } else {
        QSqlQuery& q = local_.prepared(QLatin1String(kDueRuns));
        q.bindValue(0, dueOnly ? now : std::numeric_limits<qint64>::max());
        q.bindValue(1, maxRuns);
        QStringList due;
        std::vector<qint64> bytes;
        if (local_.exec(q, pass.error)) {
            while (q.next()) {
                due.append(q.value(0).toString());
                bytes.push_back(q.value(1).toLongLong());
            }
        }
        q.finish();
        lastError_.clear();
        QStringList copied;
        QString error;
        // Batches of runs, each in one transaction of the server: a run is
        // whole or absent there whatever happens, and a batch costs a few
        // statements and one commit however many runs it holds.
        for (qsizetype at = 0, next = 0; at < due.size(); at = next) {
            qint64 weight = 0;
            for (next = at; next < due.size() && next - at < kBatch && (next == at || weight + bytes[size_t(next)] <= kBatchBytes);
                 ++next)
                weight += bytes[size_t(next)];
            const QStringList batch = due.mid(at, next - at);
            if (!connectLine(error)) {
                pass.error = error;
                break;
            }
            if (copyRuns(batch, error)) {
                copied += batch;
                continue;
            }
            if (!lineAlive()) {
                // The server went away: the whole queue waits for it.
                line_.reset();
                pass.error = error;
                break;
            }
            // The server refused the batch: one run at a time, so that a run
            // it refuses waits alone (with its own back-off).
            for (const QString& runId : batch) {
                if (copyRuns({runId}, error)) {
                    copied.append(runId);
                } else if (!lineAlive()) {
                    line_.reset();
                    pass.error = error;
                    break;
                } else {
                    // Named with the run (and the field when the PC's rows
                    // show it), which waits with its own back-off.
                    pass.error = QStringLiteral("run %1: %2").arg(runId, error);
                    if (const QString field = FieldTheLineRefuses(local_, runId); !field.isEmpty())
                        pass.error += QStringLiteral(" (%1)").arg(field);
                    backOffRun(runId, pass.error);
                }
            }
            if (!line_)
                break;
        }
        // Taken off the queue together, in one local transaction (one disk
        // flush, not one per run). Should this fail or the process die
        // before it, those runs are copied again later, which adds nothing
        // on the line.
        if (!copied.isEmpty()) {
            if (dequeue(copied, error))
                pass.forwarded = int(copied.size());
            else
                pass.error = error;
        }
        // The prints of labels and reports follow their runs.
        if (pass.error.isEmpty() && PrintsWaiting(local_)) {
            if (!connectLine(error) || !ForwardPrints(local_, *line_, error)) {
                pass.error = error;
                if (line_ && !lineAlive())
                    line_.reset();
            }
        }
        if (!pass.error.isEmpty() && !line_) {
            ++serverFailures_;
            serverRetryAtMs_ = NowMs() + Delay(timing_, serverFailures_);
        } else if (line_) {
            serverFailures_ = 0;
            serverRetryAtMs_ = 0;
        }
        lastError_ = pass.error;
    }
    QString error;
    pass.waiting = waiting(error).value_or(-1);
    return pass;
}

} // namespace bms::records
