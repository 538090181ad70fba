// The records of a filter one after the other, oldest first (by start, then
// run id): what `station export` writes, in the same memory whether a
// hundred runs match or a million.
//
// The runs of the filter are listed first, numbered in their order, in a
// temporary table of the connection; then each table is read by one query
// for all of them, in that order, and a run's rows are put together as its
// record as they come. SQLite steps through the queries side by side.
// PostgreSQL, whose connection reads one result at a time, reads each
// through a cursor of the server, a few hundred rows a fetch, inside a
// transaction (held until the stream is gone).
#pragma once

#include "Queries.h"

#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>

namespace bms::records {

class Database;
class RowCursor;

class RecordStream {
public:
    struct Parts {
        bool header = true; // the run's own fields; without them a record holds its run id, steps and measurements
        bool trace = true;
    };
    explicit RecordStream(Database& db);
    ~RecordStream();
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // Lists the runs of `filter`, the first filter.limit of them (0: all),
    // and starts reading their records.
    bool open(const RunFilter& filter, Parts parts, QString& error);
    // Starts reading the records of the same runs again (a second pass
    // sees the runs of the first, whatever was stored meanwhile).
    bool reread(Parts parts, QString& error);
    // More runs match than the limit let through.
    bool cut() const { return cut_; }

    // The next record; an empty object after the last; nothing (with
    // `error`) when the database fails.
    std::optional<QJsonObject> next(QString& error);

private:
    void closeCursors();
    void close();

    Database& db_;
    Parts parts_;
    bool cut_ = false;
    bool open_ = false;
    std::unique_ptr<RowCursor> runs_, steps_, measurements_, traces_;
};

} // namespace bms::records
