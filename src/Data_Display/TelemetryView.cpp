// The live grids and the labels refreshed after every telemetry response,
// always from the stored values of PackTable entry 0 and BsiRecord.
#include "App.h"
#include "BlockFreshness.h"
#include "Clocks.h"
#include "GridValues.h"
#include "Indicators.h"
#include "PackTable.h"
#include "TextFormat.h"

#include <QString>
#include <utility>

namespace bms {

namespace {

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
    ForEachGridCaption([&ui](const QString& grid, int col, int row, const QString& text) { ui.setCell(grid, col, row, text); });
}

void ShowNoPack()
{
    ResetPackTable();
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    ForEachGridValue(PackTable[0], BsiRecord, false, [&ui](const QString& grid, int col, int row, const GridValue&) {
        ui.setCell(grid, col, row, QString());
        ui.setCellState(grid, col, row, false, QString());
    });
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

namespace {

// The grid values: their texts (`texts`), and with `freshness` their grey
// and their tooltips.
void ShowGrid(UiHost& ui, bool texts, const BlockFreshness* freshness)
{
    const int rotation = freshness ? RotationLength() : 0;
    ForEachGridValue(PackTable[0], BsiRecord, freshness != nullptr, [&](const QString& grid, int col, int row, const GridValue& value) {
        if (texts)
            ui.setCell(grid, col, row, value.text);
        if (freshness)
            ui.setCellState(grid, col, row, !freshness->fresh(value.block, value.index, rotation), value.tip);
    });
}

} // namespace

void ShowTelemetry(const BlockFreshness* freshness)
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    ShowGrid(ui, true, freshness);
    ShowLabels(ui, PackTable[0]);
    ShowStateTexts();
}

void ShowGridStates(const BlockFreshness& freshness)
{
    if (App.ui)
        ShowGrid(*App.ui, false, &freshness);
}

} // namespace bms
