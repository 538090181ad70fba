// Making files and their names durable. fdatasync on a file makes its bytes
// durable, but a newly created or renamed file also needs the folder that
// names it synced, or a power cut can lose the name and with it the file.
#pragma once

#include <QString>
#include <functional>

namespace bms {

// Syncs the folder that holds `path`. False when the folder cannot be opened
// or synced (some file systems do not sync folders); callers treat that as a
// loss of durability, not as a failed write.
bool SyncFolderOf(const QString& path);

// Syncs the bytes of the file `path` to disk. False on an I/O error.
bool SyncFile(const QString& path);

// Removes the file `path` and syncs its folder, so that the removal is
// durable. False when the file cannot be removed.
bool RemoveDurably(const QString& path);

// Told of every folder synced (tests watch it).
extern std::function<void(const QString& folder)> FolderSynced;

// The system's words for the last error (errno).
QString SystemError();

} // namespace bms
