// Turns the rows of a data log written by this tool (its .xlsx or its
// journal) back into trend samples. The columns are found from the tool's
// own row layout (LogRows): each logged field is located and scaled by
// writing a probe record through DataLogRow, so the reader follows the
// writer and never keeps a second copy of the layout. A row is rebuilt into
// a pack record and goes through the same SampleFromPack as live data.
#pragma once

#include "CellValue.h"
#include "SampleStore.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace bms::trends {

class DataLogReader {
public:
    // `fallbackDate`: the day assumed when the dates of the log cannot be
    // read in any known format (the time of day is still used).
    explicit DataLogReader(SampleStore& store, QDate fallbackDate = QDate::currentDate());

    // The columns from A that rows need to hold; further ones are not read.
    static int columnsRead();

    // Hands over row `number` (1-based) with its cells from column A.
    // Row 1 is the device line, row 2 the header; samples follow.
    void row(int number, const std::vector<CellValue>& cells);

    // The header matched the data log's; false means the file is not a
    // data log of this tool.
    bool headerFound() const { return header_; }
    int samples() const { return samples_; }
    int skipped() const { return skipped_; }
    // The time stamps could not be read as dates: only times of day were used.
    bool datesGuessed() const { return datesGuessed_; }

private:
    std::optional<int64_t> rowTime(const CellValue& cell);
    QDate parseDate(const QString& text);

    SampleStore& store_;
    QDate fallbackDate_;
    QDate guessedDate_;
    int lastTimeOfDay_ = 0;
    int64_t lastTime_ = 0;
    bool haveTime_ = false;
    QHash<QString, QDate> dates_;
    bool header_ = false;
    bool datesGuessed_ = false;
    int samples_ = 0;
    int skipped_ = 0;
};

} // namespace bms::trends
