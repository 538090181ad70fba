// The four trend charts drawn with Qt Charts, for comparison with the
// QCustomPlot charts of the tool: one QChartView per chart, one QLineSeries
// per series, fed the same envelopes at the same pixel width. Qt Charts has
// no gaps in a line, so NaN points are left out. Lines are one pixel wide,
// as in the tool.
#include "TrendsBench.h"

#include <QApplication>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWidget>
#include <array>
#include <cmath>

using namespace bms::trends;

Cost QtChartsCost(const SampleStore& store, bool all, int runs, const std::function<void()>& append)
{
    QWidget window;
    window.resize(1090, 640); // the charts' share of the tab, without the cell bars
    auto* layout = new QVBoxLayout(&window);
    std::array<QChart*, kChartCount> charts{};
    std::array<QChartView*, kChartCount> views{};
    std::array<QDateTimeAxis*, kChartCount> time{};
    std::array<QValueAxis*, kChartCount> left{};
    std::array<QLineSeries*, SeriesCount> series{};
    for (int c = 0; c < kChartCount; ++c) {
        charts[size_t(c)] = new QChart;
        charts[size_t(c)]->legend()->setAlignment(Qt::AlignRight);
        time[size_t(c)] = new QDateTimeAxis;
        time[size_t(c)]->setFormat(QStringLiteral("hh:mm:ss"));
        left[size_t(c)] = new QValueAxis;
        charts[size_t(c)]->addAxis(time[size_t(c)], Qt::AlignBottom);
        charts[size_t(c)]->addAxis(left[size_t(c)], Qt::AlignLeft);
        views[size_t(c)] = new QChartView(charts[size_t(c)]);
        layout->addWidget(views[size_t(c)]);
    }
    for (int s = 0; s < SeriesCount; ++s) {
        if (!store.present().test(size_t(s)))
            continue;
        auto* line = new QLineSeries;
        line->setName(Info(s).name);
        const size_t c = size_t(Info(s).chart);
        charts[c]->addSeries(line);
        line->attachAxis(time[c]);
        line->attachAxis(left[c]);
        // One-pixel lines, as the tool's charts draw them.
        QPen pen = line->pen();
        pen.setWidthF(1.0);
        line->setPen(pen);
        series[size_t(s)] = line;
    }
    window.show();
    QCoreApplication::processEvents();

    std::vector<TrendPoint> points;
    QList<QPointF> xy;
    std::vector<double> cpu;
    for (int r = 0; r < runs; ++r) {
        const double t0 = CpuMs();
        append();
        const int64_t t1 = store.lastTime();
        const int64_t from = all ? store.firstTime() : t1 - 600'000;
        const int width = views[0]->width() - 150;
        std::array<double, kChartCount> lo, hi;
        lo.fill(1e300);
        hi.fill(-1e300);
        for (int s = 0; s < SeriesCount; ++s) {
            if (!series[size_t(s)])
                continue;
            store.envelope(s, from, t1, width, points);
            xy.clear();
            const size_t c = size_t(Info(s).chart);
            for (const TrendPoint& p : points) {
                if (std::isnan(p.value))
                    continue;
                const double v = p.value * Info(s).scale;
                xy.append(QPointF(p.time, v));
                lo[c] = std::min(lo[c], v);
                hi[c] = std::max(hi[c], v);
            }
            series[size_t(s)]->replace(xy);
        }
        for (int c = 0; c < kChartCount; ++c) {
            time[size_t(c)]->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(t1));
            if (lo[size_t(c)] <= hi[size_t(c)])
                left[size_t(c)]->setRange(lo[size_t(c)], hi[size_t(c)]);
        }
        for (QChartView* view : views)
            view->viewport()->repaint();
        QCoreApplication::processEvents();
        cpu.push_back(CpuMs() - t0);
    }
    return Summarise(cpu);
}
