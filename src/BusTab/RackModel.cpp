#include "RackModel.h"

#include "Indicators.h"

#include <QBrush>
#include <QColor>

namespace bms::bustab {

namespace {

struct ColumnInfo {
    const char* title;
    bus::OutOfLine rule;
    bool highlighted;
};

const ColumnInfo kColumns[RackModel::ColumnCount] = {
    {"Addr", bus::OutOfLine::Lowest, false},
    {"Serial", bus::OutOfLine::Lowest, false},
    {"SOC (%)", bus::OutOfLine::Lowest, true},
    {"Voltage (V)", bus::OutOfLine::Farthest, true},
    {"Current (A)", bus::OutOfLine::Farthest, true},
    {"High cell (mV)", bus::OutOfLine::Highest, true},
    {"Low cell (mV)", bus::OutOfLine::Lowest, true},
    {"Spread (mV)", bus::OutOfLine::Highest, true},
    {"High temp (°C)", bus::OutOfLine::Highest, true},
    {"Cycles", bus::OutOfLine::Highest, true},
    {"Alarm", bus::OutOfLine::Highest, false},
    {"Protection", bus::OutOfLine::Highest, false},
    {"Fault", bus::OutOfLine::Highest, false},
    {"Last answer", bus::OutOfLine::Highest, false},
};

// The fault_status words a chip shows and its colour when lit.
struct Chip {
    int firstWord;
    int lastWord;
    QColor colour;
};

Chip ChipOf(int column)
{
    switch (column) {
    case RackModel::Alarm: return {0, 0, QColor(0xFF, 0xD2, 0x00)};
    case RackModel::Protection: return {1, 1, QColor(0xE0, 0x30, 0x30)};
    default: return {2, 3, QColor(0xF0, 0x80, 0x20)};
    }
}

// The names of the bits set in the chip's words.
QStringList ChipNames(const std::array<int, 4>& words, const Chip& chip)
{
    QStringList names;
    for (int word = chip.firstWord; word <= chip.lastWord; ++word) {
        for (int bit = 0; bit < 16; ++bit) {
            if (!(words[size_t(word)] & (1 << bit)))
                continue;
            QString name = QStringLiteral("word %1 bit %2").arg(word).arg(bit);
            for (const auto& table : {AlarmIndicators(), ProtectionIndicators()})
                for (const IndicatorInfo& i : table)
                    if (i.word == word && i.bit == bit)
                        name = QString::fromUtf8(i.caption).simplified()
                            + (i.hint[0] ? QStringLiteral(": ") + QString::fromUtf8(i.hint) : QString());
            names.append(name);
        }
    }
    return names;
}

QString Age(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 h").arg(seconds / 3600);
}

} // namespace

void RackModel::clear()
{
    beginResetModel();
    rows_.clear();
    packs_.clear();
    outOfLine_.assign(ColumnCount, -1);
    endResetModel();
}

void RackModel::setScan(const bus::ScanResult& scan)
{
    for (const bus::PackIdentity& p : scan.packs) {
        if (rowOf(p.address) >= 0)
            continue;
        beginInsertRows({}, rowCount(), rowCount());
        Row r;
        r.last.address = p.address;
        r.last.serial = p.serial.value_or(QString());
        rows_.push_back(r);
        packs_.push_back({r.last, false});
        endInsertRows();
    }
}

void RackModel::setReading(const bus::PackReading& reading)
{
    int row = rowOf(reading.address);
    if (row < 0) {
        bus::ScanResult one;
        one.packs.push_back({reading.address, {}, reading.serial, {}, {}, {}});
        setScan(one);
        row = rowOf(reading.address);
    }
    Row& r = rows_[size_t(row)];
    r.answering = reading.answered;
    if (reading.answered) {
        r.last = reading;
        r.seen = true;
        r.lastSeen = reading.time.isValid() ? reading.time : QDateTime::currentDateTime();
    }
    packs_[size_t(row)] = {r.last, r.answering};
    const std::vector<int> before = outOfLine_;
    findOutOfLine();
    // The pack's row, and the cells whose highlight moved: a reading repaints
    // no more of the table than changed.
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    for (int c = 0; c < ColumnCount; ++c) {
        if (before[size_t(c)] == outOfLine_[size_t(c)])
            continue;
        for (const int moved : {before[size_t(c)], outOfLine_[size_t(c)]})
            if (moved >= 0 && moved != row)
                Q_EMIT dataChanged(index(moved, c), index(moved, c));
    }
}

void RackModel::tick(const QDateTime& now)
{
    now_ = now;
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, LastAnswer), index(rowCount() - 1, LastAnswer));
}

bus::RackSummary RackModel::summary() const
{
    return bus::Summarize(packs_);
}

int RackModel::address(int row) const
{
    return row >= 0 && row < rowCount() ? rows_[size_t(row)].last.address : -1;
}

int RackModel::rowOf(int address) const
{
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].last.address == address)
            return int(i);
    return -1;
}

int RackModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int RackModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

std::optional<double> RackModel::value(const Row& r, int column) const
{
    const bus::PackReading& p = r.last;
    auto scaled = [](const std::optional<int>& v, double f) {
        return v ? std::optional<double>(*v / f) : std::nullopt;
    };
    switch (column) {
    case Address: return p.address;
    case Soc: return scaled(p.rsoc, 10);
    case Voltage: return scaled(p.totalVolt, 100);
    case Current: return scaled(p.current, 1000);
    case HighCell: return scaled(p.maxCell, 1);
    case LowCell: return scaled(p.minCell, 1);
    case Spread: return scaled(p.spread(), 1);
    case HighTemp: return scaled(p.maxTemp, 10);
    case Cycles: return scaled(p.cycles, 1);
    case Alarm: case Protection: case Fault: {
        if (!p.faults)
            return std::nullopt;
        const Chip chip = ChipOf(column);
        return double(ChipNames(*p.faults, chip).size());
    }
    case LastAnswer: return r.seen ? std::optional<double>(r.lastSeen.secsTo(now_)) : std::nullopt;
    default: return std::nullopt;
    }
}

QString RackModel::text(const Row& r, int column) const
{
    if (column == Address)
        return QStringLiteral("%1").arg(r.last.address, 2, 16, QLatin1Char('0')).toUpper();
    if (column == Serial)
        return r.last.serial;
    if (column == LastAnswer) {
        if (!r.seen)
            return QStringLiteral("never");
        const QString age = Age(std::max<qint64>(0, r.lastSeen.secsTo(now_)));
        return r.answering ? age : QStringLiteral("last seen %1 (%2 ago)").arg(r.lastSeen.toString(QStringLiteral("hh:mm:ss")), age);
    }
    const std::optional<double> v = value(r, column);
    if (!v)
        return QStringLiteral("–");
    switch (column) {
    case Soc: case Current: case HighTemp: return QString::number(*v, 'f', 1);
    case Voltage: return QString::number(*v, 'f', 2);
    case Alarm: case Protection: case Fault: return *v > 0 ? QString::number(*v) : QStringLiteral("ok");
    default: return QString::number(*v, 'f', 0);
    }
}

void RackModel::findOutOfLine()
{
    for (int c = 0; c < ColumnCount; ++c) {
        if (!kColumns[c].highlighted) {
            outOfLine_[size_t(c)] = -1;
            continue;
        }
        std::vector<std::optional<double>> values;
        for (const Row& r : rows_)
            values.push_back(r.answering ? value(r, c) : std::nullopt);
        outOfLine_[size_t(c)] = bus::OutOfLineIndex(values, kColumns[c].rule);
    }
}

QVariant RackModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& r = rows_[size_t(index.row())];
    const int column = index.column();
    const bool chip = column == Alarm || column == Protection || column == Fault;
    switch (role) {
    case Qt::DisplayRole: return text(r, column);
    case Qt::UserRole: {
        if (column == Serial)
            return r.last.serial;
        const std::optional<double> v = value(r, column);
        return v ? QVariant(*v) : QVariant(-1e18);
    }
    case Qt::TextAlignmentRole:
        return int(column == Serial || column == LastAnswer ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    case Qt::ForegroundRole:
        if (!r.answering)
            return QBrush(Qt::gray);
        return {};
    case Qt::BackgroundRole:
        if (!r.answering)
            return QBrush(QColor(0xEE, 0xEE, 0xEE));
        if (chip && value(r, column).value_or(0) > 0)
            return QBrush(ChipOf(column).colour);
        if (outOfLine_[size_t(column)] == index.row())
            return QBrush(QColor(0xFF, 0xE4, 0xB5));
        return {};
    case Qt::ToolTipRole:
        if (chip && r.last.faults) {
            const QStringList names = ChipNames(*r.last.faults, ChipOf(column));
            return names.isEmpty() ? QStringLiteral("none set") : names.join(QLatin1Char('\n'));
        }
        if (outOfLine_[size_t(column)] == index.row())
            return QStringLiteral("Out of line in the rack");
        // A silent pack's "last seen" is cut where the rack fills the width.
        if (column == LastAnswer && !r.answering)
            return text(r, column);
        return {};
    default: return {};
    }
}

QVariant RackModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromUtf8(kColumns[section].title);
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace bms::bustab
