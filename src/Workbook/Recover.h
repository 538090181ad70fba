// Turns the journal of a workbook back into an .xlsx, e.g. after a crash or
// a power cut ended the tool before the workbook was saved.
#pragma once

#include "XlsxFile.h"

#include <QString>

namespace bms {

struct RecoveryResult {
    QString xlsxPath;
    int rows = 0;
    bool complete = false; // the tool had closed the journal itself
    int badLines = 0;
    XlsxWriteNotes notes; // what had to change for a spreadsheet to open it
};

// Writes `xlsxPath`, or when it is empty the journal's name with ".xlsx"
// (or "-recovered.xlsx" when that file exists already). Lines that cannot be
// read are skipped, every other cell is written. Throws EWorkbookError.
RecoveryResult RecoverWorkbook(const QString& journalPath, const QString& xlsxPath = {});

} // namespace bms
