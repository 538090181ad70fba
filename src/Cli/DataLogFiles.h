// The files `watch` logs to: the data-log workbook written by the window's
// workbook layer ("Save to Excel": every row journaled at once, the .xlsx
// written when the log ends) and a CSV file of the same columns, each row
// flushed to disk as it is written. Both start with the first rotation, so
// that the header knows the pack's cell and sensor counts.
#pragma once

#include <QFile>
#include <QString>
#include <memory>

namespace bms::cli {

class Session;

class DataLogFiles {
public:
    explicit DataLogFiles(Session& session) : s_(session) {}
    ~DataLogFiles();

    // The files to write (either may be empty). Returns why one of them
    // cannot be created, or an empty text.
    QString prepare(const QString& xlsxPath, const QString& csvPath);
    bool active() const { return !xlsx_.isEmpty() || !csvPath_.isEmpty(); }

    // One row of the current pack table; the first opens the files.
    void addRow();
    // Ends the workbook (its .xlsx is written before this returns) and
    // closes the CSV file.
    void end();

private:
    void writeCsv(const QStringList& cells);

    Session& s_;
    QString xlsx_;
    QString csvPath_;
    QFile csv_;
    bool started_ = false;
};

} // namespace bms::cli
