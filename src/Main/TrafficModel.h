// The rows of the Traffic window: the frame record's events in a bounded
// ring (the newest `limit` events), one row each. Events arrive one by one
// from the frame record and are queued; they become rows in batches (every
// 100 ms), so that a burst of frames costs one row insertion and one repaint.
// While paused the queue holds what arrives (at most `limit` events) and the
// rows stand still; resuming shows it. Every batch, paused or not, is told
// through onBatch, so counts go on while the rows stand still.
#pragma once

#include "FrameRecord.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <deque>
#include <functional>

namespace bms {

class TrafficModel : public QAbstractTableModel {
public:
    static constexpr int kDefaultLimit = 100000;
    static constexpr int kBatchMs = 100;
    enum Column { TimeCol, DirCol, LengthCol, BytesCol, CrcCol, MeaningCol, SinceCol, ColumnCount };

    explicit TrafficModel(QObject* parent = nullptr, int limit = kDefaultLimit);

    // Queues an event; it becomes a row at the next batch.
    void add(const FrameEvent& event);
    // Moves the queued events into the rows now (unless paused).
    void flush();
    void clear();
    void setPaused(bool paused);
    bool paused() const { return paused_; }
    int queued() const { return static_cast<int>(queue_.size()); }
    int limit() const { return limit_; }

    const FrameEvent& event(int row) const { return rows_[static_cast<size_t>(row)].event; }
    // A bad CRC, a fragment, noise, an exception answer or a boot-loader
    // write error.
    static bool isError(const FrameEvent& event);
    // The event's columns separated by tabs (copy and save).
    static QString eventText(const FrameEvent& e);
    QString rowText(int row) const { return eventText(event(row)); }
    // Events queued while paused, oldest first.
    const std::deque<FrameEvent>& queuedEvents() const { return queue_; }
    static QString headerText();
    // After every batch (rows added, or events queued behind a pause).
    std::function<void()> onBatch;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    static QString cellText(const FrameEvent& e, int column);

    // An event with the texts that take work to make (its time and meaning),
    // made once when it becomes a row rather than at every repaint.
    struct Row {
        FrameEvent event;
        QString time;
        QString meaning;
    };

    std::deque<Row> rows_;
    std::deque<FrameEvent> queue_;
    QTimer batch_;
    int limit_;
    bool paused_ = false;
};

// Shows every row, or only the rows TrafficModel::isError accepts.
class TrafficErrorFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setErrorsOnly(bool on);
    bool errorsOnly() const { return errorsOnly_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool errorsOnly_ = false;
};

} // namespace bms
