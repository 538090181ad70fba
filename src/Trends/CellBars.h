// The present voltage of every cell as a bar, the highest cell red and the
// lowest blue, with the spread between them written on the chart. The bars
// start a little below the lowest cell, so differences of a few mV show.
#pragma once

#include "SampleStore.h"

#include "QCustomPlotInclude.h"

namespace bms::trends {

class CellBars : public QCustomPlot {
    Q_OBJECT
public:
    explicit CellBars(QWidget* parent = nullptr);

    // The cells of `values` (kept units), sampled at `timeMs`; no sample
    // (timeMs 0) clears the chart.
    void showCells(const SampleValues& values, int64_t timeMs);
    // The spread text as shown ("Spread 22 mV"), empty without cells.
    QString spreadText() const { return spread_->text(); }
    int cellsShown() const { return cells_; }

private:
    QCPBars* normal_;
    QCPBars* highest_;
    QCPBars* lowest_;
    QCPItemText* spread_;
    int cells_ = 0;
};

} // namespace bms::trends
