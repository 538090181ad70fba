// Many rows into one SQLite table through the SQLite library itself: one
// statement per table, prepared once and stepped once per row. Qt SQL's
// binding costs about as much per value as SQLite's whole insert, and a
// run's children are hundreds of rows of ten values each; this keeps a
// run's commit within a few milliseconds.
//
// It works on the connection Qt SQL opened (the QSQLITE driver of Debian is
// built against the same shared libsqlite3), inside the caller's transaction.
#pragma once

#include <QString>
#include <QVariant>
#include <map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace bms::records {

class SqliteRows {
public:
    explicit SqliteRows(sqlite3* db) : db_(db) {}
    ~SqliteRows();
    SqliteRows(const SqliteRows&) = delete;
    SqliteRows& operator=(const SqliteRows&) = delete;

    // INSERT INTO table (columns) VALUES (...) `tail` for every row; each
    // row holds one value per column. Values bind as Qt SQL binds them:
    // null, integer, real, blob, else text; a QDateTime as a time of the
    // schema (milliseconds since the epoch). False with `error` on the first
    // failure (the caller's transaction then rolls back).
    bool insert(const QString& table, const std::vector<const char*>& columns, const std::vector<QVariantList>& rows,
                const QString& tail, QString& error);

private:
    sqlite3_stmt* statement(const QString& table, const std::vector<const char*>& columns, const QString& tail,
                            QString& error);

    sqlite3* db_;
    std::map<QString, sqlite3_stmt*> statements_;
};

} // namespace bms::records
