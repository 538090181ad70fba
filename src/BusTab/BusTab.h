// The "Bus" tab: every pack of a rack on one RS-485 line at a glance. The
// rack's summary above, one row per pack below; "Watch bus" runs the bus
// watch as a process of its own, "Log bus" logs the rack to one workbook.
// A double-click on a pack stops the watch and hands the pack to Data
// Collection (packChosen).
#pragma once

#include "BusWatch.h"
#include "RackModel.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace bms::bustab {

class BusTab : public QWidget {
    Q_OBJECT
public:
    explicit BusTab(QWidget* parent = nullptr);

    // The ports to offer and the one to start with (the window's port box).
    void setPorts(const QStringList& ports, const QString& current);
    // True when the window itself holds `port` open (set by the window).
    std::function<bool(const QString& port)> windowHoldsPort;

    RackModel& model() { return model_; }
    QTableView* table() { return table_; }
    BusWatch& watch() { return watch_; }
    // Starts or stops the watch as the button does.
    void toggleWatch(bool log = false);
    QString port() const;

Q_SIGNALS:
    // A pack was double-clicked; the watch has been asked to stop.
    void packChosen(const QString& port, int address);

private:
    void showSummary();
    // Each column as wide as its header and values.
    void fitColumns();
    void ended(int exit, const QString& problem);

    RackModel model_;
    BusWatch watch_;
    QSortFilterProxyModel* sorted_;
    QComboBox* port_;
    QComboBox* baud_;
    QPushButton* watchButton_;
    QPushButton* logButton_;
    QLabel* status_;
    QLabel* summary_;
    QTableView* table_;
    QString logPath_;
    bus::SweepEnd lastSweep_;
};

} // namespace bms::bustab
