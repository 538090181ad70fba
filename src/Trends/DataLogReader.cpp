#include "DataLogReader.h"

#include "LogRows.h"
#include "PackSample.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace bms::trends {

namespace {

// A new segment starts where the log has a pause longer than this (sampling
// was stopped, or the pack was silent).
constexpr int64_t kLogGapMs = 5000;

// The fixed data-log fields the charts need, as setters of a pack record.
using Setter = void (*)(PackRecord&, double);
constexpr Setter kSetters[] = {
    [](PackRecord& p, double v) { p.total_volt = uint16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.current = int32_t(std::llround(v)); },
    [](PackRecord& p, double v) { p.rsoc = uint16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.soh = uint16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.temp_001C = int16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.temp_001F = int16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.temp_0020 = int16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.temp_0025 = int16_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.temp_a_count = uint8_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.temp_b_count = uint8_t(std::lround(v)); },
    [](PackRecord& p, double v) { p.cell_count = uint16_t(std::lround(v)); },
};

struct LocatedField {
    int column;    // 0-based
    double factor; // logged value = field × factor
    Setter set;
};

struct Layout {
    int timeColumn = 0;
    int addressColumn = -1; // a bus log's
    int serialColumn = -1;
    std::vector<LocatedField> fields;
    CellRow header; // the fixed columns' header texts; the cells and sensors follow
};

// A row of a log: a pack, its address and serial number at a time.
using RowWriter = CellRow (*)(const PackRecord&, int, const QString&, const QDateTime&);

// The column where `row` differs from `base`, -1 when none does.
int ChangedColumn(const CellRow& base, const CellRow& row)
{
    for (size_t c = 0; c < std::min(base.size(), row.size()); ++c)
        if (!(row[c] == base[c]))
            return int(c);
    return -1;
}

// Writes records with one field set to 1 through the log's row writer and
// finds the column that changed and by how much; the same for the address
// and serial number of a bus log.
Layout Probe(RowWriter write, const CellRow& header)
{
    Layout layout;
    const QDateTime when(QDate(2000, 1, 1), QTime(0, 0));
    const CellRow base = write(PackRecord{}, 0, QString(), when);
    for (size_t c = 0; c < base.size(); ++c) {
        if (base[c].isText()) {
            layout.timeColumn = int(c);
            break;
        }
    }
    layout.header = header;
    for (Setter set : kSetters) {
        PackRecord probe{};
        set(probe, 1);
        const CellRow row = write(probe, 0, QString(), when);
        for (size_t c = 0; c < header.size(); ++c) {
            if (row[c].isNumber() && !(row[c] == base[c])) {
                layout.fields.push_back({int(c), row[c].number - base[c].number, set});
                break;
            }
        }
    }
    layout.addressColumn = ChangedColumn(base, write(PackRecord{}, 1, QString(), when));
    layout.serialColumn = ChangedColumn(base, write(PackRecord{}, 0, QStringLiteral("S"), when));
    return layout;
}

// The data log and the bus log, the cells and sensors left out of the headers.
constexpr int kBusLog = 1;
const std::array<Layout, 2>& Layouts()
{
    static const std::array<Layout, 2> layouts{
        Probe([](const PackRecord& p, int, const QString&, const QDateTime& when) {
            return DataLogRow(p, BsiRecordT{}, false, when);
        }, DataLogHeaderRow(PackRecord{}, false)),
        Probe([](const PackRecord& p, int address, const QString& serial, const QDateTime& when) {
            return BusLogRow(p, address, serial, when);
        }, BusLogHeaderRow(PackRecord{})),
    };
    return layouts;
}

bool HeaderMatches(const std::vector<CellValue>& cells, const Layout& layout)
{
    if (cells.size() < layout.header.size())
        return false;
    for (size_t c = 0; c < layout.header.size(); ++c)
        if (!cells[c].isText() || cells[c].text.trimmed() != layout.header[c].text)
            return false;
    return true;
}

// The largest magnitude of a logged value (the widest field is 32 bits, and
// the scale factors are at most 100).
constexpr double kMaxLoggedValue = 1e12;

std::optional<double> NumberIn(const std::vector<CellValue>& cells, int column)
{
    if (column < 0 || size_t(column) >= cells.size())
        return std::nullopt;
    const CellValue& cell = cells[size_t(column)];
    double v = cell.number;
    bool ok = cell.isNumber();
    if (cell.isText())
        v = cell.text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::abs(v) > kMaxLoggedValue)
        return std::nullopt;
    return v;
}

// The days a spreadsheet's date numbers can stand for: 1900-01-01 to
// 9999-12-31.
constexpr double kFirstSerialDay = 1;
constexpr double kLastSerialDay = 2958465;

// Dates remembered by their text; a log has a handful.
constexpr qsizetype kMaxRememberedDates = 4096;

// "hh:mm:ss" to milliseconds of the day.
std::optional<int> TimeOfDay(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return std::nullopt;
    int v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        v[i] = parts[i].toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (v[0] < 0 || v[0] > 23 || v[1] < 0 || v[1] > 59 || v[2] < 0 || v[2] > 59)
        return std::nullopt;
    return ((v[0] * 60 + v[1]) * 60 + v[2]) * 1000;
}

} // namespace

int DataLogReader::columnsRead()
{
    size_t widest = 0;
    for (const Layout& layout : Layouts())
        widest = std::max(widest, layout.header.size());
    return int(widest) + 3 * kMaxLoggedCount;
}

DataLogReader::DataLogReader(SampleStore& store, QDate fallbackDate)
    : store_(store), fallbackDate_(fallbackDate)
{
    timeline_.store = &store_;
    packIndex_.fill(-1);
}

std::vector<PackTimeline> DataLogReader::takePacks()
{
    std::vector<PackTimeline> out;
    for (auto& pack : packs_)
        out.push_back(std::move(*pack));
    packs_.clear();
    packTimelines_.clear();
    packIndex_.fill(-1);
    std::sort(out.begin(), out.end(), [](const PackTimeline& a, const PackTimeline& b) { return a.address < b.address; });
    return out;
}

DataLogReader::Timeline* DataLogReader::packTimeline(int address, const std::vector<CellValue>& cells)
{
    int& index = packIndex_[size_t(address)];
    if (index < 0) {
        auto pack = std::make_unique<PackTimeline>();
        pack->address = address;
        const size_t serial = size_t(Layouts()[kBusLog].serialColumn);
        if (serial < cells.size() && cells[serial].isText())
            pack->serial = cells[serial].text.trimmed();
        index = int(packs_.size());
        packTimelines_.push_back({&pack->store});
        packs_.push_back(std::move(pack));
    }
    return &packTimelines_[size_t(index)];
}

QDate DataLogReader::parseDate(const QString& text)
{
    const auto cached = dates_.constFind(text);
    if (cached != dates_.constEnd())
        return *cached;
    // The log's dates are in the short format of the system that wrote it:
    // this system's first, then the usual others.
    QDate date = QLocale::system().toDate(text, QLocale::ShortFormat);
    static const char* const kFormats[] = {"yyyy-MM-dd", "yyyy/M/d", "d.M.yyyy", "M/d/yyyy", "d/M/yyyy",
                                           "M/d/yy",     "d.M.yy",   "d/M/yy",   "d MMM yyyy"};
    for (const char* format : kFormats) {
        if (date.isValid())
            break;
        date = QLocale::c().toDate(text, QString::fromLatin1(format));
    }
    // Two-digit years are read as 19xx.
    if (date.isValid() && date.year() < 1970)
        date = date.addYears(100);
    if (dates_.size() >= kMaxRememberedDates)
        dates_.clear();
    dates_.insert(text, date);
    return date;
}

std::optional<int64_t> DataLogReader::rowTime(const CellValue& cell)
{
    if (cell.isNumber()) {
        // A spreadsheet that turned the text into a date keeps days since
        // 1899-12-30 in local time. Anything else is no time.
        if (!(cell.number >= kFirstSerialDay && cell.number < kLastSerialDay + 1))
            return std::nullopt;
        const double days = std::floor(cell.number);
        const QDate date = QDate(1899, 12, 30).addDays(qint64(days));
        const int ms = int(std::lround((cell.number - days) * 86400000.0)) % 86400000;
        return QDateTime(date, QTime::fromMSecsSinceStartOfDay(ms)).toMSecsSinceEpoch();
    }
    const QString text = cell.text.trimmed();
    const qsizetype space = text.lastIndexOf(QLatin1Char(' '));
    const std::optional<int> ms = TimeOfDay(space < 0 ? text : text.mid(space + 1));
    if (!ms)
        return std::nullopt;
    QDate date = space < 0 ? QDate() : parseDate(text.left(space).trimmed());
    if (!date.isValid()) {
        // Only the time of day can be read: count days from the fallback,
        // one more whenever the clock runs back by more than 12 hours.
        datesGuessed_ = true;
        if (!guessedDate_.isValid())
            guessedDate_ = fallbackDate_;
        else if (*ms < lastTimeOfDay_ - 12 * 3600 * 1000)
            guessedDate_ = guessedDate_.addDays(1);
        date = guessedDate_;
    }
    lastTimeOfDay_ = *ms;
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(*ms)).toMSecsSinceEpoch();
}

void DataLogReader::row(int number, const std::vector<CellValue>& cells)
{
    if (number == 2) {
        layout_ = -1;
        for (size_t i = 0; i < Layouts().size(); ++i)
            if (HeaderMatches(cells, Layouts()[i]))
                layout_ = int(i);
        busLog_ = layout_ == kBusLog;
        return;
    }
    if (number < 3 || layout_ < 0)
        return;
    const Layout& layout = Layouts()[size_t(layout_)];

    // A bus log's row belongs to the pack at its address, 1 to 255.
    std::optional<double> address;
    if (busLog_) {
        address = NumberIn(cells, layout.addressColumn);
        if (!address || *address < 1 || *address >= double(packIndex_.size()) || *address != std::floor(*address)) {
            ++skipped_;
            return;
        }
    }
    const std::optional<int64_t> time
        = size_t(layout.timeColumn) < cells.size() ? rowTime(cells[size_t(layout.timeColumn)]) : std::nullopt;
    if (!time) {
        ++skipped_;
        return;
    }
    PackRecord pack{};
    for (const LocatedField& field : layout.fields) {
        const std::optional<double> v = NumberIn(cells, field.column);
        if (!v) {
            ++skipped_;
            return;
        }
        field.set(pack, *v / field.factor);
    }
    // The variable columns follow the counts of the row itself: cells, cell
    // sensors, MOS sensors, each at most 16 and only as far as the row goes.
    int column = int(layout.header.size());
    auto readArray = [&](auto& array, auto& count) {
        const int wanted = std::min<int>(count, kMaxLoggedCount);
        int read = 0;
        for (; read < wanted; ++read) {
            const std::optional<double> v = NumberIn(cells, column + read);
            if (!v)
                break;
            array[size_t(read)] = static_cast<std::remove_reference_t<decltype(array[0])>>(std::lround(*v));
        }
        column += wanted;
        count = static_cast<std::remove_reference_t<decltype(count)>>(read);
    };
    readArray(pack.cell_volt, pack.cell_count);
    readArray(pack.temp_a, pack.temp_a_count);
    readArray(pack.temp_b, pack.temp_b_count);

    Timeline* timeline = busLog_ ? packTimeline(int(*address), cells) : &timeline_;
    const bool gap = timeline->haveTime && *time - timeline->lastTime > kLogGapMs;
    timeline->store->append(*time, SampleFromPack(pack, kAllBlocks), gap);
    timeline->lastTime = *time;
    timeline->haveTime = true;
    if (busLog_)
        ++packs_[size_t(timeline - packTimelines_.data())]->samples;
    ++samples_;
}

} // namespace bms::trends
