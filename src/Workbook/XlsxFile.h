// Writes a sheet to an .xlsx file through libxlsxwriter: texts as strings,
// numbers as numbers, the column widths and the number format of the sheet.
// Rows are written in order in the library's constant-memory mode, so a day
// of samples costs no more memory than the sheet already holds. The file is
// written under a temporary name and renamed, so an earlier copy is never
// left half-written.
#pragma once

#include "Sheet.h"

#include <QString>

namespace bms {

// Throws EWorkbookError when the file cannot be written.
void WriteXlsx(const Sheet& sheet, const QString& path);

} // namespace bms
