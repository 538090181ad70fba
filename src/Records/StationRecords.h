// The records of a station PC as one object: the PC's SQLite database
// (always; the source of truth for its runs) and, when the line has one, the
// line's PostgreSQL database. This is what a station run and the window
// hold: the run stores its record here, asks here whether a barcode passed
// before and reserves its serial number here.
//
//  - store: into the PC's database, one transaction, queued for the line;
//    the forwarder (Forwarder, ForwardLoop) copies it later.
//  - passedBefore: the PC's runs, then the line's when it can be reached.
//  - serial numbers: in the line database when one is set (several PCs
//    share its sequences; when it cannot be reached no number is handed out
//    rather than one that another PC may hand out too), else in the PC's.
#pragma once

#include "RecordsInterfaces.h"

#include <QString>
#include <memory>

namespace bms::records {

class Database;
class RecordStore;

// Where the PC's database lives: $XDG_DATA_HOME/quorlex-bms/station.db, else
// ~/.local/share/quorlex-bms/station.db.
QString DefaultLocalDatabasePath();
// The line database from the environment: $QUORLEX_BMS_LINE_DB (a
// postgresql:// URL); empty when unset.
QString LineDatabaseFromEnvironment();

struct RecordsConfig {
    QString localPath = DefaultLocalDatabasePath();
    QString lineUrl; // empty: no line database
};

class StationRecords : public RecordSink, public PassHistory, public SerialSequence {
public:
    // Opens the PC's database (migrating it); nothing with a reason when that
    // fails. The line database is opened when first needed.
    static std::unique_ptr<StationRecords> open(const RecordsConfig& config, QString& error);
    ~StationRecords() override;

    bool store(const QJsonObject& record, QString& error) override;
    std::optional<bool> passedBefore(const QString& barcode, const QString& stationId, QString& error) override;
    std::optional<qint64> reserve(const QString& key, const QString& runId, QString& error) override;
    bool commit(const QString& key, qint64 number, const QString& runId, QString& error) override;
    bool release(const QString& key, qint64 number, const QString& runId, QString& error) override;

    const RecordsConfig& config() const { return config_; }
    Database& local() { return *local_; }
    RecordStore& localStore() { return *store_; }
    // The line database, opened and migrated now if need be; nullptr (with
    // `error`) when none is set or it cannot be reached.
    Database* line(QString& error);

private:
    explicit StationRecords(const RecordsConfig& config);
    template <typename F>
    auto onSerials(F&& f, QString& error) -> decltype(f(std::declval<SerialSequence&>()));

    RecordsConfig config_;
    std::unique_ptr<Database> local_;
    std::unique_ptr<RecordStore> store_;
    std::unique_ptr<Database> line_;
};

} // namespace bms::records
