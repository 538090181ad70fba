// One connection to a records database: the PC's SQLite file or the line's
// PostgreSQL server, through Qt SQL (QSQLITE, QPSQL). The few places where
// the two speak differently are here and in Schema.cpp, by name: the type of
// binary columns, how a write transaction starts and how migrations are
// serialised.
//
// A connection belongs to the thread that opened it (a Qt SQL rule).
//
// No call on a PostgreSQL connection waits forever: each statement has a
// time limit (setQueryLimit, 10 s unless set), kept by the server
// (statement_timeout, a little shorter, so that a lock wait ends as a plain
// error) and by a watchdog of the connection's own that shuts the socket
// down when the server does not answer at all. A connection that overran
// its limit, or that the server dropped, is lost: every later call fails at
// once with a plain error, and its owner opens a new one.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <vector>

struct pg_conn;

namespace bms::records {

class QueryWatchdog;
class SqliteRows;

enum class Dialect { SQLite, PostgreSQL };

class Database {
public:
    // Opens (and creates, with its folder) the SQLite file at `path`: WAL
    // journal so that several processes write at once, a busy time-out so a
    // writer waits for another's transaction instead of failing.
    // `busyMs` is how long a write waits for another's transaction.
    static std::unique_ptr<Database> openSqlite(const QString& path, QString& error, int busyMs = 30000);
    // Opens postgresql://[user[:password]@][host][:port]/dbname[?key=value&...]
    // (postgres:// too). The query keys are libpq's connection keywords,
    // for example host=/run/postgresql for a Unix socket folder or
    // connect_timeout=5 (seconds, 5 unless given, held to 1 to 10: libpq's
    // 0 would wait forever).
    static std::unique_ptr<Database> openPostgres(const QString& url, QString& error);
    // A postgresql:// URL or a SQLite file path.
    static std::unique_ptr<Database> open(const QString& location, QString& error);
    static bool isPostgresUrl(const QString& location);

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    Dialect dialect() const { return dialect_; }
    // Where the database is, for messages (a URL without its password).
    const QString& name() const { return name_; }

    // The time a statement on a PostgreSQL connection may take, in ms
    // (the server's statement_timeout follows when set outside a
    // transaction). No effect on SQLite, whose waits have their own limit.
    static constexpr int kDefaultQueryLimitMs = 10000;
    void setQueryLimit(int ms);
    int queryLimitMs() const { return limitMs_; }
    // The server dropped the connection, or a statement overran its limit.
    bool lost() const { return lost_; }
    // A statement ran out of its time since the connection was opened: the
    // server cancelled it (a lock it waited for) or the watchdog gave the
    // connection up. A server that cannot finish a statement in time is as
    // good as gone for its owner.
    bool overran() const { return overran_; }

    // A statement prepared once per connection and kept: later calls with
    // the same text get the same query back, ready to bind. The caller
    // calls finish() on it when done reading. The kPreparedKept statements
    // used last are kept (on the server too, for PostgreSQL); preparing
    // another lets the one unused longest go, unless it is being read.
    static constexpr size_t kPreparedKept = 64;
    QSqlQuery& prepared(const QString& sql);
    // The same for a statement whose text is costly to make: `make` runs
    // only the first time `key` is asked for.
    QSqlQuery& prepared(const QString& key, const std::function<QString()>& make);

    // Runs a statement without parameters. False with `error` set on failure.
    bool exec(const QString& sql, QString& error);
    // Runs a query without parameters and hands it over to be read, not
    // kept: SQLite reads its rows as they are asked for; PostgreSQL has
    // them all when this returns (so that reading them never waits on the
    // server). Nothing, with `error`, on failure.
    std::unique_ptr<QSqlQuery> select(const QString& sql, QString& error);
    // Runs a prepared query; on failure `error` says what and where.
    bool exec(QSqlQuery& query, QString& error);
    // The same with `values` bound to its placeholders in order.
    bool exec(QSqlQuery& query, const QVariantList& values, QString& error);

    // A write transaction: on SQLite it takes the write lock at once
    // (BEGIN IMMEDIATE), waiting up to the busy time-out for other writers.
    bool begin(QString& error);
    bool commit(QString& error);
    void rollback();

    // Bulk row inserts through the SQLite library (SQLite connections only;
    // null for PostgreSQL or when the driver gives no handle).
    SqliteRows* sqliteRows();

    // The SQL type of a binary column.
    const char* blobType() const { return dialect_ == Dialect::SQLite ? "BLOB" : "BYTEA"; }

    // Times are kept in one representation: integer milliseconds since the
    // epoch (UTC) in SQLite, timestamptz in PostgreSQL.
    const char* timeType() const { return dialect_ == Dialect::SQLite ? "BIGINT" : "TIMESTAMPTZ"; }
    // The value to bind for the time `ms` (milliseconds since the epoch).
    QVariant time(qint64 ms) const;
    QVariant now() const;
    // The milliseconds since the epoch of a time read from either dialect.
    static qint64 msOf(const QVariant& time);
    // SQL of the local date ("2026-12-09") of the time column `time` at the
    // UTC offset (seconds east of UTC) in the column `offsetS`.
    QString localDay(const char* time, const char* offsetS) const;

private:
    Database(Dialect dialect, const QString& connection, const QString& name);
    QString failure(const QString& what, const QString& text) const;
    // False (with `error`) when the connection is lost.
    bool usable(QString& error);
    // Runs `call` under the watchdog; false with `error` set when it
    // overran the limit (the connection is then lost).
    template <typename Call>
    bool watched(Call&& call, QString& error);
    void setServerLimit(int limitMs);
    QString statementError(const QSqlError& e);
    QSqlQuery& prepareNew(const QString& key, const QString& sql);
    QSqlQuery* kept(const QString& key);
    void forgetUnused();

    Dialect dialect_;
    QString connection_;
    QString name_;
    // Most recently used first.
    struct Prepared {
        QString key;
        std::unique_ptr<QSqlQuery> query;
    };
    std::list<Prepared> prepared_;
    std::map<QString, std::list<Prepared>::iterator> preparedByKey_;
    std::unique_ptr<QSqlQuery> failed_;
    QString failedError_;
    std::unique_ptr<SqliteRows> sqliteRows_;
    pg_conn* pg_ = nullptr;
    std::unique_ptr<QueryWatchdog> watchdog_;
    int limitMs_ = kDefaultQueryLimitMs;
    bool lost_ = false;
    bool overran_ = false;
};

// Rolls back on scope exit unless committed.
class Transaction {
public:
    explicit Transaction(Database& db) : db_(db) {}
    ~Transaction()
    {
        if (open_)
            db_.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool begin(QString& error) { return open_ = db_.begin(error); }
    bool commit(QString& error)
    {
        open_ = false;
        return db_.commit(error);
    }

private:
    Database& db_;
    bool open_ = false;
};

// "INSERT INTO table (c1, c2) VALUES (?, ?), (?, ?), ..." for `rows` rows.
QString MultiRowInsert(const QString& table, const std::vector<const char*>& columns, int rows,
                       const QString& tail = {});

} // namespace bms::records
