// The Quality page's charts, drawn with QCustomPlot from the figures the
// records thread read (QualityData.h). Each call clears its chart and draws
// it anew; the data keys are the indices the page maps a click back with.
#pragma once

#include "QualityData.h"

class QCustomPlot;

namespace bms::stationtab {

// The chart widget of the page: a QCustomPlot sized for the page's grid.
QCustomPlot* NewQualityPlot(QWidget* parent, const QString& objectName);

// PASS, FAIL, ERROR and ABORTED stacked per hour or day (key: the row).
void PlotYieldOverTime(QCustomPlot* plot, const std::vector<records::YieldRow>& rows);
// FAIL runs by failure code, largest first (key: the row), and the
// cumulative share on the right axis.
void PlotPareto(QCustomPlot* plot, const records::Pareto& pareto);
// The readings' histogram with the limits and the mean.
void PlotHistogram(QCustomPlot* plot, const MeasurementDetail& detail);
// The individuals chart (key: the point's index in chart.points): centre,
// ±3 sigma, the points a run rule flagged in red.
void PlotIndividuals(QCustomPlot* plot, const records::ControlChart& chart);
// The moving ranges with MR-bar and its upper limit.
void PlotMovingRange(QCustomPlot* plot, const records::ControlChart& chart);

} // namespace bms::stationtab
