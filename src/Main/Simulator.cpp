#include "Simulator.h"

#include "App.h"
#include "CommRecord.h"
#include "RequestBuilder.h"
#include "Settings.h"

namespace bms {

const std::vector<ParamRow>& ParamRows()
{
    static const std::vector<ParamRow> rows = {
        {0, "btn_reset_param"},
        {1, "btn_set_cell_volt_param"},
        {2, "btn_set_cell_temp_param"},
        {3, "btn_set_current_param"},
        {4, "btn_set_cycle_param"},
        {5, "btn_set_max_charge_volt_param"},
        {6, "btn_set_min_discharge_volt_param"},
        {7, "btn_set_max_charge_current_param"},
        {8, "btn_set_max_discharge_current_param"},
        {9, "btn_set_lifetime_charge_energy_param"},
        {10, "btn_set_lifetime_discharge_energy_param"},
        {11, "btn_set_fullChargeTime"},
        {12, "btn_set_rsoc"},
    };
    return rows;
}

const std::vector<QString>& SimulatorControls()
{
    static const std::vector<QString> names = {
        QStringLiteral("grp_test_setting"),
        // "Cell Volt mV" with its cell selector
        QStringLiteral("lbl_cell_volt_param"), QStringLiteral("edt_cell_volt_param"),
        QStringLiteral("cbb_cell_volt_param"), QStringLiteral("btn_set_cell_volt_param"),
        // "Tempterure 'C" with its sensor selector
        QStringLiteral("lbl_cell_temp_param"), QStringLiteral("edt_cell_temp_param"),
        QStringLiteral("cbb_cell_temp_param"), QStringLiteral("btn_set_cell_temp_param"),
        // "Current Gain"
        QStringLiteral("lbl_current_param"), QStringLiteral("edt_current_param"),
        QStringLiteral("btn_set_current_param"),
        // "RSOC %"
        QStringLiteral("lbl_rsoc"), QStringLiteral("edt_rsoc"), QStringLiteral("btn_set_rsoc"),
        // "Cycle Life"
        QStringLiteral("lbl_cycle_param"), QStringLiteral("edt_cycle_param"),
        QStringLiteral("btn_set_cycle_param"),
        // "ACC DSG CAP Wh"
        QStringLiteral("lbl_lifetime_charge_energy_param"), QStringLiteral("edt_lifetime_charge_energy_param"),
        QStringLiteral("btn_set_lifetime_charge_energy_param"),
        // "ACC CHG CAP Wh"
        QStringLiteral("lbl_lifetime_discharge_energy_param"), QStringLiteral("edt_lifetime_discharge_energy_param"),
        QStringLiteral("btn_set_lifetime_discharge_energy_param"),
        // "FC INTERVAL S"
        QStringLiteral("lbl_fullChargeTime"), QStringLiteral("edt_fullChargeTime"),
        QStringLiteral("btn_set_fullChargeTime"),
        // "RECOVER"
        QStringLiteral("btn_reset_param"),
        // "Customer Code"
        QStringLiteral("lbl_customer_code"), QStringLiteral("Customer_code_edit"),
        QStringLiteral("Customer_code_read"), QStringLiteral("Customer_code_set"),
    };
    return names;
}

void btn_testClick()
{
    if (App.ui->text(QStringLiteral("edt_password")) != QLatin1String("dmkq804417"))
        return;
    for (const QString& name : SimulatorControls())
        App.ui->setVisible(name, true);
}

void SetParamClick(uint8_t type)
{
    RunSettingsCommand(cmd_set_param, [type] { ParamType = type; });
}

} // namespace bms
