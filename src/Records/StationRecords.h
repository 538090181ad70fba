// The records of a station PC as one object: the PC's SQLite database
// (always; the source of truth for its runs) and, when the line has one, the
// line's PostgreSQL database. This is what a station run and the window
// hold: the run stores its record here, asks here whether a barcode passed
// before and reserves its serial number here.
//
//  - store: into the PC's database, one transaction, queued for the line;
//    the forwarder (Forwarder, ForwardLoop) copies it later.
//  - passedBefore: the PC's runs, then the line's when it can be reached.
//  - serial numbers: always handed out from the PC's database. With a line
//    database the line is their only source: the PC holds numbers leased
//    from it ahead (SerialLease.h), so a run never waits for the server,
//    and a pack tested again keeps the number the line knows it by. Without
//    one, the PC's own sequence.
//  - a reservation that a killed run left behind is settled when the
//    records are next opened.
#pragma once

#include "RecordsInterfaces.h"

#include <QDate>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

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
    // How long a write to the PC's database waits for another's.
    int busyMs = 30000;
    // The time limit of each statement on the line database (0: the
    // database's own).
    int lineLimitMs = 0;
};

class StationRecords : public RecordSink, public PassHistory, public SerialSequence {
public:
    // Opens the PC's database (migrating it); nothing with a reason when that
    // fails. The line database is opened when first needed.
    static std::unique_ptr<StationRecords> open(const RecordsConfig& config, QString& error);
    ~StationRecords() override;

    bool store(const QJsonObject& record, QString& error) override;
    std::optional<bool> passedBefore(const QString& barcode, const QString& stationId, QString& error) override;
    std::optional<SerialGrant> reserve(const QString& key, const QString& runId, const QString& barcode,
                                       QString& error) override;
    bool bind(const SerialGrant& grant, const QString& runId, const QString& barcode, const QString& uid,
              QString& error) override;
    bool settle(const SerialGrant& grant, const QString& runId, bool written, bool passed, QString& error) override;

    // Runs of a recipe will want numbers under `keys` (the day each key
    // belongs to): with a line database they are leased ahead, `block` at
    // a time. Whether a number can be had now for `key` (the PC's own
    // sequence always has one; leased numbers are topped up from the line
    // when none is left); false with words for the operator when not.
    bool serialsReady(const std::vector<std::pair<QString, QDate>>& keys, int block, QString& why);
    // Words for the operator when no leased number of `key` is left and the
    // line is known not to answer (the scan is refused at once, without
    // asking the line); empty otherwise.
    QString noSerialsLeft(const QString& key);
    // Talks to the line about serial numbers now (SyncSerials); false with
    // the reason when it cannot be reached.
    bool syncSerials(QString& error);
    // Files of `resultsFolder` whose run could not be stored when it ended
    // are stored now; the count stored.
    int storeKeptRecords(const QString& resultsFolder);

    const RecordsConfig& config() const { return config_; }
    Database& local() { return *local_; }
    RecordStore& localStore() { return *store_; }
    // The line database, opened and migrated now if need be; nullptr (with
    // `error`) when none is set or it cannot be reached.
    Database* line(QString& error);

private:
    explicit StationRecords(const RecordsConfig& config);
    // The pack's number as the line knows it, taken note of here; nothing
    // when the line has none or cannot be asked.
    std::optional<SerialGrant> boundOnLine(const QString& barcode);
    // Leased numbers of `key` are left (topped up from the line when none
    // is); false with words for the operator when not.
    bool haveLeased(const QString& key, QString& why);

    RecordsConfig config_;
    std::unique_ptr<Database> local_;
    std::unique_ptr<RecordStore> store_;
    std::unique_ptr<Database> line_;
};

} // namespace bms::records
