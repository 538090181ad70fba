// Writes a sheet to an .xlsx file through libxlsxwriter: texts as strings,
// numbers as numbers, booleans as booleans, the column widths and the
// number format of the sheet.
// Rows are written in order in the library's constant-memory mode, so a day
// of samples costs no more memory than the sheet already holds. The file is
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

#include <QString>

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

// `text` as WriteXlsx writes it.
QString WritableText(const QString& text, XlsxWriteNotes& notes);

} // namespace bms
