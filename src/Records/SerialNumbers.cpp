#include "SerialNumbers.h"

#include "Database.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

namespace bms::records {

namespace {

QString Now()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

} // namespace

std::optional<qint64> SqlSerialSequence::reserve(const QString& key, const QString& runId, QString& error)
{
    Transaction tx(db_);
    if (!tx.begin(error))
        return std::nullopt;
    QSqlQuery& create = db_.prepared(
        QStringLiteral("INSERT INTO serial_sequences (key, next_number) VALUES (?, 1) ON CONFLICT (key) DO NOTHING"));
    create.bindValue(0, key);
    if (!db_.exec(create, error))
        return std::nullopt;
    // PostgreSQL: the key's row is locked until the commit, so reservations
    // of one key take turns across every connection. SQLite: BEGIN IMMEDIATE
    // holds the whole database's write lock already.
    QSqlQuery& next = db_.prepared(db_.dialect() == Dialect::PostgreSQL
                                       ? QStringLiteral("SELECT next_number FROM serial_sequences WHERE key = ? FOR UPDATE")
                                       : QStringLiteral("SELECT next_number FROM serial_sequences WHERE key = ?"));
    next.bindValue(0, key);
    if (!db_.exec(next, error))
        return std::nullopt;
    if (!next.next()) {
        error = QStringLiteral("serial sequence %1 vanished").arg(key);
        return std::nullopt;
    }
    const qint64 nextNumber = next.value(0).toLongLong();
    next.finish();

    QSqlQuery& released = db_.prepared(QStringLiteral(
        "SELECT number FROM serial_numbers WHERE key = ? AND state = 'released' ORDER BY number LIMIT 1"));
    released.bindValue(0, key);
    if (!db_.exec(released, error))
        return std::nullopt;
    const bool reuse = released.next();
    const qint64 number = reuse ? released.value(0).toLongLong() : nextNumber;
    released.finish();

    if (reuse) {
        QSqlQuery& take = db_.prepared(QStringLiteral(
            "UPDATE serial_numbers SET state = 'reserved', run_id = ?, changed_at = ? WHERE key = ? AND number = ?"));
        take.bindValue(0, runId);
        take.bindValue(1, Now());
        take.bindValue(2, key);
        take.bindValue(3, number);
        if (!db_.exec(take, error))
            return std::nullopt;
    } else {
        QSqlQuery& add = db_.prepared(QStringLiteral(
            "INSERT INTO serial_numbers (key, number, run_id, state, changed_at) VALUES (?, ?, ?, 'reserved', ?)"));
        add.bindValue(0, key);
        add.bindValue(1, number);
        add.bindValue(2, runId);
        add.bindValue(3, Now());
        QSqlQuery& advance = db_.prepared(QStringLiteral("UPDATE serial_sequences SET next_number = ? WHERE key = ?"));
        if (!db_.exec(add, error))
            return std::nullopt;
        advance.bindValue(0, number + 1);
        advance.bindValue(1, key);
        if (!db_.exec(advance, error))
            return std::nullopt;
    }
    if (!tx.commit(error))
        return std::nullopt;
    return number;
}

bool SqlSerialSequence::move(const QString& key, qint64 number, const QString& runId, const char* to, QString& error)
{
    QSqlQuery& q = db_.prepared(QStringLiteral(
        "UPDATE serial_numbers SET state = ?, changed_at = ? WHERE key = ? AND number = ? AND run_id = ? AND state IN ('reserved', ?)"));
    q.bindValue(0, QLatin1String(to));
    q.bindValue(1, Now());
    q.bindValue(2, key);
    q.bindValue(3, number);
    q.bindValue(4, runId);
    q.bindValue(5, QLatin1String(to));
    if (!db_.exec(q, error))
        return false;
    if (q.numRowsAffected() != 1) {
        error = QStringLiteral("serial number %1 of %2 is not reserved for run %3").arg(number).arg(key, runId);
        return false;
    }
    return true;
}

bool SqlSerialSequence::commit(const QString& key, qint64 number, const QString& runId, QString& error)
{
    return move(key, number, runId, "committed", error);
}

bool SqlSerialSequence::release(const QString& key, qint64 number, const QString& runId, QString& error)
{
    return move(key, number, runId, "released", error);
}

} // namespace bms::records
