#include "StationRecords.h"

#include "Database.h"
#include "RecordStore.h"
#include "Schema.h"
#include "SerialNumbers.h"

#include <QDir>

namespace bms::records {

QString DefaultLocalDatabasePath()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/quorlex-bms/station.db");
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
    records->local_ = Database::openSqlite(config.localPath, error);
    if (!records->local_ || !Migrate(*records->local_, error))
        return nullptr;
    // Every run waits on the queue until it is on a line database; with no
    // line set yet, the queue is the list of runs that one would receive.
    records->store_ = std::make_unique<RecordStore>(*records->local_, true);
    return records;
}

Database* StationRecords::line(QString& error)
{
    if (config_.lineUrl.isEmpty()) {
        error = QStringLiteral("no line database is set (--db postgresql://... or QUORLEX_BMS_LINE_DB)");
        return nullptr;
    }
    if (!line_) {
        line_ = Database::openPostgres(config_.lineUrl, error);
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
    // it answers; when it does not, the PC's own runs decide.
    QString lineError;
    if (Database* db = line(lineError)) {
        RecordStore lineStore(*db, false);
        if (const std::optional<bool> there = lineStore.passedBefore(barcode, stationId, lineError))
            return there;
        line_.reset();
    }
    return here;
}

template <typename F>
auto StationRecords::onSerials(F&& f, QString& error) -> decltype(f(std::declval<SerialSequence&>()))
{
    if (config_.lineUrl.isEmpty()) {
        SqlSerialSequence local(*local_);
        return f(local);
    }
    // One retry on a fresh connection: a connection the server dropped since
    // the last call fails once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        Database* db = line(error);
        if (!db)
            return {};
        SqlSerialSequence shared(*db);
        auto result = f(shared);
        if (result)
            return result;
        QString ignored;
        if (db->exec(QStringLiteral("SELECT 1"), ignored))
            return result;
        line_.reset();
    }
    return {};
}

std::optional<qint64> StationRecords::reserve(const QString& key, const QString& runId, QString& error)
{
    return onSerials([&](SerialSequence& s) { return s.reserve(key, runId, error); }, error);
}

bool StationRecords::commit(const QString& key, qint64 number, const QString& runId, QString& error)
{
    return onSerials([&](SerialSequence& s) { return s.commit(key, number, runId, error); }, error);
}

bool StationRecords::release(const QString& key, qint64 number, const QString& runId, QString& error)
{
    return onSerials([&](SerialSequence& s) { return s.release(key, number, runId, error); }, error);
}

} // namespace bms::records
