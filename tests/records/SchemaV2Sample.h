// A database of schema version 2 as the tool wrote it (station-v2.sql, with
// the way it was made), loaded into SQLite or PostgreSQL, and every value the
// migration to one representation of time gives it.
#pragma once

#include "Database.h"
#include "Queries.h"
#include "RecordStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <ctime>
#include <gtest/gtest.h>
#include <map>

namespace bms::test {

// The sample's own times are local times of Europe/Berlin without an
// offset: the process reads them there while it lives.
class BerlinTime {
public:
    BerlinTime() : before_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ")) { set("Europe/Berlin"); }
    ~BerlinTime() { had_ ? set(before_) : (qunsetenv("TZ"), tzset()); }

private:
    static void set(const QByteArray& zone)
    {
        qputenv("TZ", zone);
        tzset();
    }
    QByteArray before_;
    bool had_;
};

// The statements of station-v2.sql run on `db`; PostgreSQL gets its binary
// type and bytea literals.
inline bool LoadSchemaV2(records::Database& db, QString& error)
{
    QFile file(QStringLiteral(RECORDS_TEST_DIR "/station-v2.sql"));
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    const bool pg = db.dialect() == records::Dialect::PostgreSQL;
    static const QRegularExpression blob(QStringLiteral("X'([0-9a-f]*)'"));
    for (QString line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("--")) || line.startsWith(QLatin1String("PRAGMA"))
            || line.startsWith(QLatin1String("BEGIN")) || line.startsWith(QLatin1String("COMMIT")))
            continue;
        line.chop(1); // its ';'
        if (pg)
            line.replace(QLatin1String(" BLOB,"), QLatin1String(" BYTEA,")).replace(blob, QStringLiteral("'\\\\x\\1'"));
        if (!db.exec(line, error))
            return false;
    }
    return true;
}

// The records of the sample by run id, as read before the migration.
inline std::map<QString, QJsonObject> SampleRecords(records::Database& db)
{
    std::map<QString, QJsonObject> records;
    QString error;
    QSqlQuery& ids = db.prepared(QStringLiteral("SELECT run_id FROM runs"));
    QStringList runIds;
    if (db.exec(ids, error))
        while (ids.next())
            runIds.append(ids.value(0).toString());
    ids.finish();
    records::RecordStore store(db, false);
    for (const QString& id : runIds)
        records[id] = store.load(id, error).value_or(QJsonObject());
    return records;
}

// Every time the migration made of the sample, read in Europe/Berlin where a
// text had no offset; the records come back as they were.
inline void ExpectSampleConverted(records::Database& db, const std::map<QString, QJsonObject>& before)
{
    using records::Database;
    struct Run {
        const char* id;
        qint64 started;
        int offset;
        qint64 ended; // -1: none
        qint64 stored;
    };
    const Run runs[] = {
        {"33b9b908", 1796821391204, 3600, 1796821442877, 1796868197156},
        {"76459d7a", 1796860799999, 0, 1796860851672, 1796868197159},
        {"b68c3f74", 1796873400000, -18000, 1796873451673, 1796868197163},
        {"3fe4f3e8", 1792888200500, 7200, 1792888252173, 1796868197164},
        {"85bbbc32", 1792890600250, 3600, -1, 1796868197166},   // no end
        {"e13f11cc", 1796865330001, 19800, -1, 1796868197167},  // "later"
        {"646f860e", 1796973300000, 3600, 1796973360000, 1796868197169}, // no seconds
    };
    QString error;
    QSqlQuery& q = db.prepared(QStringLiteral("SELECT started, utc_offset_s, ended, stored FROM runs WHERE run_id LIKE ?"));
    for (const Run& r : runs) {
        SCOPED_TRACE(r.id);
        q.bindValue(0, QLatin1String(r.id) + QLatin1Char('%'));
        ASSERT_TRUE(db.exec(q, error) && q.next()) << error.toStdString();
        EXPECT_EQ(Database::msOf(q.value(0)), r.started);
        EXPECT_EQ(q.value(1).toInt(), r.offset);
        EXPECT_EQ(q.value(2).isNull() ? -1 : Database::msOf(q.value(2)), r.ended);
        EXPECT_EQ(Database::msOf(q.value(3)), r.stored);
        q.finish();
    }
    const auto column = [&](const QString& sql) {
        std::vector<qint64> values;
        QSqlQuery& c = db.prepared(sql);
        if (db.exec(c, error))
            while (c.next())
                values.push_back(c.value(0).isNull() ? -1 : Database::msOf(c.value(0)));
        c.finish();
        return values;
    };
    EXPECT_EQ(column(QStringLiteral("SELECT changed FROM serial_numbers ORDER BY number")),
              (std::vector<qint64>{1796868197270, 1796868197283, 1796868197287}));
    const std::vector<qint64> applied = column(QStringLiteral("SELECT applied FROM schema_migrations ORDER BY version"));
    // Versions 1 and 2 from the sample, then the ones applied now.
    ASSERT_GE(applied.size(), 3u);
    EXPECT_EQ(applied[0], 1796868197145);
    EXPECT_EQ(applied[1], 1796868197148);
    for (size_t i = 2; i < applied.size(); ++i)
        EXPECT_LT(std::abs(applied[i] - QDateTime::currentMSecsSinceEpoch()), 60000);
    QSqlQuery& state = db.prepared(QStringLiteral("SELECT value FROM station_state WHERE name LIKE 'line_%' ORDER BY name"));
    ASSERT_TRUE(db.exec(state, error)) << error.toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(state.next() && state.value(0).toString() == QLatin1String("1796868197292")) << state.value(0).toString().toStdString();
    state.finish();

    // Days are the stations' own: -05:00 late in the evening is still the
    // 9th, +05:30 early in the morning already the 10th.
    const auto stats = records::Stats(db, {}, records::StatsGroup::Day, error);
    ASSERT_TRUE(stats) << error.toStdString();
    std::map<QString, qint64> days;
    for (const records::StatsRow& row : *stats)
        days[row.group] = row.runs;
    EXPECT_EQ(days, (std::map<QString, qint64>{{"2026-10-25", 2}, {"2026-12-09", 3}, {"2026-12-10", 1}, {"2026-12-11", 1}, {"total", 7}}));
    const auto history = records::History(db, {}, error);
    ASSERT_TRUE(history && history->size() == 7u) << error.toStdString();
    EXPECT_EQ(history->front().startedAt, QStringLiteral("2026-12-11T08:15:00.000+01:00"));
    EXPECT_EQ(history->back().startedAt, QStringLiteral("2026-10-25T02:30:00.500+02:00")); // the earlier instant

    records::RecordStore store(db, false);
    for (const auto& [id, record] : before)
        EXPECT_EQ(store.load(id, error).value_or(QJsonObject()), record) << id.toStdString();
}

} // namespace bms::test
