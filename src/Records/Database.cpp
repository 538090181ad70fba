#include "Database.h"

#include "QueryWatchdog.h"
#include "Redaction.h"
#include "SqliteRows.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <algorithm>
#include <libpq-fe.h>

namespace bms::records {

namespace {

// Each connection gets a name of its own, so that several stores (and
// threads) can be open in one process without sharing Qt's registry entry.
QString NewConnectionName()
{
    return QStringLiteral("bms-records-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString DriverMissing(const char* driver, const char* package)
{
    return QStringLiteral("the Qt SQL driver %1 is not installed (Debian package %2)")
        .arg(QLatin1String(driver), QLatin1String(package));
}

QString ErrorText(const QSqlError& e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    return text;
}

// libpq's connect_timeout, in seconds: 0 (or less) would wait forever for a
// server that takes the connection and never answers.
constexpr int kConnectTimeoutS = 5;
constexpr int kMinConnectTimeoutS = 1;
constexpr int kMaxConnectTimeoutS = 10;

QString Seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

Database::Database(Dialect dialect, const QString& connection, const QString& name)
    : dialect_(dialect), connection_(connection), name_(name)
{
}

Database::~Database()
{
    sqliteRows_.reset();
    if (dialect_ == Dialect::PostgreSQL) {
        // The connection goes before its statements: the server frees them
        // with it, and a DEALLOCATE each would wait on a server that does
        // not answer (and warn about one that is gone).
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    preparedByKey_.clear();
    prepared_.clear();
    failed_.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

bool Database::isPostgresUrl(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

std::unique_ptr<Database> Database::open(const QString& location, QString& error)
{
    return isPostgresUrl(location) ? openPostgres(location, error) : openSqlite(location, error);
}

std::unique_ptr<Database> Database::openSqlite(const QString& path, QString& error, int busyMs)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        error = DriverMissing("QSQLITE", "libqt6sql6-sqlite");
        return nullptr;
    }
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        error = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return nullptr;
    }
    const QString connection = NewConnectionName();
    std::unique_ptr<Database> result(new Database(Dialect::SQLite, connection, path));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs));
        if (!db.open()) {
            error = result->failure(QStringLiteral("cannot open"), ErrorText(db.lastError()));
            return nullptr;
        }
    }
    // WAL: readers never block the writer and writers of several processes
    // take turns. synchronous=FULL: a committed run (and a reserved serial
    // number) survives a power cut, not only a killed process.
    // Turning a new file to WAL needs the file to itself, and SQLite answers
    // "locked" at once, without its busy wait, when another process opens it
    // at the same moment (fixtures started together on a new PC): try again
    // for as long as the busy time-out.
    QDeadlineTimer patience(busyMs);
    while (!result->exec(QStringLiteral("PRAGMA journal_mode=WAL"), error)) {
        if (!error.contains(QLatin1String("locked")) || patience.hasExpired())
            return nullptr;
        QThread::msleep(10);
    }
    for (const char* pragma : {"PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
        if (!result->exec(QLatin1String(pragma), error))
            return nullptr;
    }
    return result;
}

std::unique_ptr<Database> Database::openPostgres(const QString& url, QString& error)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        error = DriverMissing("QPSQL", "libqt6sql6-psql");
        return nullptr;
    }
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || !isPostgresUrl(url) || u.path().size() < 2) {
        error = QStringLiteral("'%1' is not a database URL (postgresql://user@host/database)").arg(RedactedUrl(url));
        return nullptr;
    }
    QUrl shown = u;
    shown.setPassword({});
    const QString connection = NewConnectionName();
    std::unique_ptr<Database> result(new Database(Dialect::PostgreSQL, connection, RedactedUrl(shown.toString())));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setDatabaseName(u.path().mid(1));
        if (!u.host().isEmpty())
            db.setHostName(u.host());
        if (u.port() > 0)
            db.setPort(u.port());
        if (!u.userName().isEmpty())
            db.setUserName(u.userName());
        if (!u.password().isEmpty())
            db.setPassword(u.password());
        // A server that does not answer is given up after a few seconds
        // (the forwarder retries later); the keep-alives notice a peer gone
        // while a transaction waits, tcp_user_timeout one that stopped
        // taking what is sent.
        QStringList options = {QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutS),
                               QStringLiteral("keepalives_idle=10"), QStringLiteral("keepalives_interval=5"),
                               QStringLiteral("keepalives_count=3"),
                               QStringLiteral("tcp_user_timeout=%1").arg(kDefaultQueryLimitMs)};
        for (auto [key, value] : QUrlQuery(u).queryItems(QUrl::FullyDecoded)) {
            bool number = false;
            if (const int s = value.trimmed().toInt(&number); key == QLatin1String("connect_timeout") && number)
                value = QString::number(std::clamp(s, kMinConnectTimeoutS, kMaxConnectTimeoutS));
            if (key == QLatin1String("host"))
                db.setHostName(value);
            else if (key == QLatin1String("port"))
                db.setPort(value.toInt());
            else
                options.append(key + QStringLiteral("='") + QString(value).replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'")) + QLatin1Char('\''));
        }
        db.setConnectOptions(options.join(QLatin1Char(';')));
        if (!db.open()) {
            error = result->failure(QStringLiteral("cannot connect to"), ErrorText(db.lastError()));
            return nullptr;
        }
        // Qt names the handle's type after the struct behind libpq's typedef.
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0))
            result->pg_ = *static_cast<PGconn* const*>(handle.constData());
    }
    result->watchdog_ = std::make_unique<QueryWatchdog>();
    if (!result->exec(QStringLiteral("SET client_min_messages TO warning"), error))
        return nullptr;
    result->setServerLimit(result->queryLimitMs());
    return result;
}

void Database::setQueryLimit(int ms)
{
    const int limit = std::max(ms, 1);
    // The server hears of the new limit under the old one: a short limit
    // is for the statements that come after it.
    setServerLimit(limit);
    limitMs_ = limit;
}

void Database::setServerLimit(int limitMs)
{
    if (dialect_ != Dialect::PostgreSQL || lost_)
        return;
    // A fifth shorter than the watchdog's: a statement that waits for a
    // lock is cancelled by the server, and the connection stays usable.
    QString ignored;
    exec(QStringLiteral("SET statement_timeout = %1").arg(std::max(limitMs - limitMs / 5, 1)), ignored);
}

QString Database::failure(const QString& what, const QString& text) const
{
    // name_ has no password; the server's and libpq's texts may quote the
    // URL or its keywords.
    return QStringLiteral("%1 %2: %3").arg(what, name_, RedactedUrl(text));
}

bool Database::usable(QString& error)
{
    if (dialect_ != Dialect::PostgreSQL)
        return true;
    if (!lost_ && pg_ && PQstatus(pg_) != CONNECTION_OK)
        lost_ = true;
    if (lost_)
        error = failure(QStringLiteral("database"), QStringLiteral("the connection to the server is lost"));
    return !lost_;
}

template <typename Call>
bool Database::watched(Call&& call, QString& error)
{
    if (!usable(error))
        return false;
    const int socket = pg_ ? PQsocket(pg_) : -1;
    if (socket < 0) {
        call();
        return true;
    }
    watchdog_->arm(socket, std::chrono::milliseconds(limitMs_));
    call();
    if (watchdog_->disarm()) {
        lost_ = overran_ = true;
        error = failure(QStringLiteral("database"),
                        QStringLiteral("no answer within %1 s; the connection is given up").arg(Seconds(limitMs_)));
        return false;
    }
    return true;
}

QString Database::statementError(const QSqlError& e)
{
    // query_canceled: the server's statement_timeout ended it.
    if (dialect_ == Dialect::PostgreSQL && e.nativeErrorCode() == QLatin1String("57014"))
        overran_ = true;
    return failure(QStringLiteral("database"), ErrorText(e));
}

QSqlQuery& Database::prepareNew(const QString& key, const QString& sql)
{
    auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(connection_, false));
    query->setForwardOnly(true);
    // A statement that fails to prepare is not kept (it is prepared again
    // on its next use); its exec() reports why, without running it.
    bool ok = false;
    if (!watched([&] { ok = query->prepare(sql); }, failedError_) || !ok) {
        if (!lost_)
            failedError_ = statementError(query->lastError());
        failed_ = std::move(query);
        return *failed_;
    }
    prepared_.push_front({key, std::move(query)});
    preparedByKey_[key] = prepared_.begin();
    forgetUnused();
    return *prepared_.front().query;
}

QSqlQuery* Database::kept(const QString& key)
{
    const auto it = preparedByKey_.find(key);
    if (it == preparedByKey_.end())
        return nullptr;
    prepared_.splice(prepared_.begin(), prepared_, it->second);
    return prepared_.front().query.get();
}

void Database::forgetUnused()
{
    // A lost connection is given up by its owner as a whole.
    // The statement just prepared (the first) stays.
    auto it = std::prev(prepared_.end());
    while (prepared_.size() > kPreparedKept && it != prepared_.begin() && !lost_) {
        const auto victim = it--;
        // A query whose rows are being read stays (its caller holds it).
        if (victim->query->isActive() && victim->query->isSelect())
            continue;
        preparedByKey_.erase(victim->key);
        // PostgreSQL frees the statement on the server: a call, watched.
        QString ignored;
        watched([&] { victim->query.reset(); }, ignored);
        prepared_.erase(victim);
    }
}

QSqlQuery& Database::prepared(const QString& sql)
{
    QSqlQuery* query = kept(sql);
    return query ? *query : prepareNew(sql, sql);
}

QSqlQuery& Database::prepared(const QString& key, const std::function<QString()>& make)
{
    QSqlQuery* query = kept(key);
    return query ? *query : prepareNew(key, make());
}

bool Database::exec(const QString& sql, QString& error)
{
    if (!usable(error))
        return false;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    bool ran = false;
    if (!watched([&] { ran = query.exec(sql); }, error))
        return false;
    if (!ran) {
        error = statementError(query.lastError()) + QStringLiteral(" (") + sql + QLatin1Char(')');
        return false;
    }
    return true;
}

std::unique_ptr<QSqlQuery> Database::select(const QString& sql, QString& error)
{
    if (!usable(error))
        return nullptr;
    auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(connection_, false));
    query->setForwardOnly(dialect_ == Dialect::SQLite);
    bool ran = false;
    if (!watched([&] { ran = query->exec(sql); }, error))
        return nullptr;
    if (!ran) {
        error = statementError(query->lastError()) + QStringLiteral(" (") + sql + QLatin1Char(')');
        return nullptr;
    }
    return query;
}

bool Database::exec(QSqlQuery& query, QString& error)
{
    if (&query == failed_.get()) {
        error = failedError_;
        return false;
    }
    bool ran = false;
    if (!watched([&] { ran = query.exec(); }, error))
        return false;
    if (!ran) {
        error = statementError(query.lastError());
        return false;
    }
    return true;
}

bool Database::exec(QSqlQuery& query, const QVariantList& values, QString& error)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    return exec(query, error);
}

bool Database::begin(QString& error)
{
    return exec(QLatin1String(dialect_ == Dialect::SQLite ? "BEGIN IMMEDIATE" : "BEGIN"), error);
}

bool Database::commit(QString& error)
{
    for (Prepared& p : prepared_)
        p.query->finish();
    return exec(QStringLiteral("COMMIT"), error);
}

void Database::rollback()
{
    for (Prepared& p : prepared_)
        p.query->finish();
    QString ignored;
    exec(QStringLiteral("ROLLBACK"), ignored);
}

QVariant Database::time(qint64 ms) const
{
    if (dialect_ == Dialect::SQLite)
        return ms;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QVariant Database::now() const
{
    return time(QDateTime::currentMSecsSinceEpoch());
}

qint64 Database::msOf(const QVariant& time)
{
    return time.typeId() == QMetaType::QDateTime ? time.toDateTime().toMSecsSinceEpoch() : time.toLongLong();
}

QString Database::localDay(const char* time, const char* offsetS) const
{
    if (dialect_ == Dialect::SQLite)
        return QStringLiteral("date(%1 / 1000 + %2, 'unixepoch')").arg(QLatin1String(time), QLatin1String(offsetS));
    return QStringLiteral("to_char(%1 AT TIME ZONE 'UTC' + %2 * INTERVAL '1 second', 'YYYY-MM-DD')")
        .arg(QLatin1String(time), QLatin1String(offsetS));
}

SqliteRows* Database::sqliteRows()
{
    if (dialect_ != Dialect::SQLite)
        return nullptr;
    if (!sqliteRows_) {
        const QVariant handle = QSqlDatabase::database(connection_, false).driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
            return nullptr;
        sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
        if (!db)
            return nullptr;
        sqliteRows_ = std::make_unique<SqliteRows>(db);
    }
    return sqliteRows_.get();
}

QString MultiRowInsert(const QString& table, const std::vector<const char*>& columns, int rows, const QString& tail)
{
    QStringList names;
    for (const char* c : columns)
        names.append(QLatin1String(c));
    QString row = QStringLiteral("(?");
    for (size_t i = 1; i < columns.size(); ++i)
        row += QStringLiteral(", ?");
    row += QLatin1Char(')');
    QStringList values;
    for (int r = 0; r < rows; ++r)
        values.append(row);
    QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES %3").arg(table, names.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
    if (!tail.isEmpty())
        sql += QLatin1Char(' ') + tail;
    return sql;
}

} // namespace bms::records
