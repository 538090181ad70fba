// Records in one database: a run is stored as its rows in one transaction
// (a process killed during the commit leaves the run whole or absent) and
// read back as the record it was. Storing a run that is there already
// changes nothing, so a run can be stored, imported or forwarded any number
// of times and is kept once.
#pragma once

#include "RecordsInterfaces.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace bms::records {

class Database;
struct RunRows;

class RecordStore : public RecordSink, public PassHistory {
public:
    // `db` has the current schema (Migrate). With `queueForForwarding` every
    // run stored is also put on the queue of runs to copy to the line.
    RecordStore(Database& db, bool queueForForwarding) : db_(db), queue_(queueForForwarding) {}

    bool store(const QJsonObject& record, QString& error) override;
    // As store(); `added` is false when the run was there already.
    bool store(const QJsonObject& record, bool& added, QString& error);
    // As store(), of a record already checked and taken apart.
    bool store(const RunRows& rows, bool& added, QString& error);
    // The run of `rows` is kept with the same content (what load() gives
    // equals the record): false when its record differs, nothing (with
    // `error`) on a database error or when the run is not kept.
    std::optional<bool> sameAsStored(const RunRows& rows, QString& error);

    // The whole record of a run (with its trace); an empty object when there
    // is no such run, nothing on a database error.
    std::optional<QJsonObject> load(const QString& runId, QString& error);
    // The run whose id is `idOrPrefix` or starts with it (at least 8
    // characters); empty when none, an error when several match.
    std::optional<QString> resolveRunId(const QString& idOrPrefix, QString& error);

    // A PASS of `barcode` at `stationId` is on record.
    std::optional<bool> passedBefore(const QString& barcode, const QString& stationId, QString& error) override;

    Database& database() { return db_; }

    // The rows of one run, inside a transaction the caller holds. `added` is
    // false (and nothing written) when the run is there already.
    static bool insertRun(Database& db, const RunRows& rows, bool& added, QString& error);
    // Copies the rows of `runIds` from one database to another, inside a
    // transaction the caller holds on `to`; rows there already are left as
    // they are. A few statements per table for all the runs together.
    static bool copyRuns(Database& from, Database& to, const QStringList& runIds, QString& error);

private:
    Database& db_;
    bool queue_;
};

} // namespace bms::records
