#include "Indicators.h"

#include "App.h"
#include "PackTable.h"

#include <QString>

namespace bms {

uint8_t ParallelProgress = 0;
uint16_t ParallelPreWord = 0;
uint16_t ParallelWord = 0;

namespace {

constexpr IndicatorInfo kAlarms[] = {
    {"alarm_cuv", "CLV_Alarm", "Cell low voltage alarm", 0, 0},
    {"alarm_cov", "COV_Alarm", "Cell over voltage alarm", 0, 1},
    {"alarm_puv", "PLV_Alarm", "PACK low voltage alarm", 0, 2},
    {"alarm_pov", "POV_Alarm", "PACK over voltage alarm", 0, 3},
    {"alarm_dhc", "DHC_Alarm", "Over current alarm during discharging", 0, 4},
    {"alarm_chc", "CHC_Alarm", "Over current alarm during charging", 0, 5},
    {"alarm_dht", "DHT_Alarm", "High temperature alarm during discharging", 0, 6},
    {"alarm_dlt", "DLT_Alarm", "Low temperature alarm during discharging", 0, 7},
    {"alarm_cht", "CHT_Alarm", "High temperature alarm during charging", 0, 8},
    {"alarm_clt", "CLT_Alarm", "Low temperature alarm during charging", 0, 9},
    {"alarm_fht", "FHT_Alarm", "MOS high temperature alarm", 0, 10},
};

constexpr IndicatorInfo kProtections[] = {
    {"prt_cuv", "CLV_Protect", "Cell low voltage protection", 1, 0},
    {"prt_cov", "COV_Protect", "Cell over voltage protection", 1, 1},
    {"prt_puv", "PLV_Protect", "PACK low voltage protection", 1, 2},
    {"prt_pov", "POV_Protect", "PACK over voltage protection", 1, 3},
    {"prt_dhc", "DHC_Protect", "Over current protection level 1 during discharging", 1, 4},
    {"prt_chc", "CHC_Protect", "Over current protection level 1 during charging", 1, 5},
    {"prt_dht", "DHT_Protect", "High temperature protection during discharging", 1, 6},
    {"prt_dlt", "DLT_Protect", "Low temperature protection during discharging", 1, 7},
    {"prt_cht", "CHT_Protect", "High temperature protection during charging", 1, 8},
    {"prt_clt", "CLT_Protect", "Low temperature protection during charging", 1, 9},
    {"prt_fht", "FHT_Protect", "MOS high temperature protection", 1, 10},
    {"prt_sc", "SC_Protect", "Short circuit protection", 2, 1},
    {"prt_doc", "DOC_Protect", "Over current protection level 2 during discharging", 2, 4},
    {"prt_coc", "COC_Protect", "Over current protection level 2 during charging", 2, 5},
    {"protect_heat", "HEAT_Protect", "", 2, 10},
    {"protect_mos", "MOC_Protect", "", 3, 0},
    {"protect_ntc", "NTC_Protect", "", 3, 2},
    {"protect_ads", "ADS_Protect", "", 3, 4},
    {"protect_afe", "AFE_Protect", "", 3, 7},
    {"can_offline", "CAN_off_line", "", 3, 10},
    {"protect_hardwear", "Hardware_Protect", "", 3, 12},
};

constexpr IndicatorInfo kIdleAlarms[] = {
    {"alarm_mos", "SPI_Alarm", "MOS failure alarm", -1, -1},
    {"alarm_lrsoc", "LRSOC_Alarm", "Low power alarm", -1, -1},
    {"alarm_ntc", "NTC_Alarm", "NTC failure alarm", -1, -1},
    {"alarm_afe", "AFE_Alarm", "Analog front end failure alarm", -1, -1},
    {"alarm_ads", "ADS_Alarm", "Current detection failure alarm", -1, -1},
};

constexpr ProgressShape kProgress[] = {
    {"shp_start_parallel", 0},
    {"shp_get_slave_data", 1},
    {"shp_pre_parallel", 2},
    {"shp_judge_parallel", 3},
    {"shp_set_parallel", 4},
};

void ColourSquares(std::span<const IndicatorInfo> table, uint32_t setColour)
{
    const auto& words = PackTable[0].fault_status;
    for (const IndicatorInfo& i : table) {
        const bool set = (words[static_cast<size_t>(i.word)] >> i.bit) & 1u;
        App.ui->setColour(QString::fromLatin1(i.square), set ? setColour : ColLime);
    }
}

} // namespace

std::span<const IndicatorInfo> AlarmIndicators() { return kAlarms; }
std::span<const IndicatorInfo> ProtectionIndicators() { return kProtections; }
std::span<const IndicatorInfo> IdleAlarmIndicators() { return kIdleAlarms; }
std::span<const ProgressShape> ParallelProgressShapes() { return kProgress; }

void ShowAlarmBits()
{
    if (App.ui)
        ColourSquares(kAlarms, ColYellow);
}

void ShowProtectionBits()
{
    if (App.ui)
        ColourSquares(kProtections, ColRed);
}

void ShowParallelProgress()
{
    if (!App.ui)
        return;
    for (const ProgressShape& p : kProgress) {
        const bool set = (ParallelProgress >> p.bit) & 1u;
        App.ui->setColour(QString::fromLatin1(p.shape), set ? ColLime : ColRed);
    }
}

} // namespace bms
