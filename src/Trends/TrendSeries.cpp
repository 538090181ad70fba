#include "TrendSeries.h"

#include <vector>

namespace bms::trends {

namespace {

std::vector<SeriesInfo> MakeTable()
{
    const QString mV = QStringLiteral("mV"), degC = QStringLiteral("°C"), pct = QStringLiteral("%");
    std::vector<SeriesInfo> t(SeriesCount);
    t[PackVoltage] = {QStringLiteral("Pack voltage"), QStringLiteral("V"), 0.001, Chart::Power, false};
    t[PackCurrent] = {QStringLiteral("Current"), QStringLiteral("A"), 0.001, Chart::Power, true};
    t[Rsoc] = {QStringLiteral("RSOC"), pct, 0.1, Chart::Charge, false};
    t[Soh] = {QStringLiteral("SOH"), pct, 1.0, Chart::Charge, false};
    t[CellHighest] = {QStringLiteral("Highest cell"), mV, 1.0, Chart::Cells, false};
    t[CellLowest] = {QStringLiteral("Lowest cell"), mV, 1.0, Chart::Cells, false};
    t[CellSpread] = {QStringLiteral("Cell spread"), mV, 1.0, Chart::Cells, true};
    t[EnvTemp] = {QStringLiteral("ENV"), degC, 0.1, Chart::Temperatures, false};
    t[MaxCellTemp] = {QStringLiteral("Max cell"), degC, 0.1, Chart::Temperatures, false};
    t[MinCellTemp] = {QStringLiteral("Min cell"), degC, 0.1, Chart::Temperatures, false};
    t[MaxMosTemp] = {QStringLiteral("Max MOS"), degC, 0.1, Chart::Temperatures, false};
    for (int i = 0; i < kMaxCells; ++i)
        t[FirstCell + i] = {QStringLiteral("Cell %1").arg(i + 1), mV, 1.0, Chart::Cells, false};
    for (int i = 0; i < kMaxSensors; ++i) {
        t[FirstCellTemp + i] = {QStringLiteral("Cell T%1").arg(i + 1), degC, 0.1, Chart::Temperatures, false};
        t[FirstMosTemp + i] = {QStringLiteral("MOS T%1").arg(i + 1), degC, 0.1, Chart::Temperatures, false};
    }
    return t;
}

} // namespace

const SeriesInfo& Info(int series)
{
    static const std::vector<SeriesInfo> table = MakeTable();
    return table.at(size_t(series));
}

QString ColumnTitle(int series)
{
    const SeriesInfo& info = Info(series);
    return info.name + QStringLiteral(" (") + info.unit + QLatin1Char(')');
}

} // namespace bms::trends
