#include "Database.h"

#include "SqliteRows.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

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

} // namespace

Database::Database(Dialect dialect, const QString& connection, const QString& name)
    : dialect_(dialect), connection_(connection), name_(name)
{
}

Database::~Database()
{
    sqliteRows_.reset();
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
        error = QStringLiteral("'%1' is not a database URL (postgresql://user@host/database)").arg(url);
        return nullptr;
    }
    QUrl shown = u;
    shown.setPassword({});
    const QString connection = NewConnectionName();
    std::unique_ptr<Database> result(new Database(Dialect::PostgreSQL, connection, shown.toString()));
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
        // while a transaction waits.
        QStringList options = {QStringLiteral("connect_timeout=5"), QStringLiteral("keepalives_idle=10"),
                               QStringLiteral("keepalives_interval=5"), QStringLiteral("keepalives_count=3")};
        for (const auto& [key, value] : QUrlQuery(u).queryItems(QUrl::FullyDecoded)) {
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
    }
    if (!result->exec(QStringLiteral("SET client_min_messages TO warning"), error))
        return nullptr;
    return result;
}

QString Database::failure(const QString& what, const QString& text) const
{
    return QStringLiteral("%1 %2: %3").arg(what, name_, text);
}

QSqlQuery& Database::prepared(const QString& sql)
{
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
        auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(connection_, false));
        query->setForwardOnly(true);
        // A statement that fails to prepare is not kept (it is prepared
        // again on its next use); its exec() reports why.
        if (!query->prepare(sql)) {
            failed_ = std::move(query);
            return *failed_;
        }
        it = prepared_.emplace(sql, std::move(query)).first;
    }
    return *it->second;
}

QSqlQuery& Database::prepared(const QString& key, const std::function<QString()>& make)
{
    const auto it = prepared_.find(key);
    if (it != prepared_.end())
        return *it->second;
    auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(connection_, false));
    query->setForwardOnly(true);
    if (!query->prepare(make())) {
        failed_ = std::move(query);
        return *failed_;
    }
    return *prepared_.emplace(key, std::move(query)).first->second;
}

bool Database::exec(const QString& sql, QString& error)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(sql)) {
        error = failure(QStringLiteral("database"), ErrorText(query.lastError()) + QStringLiteral(" (") + sql + QLatin1Char(')'));
        return false;
    }
    return true;
}

bool Database::exec(QSqlQuery& query, QString& error)
{
    if (!query.exec()) {
        error = failure(QStringLiteral("database"), ErrorText(query.lastError()));
        return false;
    }
    return true;
}

bool Database::begin(QString& error)
{
    return exec(QLatin1String(dialect_ == Dialect::SQLite ? "BEGIN IMMEDIATE" : "BEGIN"), error);
}

bool Database::commit(QString& error)
{
    for (auto& [sql, query] : prepared_)
        query->finish();
    return exec(QStringLiteral("COMMIT"), error);
}

void Database::rollback()
{
    for (auto& [sql, query] : prepared_)
        query->finish();
    QString ignored;
    exec(QStringLiteral("ROLLBACK"), ignored);
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
