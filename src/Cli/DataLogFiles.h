// The files `watch` logs to: the data-log workbook written by the window's
// workbook layer ("Save to Excel": every row journaled at once, the .xlsx
// written when the log ends) and a CSV file of the same columns, each row
// flushed to disk as it is written. Both start with the first rotation, so
// that the header knows the pack's cell and sensor counts. A row leaves the
// cells of the blocks the rotation did not get empty.
//
// A file that cannot be written (a full disk, a size limit) is reported as
// an output failure of the session, with what each file holds: the CSV file
// is cut back to its last whole row; the journal keeps the rows made durable
// before it failed, and the .xlsx, when it can still be written, all of them.
#pragma once

#include "LogRows.h"
#include "WorkbookDocument.h"

#include <QFile>
#include <QString>
#include <memory>
#include <set>

namespace bms::cli {

class Session;

// The cells of a row as CSV fields: numbers in full, texts quoted where they
// hold a comma, a quote or a line break.
QStringList CsvFields(const CellRow& row);
// Opens `csv` as the new file `path` (never over an existing one) for a
// log's rows; the reason in words when it cannot.
QString OpenNewLogCsv(QFile& csv, const QString& path);

class DataLogFiles : public WorkbookDocument::Listener {
public:
    explicit DataLogFiles(Session& session) : s_(session) {}
    ~DataLogFiles() override;

    // The files to write (either may be empty). Returns why one of them
    // cannot be created, or an empty text.
    QString prepare(const QString& xlsxPath, const QString& csvPath);
    bool active() const { return !xlsx_.isEmpty() || !csvPath_.isEmpty(); }

    // One row of the current pack table for rotation `rotation`, with the
    // blocks `answered`; the first opens the files. False when a file could
    // not be written (reported; the rotation should be the last).
    bool addRow(qint64 rotation, const std::set<int>& answered);
    // Ends the workbook (its .xlsx is written before this returns) and
    // closes the CSV file. False when a file could not be written.
    bool end();

private:
    // Data rows in a file and the rotations they came from.
    struct Rows {
        qint64 count = 0;
        qint64 first = 0;
        qint64 last = 0;
        void add(qint64 rotation);
        QString text() const; // "11 rows (rotations 1 to 12)"
    };

    bool writeCsv(const QStringList& cells);
    void csvFailed(const QString& problem);
    void workbookSaved(const QString& path) override;
    void workbookSaveFailed(const QString& path, const QString& problem) override;
    void workbookEnded() override {}

    Session& s_;
    QString xlsx_;
    QString csvPath_;
    QFile csv_;
    qint64 csvGoodSize_ = 0; // bytes of whole rows on disk
    std::shared_ptr<WorkbookDocument> workbook_;
    Rows csvRows_, journalRows_, sheetRows_;
    bool started_ = false;
    bool ended_ = false;
    bool failed_ = false;
    bool journalFailed_ = false;
};

} // namespace bms::cli
