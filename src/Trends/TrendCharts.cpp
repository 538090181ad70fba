#include "TrendCharts.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace bms::trends {

namespace {

// Sixteen colours that stay apart on white (cells and sensors by number).
constexpr QRgb kPalette[16] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                               0xbcbd22, 0x17becf, 0x393b79, 0xad494a, 0x637939, 0x8c6d31, 0x7b4173, 0x3182bd};

// Lines are one pixel wide: wider pens go through the stroker, which costs
// ten times as much per point on every repaint.
QPen SeriesPen(int series)
{
    auto solid = [](QRgb rgb, double = 1.0) { return QPen(QColor(rgb), 1.0); };
    auto dashed = [](QRgb rgb, double) {
        QPen pen(QColor(rgb), 1.0);
        pen.setStyle(Qt::DashLine);
        return pen;
    };
    switch (series) {
    case PackVoltage: return solid(0x1f4e9c, 1.5);
    case PackCurrent: return solid(0xd62728, 1.5);
    case Rsoc: return solid(0x2ca02c, 1.5);
    case Soh: return solid(0x9467bd, 1.5);
    case CellHighest: return dashed(0xb00000, 2.0);
    case CellLowest: return dashed(0x0030b0, 2.0);
    case CellSpread: return solid(0x000000, 1.5);
    case EnvTemp: return solid(0x2ca02c, 1.5);
    case MaxCellTemp: return dashed(0xb00000, 1.5);
    case MinCellTemp: return dashed(0x0030b0, 1.5);
    case MaxMosTemp: return dashed(0x7b4173, 1.5);
    default: break;
    }
    if (series >= FirstMosTemp)
        return solid(kPalette[(series - FirstMosTemp + 8) % 16]);
    if (series >= FirstCellTemp)
        return solid(kPalette[series - FirstCellTemp]);
    return solid(kPalette[series - FirstCell]);
}

QCPAxis* TimeAxis(QCPAxisRect* rect) { return rect->axis(QCPAxis::atBottom); }

} // namespace

TrendCharts::TrendCharts(QWidget* parent) : QCustomPlot(parent)
{
    setObjectName(QStringLiteral("trendCharts"));
    setAutoAddPlottableToLegend(false);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    setNoAntialiasingOnDrag(true);
    setNotAntialiasedElements(QCP::aePlottables | QCP::aeGrid | QCP::aeSubGrid | QCP::aeAxes);
    plotLayout()->clear();
    plotLayout()->setRowSpacing(0);
    margins_ = new QCPMarginGroup(this);

    timeTicker_.reset(new QCPAxisTickerDateTime);
    timeTicker_->setDateTimeFormat(QStringLiteral("hh:mm:ss"));

    buildPanel(0, QStringLiteral("Pack voltage (V)"), QStringLiteral("Current (A)"));
    buildPanel(1, QStringLiteral("RSOC / SOH (%)"), {});
    buildPanel(2, QStringLiteral("Cell voltage (mV)"), QStringLiteral("Spread (mV)"));
    buildPanel(3, QStringLiteral("Temperature (°C)"), {});
    panels_[1].rect->axis(QCPAxis::atLeft)->setRange(0, 105);
    plotLayout()->setColumnStretchFactor(0, 1.0);
    plotLayout()->setColumnStretchFactor(1, 0.001);

    for (int s = 0; s < SeriesCount; ++s) {
        const SeriesInfo& info = Info(s);
        QCPAxisRect* rect = panels_[size_t(info.chart)].rect;
        QCPGraph* graph = addGraph(TimeAxis(rect), rect->axis(info.rightAxis ? QCPAxis::atRight : QCPAxis::atLeft));
        graph->setName(info.name);
        graph->setPen(SeriesPen(s));
        graph->setVisible(false);
        graphs_[size_t(s)] = graph;
    }
    connect(this, &QCustomPlot::legendClick, this,
            [this](QCPLegend* legend, QCPAbstractLegendItem* item, QMouseEvent*) { legendClicked(legend, item); });
}

void TrendCharts::buildPanel(int index, const QString& leftLabel, const QString& rightLabel)
{
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
    const bool bottom = index == kChartCount - 1;

    auto* rect = new QCPAxisRect(this);
    plotLayout()->addElement(index, 0, rect);
    rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);

    QCPAxis* time = TimeAxis(rect);
    time->setTicker(timeTicker_);
    time->setTickLabels(bottom);
    time->setTickLabelFont(small);
    time->setLabelFont(small);
    if (bottom)
        time->setLabel(QStringLiteral("Time"));
    QCPAxis* left = rect->axis(QCPAxis::atLeft);
    left->setLabel(leftLabel);
    left->setLabelFont(small);
    left->setTickLabelFont(small);
    QCPAxis* right = rect->axis(QCPAxis::atRight);
    right->setVisible(!rightLabel.isEmpty());
    right->setTickLabels(!rightLabel.isEmpty());
    right->setLabel(rightLabel);
    right->setLabelFont(small);
    right->setTickLabelFont(small);
    rect->setRangeDrag(Qt::Horizontal);
    rect->setRangeZoom(Qt::Horizontal);
    rect->setRangeDragAxes({time}, {});
    rect->setRangeZoomAxes({time}, {});
    connect(time, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &TrendCharts::timeAxisMoved);

    // The legend sits at the top of a side column; the empty element below
    // takes the rest of the height, so the entries stay together.
    auto* side = new QCPLayoutGrid;
    plotLayout()->addElement(index, 1, side);
    auto* legend = new QCPLegend;
    side->addElement(0, 0, legend);
    side->addElement(1, 0, new QCPLayoutElement(this));
    side->setRowStretchFactor(0, 0.001);
    side->setRowStretchFactor(1, 1.0);
    legend->setLayer(QStringLiteral("legend"));
    legend->setFont(small);
    legend->setIconSize(16, 8);
    legend->setRowSpacing(-2);
    legend->setColumnSpacing(6);
    legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
    legend->setBorderPen(Qt::NoPen);
    legend->setSelectableParts(QCPLegend::spItems);
    panels_[size_t(index)] = {rect, legend};
}

void TrendCharts::setSeriesHidden(int series, bool hidden)
{
    hidden_[size_t(series)] = hidden;
    QCPLegend* legend = panels_[size_t(Info(series).chart)].legend;
    if (QCPPlottableLegendItem* item = legend->itemWithPlottable(graphs_[size_t(series)]))
        item->setTextColor(hidden ? QColor(Qt::gray) : QColor(Qt::black));
}

void TrendCharts::legendClicked(QCPLegend*, QCPAbstractLegendItem* item)
{
    auto* entry = qobject_cast<QCPPlottableLegendItem*>(item);
    if (!entry)
        return;
    const auto found = std::find(graphs_.begin(), graphs_.end(), entry->plottable());
    if (found == graphs_.end())
        return;
    const int series = int(found - graphs_.begin());
    setSeriesHidden(series, !hidden_[size_t(series)]);
    Q_EMIT seriesToggled();
}

void TrendCharts::timeAxisMoved(const QCPRange& range)
{
    if (settingRange_)
        return;
    settingRange_ = true;
    for (const Panel& panel : panels_)
        TimeAxis(panel.rect)->setRange(range);
    settingRange_ = false;
    Q_EMIT rangeMovedByUser(int64_t(std::llround(range.lower * 1000)), int64_t(std::llround(range.upper * 1000)));
}

void TrendCharts::resizeEvent(QResizeEvent* event)
{
    fitLegends();
    QCustomPlot::resizeEvent(event);
}

void TrendCharts::fitLegends()
{
    // Entries run down a column as far as a chart is high, then wrap.
    const int rowHeight = std::max(10, QFontMetrics(panels_[0].legend->font()).height() - 1);
    const int rows = std::max(2, (height() / kChartCount - 12) / rowHeight);
    for (const Panel& panel : panels_)
        panel.legend->setWrap(rows);
}

int TrendCharts::plotWidth() const { return panels_[0].rect->width(); }

void TrendCharts::showRange(const SampleStore& store, int64_t t0, int64_t t1)
{
    settingRange_ = true;
    const QCPRange range(double(t0) / 1000.0, double(std::max(t1, t0 + 1)) / 1000.0);
    for (const Panel& panel : panels_)
        TimeAxis(panel.rect)->setRange(range);
    settingRange_ = false;
    timeTicker_->setDateTimeFormat(t1 - t0 > 36LL * 3600 * 1000 ? QStringLiteral("dd.MM.\nhh:mm")
                                                                  : QStringLiteral("hh:mm:ss"));
    TimeAxis(panels_.back().rect)
        ->setLabel(QStringLiteral("Time (") + QDateTime::fromMSecsSinceEpoch(t1).toString(QStringLiteral("yyyy-MM-dd"))
                   + QLatin1Char(')'));

    const int width = std::max(50, plotWidth());
    bool legendChanged = false;
    points_ = 0;
    QVector<QCPGraphData> data;
    for (int s = 0; s < SeriesCount; ++s) {
        QCPGraph* graph = graphs_[size_t(s)];
        const bool present = store.present().test(size_t(s));
        if (present != shown_[size_t(s)]) {
            QCPLegend* legend = panels_[size_t(Info(s).chart)].legend;
            present ? graph->addToLegend(legend) : graph->removeFromLegend(legend);
            shown_[size_t(s)] = present;
            setSeriesHidden(s, hidden_[size_t(s)]);
            legendChanged = true;
        }
        const bool visible = present && !hidden_[size_t(s)];
        graph->setVisible(visible);
        if (!visible) {
            graph->data()->clear();
            continue;
        }
        store.envelope(s, t0, t1, width, scratch_);
        const double scale = Info(s).scale;
        data.resize(qsizetype(scratch_.size()));
        for (size_t i = 0; i < scratch_.size(); ++i)
            data[qsizetype(i)] = QCPGraphData(scratch_[i].time / 1000.0, scratch_[i].value * scale);
        graph->data()->set(data, true);
        points_ += int(scratch_.size());
    }
    if (legendChanged)
        fitLegends();
    rescaleValues();
    replot(QCustomPlot::rpQueuedReplot);
}

void TrendCharts::rescaleValues()
{
    for (size_t p = 0; p < panels_.size(); ++p) {
        if (p == size_t(Chart::Charge))
            continue; // percentages keep 0..105
        for (QCPAxis* axis : {panels_[p].rect->axis(QCPAxis::atLeft), panels_[p].rect->axis(QCPAxis::atRight)}) {
            bool any = false;
            QCPRange all;
            for (QCPGraph* graph : axis->graphs()) {
                if (!graph->visible())
                    continue;
                bool found = false;
                const QCPRange r = graph->getValueRange(found);
                if (!found)
                    continue;
                all = any ? QCPRange(std::min(all.lower, r.lower), std::max(all.upper, r.upper)) : r;
                any = true;
            }
            if (!any)
                continue;
            const double pad = std::max((all.upper - all.lower) * 0.08, std::max(std::abs(all.upper) * 0.002, 0.5));
            axis->setRange(all.lower - pad, all.upper + pad);
        }
    }
}

} // namespace bms::trends
