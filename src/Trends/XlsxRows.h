// Reads the first worksheet of an .xlsx file row by row: the zip archive
// through libzip, its XML through SheetScan or QXmlStreamReader, streamed so
// that a workbook of 100,000 rows is never held in memory whole. Shared
// strings, inline strings, numbers and booleans are understood; formulas give
// their cached value. What is held is bounded as SheetCells.h says, what is
// decompressed as below.
#pragma once

#include "ReadControl.h"
#include "SheetRows.h"

#include <QString>
#include <cstdint>
#include <string_view>

namespace bms::trends {

// What a part of the archive may decompress to: more is refused, naming the
// part, before it is read when its entry says so, else as soon as the bytes
// reach the limit.
// The worksheet: the widest row of the tool's data log (115 columns with the
// BSI ones) takes about 3.2 KB of XML, a full worksheet of 1,048,576 such
// rows about 3.1 GiB.
constexpr int64_t kMaxWorksheetBytes = int64_t(4) << 30;
// The shared strings: within their own limits (SheetCells.h) a table takes
// a few hundred MiB at most, even with every character written as an entity.
constexpr int64_t kMaxSharedStringsBytes = int64_t(512) << 20;
// The workbook and its relationships: a few KiB in any workbook.
constexpr int64_t kMaxWorkbookPartBytes = int64_t(64) << 20;
// Any part: at most 100 times its compressed size. XML compresses 5 to 15
// times (the tool's data logs 7 to 13); a part that inflates a hundred times
// or more was made to, and a small file could otherwise keep the reader busy
// for a minute. Parts of up to 1 MiB are not held to it.
constexpr int64_t kMaxPartRatio = 100;
constexpr int64_t kRatioFreeBytes = int64_t(1) << 20;

struct XlsxReading {
    // Progress through the shared strings and the worksheet; the read stops
    // early, without error, once cancelled.
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
