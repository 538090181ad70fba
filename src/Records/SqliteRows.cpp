#include "SqliteRows.h"

#include "Database.h"

#include <QByteArray>
#include <QDateTime>
#include <sqlite3.h>

namespace bms::records {

SqliteRows::~SqliteRows()
{
    for (auto& [key, stmt] : statements_)
        sqlite3_finalize(stmt);
}

sqlite3_stmt* SqliteRows::statement(const QString& table, const std::vector<const char*>& columns, const QString& tail,
                                    QString& error)
{
    const QString key = table + QLatin1Char('/') + tail;
    if (const auto it = statements_.find(key); it != statements_.end())
        return it->second;
    const QByteArray sql = MultiRowInsert(table, columns, 1, tail).toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(db_));
        sqlite3_finalize(stmt);
        return nullptr;
    }
    statements_.emplace(key, stmt);
    return stmt;
}

bool SqliteRows::insert(const QString& table, const std::vector<const char*>& columns,
                        const std::vector<QVariantList>& rows, const QString& tail, QString& error)
{
    sqlite3_stmt* stmt = statement(table, columns, tail, error);
    if (!stmt)
        return false;
    QByteArray text;
    for (const QVariantList& row : rows) {
        int rc = SQLITE_OK;
        for (int i = 0; i < int(row.size()) && rc == SQLITE_OK; ++i) {
            const QVariant& v = row[i];
            const int at = i + 1;
            if (v.isNull()) {
                rc = sqlite3_bind_null(stmt, at);
                continue;
            }
            switch (v.typeId()) {
            case QMetaType::Bool:
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
                rc = sqlite3_bind_int64(stmt, at, v.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(stmt, at, v.toDouble());
                break;
            case QMetaType::QDateTime: // a time: milliseconds since the epoch
                rc = sqlite3_bind_int64(stmt, at, v.toDateTime().toMSecsSinceEpoch());
                break;
            case QMetaType::QByteArray: {
                const QByteArray bytes = v.toByteArray();
                rc = sqlite3_bind_blob64(stmt, at, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
                break;
            }
            default:
                text = v.toString().toUtf8();
                rc = sqlite3_bind_text64(stmt, at, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
                break;
            }
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE)
            error = QString::fromUtf8(sqlite3_errmsg(db_));
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (rc != SQLITE_DONE)
            return false;
    }
    return true;
}

} // namespace bms::records
