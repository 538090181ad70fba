// Opens a data log for plotting: the .xlsx the tool wrote, or the journal
// beside it (for instance after a crash ended the tool before the workbook
// was written). The kind is told from the file's first bytes.
#pragma once

#include "ReadControl.h"
#include "SampleStore.h"

#include <QString>

namespace bms::trends {

struct LoadedLog {
    SampleStore store;
    QString path;
    int samples = 0;
    int skipped = 0;              // rows without a readable time or value
    int64_t unreadableCells = 0;  // cells that break the format (skipped)
    int badLines = 0;             // journal lines that could not be read
    bool datesGuessed = false;    // only the times of day could be read
    bool journal = false;
    bool cancelled = false;       // the read was stopped: what was read so far
};

// Throws EInOutError when the file cannot be read, is not a data log written
// by this tool, is past the limits of its reader, or needs more memory than
// there is. With a control, reports its progress and returns early (with
// what was read) once cancelled.
LoadedLog LoadDataLog(const QString& path, ReadControl* control = nullptr);

} // namespace bms::trends
