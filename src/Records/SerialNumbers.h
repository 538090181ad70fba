// Serial-number sequences kept in a records database. Each key (the fixed
// part of a recipe's serial template, for example "QX20261209") has its own
// sequence from 1. A number is reserved for one run inside a write
// transaction, so processes on one PC (SQLite's write lock) or on several
// PCs (PostgreSQL's row lock on the key) never get the same one; a number
// whose run did not pass is released and handed out again first.
#pragma once

#include "RecordsInterfaces.h"

namespace bms::records {

class Database;

class SqlSerialSequence : public SerialSequence {
public:
    explicit SqlSerialSequence(Database& db) : db_(db) {}

    std::optional<qint64> reserve(const QString& key, const QString& runId, QString& error) override;
    // Committing twice, or releasing twice, for the same run is harmless;
    // anything else on a number the run does not hold is refused.
    bool commit(const QString& key, qint64 number, const QString& runId, QString& error) override;
    bool release(const QString& key, qint64 number, const QString& runId, QString& error) override;

private:
    bool move(const QString& key, qint64 number, const QString& runId, const char* to, QString& error);
    Database& db_;
};

} // namespace bms::records
