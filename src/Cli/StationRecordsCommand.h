// `station history|show|stats|export|passport|import|forward`: the station
// records on the PC's database (or the line's with --line). None of them
// opens a port.
#pragma once

#include "Command.h"
#include "Queries.h"

#include <QString>
#include <memory>
#include <optional>

namespace bms::records {
class Database;
class StationRecords;
}

namespace bms::cli {

class Session;

// Exit status of the records commands beyond the shared ones: the run or
// barcode asked for is not on record. kExitDatabase (Session.h): the
// database could not be opened, read or written (or the line database is
// still missing runs).
constexpr int kExitNotFound = 1;

// The subcommands this file serves (the station run has its own).
const QStringList& StationRecordsSubcommands();
QString StationRecordsHelp();

std::unique_ptr<Command> MakeStationRecordsCommand(Session& session);

// The filter of --barcode, --uid, --serial, --since, --until, --outcome,
// --recipe, --station and --limit; nothing (with the reason reported) on a
// bad value.
std::optional<records::RunFilter> FilterOfOptions(Session& session, int defaultLimit);

// `station serials`: the PC's serial numbers (StationSerials.cpp).
int SerialsReport(Session& session, records::StationRecords& records, QJsonObject& result);
// `station forward --background`: one quiet forwarding of everything that
// waits, and of the serial numbers' news; a second at once leaves at once.
int ForwardInBackground(records::StationRecords& records);

// `station export`: the runs of the filter as CSV, .xlsx or JSON, the first
// kExportLimit of them unless --limit says otherwise (a note says when more
// match).
constexpr int kExportLimit = 100000;
int ExportRuns(Session& session, records::Database& db, const records::RunFilter& filter);

} // namespace bms::cli
