// The stacked trend charts over one time axis: pack voltage and current,
// RSOC and SOH, the cells with the highest, lowest and their spread, and the
// temperatures. Each chart has its legend beside it; clicking a legend entry
// shows or hides its series. The mouse wheel zooms and dragging pans the
// time axis of all charts together.
//
// The charts never hold the samples: for each repaint they ask the store for
// the envelope of the visible range at the plot's pixel width, so a day of
// samples costs no more to draw than a minute.
#pragma once

#include "SampleStore.h"

#include <array>
#include "QCustomPlotInclude.h"

namespace bms::trends {

class TrendCharts : public QCustomPlot {
    Q_OBJECT
public:
    explicit TrendCharts(QWidget* parent = nullptr);

    // Shows [t0, t1] (ms since the epoch) of `store` and repaints.
    void showRange(const SampleStore& store, int64_t t0, int64_t t1);
    // Width in pixels of the plotting area.
    int plotWidth() const;
    // Points drawn at the last showRange (tests, benchmarks).
    int pointCount() const { return points_; }
    // Series hidden from their legend.
    bool seriesHidden(int series) const { return hidden_[size_t(series)]; }
    void setSeriesHidden(int series, bool hidden);

Q_SIGNALS:
    // The operator zoomed or panned: the new range in ms.
    void rangeMovedByUser(int64_t t0, int64_t t1);
    // A legend entry was clicked (the series is already shown or hidden).
    void seriesToggled();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Panel {
        QCPAxisRect* rect = nullptr;
        QCPLegend* legend = nullptr;
    };

    void buildPanel(int index, const QString& leftLabel, const QString& rightLabel);
    void timeAxisMoved(const QCPRange& range);
    void legendClicked(QCPLegend* legend, QCPAbstractLegendItem* item);
    void fitLegends();
    void rescaleValues();

    std::array<Panel, kChartCount> panels_;
    QCPMarginGroup* margins_ = nullptr;
    std::array<QCPGraph*, SeriesCount> graphs_{};
    std::array<bool, SeriesCount> hidden_{};
    std::array<bool, SeriesCount> shown_{}; // in the legend: the series has values
    QSharedPointer<QCPAxisTickerDateTime> timeTicker_;
    std::vector<TrendPoint> scratch_;
    bool settingRange_ = false;
    int points_ = 0;
};

} // namespace bms::trends
