// What the Station tab's Quality page shows, read on the records thread
// (each figure computed by the database, Quality.h): the overview of a
// period and the details of one measurement.
#pragma once

#include "Quality.h"

#include <QString>
#include <vector>

namespace bms::stationtab {

struct QualityOverview {
    records::YieldBy timeBy = records::YieldBy::Hour;
    std::vector<records::YieldRow> total, overTime, fixtures;
    records::Pareto pareto;
    std::vector<records::Capability> capability, perChart;
    QString error;
};

struct MeasurementDetail {
    QString key;
    records::Capability capability;
    double binLow = 0, binWidth = 1;
    std::vector<qint64> bins;
    std::vector<records::ControlChart> charts; // one per station and fixture
    QString error;
};

// Hours for a period of up to two days, days beyond.
records::YieldBy TimeGroupOf(const records::RunFilter& filter, qint64 nowMs);

QualityOverview LoadOverview(records::Database& db, const records::RunFilter& filter, qint64 nowMs);
MeasurementDetail LoadMeasurement(records::Database& db, const records::RunFilter& filter, const QString& key,
                                  int bins, int chartPoints);

// A fixture stands out when its first-pass yield is more than three
// standard errors below the line's, or a measurement's mean there is more
// than three standard errors of its mean away from the median of the
// fixtures' means (|mean_f − median| > 3 · s_f / √n_f): one drifting
// fixture does not mark the others.
bool YieldStandsOut(const records::YieldRow& fixture, const records::YieldRow& line);
bool MeanStandsOut(const records::Capability& fixture, double medianOfFixtures);
double Median(std::vector<double> values);

} // namespace bms::stationtab
