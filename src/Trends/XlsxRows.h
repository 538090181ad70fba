// Reads the first worksheet of an .xlsx file row by row: the zip archive
// through libzip, its XML through QXmlStreamReader, streamed so that a
// workbook of 100,000 rows is never held in memory whole. Shared strings,
// inline strings, plain numbers and booleans are understood; formulas give
// their cached value.
#pragma once

#include "CellValue.h"

#include <QString>
#include <atomic>
#include <functional>
#include <vector>

namespace bms::trends {

// Called for every row that has cells: its number (from 1) and its cells
// from column A, empty where the row has none.
using RowVisitor = std::function<void(int row, const std::vector<CellValue>& cells)>;

// Throws EInOutError when the file is not a readable workbook. Stops early,
// without error, once `cancel` is set. With `fast`, the worksheet is read by
// SheetScan, which throws UnsupportedSheetXml (before or after visiting some
// rows) when the XML is not of its simple shape; without, by QXmlStreamReader.
void ReadXlsxRows(const QString& path, const RowVisitor& visit, const std::atomic_bool* cancel = nullptr,
                  bool fast = false);

} // namespace bms::trends
