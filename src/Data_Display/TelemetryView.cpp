// The live grids and the labels refreshed after every telemetry response,
// always from the stored values of PackTable entry 0 and BsiRecord.
#include "App.h"
#include "Clocks.h"
#include "Grids.h"
#include "Indicators.h"
#include "PackTable.h"
#include "TextFormat.h"

#include <QString>

namespace bms {

namespace {

const QString kMainGrid = QStringLiteral("strngrd1");
const QString kBsiGrid = QStringLiteral("strgrid_bsi");

// Column 6 captions and column 7 values of the main grid.
struct PackCell {
    int row;
    const char* caption;
    QString (*value)(const PackRecord&);
};

const PackCell kPackColumn[] = {
    {1, "Total Volt:", [](const PackRecord& p) { return QString::number(uint32_t{p.total_volt} * 10) + QStringLiteral("mV"); }},
    {2, "Current:", [](const PackRecord& p) { return QString::number(p.current) + QStringLiteral("mA"); }},
    {3, "FCC Cap:", [](const PackRecord& p) { return QString::number(p.fcc_cap) + QStringLiteral("mAH"); }},
    {4, "FDC Cap:", [](const PackRecord& p) { return QString::number(p.fdc_cap) + QStringLiteral("mAH"); }},
    {5, "Remain Cap:", [](const PackRecord& p) { return QString::number(p.remain_cap) + QStringLiteral("mAH"); }},
    {6, "RSOC:", [](const PackRecord& p) { return PercentTenths(p.rsoc); }},
    {7, "Cycles:", [](const PackRecord& p) { return QString::number(p.cycles); }},
    {8, "SOH:", [](const PackRecord& p) { return QString::number(p.soh) + QLatin1Char('%'); }},
};

// Caption columns 4 of the main grid: three cell temperatures, four MOS
// temperatures, then the cell count.
const char* const kTemperatureCaptions[] = {
    "Tem 1:", "Tem 2:", "Tem 3:", "Tem 4:", "Tem 5:", "Tem 6:", "Tem 7:", "  Cell String:",
};

// The parallel-system grid: caption in column col, value in column col + 1.
struct BsiCell {
    int col;
    int row;
    const char* caption;
    QString (*value)(const BsiRecordT&);
};

QString Hex2(uint8_t v) { return QStringLiteral("0x") + HexText(v, 2); }
QString Hex4(uint16_t v) { return QStringLiteral("0x") + HexText(v, 4); }

const BsiCell kBsiCells[] = {
    {0, 1, "sys state 0:", [](const BsiRecordT& b) { return Hex2(b.sys_state[0]); }},
    {0, 2, "sys state 1:", [](const BsiRecordT& b) { return Hex2(b.sys_state[1]); }},
    {0, 3, "error state 0:", [](const BsiRecordT& b) { return Hex2(b.error_state[0]); }},
    {0, 4, "error state 1:", [](const BsiRecordT& b) { return Hex2(b.error_state[1]); }},
    {0, 5, "error state 2:", [](const BsiRecordT& b) { return Hex2(b.error_state[2]); }},
    {0, 6, "error state 3:", [](const BsiRecordT& b) { return Hex2(b.error_state[3]); }},
    {0, 7, "online tag:", [](const BsiRecordT& b) { return Hex4(b.online_tag); }},
    {0, 8, "pre sp tag:", [](const BsiRecordT& b) { return Hex4(b.pre_sp_tag); }},
    {2, 1, "diff volt normal:", [](const BsiRecordT& b) { return Hex4(b.diff_volt_normal); }},
    {2, 2, "done sp tag:", [](const BsiRecordT& b) { return Hex4(b.done_sp_tag); }},
    {2, 3, "cp bat num:", [](const BsiRecordT& b) { return QString::number(b.cp_bat_num); }},
    {2, 4, "cascad bat num:", [](const BsiRecordT& b) { return QString::number(b.cascad_bat_num); }},
    {2, 5, "cp bat num set:", [](const BsiRecordT& b) { return QString::number(b.cp_bat_num_set); }},
    {2, 6, "cascad bat num set:", [](const BsiRecordT& b) { return QString::number(b.cascad_bat_num_set); }},
    {2, 7, "sys work state:", [](const BsiRecordT& b) { return Hex2(b.sys_work_state); }},
    {2, 8, "bat online num:", [](const BsiRecordT& b) { return QString::number(b.bat_online_num); }},
    {4, 1, "heater request open:", [](const BsiRecordT& b) { return Hex4(b.heater_request_open); }},
    {4, 2, "heater abnormal:", [](const BsiRecordT& b) { return QStringLiteral("0x") + HexText(b.heater_abnormal, 8); }},
    {4, 3, "dmos on max volt:", [](const BsiRecordT& b) { return QString::number(uint32_t{b.dmos_on_max_volt} * 10) + QStringLiteral("mV"); }},
    {4, 4, "status0:", [](const BsiRecordT& b) { return Hex4(b.status0); }},
    {4, 5, "uid num:", [](const BsiRecordT& b) { return QString::number(b.uid_num); }},
    {4, 6, "chg mos ctrl:", [](const BsiRecordT& b) { return Hex4(b.chg_mos_ctrl); }},
    {4, 7, "dsg mos ctrl:", [](const BsiRecordT& b) { return Hex4(b.dsg_mos_ctrl); }},
    {4, 8, "heat mos ctrl:", [](const BsiRecordT& b) { return Hex4(b.heat_mos_ctrl); }},
};

QString CellVolt(uint16_t mv) { return QString::number(mv) + QStringLiteral("mV"); }
QString Temperature(int16_t tenths) { return QString::number(tenths) + QStringLiteral("'C"); }

void HeaderRow(UiHost& ui, const QString& grid, int columns)
{
    for (int col = 0; col < columns; ++col)
        ui.setCell(grid, col, 0, (col % 2 == 0) ? QStringLiteral("Item:") : QStringLiteral("values:"));
}

void ShowMainGrid(UiHost& ui, const PackRecord& p)
{
    for (int row = 1; row <= 8; ++row) {
        ui.setCell(kMainGrid, 1, row, CellVolt(p.cell_volt[static_cast<size_t>(row - 1)]));
        ui.setCell(kMainGrid, 3, row, CellVolt(p.cell_volt[static_cast<size_t>(row + 7)]));
    }
    for (int row = 1; row <= 3; ++row)
        ui.setCell(kMainGrid, 5, row, Temperature(p.temp_a[static_cast<size_t>(row - 1)]));
    for (int row = 4; row <= 7; ++row)
        ui.setCell(kMainGrid, 5, row, Temperature(p.temp_b[static_cast<size_t>(row - 4)]));
    ui.setCell(kMainGrid, 5, 8, QString::number(p.cell_count));
    for (const PackCell& c : kPackColumn)
        ui.setCell(kMainGrid, 7, c.row, c.value(p));
}

void ShowLabels(UiHost& ui, const PackRecord& p)
{
    ui.setText(QStringLiteral("lblc"), QStringLiteral("Current:") + QString::number(p.current));
    ui.setText(QStringLiteral("lblv1"), QStringLiteral(" Cell 1 Voltage:%1 mV").arg(p.cell_volt[0]));
    ui.setText(QStringLiteral("lblv2"), QStringLiteral(" Cell 2 Voltage:%1 mV").arg(p.cell_volt[1]));
    ui.setText(QStringLiteral("edt3"), FirmwareText(p.hw_version, p.sw_version));
    ui.setText(QStringLiteral("Edit1"), QStringLiteral("V:%1.%2").arg(p.version_major).arg(p.version_minor));
    ui.setText(QStringLiteral("lbl_protocol_type"), QStringLiteral("Protocol Type: ") + QString::number(ProtocolType));
    ui.setText(QStringLiteral("lbl_curtime"), SystemTimeTextNow());
}

} // namespace

void SetupGridLabels()
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    HeaderRow(ui, kMainGrid, 8);
    for (int row = 1; row <= 8; ++row) {
        ui.setCell(kMainGrid, 0, row, QStringLiteral("Cell%1 Volt:").arg(row));
        ui.setCell(kMainGrid, 2, row, QStringLiteral("Cell%1 Volt:").arg(row + 8));
        ui.setCell(kMainGrid, 4, row, QString::fromLatin1(kTemperatureCaptions[row - 1]));
    }
    for (const PackCell& c : kPackColumn)
        ui.setCell(kMainGrid, 6, c.row, QString::fromLatin1(c.caption));

    HeaderRow(ui, kBsiGrid, kBsiGridColumns);
    for (const BsiCell& c : kBsiCells)
        ui.setCell(kBsiGrid, c.col, c.row, QString::fromLatin1(c.caption));
}

void ShowNoPack()
{
    ResetPackTable();
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    for (int row = 1; row <= 8; ++row) {
        for (int col : {1, 3, 5, 7})
            ui.setCell(kMainGrid, col, row, QString());
    }
    for (const BsiCell& c : kBsiCells)
        ui.setCell(kBsiGrid, c.col + 1, c.row, QString());
    const std::pair<const char*, const char*> labels[] = {
        {"lblc", "Current:"}, {"lblv1", " Cell 1 Voltage:"}, {"lblv2", " Cell 2 Voltage:"},
        {"edt3", ""},         {"Edit1", ""},                 {"lbl_protocol_type", "Protocol Type: "},
    };
    for (const auto& [name, text] : labels)
        ui.setText(QString::fromLatin1(name), QString::fromLatin1(text));
    ShowNoDeviceInfo();
    ShowStartStateTexts();
    ShowAlarmBits();
    ShowProtectionBits();
}

void ShowTelemetry()
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    const PackRecord& p = PackTable[0];
    ShowMainGrid(ui, p);
    for (const BsiCell& c : kBsiCells)
        ui.setCell(kBsiGrid, c.col + 1, c.row, c.value(BsiRecord));
    ShowLabels(ui, p);
    ShowStateTexts();
}

} // namespace bms
