#include "PrintLog.h"

#include "Database.h"

#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace bms::records {

namespace {

const char kColumns[] = "print_id, run_id, kind, printed, operator, station_id, printer, job_id, state, "
                        "reason, reprint_reason";

QVariant TextOrNull(const QString& s)
{
    return s.isEmpty() ? QVariant() : QVariant(s);
}

bool Insert(Database& db, const QVariantList& row, QString& error)
{
    QSqlQuery& q = db.prepared(QStringLiteral("INSERT INTO prints (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                              " ON CONFLICT DO NOTHING")
                                   .arg(QLatin1String(kColumns)));
    for (qsizetype i = 0; i < row.size(); ++i)
        q.bindValue(int(i), row[i]);
    return db.exec(q, error);
}

} // namespace

bool StorePrint(Database& db, PrintEntry e, QString& error)
{
    if (e.printId.isEmpty())
        e.printId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return Insert(db,
                  {e.printId, e.runId, e.kind, db.time(e.at.toMSecsSinceEpoch()), TextOrNull(e.operatorName),
                   TextOrNull(e.stationId), TextOrNull(e.printer), e.jobId ? QVariant(e.jobId) : QVariant(), e.state,
                   TextOrNull(e.reason), TextOrNull(e.reprintReason)},
                  error);
}

std::optional<std::vector<PrintEntry>> PrintsOf(Database& db, const QString& runId, QString& error)
{
    QSqlQuery& q = db.prepared(
        QStringLiteral("SELECT %1 FROM prints WHERE run_id = ? ORDER BY printed, print_id").arg(QLatin1String(kColumns)));
    q.bindValue(0, runId);
    if (!db.exec(q, error))
        return std::nullopt;
    std::vector<PrintEntry> out;
    while (q.next()) {
        PrintEntry e;
        e.printId = q.value(0).toString();
        e.runId = q.value(1).toString();
        e.kind = q.value(2).toString();
        e.at = QDateTime::fromMSecsSinceEpoch(Database::msOf(q.value(3)));
        e.operatorName = q.value(4).toString();
        e.stationId = q.value(5).toString();
        e.printer = q.value(6).toString();
        e.jobId = q.value(7).toInt();
        e.state = q.value(8).toString();
        e.reason = q.value(9).toString();
        e.reprintReason = q.value(10).toString();
        out.push_back(e);
    }
    q.finish();
    return out;
}

bool PrintsWaiting(Database& local)
{
    QString error;
    QSqlQuery& q = local.prepared(QStringLiteral("SELECT 1 FROM prints WHERE synced = 0 LIMIT 1"));
    const bool waiting = local.exec(q, error) && q.next();
    q.finish();
    return waiting;
}

std::optional<int> ForwardPrints(Database& local, Database& line, QString& error)
{
    QSqlQuery& q = local.prepared(QStringLiteral("SELECT %1 FROM prints WHERE synced = 0 ORDER BY printed LIMIT 200")
                                      .arg(QLatin1String(kColumns)));
    if (!local.exec(q, error))
        return std::nullopt;
    std::vector<QVariantList> rows;
    while (q.next()) {
        QVariantList row;
        for (int c = 0; c < 11; ++c)
            row.append(c == 3 ? line.time(Database::msOf(q.value(c))) : q.value(c));
        rows.push_back(row);
    }
    q.finish();
    if (rows.empty())
        return 0;
    {
        Transaction tx(line);
        if (!tx.begin(error))
            return std::nullopt;
        for (const QVariantList& row : rows)
            if (!Insert(line, row, error))
                return std::nullopt;
        if (!tx.commit(error))
            return std::nullopt;
    }
    // Marked once the line has them; should this fail they are sent again,
    // which adds nothing there.
    Transaction tx(local);
    if (!tx.begin(error))
        return std::nullopt;
    QSqlQuery& mark = local.prepared(QStringLiteral("UPDATE prints SET synced = 1 WHERE print_id = ?"));
    for (const QVariantList& row : rows) {
        mark.bindValue(0, row[0]);
        if (!local.exec(mark, error))
            return std::nullopt;
    }
    if (!tx.commit(error))
        return std::nullopt;
    return int(rows.size());
}

} // namespace bms::records
