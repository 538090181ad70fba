#include "StationRecords.h"

#include "DataFolders.h"
#include "Database.h"
#include "RecordStore.h"
#include "Schema.h"
#include "Record.h"
#include "SerialLease.h"
#include "SerialNumbers.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

namespace bms::records {

QString DefaultLocalDatabasePath()
{
    return DataFolder() + QStringLiteral("/station.db");
}

QString LineDatabaseFromEnvironment()
{
    return qEnvironmentVariable("QUORLEX_BMS_LINE_DB");
}

StationRecords::StationRecords(const RecordsConfig& config) : config_(config) {}

StationRecords::~StationRecords() = default;

std::unique_ptr<StationRecords> StationRecords::open(const RecordsConfig& config, QString& error)
{
    std::unique_ptr<StationRecords> records(new StationRecords(config));
    records->local_ = Database::openSqlite(config.localPath, error, config.busyMs);
    if (!records->local_ || !Migrate(*records->local_, error))
        return nullptr;
    // Every run waits on the queue until it is on a line database; with no
    // line set yet, the queue is the list of runs that one would receive.
    records->store_ = std::make_unique<RecordStore>(*records->local_, true);
    // Numbers that runs killed on the way left reserved: given back unless
    // their run still goes (a number written into a pack is bound already).
    QString ignored;
    SqlSerialSequence(*records->local_).settleAbandoned(ignored);
    return records;
}

Database* StationRecords::line(QString& error)
{
    if (config_.lineUrl.isEmpty()) {
        error = QStringLiteral("no line database is set (--db postgresql://... or QUORLEX_BMS_LINE_DB)");
        return nullptr;
    }
    if (!line_) {
        QString url = config_.lineUrl;
        // A run gives a server that does not answer its connection a moment
        // only.
        if (config_.lineLimitMs > 0) {
            QUrl u(url);
            QUrlQuery query(u);
            query.removeAllQueryItems(QStringLiteral("connect_timeout"));
            query.addQueryItem(QStringLiteral("connect_timeout"), QString::number(std::max(1, config_.lineLimitMs / 1000)));
            u.setQuery(query);
            url = u.toString(QUrl::FullyEncoded);
        }
        line_ = Database::openPostgres(url, error);
        if (line_ && config_.lineLimitMs > 0)
            line_->setQueryLimit(config_.lineLimitMs);
        if (line_ && !Migrate(*line_, error))
            line_.reset();
    }
    return line_.get();
}

bool StationRecords::store(const QJsonObject& record, QString& error)
{
    return store_->store(record, error);
}

std::optional<bool> StationRecords::passedBefore(const QString& barcode, const QString& stationId, QString& error)
{
    const std::optional<bool> here = store_->passedBefore(barcode, stationId, error);
    if (!here || *here || config_.lineUrl.isEmpty())
        return here;
    // Another PC of the same station may have passed it: ask the line when
    // it answers; when it does not (or did not a moment ago), the PC's own
    // runs decide.
    if (LineRecentlyDown(*local_))
        return here;
    QString lineError;
    if (Database* db = line(lineError)) {
        RecordStore lineStore(*db, false);
        if (const std::optional<bool> there = lineStore.passedBefore(barcode, stationId, lineError)) {
            NoteLineContact(*local_, true);
            return there;
        }
        line_.reset();
    }
    NoteLineContact(*local_, false);
    return here;
}

std::optional<SerialGrant> StationRecords::boundOnLine(const QString& barcode)
{
    if (LineRecentlyDown(*local_))
        return std::nullopt;
    QString error;
    Database* db = line(error);
    if (!db) {
        NoteLineContact(*local_, false);
        return std::nullopt;
    }
    SqlSerialSequence there(*db);
    const auto found = there.boundTo(barcode, error);
    if (!found) {
        line_.reset();
        NoteLineContact(*local_, false);
        return std::nullopt;
    }
    NoteLineContact(*local_, true);
    if (!*found)
        return std::nullopt;
    SqlSerialSequence here(*local_, true);
    if (!here.adoptBound(**found, barcode, error))
        return std::nullopt;
    return found->value();
}

std::optional<SerialGrant> StationRecords::reserve(const QString& key, const QString& runId, const QString& barcode,
                                                   QString& error)
{
    const bool leased = !config_.lineUrl.isEmpty();
    SqlSerialSequence here(*local_, leased);
    if (leased) {
        // A pack tested on another PC keeps the number the line bound to it.
        const auto known = here.boundTo(barcode, error);
        if (!known)
            return std::nullopt;
        if (*known)
            return known->value();
        if (std::optional<SerialGrant> there = barcode.isEmpty() ? std::nullopt : boundOnLine(barcode))
            return there;
        if (!haveLeased(key, error))
            return std::nullopt;
    } else {
        // A PC that has taken numbers from a line takes them from nowhere
        // else: its own sequence would not know the other PCs' numbers.
        QSqlQuery& q = local_->prepared(QStringLiteral("SELECT 1 FROM serial_numbers WHERE origin = 'line' LIMIT 1"));
        if (!local_->exec(q, error))
            return std::nullopt;
        const bool onLine = q.next();
        q.finish();
        if (onLine) {
            error = QStringLiteral("this PC takes its serial numbers from the line database: give it with --db or "
                                   "QUORLEX_BMS_LINE_DB");
            return std::nullopt;
        }
    }
    return here.reserve(key, runId, barcode, error);
}

bool StationRecords::bind(const SerialGrant& grant, const QString& runId, const QString& barcode, const QString& uid,
                          QString& error)
{
    return SqlSerialSequence(*local_).bind(grant, runId, barcode, uid, error);
}

bool StationRecords::settle(const SerialGrant& grant, const QString& runId, bool written, bool passed, QString& error)
{
    return SqlSerialSequence(*local_).settle(grant, runId, written, passed, error);
}

bool StationRecords::syncSerials(QString& error)
{
    Database* db = line(error);
    if (!db) {
        NoteLineContact(*local_, false);
        return false;
    }
    SerialSyncReport report;
    if (!SyncSerials(*local_, *db, QDate::currentDate(), report, error)) {
        QString ignored;
        if (!db->exec(QStringLiteral("SELECT 1"), ignored)) {
            line_.reset();
            NoteLineContact(*local_, false);
        }
        return false;
    }
    NoteLineContact(*local_, true);
    return true;
}

namespace {

QString Unreachable(const QDateTime& since)
{
    return QStringLiteral("No serial numbers left: the line database has been unreachable since %1 — call the engineer")
        .arg(since.toString(since.date() == QDate::currentDate() ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm")));
}

} // namespace

QString StationRecords::noSerialsLeft(const QString& key)
{
    if (config_.lineUrl.isEmpty())
        return {};
    QString error;
    if (SqlSerialSequence(*local_, true).leasedLeft(key, error).value_or(1) > 0)
        return {};
    const std::optional<QDateTime> since = LineUnreachableSince(*local_);
    return since ? Unreachable(*since) : QString();
}

bool StationRecords::haveLeased(const QString& key, QString& why)
{
    SqlSerialSequence here(*local_, true);
    QString error;
    const auto left = here.leasedLeft(key, error);
    if (!left) {
        why = QStringLiteral("The serial numbers on this PC cannot be read: ") + error;
        return false;
    }
    // None left: the line is asked now, as the background top-up has not
    // reached it.
    if (*left > 0 || (syncSerials(error) && here.leasedLeft(key, error).value_or(0) > 0))
        return true;
    const std::optional<QDateTime> since = LineUnreachableSince(*local_);
    why = since ? Unreachable(*since)
                : QStringLiteral("No serial numbers left: the line database gave none (%1) — call the engineer").arg(error);
    return false;
}

bool StationRecords::serialsReady(const std::vector<std::pair<QString, QDate>>& keys, int block, QString& why)
{
    if (config_.lineUrl.isEmpty() || keys.empty())
        return true;
    QString error;
    if (!WantSerialKeys(*local_, keys, block, error)) {
        why = QStringLiteral("The serial numbers on this PC cannot be kept: ") + error;
        return false;
    }
    return haveLeased(keys.front().first, why);
}

int StationRecords::storeKeptRecords(const QString& resultsFolder)
{
    const QDir marks(station::UnstoredFolder(resultsFolder));
    int stored = 0;
    for (const QString& runId : marks.entryList(QDir::Files | QDir::Hidden)) {
        QString error;
        const auto record = ReadRecordFile(QDir(resultsFolder).filePath(runId + QStringLiteral(".json")), error);
        if (record && !store_->store(*record, error))
            break; // the database still cannot take it: later
        // Stored, or its file is gone or not a record: the mark goes.
        QFile::remove(marks.filePath(runId));
        stored += record ? 1 : 0;
    }
    return stored;
}

} // namespace bms::records
