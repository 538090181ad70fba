// The files `bus watch` logs the rack to: one workbook through the data
// log's journal-backed writer (every row journaled at once, the .xlsx
// written at the end) and a CSV file of the same columns, each row flushed
// to disk. One row per pack per sweep: the sampling time, the pack's
// address and serial number, then the data log's columns of that pack.
// Row 1 names the log, row 2 is the header (cell and sensor columns as the
// first pack counts them; each row places its own by its counts), as in the
// data log, so the Trends tab reads it and draws one pack of it.
#pragma once

#include "LogRows.h"
#include "WorkbookDocument.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <memory>
#include <set>

namespace bms::cli {

class Session;

class BusLogFiles : public WorkbookDocument::Listener {
public:
    explicit BusLogFiles(Session& session) : s_(session) {}
    ~BusLogFiles() override;

    // Why one of the files cannot be created, or an empty text.
    QString prepare(const QString& xlsxPath, const QString& csvPath);
    bool active() const { return !xlsx_.isEmpty() || csv_.isOpen(); }

    // A row of the pack just read (the pack table) with the blocks it
    // answered. False when a file could not be written (reported).
    bool addRow(int address, const QString& serial, const std::set<int>& answered, const QDateTime& when);
    // Writes the .xlsx and closes the CSV file; false when a file failed.
    bool end();

private:
    bool write(const CellRow& row);
    void workbookSaved(const QString& path) override;
    void workbookSaveFailed(const QString& path, const QString& problem) override;
    void workbookEnded() override {}

    Session& s_;
    QString xlsx_;
    QFile csv_;
    std::shared_ptr<WorkbookDocument> workbook_;
    int row_ = 0;
    qint64 rows_ = 0;
    bool failed_ = false;
    bool ended_ = false;
};

} // namespace bms::cli
