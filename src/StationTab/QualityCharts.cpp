#include "QualityCharts.h"

#include "QCustomPlotInclude.h"
#include "QualityFigures.h"

namespace bms::stationtab {

using namespace bms::records;

namespace {

struct Series {
    const char* name;
    QColor colour;
};
const Series kOutcomes[] = {{"PASS", QColor(58, 157, 58)},
                            {"FAIL", QColor(208, 48, 48)},
                            {"ERROR", QColor(224, 144, 32)},
                            {"ABORTED", QColor(128, 128, 160)}};
const QColor kLine(32, 80, 192), kLimit(208, 48, 48), kCentre(58, 157, 58);

void Clear(QCustomPlot* plot, const QString& title)
{
    plot->clearPlottables();
    plot->clearItems();
    plot->yAxis2->setVisible(false);
    plot->legend->setVisible(false);
    plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    if (plot->plotLayout()->rowCount() > 1)
        if (auto* text = qobject_cast<QCPTextElement*>(plot->plotLayout()->element(0, 0)))
            text->setText(title);
}

// Category labels under bars (at most 14, the rest skipped evenly).
void Categories(QCustomPlot* plot, const QStringList& labels, int rotateBeyond = 6)
{
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    const int step = std::max<int>(1, int((labels.size() + 13) / 14));
    for (int i = 0; i < labels.size(); i += step)
        ticker->addTick(i, labels[i]);
    plot->xAxis->setTicker(ticker);
    plot->xAxis->setTickLabelRotation(labels.size() > rotateBeyond ? 30 : 0);
    plot->xAxis->setRange(-0.6, std::max<double>(0.6, double(labels.size()) - 0.4));
}

void HLine(QCustomPlot* plot, double y, const QColor& colour, Qt::PenStyle style)
{
    auto* line = new QCPItemStraightLine(plot);
    line->point1->setCoords(0, y);
    line->point2->setCoords(1, y);
    line->setPen(QPen(colour, 1, style));
}

void VLine(QCustomPlot* plot, double x, const QColor& colour, Qt::PenStyle style)
{
    auto* line = new QCPItemStraightLine(plot);
    line->point1->setCoords(x, 0);
    line->point2->setCoords(x, 1);
    line->setPen(QPen(colour, 1.5, style));
}

} // namespace

QCustomPlot* NewQualityPlot(QWidget* parent, const QString& objectName)
{
    auto* plot = new QCustomPlot(parent);
    plot->setObjectName(objectName);
    plot->setMinimumSize(240, 130);
    plot->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(plot, QString(), QFont(plot->font().family(), 9, QFont::Bold));
    plot->plotLayout()->addElement(0, 0, title);
    plot->setInteractions(QCP::iSelectPlottables);
    plot->setNoAntialiasingOnDrag(true);
    return plot;
}

void PlotYieldOverTime(QCustomPlot* plot, const std::vector<YieldRow>& rows)
{
    Clear(plot, QStringLiteral("Runs per %1: PASS, FAIL, ERROR, ABORTED"));
    QVector<double> keys;
    QStringList labels;
    for (size_t i = 0; i < rows.size(); ++i) {
        keys.append(double(i));
        labels.append(rows.size() > 0 && rows[i].group.size() > 10 ? rows[i].group.mid(5) : rows[i].group);
    }
    QCPBars* below = nullptr;
    double most = 1;
    for (int k = 0; k < 4; ++k) {
        QVector<double> values;
        for (size_t i = 0; i < rows.size(); ++i) {
            const qint64 counts[] = {rows[i].pass, rows[i].fail, rows[i].error, rows[i].aborted};
            values.append(double(counts[k]));
            most = std::max(most, double(rows[i].runs));
        }
        auto* bars = new QCPBars(plot->xAxis, plot->yAxis);
        bars->setName(QLatin1String(kOutcomes[k].name));
        bars->setBrush(kOutcomes[k].colour);
        bars->setPen(Qt::NoPen);
        bars->setWidth(0.8);
        bars->setData(keys, values, true);
        if (below)
            bars->moveAbove(below);
        below = bars;
    }
    if (auto* text = qobject_cast<QCPTextElement*>(plot->plotLayout()->element(0, 0)))
        text->setText(QStringLiteral("Runs per %1 (PASS, FAIL, ERROR, ABORTED stacked)")
                          .arg(rows.empty() || rows.front().group.size() > 10 ? QStringLiteral("hour") : QStringLiteral("day")));
    Categories(plot, labels);
    plot->yAxis->setRange(0, most * 1.1);
    plot->replot();
}

void PlotPareto(QCustomPlot* plot, const Pareto& pareto)
{
    Clear(plot, QStringLiteral("Failure Pareto: %1 FAIL runs").arg(pareto.failRuns));
    QVector<double> keys, counts, cumulative;
    QStringList labels;
    for (size_t i = 0; i < pareto.failures.size() && i < 12; ++i) {
        keys.append(double(i));
        counts.append(double(pareto.failures[i].count));
        cumulative.append(pareto.failures[i].cumulative);
        // The measurement's name; the whole code in the runs listed.
        labels.append(pareto.failures[i].code.section(QLatin1Char('.'), -1));
    }
    auto* bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setBrush(kOutcomes[1].colour);
    bars->setPen(Qt::NoPen);
    bars->setWidth(0.7);
    bars->setData(keys, counts, true);
    plot->yAxis2->setVisible(true);
    plot->yAxis2->setRange(0, 105);
    plot->yAxis2->setLabel(QStringLiteral("cumulative %"));
    auto* line = plot->addGraph(plot->xAxis, plot->yAxis2);
    line->setPen(QPen(kLine, 2));
    line->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    line->setData(keys, cumulative, true);
    line->setSelectable(QCP::stNone);
    Categories(plot, labels, 3);
    plot->yAxis->setRange(0, counts.isEmpty() ? 1 : counts.front() * 1.15);
    plot->replot();
}

void PlotHistogram(QCustomPlot* plot, const MeasurementDetail& d)
{
    const Capability& c = d.capability;
    Clear(plot, d.key.isEmpty() ? QString() : QStringLiteral("%1 (%2 readings)").arg(d.key).arg(c.n));
    QVector<double> keys, counts;
    double most = 1;
    for (size_t i = 0; i < d.bins.size(); ++i) {
        keys.append(d.binLow + d.binWidth * (double(i) + 0.5));
        counts.append(double(d.bins[i]));
        most = std::max(most, double(d.bins[i]));
    }
    auto* bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setBrush(QColor(120, 150, 210));
    bars->setPen(QPen(Qt::white));
    bars->setWidth(d.binWidth);
    bars->setData(keys, counts, true);
    bars->setSelectable(QCP::stNone);
    double low = d.binLow, high = d.binLow + d.binWidth * double(d.bins.size());
    for (const auto& limit : {c.low, c.high})
        if (limit)
            VLine(plot, *limit, kLimit, Qt::SolidLine);
    if (c.n)
        VLine(plot, c.mean, kCentre, Qt::DashLine);
    const double margin = (high - low) * 0.05 + 1e-9;
    plot->xAxis->setRange(low - margin, high + margin);
    plot->yAxis->setRange(0, most * 1.1);
    plot->replot();
}

void PlotIndividuals(QCustomPlot* plot, const ControlChart& chart)
{
    Clear(plot, QStringLiteral("Individuals, fixture %1: %2 readings").arg(chart.fixture).arg(chart.n));
    QVector<double> keys, values, flaggedKeys, flaggedValues;
    double low = chart.centre, high = chart.centre;
    for (size_t i = 0; i < chart.points.size(); ++i) {
        const ChartPoint& p = chart.points[i];
        keys.append(double(i));
        values.append(p.x);
        low = std::min(low, p.x);
        high = std::max(high, p.x);
        if (p.rules) {
            flaggedKeys.append(double(i));
            flaggedValues.append(p.x);
        }
    }
    auto* line = plot->addGraph();
    line->setPen(QPen(kLine, 1));
    line->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 4));
    line->setData(keys, values, true);
    auto* flagged = plot->addGraph();
    flagged->setLineStyle(QCPGraph::lsNone);
    flagged->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, kLimit, 7));
    flagged->setData(flaggedKeys, flaggedValues, true);
    flagged->setSelectable(QCP::stNone);
    HLine(plot, chart.centre, kCentre, Qt::SolidLine);
    if (chart.sigmaWithin) {
        const double s = *chart.sigmaWithin;
        HLine(plot, chart.centre + 3 * s, kLimit, Qt::DashLine);
        HLine(plot, chart.centre - 3 * s, kLimit, Qt::DashLine);
        low = std::min(low, chart.centre - 3 * s);
        high = std::max(high, chart.centre + 3 * s);
    }
    const double margin = (high - low) * 0.08 + 1e-9;
    plot->yAxis->setRange(low - margin, high + margin);
    plot->xAxis->setRange(-1, std::max<double>(1, double(chart.points.size())));
    plot->replot();
}

void PlotMovingRange(QCustomPlot* plot, const ControlChart& chart)
{
    Clear(plot, QStringLiteral("Moving range"));
    QVector<double> keys, values;
    double high = 0;
    for (size_t i = 0; i < chart.points.size(); ++i)
        if (const auto mr = chart.points[i].mr) {
            keys.append(double(i));
            values.append(*mr);
            high = std::max(high, *mr);
        }
    auto* line = plot->addGraph();
    line->setPen(QPen(kLine, 1));
    line->setData(keys, values, true);
    line->setSelectable(QCP::stNone);
    if (chart.mrBar) {
        HLine(plot, *chart.mrBar, kCentre, Qt::SolidLine);
        HLine(plot, kMrUpperFactor * *chart.mrBar, kLimit, Qt::DashLine);
        high = std::max(high, kMrUpperFactor * *chart.mrBar);
    }
    plot->yAxis->setRange(0, high * 1.1 + 1e-9);
    plot->xAxis->setRange(-1, std::max<double>(1, double(chart.points.size())));
    plot->replot();
}

} // namespace bms::stationtab
