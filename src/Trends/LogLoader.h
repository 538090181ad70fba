// Opens a data log for plotting: the .xlsx the tool wrote, or the journal
// beside it (for instance after a crash ended the tool before the workbook
// was written). The kind is told from the file's first bytes. A bus log
// (the rows of a rack's packs) opens the same way, one timeline per pack.
#pragma once

#include "DataLogReader.h"
#include "ReadControl.h"
#include "SampleStore.h"

#include <QString>

namespace bms::trends {

struct LoadedLog {
    SampleStore store;
    // A bus log: each pack's samples, by address (`store` stays empty).
    std::vector<PackTimeline> packs;
    bool busLog = false;
    QString path;
    int samples = 0;
    int skipped = 0;              // rows without a readable time or value
    int64_t unreadableCells = 0;  // cells that break the format (skipped)
    int badLines = 0;             // journal lines that could not be read
    bool datesGuessed = false;    // only the times of day could be read
    bool journal = false;
    bool cancelled = false;       // the read was stopped: what was read so far
};

// Throws EInOutError when the file cannot be read, is not a data log (or a
// bus log) written by this tool, is past the limits of its reader, or needs
// more memory than there is. With a control, reports its progress and
// returns early (with what was read) once cancelled.
LoadedLog LoadDataLog(const QString& path, ReadControl* control = nullptr);

} // namespace bms::trends
