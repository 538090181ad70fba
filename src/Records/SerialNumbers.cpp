#include "SerialNumbers.h"

#include "Database.h"

#include <QDateTime>
#include <QFile>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <unistd.h>

namespace bms::records {

namespace {

// The start time of process `pid` in clock ticks since boot (field 22 of
// /proc/PID/stat); empty when the process does not exist.
QString StartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.read(4096);
    // The command name (field 2) may hold blanks and parentheses: the
    // fields after it start behind its last ')'.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 19 ? QString::fromLatin1(fields[19]) : QString();
}

QString HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return QStringLiteral("localhost");
    return QString::fromLocal8Bit(name);
}

} // namespace

QString ThisProcessHolder()
{
    const qint64 pid = ::getpid();
    return QStringLiteral("%1/%2/%3").arg(HostName()).arg(pid).arg(StartTime(pid));
}

bool HolderAlive(const QString& holder)
{
    const QStringList parts = holder.split(QLatin1Char('/'));
    if (parts.size() != 3 || parts[0] != HostName())
        return true;
    bool ok = false;
    const qint64 pid = parts[1].toLongLong(&ok);
    return ok && pid > 0 && StartTime(pid) == parts[2];
}

std::optional<std::optional<SerialGrant>> SqlSerialSequence::boundTo(const QString& barcode, QString& error)
{
    if (barcode.isEmpty())
        return std::optional<SerialGrant>();
    QSqlQuery& q = db_.prepared(QStringLiteral(
        "SELECT key, number, value FROM serial_numbers WHERE barcode = ? AND state IN ('written', 'committed')"
        " ORDER BY changed DESC, number DESC LIMIT 1"));
    if (!db_.exec(q, {barcode}, error))
        return std::nullopt;
    std::optional<SerialGrant> found;
    if (q.next())
        found = SerialGrant{q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toString(), true};
    q.finish();
    return found;
}

bool SqlSerialSequence::adoptBound(const SerialGrant& g, const QString& barcode, QString& error)
{
    QSqlQuery& q = db_.prepared(QStringLiteral(
        "INSERT INTO serial_numbers (key, number, run_id, state, changed, value, barcode, origin, synced)"
        " VALUES (?, ?, '', 'written', ?, ?, ?, 'line', 1)"
        " ON CONFLICT (key, number) DO UPDATE SET state = 'written', value = excluded.value, barcode = excluded.barcode,"
        " origin = 'line', synced = 1 WHERE serial_numbers.state IN ('leased', 'released')"));
    return db_.exec(q, {g.key, g.number, db_.now(), g.value, barcode}, error);
}

std::optional<SerialGrant> SqlSerialSequence::reserve(const QString& key, const QString& runId, const QString& barcode,
                                                      QString& error)
{
    Transaction tx(db_);
    if (!tx.begin(error))
        return std::nullopt;
    // A pack that has a number keeps it.
    const auto bound = boundTo(barcode, error);
    if (!bound)
        return std::nullopt;
    if (*bound) {
        if (!tx.commit(error))
            return std::nullopt;
        return *bound;
    }
    std::optional<SerialGrant> grant = take(key, runId, error);
    if (!grant || !tx.commit(error))
        return std::nullopt;
    return grant;
}

std::optional<SerialGrant> SqlSerialSequence::take(const QString& key, const QString& runId, QString& error)
{
    const QString holder = ThisProcessHolder();
    // The lowest number free for a run: leased from the line, or given back.
    QSqlQuery& free = db_.prepared(QStringLiteral(
        "SELECT number FROM serial_numbers WHERE key = ? AND state = ? ORDER BY number LIMIT 1"));
    if (!db_.exec(free, {key, QLatin1String(leasedOnly_ ? "leased" : "released")}, error))
        return std::nullopt;
    const bool reuse = free.next();
    qint64 number = reuse ? free.value(0).toLongLong() : 0;
    free.finish();
    if (reuse) {
        QSqlQuery& takeIt = db_.prepared(QStringLiteral(
            "UPDATE serial_numbers SET state = 'reserved', run_id = ?, holder = ?, changed = ?, synced = 0"
            " WHERE key = ? AND number = ?"));
        if (!db_.exec(takeIt, {runId, holder, db_.now(), key, number}, error))
            return std::nullopt;
        return SerialGrant{key, number, {}, false};
    }
    if (leasedOnly_) {
        error = QStringLiteral("no serial number of %1 is left on this PC").arg(key);
        return std::nullopt;
    }
    QSqlQuery& create = db_.prepared(
        QStringLiteral("INSERT INTO serial_sequences (key, next_number) VALUES (?, 1) ON CONFLICT (key) DO NOTHING"));
    if (!db_.exec(create, {key}, error))
        return std::nullopt;
    // PostgreSQL: the key's row is locked until the commit, so reservations
    // of one key take turns across every connection. SQLite: BEGIN IMMEDIATE
    // holds the whole database's write lock already.
    QSqlQuery& next = db_.prepared(db_.dialect() == Dialect::PostgreSQL
                                       ? QStringLiteral("SELECT next_number FROM serial_sequences WHERE key = ? FOR UPDATE")
                                       : QStringLiteral("SELECT next_number FROM serial_sequences WHERE key = ?"));
    if (!db_.exec(next, {key}, error))
        return std::nullopt;
    if (!next.next()) {
        error = QStringLiteral("serial sequence %1 vanished").arg(key);
        return std::nullopt;
    }
    number = next.value(0).toLongLong();
    next.finish();
    // Past every number this database knows under the key, whatever gave
    // it (a line's lease, a number adopted from the line).
    QSqlQuery& known = db_.prepared(QStringLiteral("SELECT MAX(number) FROM serial_numbers WHERE key = ?"));
    if (!db_.exec(known, {key}, error))
        return std::nullopt;
    if (known.next() && !known.value(0).isNull())
        number = std::max(number, known.value(0).toLongLong() + 1);
    known.finish();
    QSqlQuery& add = db_.prepared(QStringLiteral(
        "INSERT INTO serial_numbers (key, number, run_id, state, changed, holder, origin, synced)"
        " VALUES (?, ?, ?, 'reserved', ?, ?, 'local', 0)"));
    if (!db_.exec(add, {key, number, runId, db_.now(), holder}, error))
        return std::nullopt;
    QSqlQuery& advance = db_.prepared(QStringLiteral("UPDATE serial_sequences SET next_number = ? WHERE key = ?"));
    if (!db_.exec(advance, {number + 1, key}, error))
        return std::nullopt;
    return SerialGrant{key, number, {}, false};
}

bool SqlSerialSequence::bind(const SerialGrant& g, const QString& runId, const QString& barcode, const QString& uid,
                             QString& error)
{
    if (g.reused) {
        // The pack's own number: its binding stands; the UID is added when
        // it was not known.
        QSqlQuery& q = db_.prepared(QStringLiteral(
            "UPDATE serial_numbers SET uid = COALESCE(uid, ?) WHERE key = ? AND number = ? AND barcode = ?"));
        if (!db_.exec(q, {uid.isEmpty() ? QVariant() : QVariant(uid), g.key, g.number, barcode}, error))
            return false;
        if (q.numRowsAffected() == 1)
            return true;
        error = QStringLiteral("serial number %1 is not %2's").arg(g.value, barcode);
        return false;
    }
    QSqlQuery& q = db_.prepared(QStringLiteral(
        "UPDATE serial_numbers SET state = 'written', barcode = ?, uid = ?, value = ?, changed = ?, synced = 0"
        " WHERE key = ? AND number = ? AND run_id = ? AND state = 'reserved'"));
    if (!db_.exec(q, {barcode, uid.isEmpty() ? QVariant() : QVariant(uid), g.value, db_.now(), g.key, g.number, runId}, error))
        return false;
    if (q.numRowsAffected() == 1)
        return true;
    error = QStringLiteral("serial number %1 of %2 is not reserved for run %3").arg(g.number).arg(g.key, runId);
    return false;
}

bool SqlSerialSequence::settle(const SerialGrant& g, const QString& runId, bool written, bool passed, QString& error)
{
    if (written && !passed)
        return true; // the pack's, as it was bound
    if (written) {
        // The pack's own number from an earlier run is committed by a retest
        // that passes; a new one only by the run that wrote it.
        QSqlQuery& q = db_.prepared(
            g.reused ? QStringLiteral("UPDATE serial_numbers SET state = 'committed', changed = ?, synced = 0"
                                      " WHERE key = ? AND number = ? AND state IN ('written', 'committed')")
                     : QStringLiteral("UPDATE serial_numbers SET state = 'committed', changed = ?, synced = 0"
                                      " WHERE key = ? AND number = ? AND state IN ('written', 'committed') AND run_id = ?"));
        const QVariantList values = g.reused ? QVariantList{db_.now(), g.key, g.number} : QVariantList{db_.now(), g.key, g.number, runId};
        if (!db_.exec(q, values, error))
            return false;
        if (q.numRowsAffected() == 1)
            return true;
        error = QStringLiteral("serial number %1 of %2 was not written by run %3").arg(g.number).arg(g.key, runId);
        return false;
    }
    if (g.reused)
        return true;
    // Never written: free again. A leased number goes back to this PC's
    // lease (the line knows it as leased still); one of the PC's own
    // sequence is handed out again first.
    QSqlQuery& q = db_.prepared(QStringLiteral(
        "UPDATE serial_numbers SET state = CASE WHEN origin = 'line' THEN 'leased' ELSE 'released' END,"
        " run_id = CASE WHEN origin = 'line' THEN '' ELSE run_id END, holder = NULL, changed = ?,"
        " synced = CASE WHEN origin = 'line' THEN 1 ELSE 0 END"
        " WHERE key = ? AND number = ? AND run_id = ? AND state = 'reserved'"));
    if (!db_.exec(q, {db_.now(), g.key, g.number, runId}, error))
        return false;
    if (q.numRowsAffected() == 1)
        return true;
    // Settled before (by this run, or as abandoned): nothing to do when the
    // number is free or the run's already.
    QSqlQuery& state = db_.prepared(QStringLiteral("SELECT state, run_id FROM serial_numbers WHERE key = ? AND number = ?"));
    if (!db_.exec(state, {g.key, g.number}, error))
        return false;
    const bool settled = state.next()
        && (state.value(0).toString() == QLatin1String("leased") || state.value(0).toString() == QLatin1String("released"));
    state.finish();
    if (settled)
        return true;
    error = QStringLiteral("serial number %1 of %2 is not reserved for run %3").arg(g.number).arg(g.key, runId);
    return false;
}

std::optional<qint64> SqlSerialSequence::leasedLeft(const QString& key, QString& error)
{
    QSqlQuery& q = db_.prepared(QStringLiteral("SELECT COUNT(*) FROM serial_numbers WHERE key = ? AND state = 'leased'"));
    if (!db_.exec(q, {key}, error))
        return std::nullopt;
    const qint64 n = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    return n;
}

std::optional<int> SqlSerialSequence::settleAbandoned(QString& error)
{
    QSqlQuery& q = db_.prepared(QStringLiteral(
        "SELECT key, number, run_id, holder FROM serial_numbers WHERE state = 'reserved'"));
    if (!db_.exec(q, {}, error))
        return std::nullopt;
    std::vector<std::pair<SerialGrant, QString>> gone;
    while (q.next()) {
        const QString holder = q.value(3).toString();
        // A reservation from before holders were kept has no process to
        // ask: it is settled too, as its run cannot still be going.
        if (holder.isEmpty() || !HolderAlive(holder))
            gone.push_back({SerialGrant{q.value(0).toString(), q.value(1).toLongLong(), {}, false}, q.value(2).toString()});
    }
    q.finish();
    int settled = 0;
    for (const auto& [grant, runId] : gone) {
        if (!settle(grant, runId, false, false, error))
            return std::nullopt;
        ++settled;
    }
    return settled;
}

std::optional<std::vector<SerialRow>> SqlSerialSequence::list(const QStringList& states, int limit, QString& error)
{
    QString sql = QStringLiteral("SELECT key, number, COALESCE(value, ''), state, run_id, COALESCE(barcode, ''),"
                                 " COALESCE(holder, ''), changed FROM serial_numbers");
    QVariantList values;
    if (!states.isEmpty()) {
        QStringList marks;
        for (const QString& s : states) {
            marks.append(QStringLiteral("?"));
            values.append(s);
        }
        sql += QStringLiteral(" WHERE state IN (%1)").arg(marks.join(QStringLiteral(", ")));
    }
    sql += QStringLiteral(" ORDER BY changed DESC, key, number");
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    QSqlQuery& q = db_.prepared(sql);
    if (!db_.exec(q, values, error))
        return std::nullopt;
    std::vector<SerialRow> rows;
    while (q.next())
        rows.push_back({q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toString(), q.value(3).toString(),
                        q.value(4).toString(), q.value(5).toString(), q.value(6).toString(),
                        q.value(7).isNull() ? QString()
                                            : QDateTime::fromMSecsSinceEpoch(Database::msOf(q.value(7))).toString(Qt::ISODateWithMs)});
    q.finish();
    return rows;
}

} // namespace bms::records
