// Row layouts of the three workbooks as pure functions: from the pack table,
// the parallel-system record and a few texts to the cells of one row, left to
// right from column A. Nothing here touches a workbook or a control.
#pragma once

#include "CellValue.h"
#include "PackTable.h"

#include <QDateTime>
#include <QString>
#include <vector>

namespace bms {

using CellRow = std::vector<CellValue>;

constexpr int kFixedLogColumns = 38;
constexpr int kBsiLogColumns = 29;
// The cell and sensor arrays of a pack record hold 16 entries; larger counts
// are logged as 16 columns.
constexpr int kMaxLoggedCount = 16;

// "short date" + " " + "hh:mm:ss" (24-hour), the sampling-time text.
QString SampleTimeText(const QDateTime& when);
// "short date" + " " + the system's time format (UID rows).
QString UidTimeText(const QDateTime& when);

// Row 1 of the data log and of the calibration sheet.
CellRow DeviceLineRow(const PackRecord& pack);

// Register blocks of a data-log row: bit b set when block b (0..7) was
// answered for the row.
constexpr uint16_t kEveryLogBlock = 0x00FF;

// Data log: header (row 2) and one sample. The variable columns follow the
// counts of `pack`; the BSI columns are added when `bsi` is set. The cells of
// a block missing from `answered` are left empty, so that a value the pack
// did not give for this row is never logged as if it had.
CellRow DataLogHeaderRow(const PackRecord& pack, bool bsi);
CellRow DataLogRow(const PackRecord& pack, const BsiRecordT& sys, bool bsi, const QDateTime& when,
                   uint16_t answered = kEveryLogBlock);

// Bus log (one row per pack per sweep of a rack): the data log's header and
// rows without BSI columns, with the pack's address (column B, a number)
// and serial number (column C) after the sampling time.
constexpr int kBusLogPackColumns = 2;
CellRow BusLogHeaderRow(const PackRecord& pack);
CellRow BusLogRow(const PackRecord& pack, int address, const QString& serial, const QDateTime& when,
                  uint16_t answered = kEveryLogBlock);

// UID workbook: header (row 1) and one entry.
CellRow UidHeaderRow();
CellRow UidRow(const QDateTime& when, const QString& barcode, const QString& uid);

// Calibration sheet: header (row 2); a row is written in two halves, columns
// A-C when the calibration is sent and D-F when it is confirmed.
CellRow CalibrationHeaderRow();
CellRow CalibrationBeginCells(const QDateTime& when, int number, const QString& barcode);
CellRow CalibrationCompleteCells(int32_t current, const QString& reference);
constexpr int kCalibrationCompleteFirstColumn = 4; // D

} // namespace bms
