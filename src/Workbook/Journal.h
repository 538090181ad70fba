// The journal of a workbook: every change to its sheet appended to a file as
// one text line, and the file flushed to disk at each completed row, so that a
// crash or a power cut loses at most the row being written. A journal is
// turned back into a sheet by ReadJournal.
//
// Format (UTF-8, one record a line, fields separated by tabs; tab, line feed,
// carriage return and backslash inside texts written as \t \n \r \\; the
// reader takes CR LF line ends and a byte order mark in front as well):
//   QBMS-WORKBOOK-JOURNAL 2
//   caption <text>
//   width * <w>            width of every column
//   width <column> <w>
//   format <text>          number format of every cell
//   c <row> <column> <cell> <cell> ...
//                          cells from (row, column) rightwards, each "t" +
//                          text, "n" + number or "e" (emptied)
//   end                    the workbook was closed by the tool
// A last line without its line feed was cut off by a crash and is ignored.
#pragma once

#include "ReadControl.h"
#include "Sheet.h"

#include <QByteArrayView>
#include <QString>
#include <cstdio>
#include <memory>

namespace bms {

class Journal {
public:
    // Creates a new journal file (never overwrites one). Throws
    // EWorkbookError when the file cannot be created.
    static std::unique_ptr<Journal> Create(const QString& path);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    void caption(const QString& text);
    void allColumnWidths(double width);
    void columnWidth(int column, double width);
    void numberFormat(const QString& format);
    void cell(int row, int column, const CellValue& value);
    // Writes the buffered lines and makes them durable (fflush + fdatasync).
    // False once a write has failed; the journal then stops writing.
    bool sync();
    // Marks the journal complete, syncs and closes it.
    bool close();

    const QString& path() const { return path_; }
    bool failed() const { return failed_; }

private:
    Journal(std::FILE* file, const QString& path);
    void line(const QByteArray& bytes);
    void endCells();

    std::FILE* file_;
    QByteArray cells_; // the "c" line being built
    int cellsRow_ = 0;
    int nextColumn_ = 0;
    QString path_;
    bool failed_ = false;
};

struct JournalContents {
    QString caption;
    Sheet sheet;
    bool complete = false; // the "end" record was found
    int badLines = 0;      // lines that could not be read (skipped)
};

// What ReadJournal holds at most. A line longer than 1 MiB is skipped as
// unreadable without being held (the longest line the tool writes, a row of
// 115 cells, takes a few KiB; a text of 32,767 characters about 100 KiB), as
// is a line with cells beyond column 256 (the widest row of the tool has
// 115), a column width beyond 255 or a number format longer than 255
// characters (a spreadsheet's limits). A journal whose sheet takes more than
// 1.5 GiB in memory is refused: a full worksheet (1,048,576 rows) of the
// widest rows takes about 1.2 GiB.
constexpr qsizetype kMaxJournalLineBytes = qsizetype(1) << 20;
constexpr int kMaxJournalColumns = 256;
constexpr int64_t kMaxJournalSheetBytes = int64_t(3) << 29;

// The first bytes of a file begin a journal (a UTF-8 byte order mark may come
// before its first line).
bool StartsAsJournal(QByteArrayView start);

// Rebuilds the sheet written to a journal. Throws EWorkbookError when the file
// cannot be read, is not a journal or is past the limits above. With a
// control, reports its progress and stops early (with what was read) once
// cancelled.
std::unique_ptr<JournalContents> ReadJournal(const QString& path, ReadControl* control = nullptr);

} // namespace bms
