#include "CommandTable.h"

#include "CommRecord.h"

namespace bms {

const ReadBlockEntry kReadBlocks[kReadBlockCount] = {
    {0x000A, 30, BlockCount::Fixed},
    {0x0080, 4, BlockCount::Fixed},
    {0x0100, 4, BlockCount::Fixed},
    {0x0200, 6, BlockCount::Fixed},
    {0x0400, 0, BlockCount::TempA},
    {0x0480, 0, BlockCount::TempB},
    {0x0500, 0, BlockCount::Cells},
    {0x2000, 40, BlockCount::Fixed},
};

static const ValueCommand kValueCommands[] = {
    {16, "edtv1", "Please enter voltage value!", 1001, 4999, "Input voltage data error!",
     0x10, 0x0500, 2, false, true, nullptr},
    {17, "edtc", "Please enter the current value!", 1, 499999, "Input current data error!",
     0x10, 0x0015, 4, false, true, &ZeroCurrentCal},
    {20, "edt4", "Please enter the capacity value!", 1001, 499999,
     "Input capacity data error!(input range: 1000~500000)", 0x14, 0, 4, false, false, nullptr},
    {57, "edt_rcap", "Please enter the remain capacity value!", 0, 500000,
     "Input remain capacity data error!(input range: 0-500000", 0x10, 0x0019, 4, false, false, nullptr},
    {82, "edt_interval", "Please enter the interval time(unit: s)!", 5, 86400,
     "Input data error! (input range 5-86400s)", 0x52, 0, 4, false, false, nullptr},
    // The protocol type travels in the low byte of its register.
    {88, "cbb_protocol_type", "Please choose the value!", 0, 255, nullptr,
     0x10, 0x9D1E, 2, true, true, nullptr},
    {219, "Edit3", nullptr, 0, 65535, nullptr, 0x10, 0x9D27, 2, false, false, nullptr},
};

const ValueCommand* FindValueCommand(uint8_t command)
{
    for (const ValueCommand& entry : kValueCommands)
        if (entry.command == command)
            return &entry;
    return nullptr;
}

const ParamSource kParamSources[kParamTypeCount] = {
    {ParamValue::Zero, nullptr, nullptr, 8, false},
    {ParamValue::Box, "edt_cell_volt_param", "cbb_cell_volt_param", 2, false},
    // The temperature box takes a minus sign: its field is signed.
    {ParamValue::Box, "edt_cell_temp_param", "cbb_cell_temp_param", 2, true},
    {ParamValue::Box, "edt_current_param", nullptr, 2, false},
    {ParamValue::Box, "edt_cycle_param", nullptr, 2, false},
    {ParamValue::Box, "edt_max_charge_volt_param", nullptr, 4, false},
    {ParamValue::Box, "edt_min_discharge_volt_param", nullptr, 4, false},
    {ParamValue::Box, "edt_max_charge_current_param", nullptr, 4, false},
    {ParamValue::Box, "edt_max_discharge_current_param", nullptr, 4, false},
    {ParamValue::Box, "edt_lifetime_charge_energy_param", nullptr, 4, false},
    {ParamValue::Box, "edt_lifetime_discharge_energy_param", nullptr, 4, false},
    {ParamValue::Box, "edt_fullChargeTime", nullptr, 4, false},
    {ParamValue::Missing, nullptr, nullptr, 4, false},
};

ValueRange ParamRange(const ParamSource& source)
{
    const int bits = 8 * (source.width > 4 ? 4 : source.width);
    if (source.isSigned)
        return {-(int64_t{1} << (bits - 1)), (int64_t{1} << (bits - 1)) - 1};
    return {0, (int64_t{1} << bits) - 1};
}

} // namespace bms
