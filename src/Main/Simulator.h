// The "Software Simulator Test" tab: the password unlock and the parameter
// rows whose "set" buttons write one device parameter (command 28).
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace bms {

// One parameter row: the ParamType it writes and the "set" button.
struct ParamRow {
    uint8_t type;
    const char* button;
};
// Rows 0..12, in ParamType order.
const std::vector<ParamRow>& ParamRows();

// The controls that the unlock makes visible: the "Setting" group, the
// caption label, value box, selector and "set" button of each row shown,
// "RECOVER", and the customer-code label, box, "read" and "set".
const std::vector<QString>& SimulatorControls();

// "START TESTING": shows the simulator rows when edt_password holds the
// password; silent otherwise.
void btn_testClick();

// A row's "set" button: command 28 with ParamType = type.
void SetParamClick(uint8_t type);

} // namespace bms
