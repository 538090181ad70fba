// The records schema: numbered, forward-only migrations, the same for the
// PC's SQLite file and the line's PostgreSQL database. The versions applied
// are kept in the database (table schema_migrations); a database that has a
// version this tool does not know is refused before anything is written.
#pragma once

#include <QString>

namespace bms::records {

class Database;

// The newest schema version this tool knows.
int KnownSchemaVersion();

// The database's schema version (0 for an empty database); -1 with `error`
// set when it cannot be read.
int SchemaVersion(Database& db, QString& error);

// Applies the migrations the database lacks, each in the one transaction
// that also records it. Several processes may call this at once: one
// migrates, the others wait and find the work done. False with a message
// when the database is newer than this tool or a migration fails.
bool Migrate(Database& db, QString& error);

} // namespace bms::records
