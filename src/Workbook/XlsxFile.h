// Writes a sheet to an .xlsx file through libxlsxwriter: texts as strings,
// numbers as numbers, booleans as booleans, the column widths and the
// number format of the sheet.
// Rows are written in order in the library's constant-memory mode, so a day
// of samples costs no more memory than the sheet already holds (and rows
// given one at a time, XlsxWriter, none). The file is
// written under a temporary name and renamed, so an earlier copy is never
// left half-written.
//
// What a spreadsheet would have to repair is changed on the way, and
// counted: characters XML cannot hold (NUL and the other control characters
// but tab, line feed and carriage return; U+FFFE, U+FFFF, lone surrogates)
// become U+FFFD, a text longer than 32,767 characters is cut to that length,
// and a number that is not finite or lies beyond ±9.99999999999999E+307 is
// left out (its cell stays empty). Every other cell is written as it is.
#pragma once

#include "Sheet.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace bms {

struct XlsxWriteNotes {
    int textsCut = 0;
    int charactersReplaced = 0;
    int numbersLeftOut = 0;
    bool any() const { return textsCut + charactersReplaced + numbersLeftOut > 0; }
    // "1 text cut to 32,767 characters, ..." ; empty without changes.
    QString describe() const;
};

// Throws EWorkbookError, naming the reason, when the file cannot be written.
XlsxWriteNotes WriteXlsx(const Sheet& sheet, const QString& path);

// The same, row after row, holding none of them: the column widths (as a
// Sheet keeps them) and the number format first, then the rows in order
// (each from column 1). finish() closes the file, syncs it and renames it
// over `path`; a writer destroyed before that leaves no file. Throws
// EWorkbookError.
class XlsxWriter {
public:
    XlsxWriter(const QString& path, const std::map<int, double>& widths, double allWidth, const QString& numberFormat);
    ~XlsxWriter();
    XlsxWriter(const XlsxWriter&) = delete;
    XlsxWriter& operator=(const XlsxWriter&) = delete;

    void addRow(const std::vector<CellValue>& cells);
    XlsxWriteNotes finish();

private:
    void abandon();

    QString path_, temporary_;
    lxw_workbook* wb_ = nullptr;
    lxw_worksheet* ws_ = nullptr;
    lxw_format* format_ = nullptr;
    int row_ = 0;
    QByteArray utf8_;
    XlsxWriteNotes notes_;
};

// `text` as WriteXlsx writes it.
QString WritableText(const QString& text, XlsxWriteNotes& notes);

} // namespace bms
