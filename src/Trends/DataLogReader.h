// Turns the rows of a data log written by this tool (its .xlsx or its
// journal) back into trend samples. The columns are found from the tool's
// own row layout (LogRows): each logged field is located and scaled by
// writing a probe record through DataLogRow, so the reader follows the
// writer and never keeps a second copy of the layout. A row is rebuilt into
// a pack record and goes through the same SampleFromPack as live data.
// A bus log (BusLogRow: the rows of a rack's packs, each with its address
// and serial number) is read the same way into one timeline per address.
#pragma once

#include "CellValue.h"
#include "SampleStore.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace bms::trends {

// The samples of one pack of a bus log.
struct PackTimeline {
    int address = 0;
    QString serial; // as the pack's first row gives it
    SampleStore store;
    int samples = 0;
};

class DataLogReader {
public:
    // `fallbackDate`: the day assumed when the dates of the log cannot be
    // read in any known format (the time of day is still used). A data
    // log's samples go to `store`, a bus log's to takePacks().
    explicit DataLogReader(SampleStore& store, QDate fallbackDate = QDate::currentDate());

    // The columns from A that rows need to hold; further ones are not read.
    static int columnsRead();

    // Hands over row `number` (1-based) with its cells from column A.
    // Row 1 is the device line, row 2 the header; samples follow.
    void row(int number, const std::vector<CellValue>& cells);

    // The header matched the data log's or the bus log's; false means the
    // file is not a log of this tool.
    bool headerFound() const { return layout_ >= 0; }
    bool busLog() const { return busLog_; }
    // The packs of a bus log by address, each with its samples.
    std::vector<PackTimeline> takePacks();
    int samples() const { return samples_; }
    int skipped() const { return skipped_; }
    // The time stamps could not be read as dates: only times of day were used.
    bool datesGuessed() const { return datesGuessed_; }

private:
    // Where the samples of one timeline go and the time of its last row.
    struct Timeline {
        SampleStore* store = nullptr;
        int64_t lastTime = 0;
        bool haveTime = false;
    };

    std::optional<int64_t> rowTime(const CellValue& cell);
    QDate parseDate(const QString& text);
    // The timeline of the pack at `address`, made by its first row.
    Timeline* packTimeline(int address, const std::vector<CellValue>& cells);

    SampleStore& store_;
    Timeline timeline_;
    std::vector<std::unique_ptr<PackTimeline>> packs_;
    std::vector<Timeline> packTimelines_; // beside packs_
    std::array<int, 256> packIndex_;      // by address; -1: none yet
    QDate fallbackDate_;
    QDate guessedDate_;
    int lastTimeOfDay_ = 0;
    QHash<QString, QDate> dates_;
    int layout_ = -1; // the data log's or the bus log's
    bool busLog_ = false;
    bool datesGuessed_ = false;
    int samples_ = 0;
    int skipped_ = 0;
};

} // namespace bms::trends
