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

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

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

void WriteCells(lxw_worksheet* ws, const Sheet& sheet, lxw_format* format, const QString& path, XlsxWriteNotes& notes)
{
    QByteArray utf8;
    for (int row = 1; row <= sheet.rowCount(); ++row) {
        const int length = sheet.rowLength(row);
        for (int column = 1; column <= length; ++column) {
            const CellValue v = sheet.cell(row, column);
            const lxw_row_t r = lxw_row_t(row - 1);
            const lxw_col_t c = lxw_col_t(column - 1);
            if (v.isNumber()) {
                if (std::isfinite(v.number) && std::abs(v.number) <= kMaxNumber)
                    Check(worksheet_write_number(ws, r, c, v.number, format), path);
                else
                    ++notes.numbersLeftOut;
            } else if (v.isBoolean()) {
                Check(worksheet_write_boolean(ws, r, c, v.number != 0, format), path);
            } else if (v.isText()) {
                utf8 = WritableText(v.text, notes).toUtf8();
                Check(worksheet_write_string(ws, r, c, utf8.constData(), format), path);
            }
        }
    }
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

XlsxWriteNotes WriteXlsx(const Sheet& sheet, const QString& path)
{
    const QString temporary = path + QStringLiteral(".part");
    const QByteArray tempName = QFile::encodeName(temporary);
    const QByteArray tmpDir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (const QString problem = CreationProblem(temporary); !problem.isEmpty())
        Fail(path, problem);

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char*>(tmpDir.constData());
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(tempName.constData(), &options);
    if (!wb) {
        QFile::remove(temporary);
        throw EWorkbookError(QStringLiteral("Cannot create the workbook %1").arg(path));
    }

    XlsxWriteNotes notes;
    try {
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        // Fails when the library's temporary file cannot be made.
        if (!ws)
            Fail(path, QStringLiteral("no temporary file can be made in %1: %2")
                           .arg(QFileInfo(path).absolutePath(), SystemError()));
        lxw_format* format = nullptr;
        const QByteArray numberFormat = WritableText(sheet.numberFormat(), notes).toUtf8();
        if (sheet.numberFormat() != QStringLiteral("General")) {
            format = workbook_add_format(wb);
            format_set_num_format(format, numberFormat.constData());
        }
        SetColumns(ws, sheet, format, path);
        WriteCells(ws, sheet, format, path, notes);
    } catch (...) {
        workbook_close(wb);
        QFile::remove(temporary);
        throw;
    }
    errno = 0;
    const lxw_error result = workbook_close(wb);
    if (result != LXW_NO_ERROR) {
        const int error = errno;
        QFile::remove(temporary);
        errno = error;
        Check(result, path);
    }
    // The bytes are on disk before the name points at them, and the new name
    // is on disk before the save counts as done.
    if (!SyncFile(temporary) || std::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString why = SystemError();
        QFile::remove(temporary);
        Fail(path, why);
    }
    (void)SyncFolderOf(path);
    return notes;
}

} // namespace bms
