// Schema version 3: every stored time in one representation. Until then
// `runs` kept its start as the record's ISO text, again as milliseconds and
// as the text of its day, its end and the moment it was stored as texts, and
// serial numbers and applied migrations kept texts of local time. From
// version 3 on a time is integer milliseconds since the epoch (UTC) in
// SQLite and timestamptz in PostgreSQL (Database::timeType):
//
//   runs             started, ended, stored; utc_offset_s beside started: the
//                    station's UTC offset when the run started (the offset
//                    of the record's started_at), from which a run's local
//                    day is told (Database::localDay)
//   serial_numbers   changed
//   schema_migrations applied
//   station_state    line_unreachable_since, line_failed_at: milliseconds as
//                    text
//
// The record's own ISO texts stay in its header, as they were written.
#pragma once

#include <QString>

namespace bms::records {

class Database;

constexpr int kTimesSchemaVersion = 3;

// Converts a database of version 2 inside the migration's transaction.
// Texts without a UTC offset (the local time of the PC that wrote them) are
// read in this PC's time zone; a text that is no time becomes null.
// SQLite: foreign keys must be off (the runs table is rebuilt).
bool ConvertTimes(Database& db, QString& error);

} // namespace bms::records
