#include "TrafficModel.h"

#include <QBrush>
#include <QColor>
#include <QFontDatabase>
#include <algorithm>

namespace bms {

namespace {

const char* const kHeaders[] = {"Time", "Dir", "Len", "Bytes", "CRC", "Meaning", "Since request"};

// Exception answers have the high bit of the function code set.
bool IsExceptionAnswer(const FrameEvent& e)
{
    return e.dir == FrameDir::Rx && e.framing == Framing::Ordinary && e.bytes.size() >= 2 && (e.bytes[1] & 0x80);
}

// Status frame 0x35 of the boot loader: a record could not be written.
bool IsBootWriteError(const FrameEvent& e)
{
    return e.dir == FrameDir::Rx && e.framing == Framing::MainBoard && e.bytes.size() >= 3 && e.bytes[2] == 0x35;
}

QString CrcText(const FrameEvent& e)
{
    if (e.dir == FrameDir::Tx)
        return {};
    switch (e.kind) {
    case FrameKind::Frame: return QStringLiteral("good");
    case FrameKind::BadCrc: return QStringLiteral("bad");
    case FrameKind::Fragment:
    case FrameKind::Noise: break;
    }
    return QStringLiteral("-");
}

} // namespace

TrafficModel::TrafficModel(QObject* parent, int limit) : QAbstractTableModel(parent), limit_(std::max(1, limit))
{
    batch_.setSingleShot(true);
    batch_.setInterval(kBatchMs);
    QObject::connect(&batch_, &QTimer::timeout, this, [this] { flush(); });
}

void TrafficModel::add(const FrameEvent& event)
{
    queue_.push_back(event);
    // Only the newest `limit` events could ever be shown.
    if (queue_.size() > static_cast<size_t>(limit_))
        queue_.pop_front();
    if (!batch_.isActive())
        batch_.start();
}

void TrafficModel::flush()
{
    batch_.stop();
    if (paused_ || queue_.empty()) {
        if (onBatch)
            onBatch();
        return;
    }
    const auto limit = static_cast<size_t>(limit_);
    const size_t incoming = queue_.size();
    const size_t excess = rows_.size() + incoming > limit ? rows_.size() + incoming - limit : 0;
    if (excess > 0) {
        const size_t dropped = std::min(excess, rows_.size());
        beginRemoveRows({}, 0, static_cast<int>(dropped) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(dropped));
        endRemoveRows();
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(incoming) - 1);
    for (FrameEvent& e : queue_) {
        QString time = cellText(e, TimeCol);
        QString meaning = cellText(e, MeaningCol);
        rows_.push_back(Row{std::move(e), std::move(time), std::move(meaning)});
    }
    queue_.clear();
    endInsertRows();
    if (onBatch)
        onBatch();
}

void TrafficModel::clear()
{
    batch_.stop();
    queue_.clear();
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void TrafficModel::setPaused(bool paused)
{
    paused_ = paused;
    if (!paused_)
        flush();
}

bool TrafficModel::isError(const FrameEvent& event)
{
    return event.kind != FrameKind::Frame || IsExceptionAnswer(event) || IsBootWriteError(event);
}

QString TrafficModel::cellText(const FrameEvent& e, int column)
{
    switch (column) {
    case TimeCol: return e.time.toString(QStringLiteral("hh:mm:ss.zzz"));
    case DirCol: return e.dir == FrameDir::Tx ? QStringLiteral("TX") : QStringLiteral("RX");
    case LengthCol: return QString::number(e.bytes.size());
    case BytesCol: return HexBytes(e.bytes);
    case CrcCol: return CrcText(e);
    case MeaningCol: return DescribeFrameContent(e);
    case SinceCol: return e.dir == FrameDir::Rx && e.sinceRequestMs >= 0 ? QStringLiteral("%1 ms").arg(e.sinceRequestMs)
                                                                         : QString();
    default: return {};
    }
}

QString TrafficModel::eventText(const FrameEvent& e)
{
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c)
        cells.append(cellText(e, c));
    return cells.join(QLatin1Char('\t'));
}

QString TrafficModel::headerText()
{
    QStringList cells;
    for (const char* h : kHeaders)
        cells.append(QLatin1String(h));
    return cells.join(QLatin1Char('\t'));
}

int TrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TrafficModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    const FrameEvent& e = row.event;
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == TimeCol)
            return row.time;
        if (index.column() == MeaningCol)
            return row.meaning;
        return cellText(e, index.column());
    case Qt::ForegroundRole:
        if (isError(e))
            return QBrush(QColor(0xC0, 0x10, 0x10));
        if (e.dir == FrameDir::Tx)
            return QBrush(QColor(0x10, 0x40, 0xA0));
        return {};
    case Qt::FontRole:
        if (index.column() == BytesCol) {
            // Asking the platform for its fixed font at every repaint is slow.
            static const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            return fixed;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == SinceCol)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default: return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QLatin1String(kHeaders[section]);
    return {};
}

void TrafficErrorFilter::setErrorsOnly(bool on)
{
    if (on == errorsOnly_)
        return;
    errorsOnly_ = on;
    invalidateRowsFilter();
}

bool TrafficErrorFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (!errorsOnly_)
        return true;
    const auto* model = static_cast<const TrafficModel*>(sourceModel());
    return TrafficModel::isError(model->event(sourceRow));
}

} // namespace bms
