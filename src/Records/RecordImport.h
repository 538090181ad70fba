// A results folder's record files into a records database (`station
// import`). Every entry named *.json is accounted for: imported, already
// kept (the same record), in conflict with the run kept under its id,
// refused (not a record, with the reason) or skipped (not a regular file:
// a folder, a FIFO, a socket or device, a dangling link, a link loop).
#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace bms::records {

class RecordStore;

struct ImportCounts {
    int imported = 0, alreadyKept = 0, conflicts = 0, refused = 0, skipped = 0;
};

enum class ImportProblem { Refused, Conflict, Skipped };

// Why the entry at `path` is not read as a record file ("a FIFO", "a
// symbolic link loop", ...); empty for a regular file or a link to one.
// Nothing is opened.
QString NotARegularFile(const QString& path);

// Imports the *.json entries of `folder` (hidden ones aside) in name order;
// each one not imported or already kept is told to `tell` with its path
// and why. Nothing (with `error`) when the database fails: what was stored
// until then stays stored.
std::optional<ImportCounts> ImportFolder(RecordStore& store, const QString& folder,
                                         const std::function<void(ImportProblem, const QString&)>& tell, QString& error);

} // namespace bms::records
