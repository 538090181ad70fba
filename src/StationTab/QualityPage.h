// The Station tab's Quality page: a period and a fixture; the runs per hour
// or day (PASS, FAIL, ERROR, ABORTED), the failure Pareto, a measurement's
// histogram with its limits and capability, its I-MR chart with the points
// the run rules flagged, and the fixtures side by side (a fixture that
// stands out marked). A click on a bar or a fixture lists its runs; a
// click on a chart's point or a double-click on a listed run opens the
// run's record. The figures come from the records thread (QualityData.h);
// this page only asks and shows.
#pragma once

#include "QualityData.h"

#include <QDateTime>
#include <QWidget>

class QComboBox;
class QCustomPlot;
class QLabel;
class QTableWidget;

namespace bms::stationtab {

class QualityPage : public QWidget {
    Q_OBJECT
public:
    explicit QualityPage(QWidget* parent = nullptr);

    // The station whose runs are shown, and the start of its shift (the
    // period "This shift").
    void setStation(const QString& stationId, const QDateTime& shiftStart);
    // The runs of the period and fixture chosen.
    records::RunFilter filter() const;
    QString measurement() const;

    void showOverview(const QualityOverview& overview);
    void showMeasurement(const MeasurementDetail& detail);
    void showRuns(const std::vector<records::RunSummary>& runs, const QString& error);

    QTableWidget* fixtures() const { return fixtures_; }
    QTableWidget* runs() const { return runs_; }

Q_SIGNALS:
    void overviewRequested(const records::RunFilter& filter);
    void measurementRequested(const records::RunFilter& filter, const QString& key);
    void runsRequested(const records::RunFilter& filter);
    void recordRequested(const QString& runId);

public Q_SLOTS:
    void refresh();

private:
    void requestMeasurement();
    void listRuns(records::RunFilter filter, const QString& what);
    void yieldClicked(int row);
    void paretoClicked(int row);
    void chartClicked(int point);
    void fillFixtures(const QualityOverview& o);

    QComboBox* period_;
    QComboBox* fixture_;
    QComboBox* measurement_;
    QComboBox* chartFixture_;
    QLabel* summary_;
    QLabel* capability_;
    QLabel* runsTitle_;
    QCustomPlot* yield_;
    QCustomPlot* pareto_;
    QCustomPlot* histogram_;
    QCustomPlot* individuals_;
    QCustomPlot* movingRange_;
    QTableWidget* fixtures_;
    QTableWidget* runs_;
    QString stationId_;
    QDateTime shiftStart_;
    QualityOverview overview_;
    MeasurementDetail detail_;
    QStringList runIds_;
};

} // namespace bms::stationtab
