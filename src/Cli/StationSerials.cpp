// `station serials`: the serial numbers of this PC. Reservations still open
// (a run holds them, or a run killed on the way left them), the numbers
// leased from the line that are left for each key, the numbers the line has
// not heard of yet, since when the line has not answered, and numbers the
// PC and the line gave to different packs. `--return` gives the leased
// numbers not yet used back to the line (a PC taken off the line).
//
// `station forward --background`: what a run starts after it has ended, to
// forward its record and the serial numbers' news without holding the run.
// One at a time: a second finds the first at work and leaves.
#include "StationRecordsCommand.h"

#include "Database.h"
#include "Forwarder.h"
#include "Session.h"
#include "SerialLease.h"
#include "SerialNumbers.h"
#include "StationRecords.h"
#include "Stores.h"
#include "TextChecks.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSqlQuery>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace bms::cli {

using namespace bms::records;

int SerialsReport(Session& s, StationRecords& records, QJsonObject& result)
{
    QString error;
    Database& local = records.local();
    if (s.options.has(QStringLiteral("return"))) {
        Database* line = records.line(error);
        const auto returned = line ? ReturnLeases(local, *line, error) : std::nullopt;
        if (!returned) {
            s.report.error(error);
            return kExitDatabase;
        }
        s.report.lines({QStringLiteral("%1 leased serial numbers given back to the line").arg(*returned)});
        result.insert(QStringLiteral("returned"), *returned);
        return kExitDone;
    }
    if (!records.config().lineUrl.isEmpty() && !records.syncSerials(error))
        s.report.note(QStringLiteral("the line database cannot be asked now: ") + error);
    SqlSerialSequence book(local);
    const auto open = book.list({QStringLiteral("reserved")}, 0, error);
    if (!open) {
        s.report.error(error);
        return kExitDatabase;
    }
    QStringList lines;
    QJsonArray reserved;
    for (const SerialRow& r : *open) {
        const bool alive = HolderAlive(r.holder);
        lines.append(QStringLiteral("reserved  %1 #%2  run %3  %4%5")
                         .arg(r.key)
                         .arg(r.number)
                         .arg(r.runId, r.changedAt, alive ? QString() : QStringLiteral("  (its process has gone)")));
        reserved.append(QJsonObject{{QStringLiteral("key"), r.key},
                                    {QStringLiteral("number"), r.number},
                                    {QStringLiteral("run_id"), r.runId},
                                    {QStringLiteral("since"), r.changedAt},
                                    {QStringLiteral("running"), alive}});
    }
    if (open->empty())
        lines.append(QStringLiteral("no reservation is open"));
    QSqlQuery& pools = local.prepared(QStringLiteral(
        "SELECT key, SUM(CASE WHEN state = 'leased' THEN 1 ELSE 0 END), SUM(CASE WHEN synced = 0 THEN 1 ELSE 0 END)"
        " FROM serial_numbers GROUP BY key ORDER BY key"));
    if (!local.exec(pools, error)) {
        s.report.error(error);
        return kExitDatabase;
    }
    QJsonArray keys;
    while (pools.next()) {
        const qint64 leased = pools.value(1).toLongLong();
        const qint64 unheard = pools.value(2).toLongLong();
        if (leased == 0 && unheard == 0)
            continue;
        lines.append(QStringLiteral("%1: %2 leased numbers left, %3 not yet on the line").arg(pools.value(0).toString()).arg(leased).arg(unheard));
        keys.append(QJsonObject{{QStringLiteral("key"), pools.value(0).toString()},
                                {QStringLiteral("leased_left"), leased},
                                {QStringLiteral("not_on_line"), unheard}});
    }
    pools.finish();
    if (const auto since = LineUnreachableSince(local)) {
        lines.append(QStringLiteral("the line database has not answered since %1").arg(since->toString(Qt::ISODate)));
        result.insert(QStringLiteral("line_unreachable_since"), since->toString(Qt::ISODateWithMs));
    }
    const QStringList conflicts = SerialConflicts(local);
    for (const QString& c : conflicts)
        lines.append(QStringLiteral("CONFLICT ") + c);
    result.insert(QStringLiteral("conflicts"), QJsonArray::fromStringList(conflicts));
    for (QString& line : lines)
        line = station::Printable(line);
    s.report.lines(lines);
    result.insert(QStringLiteral("reserved"), reserved);
    result.insert(QStringLiteral("keys"), keys);
    return kExitDone;
}

int ForwardInBackground(StationRecords& records)
{
    // One forwarder of this PC at a time; the lock goes with the process.
    const QString lockPath = QFileInfo(records.config().localPath).absolutePath() + QStringLiteral("/forward.lock");
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return kExitDone;
    Forwarder forwarder(records.local(), records.config().lineUrl);
    Forwarder::Pass pass;
    do
        pass = forwarder.forward(false, 500);
    while (pass.error.isEmpty() && pass.forwarded > 0 && pass.waiting > 0);
    QString error;
    records.syncSerials(error);
    ::close(fd);
    return pass.waiting == 0 ? kExitDone : kExitDatabase;
}

} // namespace bms::cli
