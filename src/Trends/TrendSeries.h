// The quantities the trend charts plot: which value of a sample each series
// is, in which unit it is kept and shown, and on which chart it appears.
// Values are kept as the pack sends them (mV, mA, 0.1 %, 0.1 °C): small
// integers that a float holds exactly, so minima and maxima survive
// decimation bit for bit. `scale` turns a kept value into the shown unit.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace bms::trends {

constexpr int kMaxCells = 16;
constexpr int kMaxSensors = 16;

// Series numbers: fixed slots first, then the three arrays of 16.
enum Series : int {
    PackVoltage,
    PackCurrent,
    Rsoc,
    Soh,
    CellHighest,
    CellLowest,
    CellSpread,
    EnvTemp,
    MaxCellTemp,
    MinCellTemp,
    MaxMosTemp,
    FirstCell,                              // Cell 1 .. Cell 16
    FirstCellTemp = FirstCell + kMaxCells,  // Cell temperature 1 .. 16
    FirstMosTemp = FirstCellTemp + kMaxSensors, // MOS temperature 1 .. 16
    SeriesCount = FirstMosTemp + kMaxSensors,
};

// The stacked charts, top to bottom.
enum class Chart : uint8_t { Power, Charge, Cells, Temperatures };
constexpr int kChartCount = 4;

struct SeriesInfo {
    QString name;  // legend text
    QString unit;  // shown unit, e.g. "V"
    double scale;  // shown value = kept value × scale
    Chart chart;
    bool rightAxis; // current and cell spread have their own axis
};

const SeriesInfo& Info(int series);

// Name with its unit for a CSV header: "Pack voltage (V)".
QString ColumnTitle(int series);

using SampleValues = std::array<float, SeriesCount>;

} // namespace bms::trends
