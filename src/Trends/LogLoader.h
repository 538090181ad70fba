// Opens a data log for plotting: the .xlsx the tool wrote, or the journal
// beside it (for instance after a crash ended the tool before the workbook
// was written). The kind is told from the file's first bytes.
#pragma once

#include "SampleStore.h"

#include <QString>
#include <atomic>

namespace bms::trends {

struct LoadedLog {
    SampleStore store;
    QString path;
    int samples = 0;
    int skipped = 0;          // rows without a readable time or value
    bool datesGuessed = false; // only the times of day could be read
    bool journal = false;
};

// Throws EInOutError when the file cannot be read or is not a data log
// written by this tool. Returns early (with what was read) once `cancel` is
// set.
LoadedLog LoadDataLog(const QString& path, const std::atomic_bool* cancel = nullptr);

} // namespace bms::trends
