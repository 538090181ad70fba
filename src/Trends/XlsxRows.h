// Reads the first worksheet of an .xlsx file row by row: the zip archive
// through libzip, its XML through SheetScan or QXmlStreamReader, streamed so
// that a workbook of 100,000 rows is never held in memory whole. Shared
// strings, inline strings, numbers and booleans are understood; formulas give
// their cached value. What is held is bounded as SheetCells.h says.
#pragma once

#include "ReadControl.h"
#include "SheetRows.h"

#include <QString>
#include <string_view>

namespace bms::trends {

struct XlsxReading {
    // Progress through the worksheet; the read stops early, without error,
    // once cancelled.
    ReadControl* control = nullptr;
    // Read by SheetScan, which throws UnsupportedSheetXml (before or after
    // visiting some rows) when the XML is not of its simple shape; else by
    // QXmlStreamReader.
    bool fast = false;
    // Columns from A the visitor wants.
    int columns = kMaxSheetColumns;
};

// Returns the number of cells skipped because they break the format. Throws
// EInOutError when the file is not a readable workbook or is past a limit.
int64_t ReadXlsxRows(const QString& path, const RowVisitor& visit, const XlsxReading& how = {});

// The same for the XML of a worksheet held in memory, handed to the reader in
// pieces of `piece` bytes (tests and the fuzzer hold both readers to the same
// rows).
int64_t ReadSheetXml(std::string_view xml, const SharedStrings& shared, const RowVisitor& visit, bool fast,
                     size_t piece = size_t(1) << 18);

} // namespace bms::trends
