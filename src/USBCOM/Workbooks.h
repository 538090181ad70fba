// Opening, filling and ending the three workbooks of the tool: the data log
// ("Save to Excel"), the UID list ("Save UID to Excel") and the
// current-calibration sheet ("Open excel"). Only one is open at a time: the
// button of each disables the buttons of the other two while it is open, and
// none opens its workbook while another one is open.
// Every workbook is journaled to disk row by row and saved as .xlsx when it
// is ended (see WorkbookDocument.h for where the files go).
#pragma once

#include "Automation.h"

#include <cstdint>

namespace bms {

// The worksheet row that the next write goes to, shared by the three
// workbooks.
extern int32_t ExcelRow;

// The application, workbook and worksheet wrappers; new ones are made each
// time a workbook is opened.
extern ExcelApplication exclplctn1;
extern ExcelWorkbook exclwrkbk1;
extern ExcelWorksheet exclwrksht1;

// Button handlers.
void excbtnClick();           // "Save to Excel" / "Cancel the save"
void btn_save_uidClick();     // "Save UID to Excel" / "Cancel the save"
void Cal_excel_buttonClick(); // "Open excel" / "Save and Closs"
void btn_cal_confirmClick();  // "确认已校准"
void btn_uid_saveClick();     // "Save UID": one UID row, "Has been written!"

void ToggleDataLog();
void ToggleUidWorkbook();
void ToggleCalWorkbook();

// One sample of PackTable[0] (and BsiRecord for product type "BSI") into row
// ExcelRow of the data log. The dispatcher calls it after the telemetry
// decoders while DataLogging is set.
void AppendDataRow();
// The same row with the cells of the register blocks missing from `answered`
// (bit b: block b) left empty; the command line logs one row per rotation.
void AppendDataRowOfBlocks(uint16_t answered);
void AppendUidRow();
// Columns A-C of the calibration row ExcelRow (the row is not advanced); the
// current-calibration handler calls it while CalWorkbookOpen is set.
void BeginCalibrationRow();
// Columns D-F of the calibration row ExcelRow, then the next row.
void CompleteCalibrationRow();

// The workbook being written, null when none is open (tests and the window).
std::shared_ptr<WorkbookDocument> CurrentWorkbook();

// Ends an open workbook as its button would and waits until every .xlsx is
// written (the window calls it when the program exits).
void EndOpenWorkbook();

} // namespace bms
