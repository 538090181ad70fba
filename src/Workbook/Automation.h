// The spreadsheet application as the tool drives it: connect, make it
// visible, set its caption, add a workbook and a worksheet, set the width of
// all columns or of one, set the number format of every cell, write cells,
// disconnect. Workbooks are WorkbookDocuments: journaled from the moment they
// are added, shown in a live sheet window when one is installed, and saved
// as .xlsx when the application is disconnected. Disconnecting ends the
// tool's writing but does not close the window, as with a spreadsheet program
// that stays open.
//
// A call on a wrapper that is not connected raises EWorkbookError, the
// automation error.
#pragma once

#include "CellValue.h"
#include "WorkbookDocument.h"

#include <QDateTime>
#include <QString>
#include <memory>

namespace bms {

// The next workbook added (Workbooks.Add) is written at `xlsxPath` instead
// of the workbook folder's automatic name; used once. The command line's
// data log takes its file name this way.
void SetNextWorkbookPath(const QString& xlsxPath);

class ExcelWorksheet {
public:
    void ConnectTo(const std::shared_ptr<WorkbookDocument>& document) { document_ = document; }
    // Cells.Item[row, column] <- value.
    void SetCellsItem(int row, int column, const CellValue& value);
    // The row just written is complete: it is made durable.
    bool RowDone();
    void Disconnect() { document_.reset(); }
    bool Connected() const { return bool(document_); }

private:
    std::shared_ptr<WorkbookDocument> document_;
};

class ExcelWorkbook {
public:
    void ConnectTo(const std::shared_ptr<WorkbookDocument>& document) { document_ = document; }
    // Worksheets.Add: the workbook's sheet, which becomes the active sheet.
    std::shared_ptr<WorkbookDocument> WorksheetsAdd();
    void Disconnect() { document_.reset(); }
    bool Connected() const { return bool(document_); }

private:
    std::shared_ptr<WorkbookDocument> document_;
};

class ExcelApplication {
public:
    // Checks that workbooks can be created in WorkbookFolder().
    void Connect();
    void SetVisible(bool on);
    void SetCaption(const QString& caption);
    // Workbooks.Add: a new workbook named after the caption, journaled at once.
    std::shared_ptr<WorkbookDocument> WorkbooksAdd();
    // Rows.ColumnWidth, Range[cell, cell].ColumnWidth and Rows.NumberFormat of
    // the active sheet.
    void SetRowsColumnWidth(double width);
    void SetRangeColumnWidth(const QString& cell, double width);
    void SetRowsNumberFormat(const QString& format);
    // Ends the tool's writing to the workbook added through this connection:
    // its journal is closed and the .xlsx written in the background; `saved`
    // runs when that is done (see WorkbookDocument::end).
    void Disconnect(std::function<void(const QString& problem)> saved = {});
    bool Connected() const { return connected_; }
    // The workbook added through this connection (null when none).
    const std::shared_ptr<WorkbookDocument>& ActiveWorkbook() const { return active_; }

private:
    WorkbookDocument& Active();

    bool connected_ = false;
    bool visible_ = false;
    QString caption_;
    QString folder_;
    std::shared_ptr<WorkbookDocument> active_;
};

} // namespace bms
