#include "Automation.h"

#include "WorkbookError.h"

#include <QDir>
#include <QFileInfo>
#include <utility>

namespace bms {

namespace {

QString& NextPath()
{
    static QString path;
    return path;
}

[[noreturn]] void NotConnected()
{
    throw EWorkbookError(QStringLiteral("The workbook is not connected"));
}

} // namespace

void SetNextWorkbookPath(const QString& xlsxPath) { NextPath() = xlsxPath; }

void ExcelWorksheet::SetCellsItem(int row, int column, const CellValue& value)
{
    if (!document_)
        NotConnected();
    try {
        document_->setCell(row, column, value);
    } catch (const std::out_of_range&) {
        throw EWorkbookError(QStringLiteral("Cell (%1, %2) lies outside the worksheet").arg(row).arg(column));
    }
}

bool ExcelWorksheet::RowDone()
{
    if (!document_)
        NotConnected();
    return document_->rowDone();
}

std::shared_ptr<WorkbookDocument> ExcelWorkbook::WorksheetsAdd()
{
    if (!document_)
        NotConnected();
    return document_;
}

void ExcelApplication::Connect()
{
    folder_ = NextPath().isEmpty() ? WorkbookFolder() : QFileInfo(NextPath()).absolutePath();
    if (!QDir().mkpath(folder_))
        throw EWorkbookError(QStringLiteral("Cannot create the workbook folder %1").arg(folder_));
    connected_ = true;
}

void ExcelApplication::SetVisible(bool on)
{
    if (!connected_)
        NotConnected();
    visible_ = on;
}

void ExcelApplication::SetCaption(const QString& caption)
{
    if (!connected_)
        NotConnected();
    caption_ = caption;
}

std::shared_ptr<WorkbookDocument> ExcelApplication::WorkbooksAdd()
{
    if (!connected_)
        NotConnected();
    if (active_)
        active_->end();
    if (NextPath().isEmpty()) {
        active_ = std::make_shared<WorkbookDocument>(caption_, folder_, QDateTime::currentDateTime());
    } else {
        const QString path = std::exchange(NextPath(), QString());
        active_ = std::make_shared<WorkbookDocument>(caption_, path);
    }
    const WorkbookWindowFactory& factory = CurrentWorkbookWindowFactory();
    if (visible_ && factory)
        factory(active_);
    return active_;
}

WorkbookDocument& ExcelApplication::Active()
{
    if (!connected_ || !active_)
        NotConnected();
    return *active_;
}

void ExcelApplication::SetRowsColumnWidth(double width) { Active().setAllColumnWidths(width); }

void ExcelApplication::SetRangeColumnWidth(const QString& cell, double width)
{
    const int column = ColumnOfCellReference(cell);
    if (column == 0)
        throw EWorkbookError(QStringLiteral("Not a cell reference: %1").arg(cell));
    Active().setColumnWidth(column, width);
}

void ExcelApplication::SetRowsNumberFormat(const QString& format) { Active().setNumberFormat(format); }

void ExcelApplication::Disconnect(std::function<void(const QString& problem)> saved)
{
    if (active_)
        active_->end(std::move(saved));
    active_.reset();
    connected_ = false;
}

} // namespace bms
