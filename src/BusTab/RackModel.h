// The rack as a table: one row per pack found, in the order found, never
// removed. A pack that stops answering keeps its last values, greyed, with
// the time it was last seen. The out-of-line value of each column is
// highlighted; alarm, protection and fault words show as coloured chips
// with the names of their bits in the tooltip. Sorting goes by Qt::UserRole.
#pragma once

#include "RackSummary.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <vector>

namespace bms::bustab {

class RackModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Address, Serial, Soc, Voltage, Current, HighCell, LowCell, Spread, HighTemp, Cycles,
        Alarm, Protection, Fault, LastAnswer, ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    void setScan(const bus::ScanResult& scan);
    void setReading(const bus::PackReading& reading);
    // Ages of the last answers as of `now`.
    void tick(const QDateTime& now);
    void clear();

    bus::RackSummary summary() const;
    int address(int row) const;
    // Row of `address`, -1 when it is not in the rack.
    int rowOf(int address) const;
    bool answering(int row) const { return packs_[size_t(row)].answering; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        bus::PackReading last;
        bool answering = false;
        bool seen = false;
        QDateTime lastSeen;
    };
    std::optional<double> value(const Row& r, int column) const;
    QString text(const Row& r, int column) const;
    void findOutOfLine();

    std::vector<Row> rows_;
    std::vector<bus::RackPack> packs_;
    std::vector<int> outOfLine_ = std::vector<int>(ColumnCount, -1); // row per column
    QDateTime now_ = QDateTime::currentDateTime();
};

} // namespace bms::bustab
