#include "Workbooks.h"

#include "App.h"
#include "BackgroundSave.h"
#include "CommRecord.h"
#include "LogRows.h"
#include "PackTable.h"

#include <QDateTime>
#include <vector>

namespace bms {

int32_t ExcelRow = 0;
ExcelApplication exclplctn1;
ExcelWorkbook exclwrkbk1;
ExcelWorksheet exclwrksht1;

namespace {

const QString kMemo = QStringLiteral("mmo1");
bool journalFailureShown = false;
bool sheetFullShown = false;
// True while a workbook button's handler runs: its Delay handles events, and
// a second click then must not open a second workbook.
bool toggling = false;

struct ToggleGuard {
    ToggleGuard() { toggling = true; }
    ~ToggleGuard() { toggling = false; }
};

QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }

// True when a workbook other than the one whose flag is `own` is open: a
// workbook button then refuses to open its own.
bool AnotherWorkbookOpen(const uint8_t& own)
{
    for (const uint8_t* flag : {&DataLogging, &UidWorkbookOpen, &CalWorkbookOpen})
        if (flag != &own && *flag != 0)
            return true;
    return false;
}

bool ProductIsBsi() { return App.ui->text(QStringLiteral("cbb_pdType")) == QStringLiteral("BSI"); }

// Connects new wrappers to a new workbook with a fresh worksheet, captioned
// `caption`, and gives every column the width 5, the first columns the widths
// in `widths` (from column A) and every cell the text format "@".
void OpenWorkbook(const QString& caption, const std::vector<double>& widths)
{
    if (exclplctn1.Connected())
        exclplctn1.Disconnect();
    exclplctn1 = ExcelApplication{};
    exclwrkbk1 = ExcelWorkbook{};
    exclwrksht1 = ExcelWorksheet{};
    journalFailureShown = false;
    sheetFullShown = false;

    exclplctn1.Connect();
    exclplctn1.SetVisible(true);
    exclplctn1.SetCaption(caption);
    exclwrkbk1.ConnectTo(exclplctn1.WorkbooksAdd());
    exclwrksht1.ConnectTo(exclwrkbk1.WorksheetsAdd());

    exclplctn1.SetRowsColumnWidth(5);
    // Through the single-cell ranges A1, B1, ...
    char column = 'A';
    for (double w : widths)
        exclplctn1.SetRangeColumnWidth(QLatin1Char(column++) + QStringLiteral("1"), w);
    exclplctn1.SetRowsNumberFormat(QStringLiteral("@"));
    App.ui->appendLine(kMemo, QStringLiteral("Workbook journal: ") + exclplctn1.ActiveWorkbook()->journalPath());
}

void CloseWorkbook()
{
    const std::shared_ptr<WorkbookDocument> document = exclplctn1.ActiveWorkbook();
    exclwrksht1.Disconnect();
    exclwrkbk1.Disconnect();
    if (!document) {
        exclplctn1.Disconnect();
        return;
    }
    const QString xlsx = document->xlsxPath();
    const QString journal = document->journalPath();
    // The .xlsx is written in the background; the memo tells when it is done.
    exclplctn1.Disconnect([xlsx, journal](const QString& problem) {
        if (!App.ui)
            return;
        if (problem.isEmpty())
            App.ui->appendLine(kMemo, QStringLiteral("Workbook saved: ") + xlsx);
        else
            App.ui->appendLine(kMemo, problem + QStringLiteral(" (the rows are kept in ") + journal + QLatin1Char(')'));
    });
}

// Writes `cells` into row `row` from `firstColumn`, one cell at a time, then
// makes the row durable.
void WriteRow(int row, int firstColumn, const CellRow& cells)
{
    int column = firstColumn;
    for (const CellValue& v : cells)
        exclwrksht1.SetCellsItem(row, column++, v);
    if (!exclwrksht1.RowDone() && !journalFailureShown) {
        journalFailureShown = true;
        App.ui->appendLine(kMemo, QStringLiteral("Workbook journal could not be written; the rows are kept "
                                                 "in memory and saved when the workbook is ended"));
    }
}

// Resumes sampling when the data-log toggle leaves, also when a step failed.
struct ResumeSampling {
    ~ResumeSampling()
    {
        if (Sampling) {
            App.tmr1->setInterval(SampleIntervalMs);
            App.tmr1->setEnabled(true);
        }
    }
};

} // namespace

void ToggleDataLog()
{
    if (DataLogging == 0) {
        if (AnotherWorkbookOpen(DataLogging))
            return;
        App.tmr1->setEnabled(false);
        const ResumeSampling resume;
        Delay(200);
        // Column A 16, B to N 15.
        std::vector<double> widths(14, 15);
        widths[0] = 16;
        OpenWorkbook(App.ui->text(QStringLiteral("cbb_pdType")) + QStringLiteral("-data"), widths);
        DataLogging = 1;
        App.ui->setText(QStringLiteral("excbtn"), QStringLiteral("Cancel the save"));
        const PackRecord& pack = PackTable[0];
        ExcelRow = 1;
        WriteRow(ExcelRow, 1, DeviceLineRow(pack));
        ExcelRow = 2;
        WriteRow(ExcelRow, 1, DataLogHeaderRow(pack, ProductIsBsi()));
        ExcelRow = 3;
    } else {
        CloseWorkbook();
        DataLogging = 0;
        App.ui->setText(QStringLiteral("excbtn"), QStringLiteral("Save to Excel"));
    }
}

void ToggleUidWorkbook()
{
    if (UidWorkbookOpen == 0) {
        if (AnotherWorkbookOpen(UidWorkbookOpen))
            return;
        Delay(200);
        OpenWorkbook(QStringLiteral("BMS-UID"), {16, 15, 40});
        UidWorkbookOpen = 1;
        App.ui->setText(QStringLiteral("btn_save_uid"), QStringLiteral("Cancel the save"));
        ExcelRow = 1;
        WriteRow(ExcelRow, 1, UidHeaderRow());
        ExcelRow = 2;
    } else {
        CloseWorkbook();
        UidWorkbookOpen = 0;
        App.ui->setText(QStringLiteral("btn_save_uid"), QStringLiteral("Save UID to Excel"));
    }
}

void ToggleCalWorkbook()
{
    if (CalWorkbookOpen == 0) {
        if (AnotherWorkbookOpen(CalWorkbookOpen))
            return;
        Delay(200);
        OpenWorkbook(Tr("电池电流校准记录表"), {16, 15, 40, 15, 15, 15});
        CalWorkbookOpen = 1;
        App.ui->setVisible(QStringLiteral("btn_cal_confirm"), true);
        App.ui->setText(QStringLiteral("Cal_excel_button"), QStringLiteral("Save and Closs"));
        ExcelRow = 1;
        WriteRow(ExcelRow, 1, DeviceLineRow(PackTable[0]));
        ExcelRow = 2;
        WriteRow(ExcelRow, 1, CalibrationHeaderRow());
        ExcelRow = 3;
    } else {
        CloseWorkbook();
        CalWorkbookOpen = 0;
        App.ui->setVisible(QStringLiteral("btn_cal_confirm"), false);
        App.ui->setText(QStringLiteral("Cal_excel_button"), QStringLiteral("Open excel"));
    }
}

void AppendDataRow() { AppendDataRowOfBlocks(kEveryLogBlock); }

void AppendDataRowOfBlocks(uint16_t answered)
{
    if (!DataLogging || !exclwrksht1.Connected())
        return;
    if (ExcelRow > Sheet::kMaxRows) {
        // About six days at 500 ms: the worksheet can take no more rows.
        if (!sheetFullShown)
            App.ui->appendLine(kMemo, QStringLiteral("The worksheet is full; no more rows are logged"));
        sheetFullShown = true;
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    WriteRow(ExcelRow, 1, DataLogRow(PackTable[0], BsiRecord, ProductIsBsi(), now, answered));
    ++ExcelRow;
}

void AppendUidRow()
{
    if (!UidWorkbookOpen || !exclwrksht1.Connected())
        return;
    WriteRow(ExcelRow, 1, UidRow(QDateTime::currentDateTime(), App.ui->text(QStringLiteral("edt1")),
                                 App.ui->text(QStringLiteral("edt_uid"))));
    ++ExcelRow;
}

void BeginCalibrationRow()
{
    if (!CalWorkbookOpen || !exclwrksht1.Connected())
        return;
    WriteRow(ExcelRow, 1, CalibrationBeginCells(QDateTime::currentDateTime(), ExcelRow - 2,
                                                App.ui->text(QStringLiteral("edt1"))));
}

void CompleteCalibrationRow()
{
    if (!CalWorkbookOpen || !exclwrksht1.Connected())
        return;
    WriteRow(ExcelRow, kCalibrationCompleteFirstColumn,
             CalibrationCompleteCells(PackTable[0].current, App.ui->text(QStringLiteral("edtc"))));
    ++ExcelRow;
}

void excbtnClick()
{
    if (toggling)
        return;
    if (AnotherWorkbookOpen(DataLogging))
        return;
    const ToggleGuard guard;
    ToggleDataLog();
    App.ui->setEnabled(QStringLiteral("btn_save_uid"), DataLogging == 0);
    App.ui->setEnabled(QStringLiteral("Cal_excel_button"), DataLogging == 0);
}

void btn_save_uidClick()
{
    if (toggling)
        return;
    if (AnotherWorkbookOpen(UidWorkbookOpen))
        return;
    const ToggleGuard guard;
    ToggleUidWorkbook();
    App.ui->setEnabled(QStringLiteral("excbtn"), UidWorkbookOpen == 0);
    App.ui->setEnabled(QStringLiteral("Cal_excel_button"), UidWorkbookOpen == 0);
}

void Cal_excel_buttonClick()
{
    if (toggling)
        return;
    if (AnotherWorkbookOpen(CalWorkbookOpen))
        return;
    const ToggleGuard guard;
    ToggleCalWorkbook();
    App.ui->setEnabled(QStringLiteral("excbtn"), CalWorkbookOpen == 0);
    App.ui->setEnabled(QStringLiteral("btn_save_uid"), CalWorkbookOpen == 0);
}

void btn_cal_confirmClick()
{
    if (!CalWorkbookOpen)
        return;
    CompleteCalibrationRow();
    App.ui->setEnabled(QStringLiteral("btn_cal_confirm"), false);
}

// The row of the open UID sheet that holds `uid` already, or 0.
int UidRowInSheet(const QString& uid)
{
    const std::shared_ptr<WorkbookDocument> document = exclplctn1.ActiveWorkbook();
    if (!document || uid.isEmpty())
        return 0;
    const CellValue wanted = UidRow(QDateTime(), QString(), uid).back();
    const Sheet& sheet = document->sheet();
    for (int row = 2; row <= sheet.rowCount(); ++row) {
        if (sheet.cell(row, 3) == wanted)
            return row;
    }
    return 0;
}

void btn_uid_saveClick()
{
    if (!UidWorkbookOpen)
        return;
    // A UID saved twice is most likely the same pack scanned twice: the
    // operator is warned and decides.
    const QString uid = App.ui->text(QStringLiteral("edt_uid"));
    if (const int row = UidRowInSheet(uid); row > 0) {
        const QString question = QStringLiteral("The UID %1 is already in row %2 of the UID sheet. Write it again?").arg(uid).arg(row);
        if (!App.ui->askYesNo(QString(), question))
            return;
    }
    AppendUidRow();
    App.ui->setEnabled(QStringLiteral("btn_uid_save"), false);
    App.ui->showMessage(QStringLiteral("Has been written!"));
}

std::shared_ptr<WorkbookDocument> CurrentWorkbook() { return exclplctn1.ActiveWorkbook(); }

void EndOpenWorkbook()
{
    if (DataLogging)
        ToggleDataLog();
    else if (UidWorkbookOpen)
        ToggleUidWorkbook();
    else if (CalWorkbookOpen)
        ToggleCalWorkbook();
    FinishWorkbookSaves();
}

} // namespace bms
