#include "XlsxFile.h"

#include "FileSync.h"
#include "WorkbookError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

namespace bms {

namespace {

// A spreadsheet's largest number and longest text.
constexpr double kMaxNumber = 9.99999999999999e307;
constexpr qsizetype kMaxTextChars = 32767;

[[noreturn]] void Fail(const QString& path, const QString& why)
{
    throw EWorkbookError(QStringLiteral("Cannot write the workbook %1: %2").arg(path, why));
}

void Check(lxw_error error, const QString& path)
{
    if (error == LXW_NO_ERROR)
        return;
    // The library's file errors guess ("Usually a permissions error"); the
    // system's own reason is better where there is one.
    const bool fileError = error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE
        || error == LXW_ERROR_READING_TMPFILE || (error >= LXW_ERROR_ZIP_FILE_OPERATION && error <= LXW_ERROR_ZIP_CLOSE);
    if (fileError && (errno == ENOSPC || errno == EDQUOT || errno == EIO || errno == EROFS || errno == EFBIG
                      || errno == EACCES || errno == ENOENT))
        Fail(path, SystemError());
    Fail(path, QString::fromUtf8(lxw_strerror(error)));
}

// Why the temporary file cannot be made beside `path`; empty when it can
// (it is then made, empty).
QString CreationProblem(const QString& temporary)
{
    const QFileInfo folder(QFileInfo(temporary).absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder.filePath());
    const int fd = ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return SystemError();
    ::close(fd);
    return {};
}

bool XmlChar(char16_t c) { return c >= 0x20 ? c != 0xFFFE && c != 0xFFFF : c == 0x9 || c == 0xA || c == 0xD; }

// Spreads the columns over the ranges libxlsxwriter takes: the width of
// every column, then each column that has its own.
void SetColumns(lxw_worksheet* ws, const std::map<int, double>& widths, double allWidth, lxw_format* format,
                const QString& path)
{
    lxw_col_t next = 0;
    for (const auto& [column, width] : widths) {
        const lxw_col_t c = lxw_col_t(column - 1);
        if (c > next)
            Check(worksheet_set_column(ws, next, lxw_col_t(c - 1), allWidth, format), path);
        Check(worksheet_set_column(ws, c, c, width, format), path);
        next = lxw_col_t(c + 1);
    }
    if (next < LXW_COL_MAX)
        Check(worksheet_set_column(ws, next, LXW_COL_MAX - 1, allWidth, format), path);
}

} // namespace

QString XlsxWriteNotes::describe() const
{
    QStringList parts;
    if (textsCut)
        parts.append(QStringLiteral("%1 text(s) cut to 32,767 characters").arg(textsCut));
    if (charactersReplaced)
        parts.append(QStringLiteral("%1 character(s) a workbook cannot hold replaced by U+FFFD").arg(charactersReplaced));
    if (numbersLeftOut)
        parts.append(QStringLiteral("%1 number(s) that are not finite or too large left out").arg(numbersLeftOut));
    return parts.join(QStringLiteral(", "));
}

QString WritableText(const QString& text, XlsxWriteNotes& notes)
{
    const char16_t* u = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    qsizetype bad = 0;
    for (qsizetype i = 0; i < n && bad == 0; ++i) {
        if (!XmlChar(u[i]) || QChar::isSurrogate(u[i]))
            bad = 1;
    }
    if (bad == 0 && n <= kMaxTextChars)
        return text;
    QString out;
    out.reserve(std::min(n, kMaxTextChars));
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = u[i];
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            if (out.size() + 2 > kMaxTextChars)
                break;
            out.append(QChar(c));
            out.append(QChar(u[++i]));
            continue;
        }
        if (out.size() + 1 > kMaxTextChars)
            break;
        if (!XmlChar(c) || QChar::isSurrogate(c)) {
            out.append(QChar(QChar::ReplacementCharacter));
            ++notes.charactersReplaced;
        } else {
            out.append(QChar(c));
        }
    }
    if (n > kMaxTextChars && out.size() < n)
        ++notes.textsCut;
    return out;
}

XlsxWriter::XlsxWriter(const QString& path, const std::map<int, double>& widths, double allWidth,
                       const QString& numberFormat)
    : path_(path), temporary_(path + QStringLiteral(".part"))
{
    const QByteArray tempName = QFile::encodeName(temporary_);
    const QByteArray tmpDir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (const QString problem = CreationProblem(temporary_); !problem.isEmpty())
        Fail(path, problem);

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char*>(tmpDir.constData());
    options.use_zip64 = LXW_TRUE;
    wb_ = workbook_new_opt(tempName.constData(), &options);
    if (!wb_) {
        QFile::remove(temporary_);
        throw EWorkbookError(QStringLiteral("Cannot create the workbook %1").arg(path));
    }
    try {
        ws_ = workbook_add_worksheet(wb_, nullptr);
        // Fails when the library's temporary file cannot be made.
        if (!ws_)
            Fail(path, QStringLiteral("no temporary file can be made in %1: %2")
                           .arg(QFileInfo(path).absolutePath(), SystemError()));
        const QByteArray format = WritableText(numberFormat, notes_).toUtf8();
        if (numberFormat != QStringLiteral("General")) {
            format_ = workbook_add_format(wb_);
            format_set_num_format(format_, format.constData());
        }
        SetColumns(ws_, widths, allWidth, format_, path);
    } catch (...) {
        abandon();
        throw;
    }
}

XlsxWriter::~XlsxWriter()
{
    abandon();
}

void XlsxWriter::abandon()
{
    if (!wb_)
        return;
    workbook_close(wb_);
    wb_ = nullptr;
    QFile::remove(temporary_);
}

void XlsxWriter::addRow(const std::vector<CellValue>& cells)
{
    const lxw_row_t r = lxw_row_t(row_++);
    try {
        for (size_t column = 0; column < cells.size(); ++column) {
            const CellValue& v = cells[column];
            const lxw_col_t c = lxw_col_t(column);
            if (v.isNumber()) {
                if (std::isfinite(v.number) && std::abs(v.number) <= kMaxNumber)
                    Check(worksheet_write_number(ws_, r, c, v.number, format_), path_);
                else
                    ++notes_.numbersLeftOut;
            } else if (v.isBoolean()) {
                Check(worksheet_write_boolean(ws_, r, c, v.number != 0, format_), path_);
            } else if (v.isText()) {
                utf8_ = WritableText(v.text, notes_).toUtf8();
                Check(worksheet_write_string(ws_, r, c, utf8_.constData(), format_), path_);
            }
        }
    } catch (...) {
        abandon();
        throw;
    }
}

XlsxWriteNotes XlsxWriter::finish()
{
    errno = 0;
    const lxw_error result = workbook_close(wb_);
    wb_ = nullptr;
    if (result != LXW_NO_ERROR) {
        const int error = errno;
        QFile::remove(temporary_);
        errno = error;
        Check(result, path_);
    }
    // The bytes are on disk before the name points at them, and the new name
    // is on disk before the save counts as done.
    if (!SyncFile(temporary_)
        || std::rename(QFile::encodeName(temporary_).constData(), QFile::encodeName(path_).constData()) != 0) {
        const QString why = SystemError();
        QFile::remove(temporary_);
        Fail(path_, why);
    }
    (void)SyncFolderOf(path_);
    return notes_;
}

XlsxWriteNotes WriteXlsx(const Sheet& sheet, const QString& path)
{
    XlsxWriter writer(path, sheet.columnWidths(), sheet.allColumnsWidth(), sheet.numberFormat());
    std::vector<CellValue> cells;
    for (int row = 1; row <= sheet.rowCount(); ++row) {
        cells.clear();
        const int length = sheet.rowLength(row);
        for (int column = 1; column <= length; ++column)
            cells.push_back(sheet.cell(row, column));
        writer.addRow(cells);
    }
    return writer.finish();
}

} // namespace bms
