// The run-state and MOS texts of the "BMS Status" group, the raw status and
// fault words of the "State Description" group and the hidden parallel words.
#include "App.h"
#include "Indicators.h"
#include "PackTable.h"
#include "TextFormat.h"

#include <QString>

namespace bms {

namespace {

struct RawWord {
    const char* label;
    const char* caption;
    bool fault; // fault_status, otherwise bms_status
    int index;
};

constexpr RawWord kRawWords[] = {
    {"lbl10", "bms status 0:", false, 0},
    {"lbl11", "bms status 1:", false, 1},
    {"lbl12", "bms status 2:", false, 2},
    {"lbl16", "bms status 3:", false, 3},
    {"lbl_secProtect", "fault status 0:", true, 0},
    {"lbl_fault", "fault status 1:", true, 1},
    {"lbl_rebootTime", "fault status 2:", true, 2},
    {"lbl_currentRev", "fault status 3:", true, 3},
};

} // namespace

void ShowStateTexts()
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    const PackRecord& pack = PackTable[0];
    const uint16_t state = pack.bms_status[0];

    QString run = QStringLiteral("Standby");
    if (state & 0x0020)
        run = QStringLiteral("Charging...");
    else if (state & 0x0010)
        run = QStringLiteral("Discharging...");
    ui.setText(QStringLiteral("lbl30"), run);
    ui.setText(QStringLiteral("lbl34"), (state & 0x0002) ? QStringLiteral("Discharge MOS:on") : QStringLiteral("Discharge MOS:off"));
    ui.setText(QStringLiteral("lbl33"), (state & 0x0001) ? QStringLiteral("Charge MOS:on") : QStringLiteral("Charge MOS:off"));

    for (const RawWord& w : kRawWords) {
        const uint16_t value = w.fault ? pack.fault_status[static_cast<size_t>(w.index)]
                                       : pack.bms_status[static_cast<size_t>(w.index)];
        ui.setText(QString::fromLatin1(w.label), QString::fromLatin1(w.caption) + HexText(value, 4));
    }

    ui.setText(QStringLiteral("lbl_pre_parallel_bit"), QStringLiteral("PRE:") + HexText(ParallelPreWord, 4));
    ui.setText(QStringLiteral("lbl_parallel_bit"), QStringLiteral("PAR:") + HexText(ParallelWord, 4));
}

void ShowStartStateTexts()
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    ui.setText(QStringLiteral("lbl30"), QStringLiteral("Standby"));
    ui.setText(QStringLiteral("lbl33"), QStringLiteral("Charge MOS:off"));
    ui.setText(QStringLiteral("lbl34"), QStringLiteral("Discharge MOS:off"));
    for (const RawWord& w : kRawWords)
        ui.setText(QString::fromLatin1(w.label), QString::fromLatin1(w.caption));
}

} // namespace bms
