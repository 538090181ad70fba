#include "XlsxFile.h"

#include "FileSync.h"
#include "WorkbookError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <xlsxwriter.h>

namespace bms {

namespace {

void Check(lxw_error error, const QString& path)
{
    if (error != LXW_NO_ERROR)
        throw EWorkbookError(QStringLiteral("Cannot write the workbook %1: %2")
                                 .arg(path, QString::fromUtf8(lxw_strerror(error))));
}

// Spreads the columns over the ranges libxlsxwriter takes: the width of
// every column, then each column that has its own.
void SetColumns(lxw_worksheet* ws, const Sheet& sheet, lxw_format* format, const QString& path)
{
    lxw_col_t next = 0;
    for (const auto& [column, width] : sheet.columnWidths()) {
        const lxw_col_t c = lxw_col_t(column - 1);
        if (c > next)
            Check(worksheet_set_column(ws, next, lxw_col_t(c - 1), sheet.allColumnsWidth(), format), path);
        Check(worksheet_set_column(ws, c, c, width, format), path);
        next = lxw_col_t(c + 1);
    }
    if (next < LXW_COL_MAX)
        Check(worksheet_set_column(ws, next, LXW_COL_MAX - 1, sheet.allColumnsWidth(), format), path);
}

} // namespace

void WriteXlsx(const Sheet& sheet, const QString& path)
{
    const QString temporary = path + QStringLiteral(".part");
    const QByteArray tempName = QFile::encodeName(temporary);
    const QByteArray tmpDir = QFile::encodeName(QFileInfo(path).absolutePath());

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char*>(tmpDir.constData());
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(tempName.constData(), &options);
    if (!wb)
        throw EWorkbookError(QStringLiteral("Cannot create the workbook %1").arg(path));

    lxw_error result = LXW_NO_ERROR;
    try {
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        // Fails when the temporary file cannot be made (the folder is gone).
        if (!ws)
            throw EWorkbookError(QStringLiteral("Cannot write the workbook %1").arg(path));
        lxw_format* format = nullptr;
        const QByteArray numberFormat = sheet.numberFormat().toUtf8();
        if (sheet.numberFormat() != QStringLiteral("General")) {
            format = workbook_add_format(wb);
            format_set_num_format(format, numberFormat.constData());
        }
        SetColumns(ws, sheet, format, path);

        QByteArray utf8;
        for (int row = 1; row <= sheet.rowCount(); ++row) {
            const int length = sheet.rowLength(row);
            for (int column = 1; column <= length; ++column) {
                const CellValue v = sheet.cell(row, column);
                const lxw_row_t r = lxw_row_t(row - 1);
                const lxw_col_t c = lxw_col_t(column - 1);
                if (v.isNumber()) {
                    Check(worksheet_write_number(ws, r, c, v.number, format), path);
                } else if (v.isText()) {
                    utf8 = v.text.toUtf8();
                    Check(worksheet_write_string(ws, r, c, utf8.constData(), format), path);
                }
            }
        }
    } catch (...) {
        workbook_close(wb);
        QFile::remove(temporary);
        throw;
    }
    result = workbook_close(wb);
    if (result != LXW_NO_ERROR) {
        QFile::remove(temporary);
        Check(result, path);
    }
    // The bytes are on disk before the name points at them, and the new name
    // is on disk before the save counts as done.
    if (!SyncFile(temporary) || std::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temporary);
        throw EWorkbookError(QStringLiteral("Cannot write the workbook %1").arg(path));
    }
    (void)SyncFolderOf(path);
}

} // namespace bms
