// Writing the .xlsx of a day's log takes tens of seconds (the compression of
// libxlsxwriter), so an ended workbook is written on a worker thread while
// the window goes on. The sheet of an ended workbook no longer changes, so
// the worker and the window only ever read it. Completion is picked up on the
// user-interface thread (a poll every 100 ms while saves are running, or
// FinishWorkbookSaves), where the callback runs.
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace bms {

class Sheet;

// Writes `sheet` to `path` on a worker thread; `keepAlive` holds the owner of
// the sheet until then. Once the file is written and synced, `thenRemove`
// (when not empty) is removed. `done` runs on the calling thread with an
// empty text on success, else the error.
void SaveInBackground(std::shared_ptr<const void> keepAlive, const Sheet& sheet, const QString& path,
                      std::function<void(const QString& problem)> done, const QString& thenRemove = {});

// Waits for every running save and runs its callback (the window calls it
// before the program ends; tests before reading the files).
void FinishWorkbookSaves();
// Number of saves still running or not yet reported.
int PendingWorkbookSaves();

} // namespace bms
