#include "SerialLease.h"

#include "Database.h"

#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <unistd.h>

namespace bms::records {

namespace {

bool Exec(Database& db, const QString& sql, const QVariantList& values, QString& error)
{
    return db.exec(db.prepared(sql), values, error);
}

// Rows of `sql`, each as its values.
std::optional<std::vector<QVariantList>> Rows(Database& db, const QString& sql, const QVariantList& values, int width,
                                              QString& error)
{
    QSqlQuery& q = db.prepared(sql);
    if (!db.exec(q, values, error))
        return std::nullopt;
    std::vector<QVariantList> rows;
    while (q.next()) {
        QVariantList row;
        for (int c = 0; c < width; ++c)
            row.append(q.value(c));
        rows.push_back(std::move(row));
    }
    q.finish();
    return rows;
}

// A moment kept in station_state: milliseconds since the epoch, as text.
std::optional<QDateTime> StateTime(const QVariant& value)
{
    bool ok = false;
    const qint64 ms = value.toString().toLongLong(&ok);
    return ok ? std::optional<QDateTime>(QDateTime::fromMSecsSinceEpoch(ms)) : std::nullopt;
}

QString ForUpdate(const Database& db)
{
    return db.dialect() == Dialect::PostgreSQL ? QStringLiteral(" FOR UPDATE") : QString();
}

// 1. What changed on the PC goes to the line.
bool Push(Database& local, Database& line, const QString& pc, SerialSyncReport& report, QString& error)
{
    const auto changed = Rows(local,
                              QStringLiteral("SELECT key, number, state, value, barcode, uid, run_id, origin, changed"
                                             " FROM serial_numbers WHERE synced = 0 AND state <> 'reserved'"),
                              {}, 9, error);
    if (!changed)
        return false;
    if (changed->empty())
        return true;
    std::vector<QVariantList> heard;
    {
        Transaction tx(line);
        if (!tx.begin(error))
            return false;
        for (const QVariantList& r : *changed) {
            const QString state = r[2].toString();
            if (state != QLatin1String("written") && state != QLatin1String("committed")) {
                heard.push_back(r); // given back before it was written: nothing for the line
                continue;
            }
            // The line takes the change for a number it leased to this PC,
            // or bound to the same pack, or never handed out for good.
            QSqlQuery& up = line.prepared(QStringLiteral(
                "INSERT INTO serial_numbers (key, number, run_id, state, changed, value, barcode, uid, holder, origin)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                " ON CONFLICT (key, number) DO UPDATE SET state = excluded.state, value = excluded.value,"
                " barcode = excluded.barcode, uid = excluded.uid, run_id = excluded.run_id, changed = excluded.changed"
                " WHERE serial_numbers.holder = excluded.holder OR serial_numbers.barcode = excluded.barcode"
                " OR serial_numbers.state = 'released'"));
            const QVariantList values = {r[0], r[1], r[6], state, r[8].isNull() ? QVariant() : line.time(Database::msOf(r[8])),
                                         r[3], r[4], r[5], pc, r[7]};
            for (int i = 0; i < values.size(); ++i)
                up.bindValue(i, values[i]);
            if (!line.exec(up, error))
                return false;
            if (up.numRowsAffected() != 1) {
                const auto there = Rows(line, QStringLiteral("SELECT COALESCE(barcode, ''), state FROM serial_numbers"
                                                             " WHERE key = ? AND number = ?"),
                                        {r[0], r[1]}, 2, error);
                if (!there)
                    return false;
                const QVariantList other = there->empty() ? QVariantList{QString(), QString()} : there->front();
                report.conflicts.append(QStringLiteral("%1: %2 here, %3 on the line (%4)")
                                            .arg(r[3].toString().isEmpty() ? QStringLiteral("%1 #%2").arg(r[0].toString()).arg(r[1].toLongLong())
                                                                           : r[3].toString(),
                                                 r[4].toString(), other[0].toString().isEmpty() ? QStringLiteral("another pack") : other[0].toString(),
                                                 other[1].toString()));
            }
            // The line's sequence passes every number a pack holds.
            if (!Exec(line,
                      QStringLiteral("INSERT INTO serial_sequences (key, next_number) VALUES (?, ?) ON CONFLICT (key) DO UPDATE"
                                     " SET next_number = CASE WHEN serial_sequences.next_number < excluded.next_number"
                                     " THEN excluded.next_number ELSE serial_sequences.next_number END"),
                      {r[0], r[1].toLongLong() + 1}, error))
                return false;
            heard.push_back(r);
        }
        if (!tx.commit(error))
            return false;
    }
    // Marked as heard unless a run changed them again meanwhile.
    Transaction tx(local);
    if (!tx.begin(error))
        return false;
    for (const QVariantList& r : heard) {
        if (!Exec(local,
                  QStringLiteral("UPDATE serial_numbers SET synced = 1 WHERE key = ? AND number = ? AND state = ? AND changed = ?"),
                  {r[0], r[1], r[2], r[8]}, error))
            return false;
    }
    report.pushed += int(heard.size());
    return tx.commit(error);
}

// Gives the leased, unused numbers of `key` (all keys when empty) back.
std::optional<int> GiveBack(Database& local, Database& line, const QString& pc, const QString& key, QString& error)
{
    const auto numbers = Rows(local,
                              key.isEmpty() ? QStringLiteral("SELECT key, number FROM serial_numbers WHERE state = 'leased'")
                                            : QStringLiteral("SELECT key, number FROM serial_numbers WHERE state = 'leased' AND key = ?"),
                              key.isEmpty() ? QVariantList{} : QVariantList{key}, 2, error);
    if (!numbers)
        return std::nullopt;
    {
        Transaction tx(line);
        if (!tx.begin(error))
            return std::nullopt;
        for (const QVariantList& n : *numbers) {
            if (!Exec(line,
                      QStringLiteral("UPDATE serial_numbers SET state = 'released', holder = NULL, changed = ?"
                                     " WHERE key = ? AND number = ? AND state = 'leased' AND holder = ?"),
                      {line.now(), n[0], n[1], pc}, error))
                return std::nullopt;
        }
        if (!tx.commit(error))
            return std::nullopt;
    }
    Transaction tx(local);
    if (!tx.begin(error))
        return std::nullopt;
    for (const QVariantList& n : *numbers) {
        if (!Exec(local, QStringLiteral("DELETE FROM serial_numbers WHERE key = ? AND number = ? AND state = 'leased'"),
                  {n[0], n[1]}, error))
            return std::nullopt;
    }
    if (!tx.commit(error))
        return std::nullopt;
    return int(numbers->size());
}

// Leases up to `count` numbers of `key` for this PC: the lowest released
// ones first, then new ones from the key's sequence.
std::optional<std::vector<qint64>> Lease(Database& line, const QString& pc, const QString& key, qint64 count, QString& error)
{
    Transaction tx(line);
    if (!tx.begin(error))
        return std::nullopt;
    if (!Exec(line, QStringLiteral("INSERT INTO serial_sequences (key, next_number) VALUES (?, 1) ON CONFLICT (key) DO NOTHING"),
              {key}, error))
        return std::nullopt;
    const auto next = Rows(line, QStringLiteral("SELECT next_number FROM serial_sequences WHERE key = ?") + ForUpdate(line),
                           {key}, 1, error);
    if (!next)
        return std::nullopt;
    if (next->empty()) {
        error = QStringLiteral("serial sequence %1 vanished").arg(key);
        return std::nullopt;
    }
    const qint64 first = next->front()[0].toLongLong();
    const auto released = Rows(line,
                               QStringLiteral("SELECT number FROM serial_numbers WHERE key = ? AND state = 'released'"
                                              " ORDER BY number LIMIT ?")
                                   + ForUpdate(line),
                               {key, count}, 1, error);
    if (!released)
        return std::nullopt;
    std::vector<qint64> numbers;
    for (const QVariantList& r : *released) {
        numbers.push_back(r[0].toLongLong());
        if (!Exec(line,
                  QStringLiteral("UPDATE serial_numbers SET state = 'leased', holder = ?, run_id = '', changed = ?"
                                 " WHERE key = ? AND number = ?"),
                  {pc, line.now(), key, numbers.back()}, error))
            return std::nullopt;
    }
    const qint64 fresh = count - qint64(numbers.size());
    if (fresh > 0) {
        if (!Exec(line,
                  QStringLiteral("INSERT INTO serial_numbers (key, number, run_id, state, changed, holder, origin)"
                                 " WITH RECURSIVE g(n) AS (SELECT CAST(? AS BIGINT) UNION ALL SELECT n + 1 FROM g WHERE n < ?)"
                                 " SELECT ?, n, '', 'leased', CAST(? AS %1), ?, 'line' FROM g")
                      .arg(QLatin1String(line.timeType())),
                  {first, first + fresh - 1, key, line.now(), pc}, error)
            || !Exec(line, QStringLiteral("UPDATE serial_sequences SET next_number = ? WHERE key = ?"), {first + fresh, key}, error))
            return std::nullopt;
        for (qint64 n = first; n < first + fresh; ++n)
            numbers.push_back(n);
    }
    if (!tx.commit(error))
        return std::nullopt;
    return numbers;
}

// Keeps `numbers` of `key` as leased to this PC.
bool KeepLeased(Database& local, const QString& key, const std::vector<qint64>& numbers, QString& error)
{
    Transaction tx(local);
    if (!tx.begin(error))
        return false;
    for (const qint64 n : numbers) {
        if (!Exec(local,
                  QStringLiteral("INSERT INTO serial_numbers (key, number, run_id, state, changed, origin, synced)"
                                 " VALUES (?, ?, '', 'leased', ?, 'line', 1)"
                                 " ON CONFLICT (key, number) DO UPDATE SET state = 'leased', origin = 'line', run_id = '',"
                                 " holder = NULL, synced = 1 WHERE serial_numbers.state = 'released'"),
                  {key, n, local.now()}, error))
            return false;
    }
    return tx.commit(error);
}

} // namespace

std::optional<QString> StationPcId(Database& local, QString& error)
{
    const auto rows = Rows(local, QStringLiteral("SELECT value FROM station_state WHERE name = 'pc_id'"), {}, 1, error);
    if (!rows)
        return std::nullopt;
    if (!rows->empty())
        return rows->front()[0].toString();
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QString made = QString::fromLocal8Bit(host) + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    if (!Exec(local, QStringLiteral("INSERT INTO station_state (name, value) VALUES ('pc_id', ?) ON CONFLICT (name) DO NOTHING"),
              {made}, error))
        return std::nullopt;
    // Another process may have made it first.
    const auto again = Rows(local, QStringLiteral("SELECT value FROM station_state WHERE name = 'pc_id'"), {}, 1, error);
    if (!again || again->empty())
        return std::nullopt;
    return again->front()[0].toString();
}

bool WantSerialKeys(Database& local, const std::vector<std::pair<QString, QDate>>& keys, int block, QString& error)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const auto& [key, day] : keys) {
        if (!Exec(local,
                  QStringLiteral("INSERT INTO serial_pools (key, day, block, wanted_ms) VALUES (?, ?, ?, ?)"
                                 " ON CONFLICT (key) DO UPDATE SET block = excluded.block, wanted_ms = excluded.wanted_ms"),
                  {key, day.isValid() ? QVariant(day.toString(Qt::ISODate)) : QVariant(), std::max(1, block), now}, error))
            return false;
    }
    return true;
}

bool SyncSerials(Database& local, Database& line, const QDate& today, SerialSyncReport& report, QString& error)
{
    const auto pc = StationPcId(local, error);
    if (!pc || !Push(local, line, *pc, report, error))
        return false;
    // Conflicts are kept for `station serials` until somebody reads them.
    if (!report.conflicts.isEmpty()) {
        QStringList kept = SerialConflicts(local);
        for (const QString& c : report.conflicts)
            if (!kept.contains(c))
                kept.append(c);
        if (!Exec(local,
                  QStringLiteral("INSERT INTO station_state (name, value) VALUES ('serial_conflicts', ?)"
                                 " ON CONFLICT (name) DO UPDATE SET value = excluded.value"),
                  {kept.join(QLatin1Char('\n'))}, error))
            return false;
    }
    const QString day = today.toString(Qt::ISODate);
    const auto pools = Rows(local, QStringLiteral("SELECT key, day, block FROM serial_pools ORDER BY key"), {}, 3, error);
    if (!pools)
        return false;
    for (const QVariantList& pool : *pools) {
        const QString key = pool[0].toString();
        if (!pool[1].isNull() && pool[1].toString() < day) {
            const auto returned = GiveBack(local, line, *pc, key, error);
            if (!returned || !Exec(local, QStringLiteral("DELETE FROM serial_pools WHERE key = ?"), {key}, error))
                return false;
            report.returned += *returned;
            continue;
        }
        // Numbers the line leased to this PC that a crash kept from being
        // noted here.
        const auto lost = Rows(line,
                               QStringLiteral("SELECT number FROM serial_numbers WHERE key = ? AND holder = ? AND state = 'leased'"),
                               {key, *pc}, 1, error);
        if (!lost)
            return false;
        std::vector<qint64> numbers;
        for (const QVariantList& r : *lost)
            numbers.push_back(r[0].toLongLong());
        if (!numbers.empty()) {
            Transaction tx(local);
            if (!tx.begin(error))
                return false;
            for (const qint64 n : numbers)
                if (!Exec(local,
                          QStringLiteral("INSERT INTO serial_numbers (key, number, run_id, state, changed, origin, synced)"
                                         " VALUES (?, ?, '', 'leased', ?, 'line', 1) ON CONFLICT (key, number) DO NOTHING"),
                          {key, n, local.now()}, error))
                    return false;
            if (!tx.commit(error))
                return false;
        }
        const qint64 block = std::max<qint64>(1, pool[2].toLongLong());
        const auto left = Rows(local, QStringLiteral("SELECT COUNT(*) FROM serial_numbers WHERE key = ? AND state = 'leased'"),
                               {key}, 1, error);
        if (!left)
            return false;
        const qint64 have = left->empty() ? 0 : left->front()[0].toLongLong();
        if (have * 4 >= block && have > 0)
            continue;
        const auto leased = Lease(line, *pc, key, block - have, error);
        if (!leased || !KeepLeased(local, key, *leased, error))
            return false;
        report.leased += int(leased->size());
    }
    return true;
}

std::optional<int> ReturnLeases(Database& local, Database& line, QString& error)
{
    const auto pc = StationPcId(local, error);
    if (!pc)
        return std::nullopt;
    return GiveBack(local, line, *pc, {}, error);
}

void NoteLineContact(Database& local, bool answered)
{
    QString ignored;
    if (answered) {
        Exec(local, QStringLiteral("DELETE FROM station_state WHERE name IN ('line_unreachable_since', 'line_failed_at')"), {},
             ignored);
        return;
    }
    const QString now = QString::number(QDateTime::currentMSecsSinceEpoch());
    Exec(local,
         QStringLiteral("INSERT INTO station_state (name, value) VALUES ('line_unreachable_since', ?) ON CONFLICT (name) DO NOTHING"),
         {now}, ignored);
    Exec(local,
         QStringLiteral("INSERT INTO station_state (name, value) VALUES ('line_failed_at', ?)"
                        " ON CONFLICT (name) DO UPDATE SET value = excluded.value"),
         {now}, ignored);
}

bool LineRecentlyDown(Database& local, qint64 withinMs)
{
    QString ignored;
    const auto rows = Rows(local, QStringLiteral("SELECT value FROM station_state WHERE name = 'line_failed_at'"), {}, 1, ignored);
    if (!rows || rows->empty())
        return false;
    const std::optional<QDateTime> at = StateTime(rows->front()[0]);
    return at && at->msecsTo(QDateTime::currentDateTime()) < withinMs;
}

QStringList SerialConflicts(Database& local)
{
    QString ignored;
    const auto rows = Rows(local, QStringLiteral("SELECT value FROM station_state WHERE name = 'serial_conflicts'"), {}, 1, ignored);
    if (!rows || rows->empty())
        return {};
    return rows->front()[0].toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::optional<QDateTime> LineUnreachableSince(Database& local)
{
    QString ignored;
    const auto rows = Rows(local, QStringLiteral("SELECT value FROM station_state WHERE name = 'line_unreachable_since'"), {}, 1, ignored);
    if (!rows || rows->empty())
        return std::nullopt;
    return StateTime(rows->front()[0]);
}

} // namespace bms::records
