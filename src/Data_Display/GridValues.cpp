#include "GridValues.h"

#include "Grids.h"
#include "TextFormat.h"

#include <cstddef>

namespace bms {

namespace {

QString Unit(const QString& number, const char* unit) { return number + QLatin1Char(' ') + QString::fromUtf8(unit); }

// A tooltip is made only for a display that shows it.
template <class Make>
QString TipIf(bool tips, Make make)
{
    return tips ? make() : QString();
}

// Column 6 captions and column 7 values of the main grid (blocks 0 and 3).
struct PackCell {
    int row;
    const char* caption;
    int block;
    QString (*text)(const PackRecord&);
    QString (*tip)(const PackRecord&);
};

const PackCell kPackColumn[] = {
    {1, "Total Volt:", 0, [](const PackRecord& p) { return QString::number(uint32_t{p.total_volt} * 10) + QStringLiteral("mV"); },
     [](const PackRecord& p) { return Unit(FixedPoint(p.total_volt, 2), "V"); }},
    {2, "Current:", 0, [](const PackRecord& p) { return QString::number(p.current) + QStringLiteral("mA"); },
     [](const PackRecord& p) { return Unit(FixedPoint(p.current, 3), "A"); }},
    {3, "FCC Cap:", 0, [](const PackRecord& p) { return QString::number(p.fcc_cap) + QStringLiteral("mAH"); },
     [](const PackRecord& p) { return Unit(FixedPoint(p.fcc_cap, 3), "Ah"); }},
    {4, "FDC Cap:", 0, [](const PackRecord& p) { return QString::number(p.fdc_cap) + QStringLiteral("mAH"); },
     [](const PackRecord& p) { return Unit(FixedPoint(p.fdc_cap, 3), "Ah"); }},
    {5, "Remain Cap:", 0, [](const PackRecord& p) { return QString::number(p.remain_cap) + QStringLiteral("mAH"); },
     [](const PackRecord& p) { return Unit(FixedPoint(p.remain_cap, 3), "Ah"); }},
    {6, "RSOC:", 0, [](const PackRecord& p) { return PercentTenths(p.rsoc); },
     [](const PackRecord& p) { return Unit(FixedPoint(p.rsoc, 1), "%"); }},
    {7, "Cycles:", 0, [](const PackRecord& p) { return QString::number(p.cycles); },
     [](const PackRecord& p) { return Unit(QString::number(p.cycles), "cycles"); }},
    {8, "SOH:", 3, [](const PackRecord& p) { return QString::number(p.soh) + QLatin1Char('%'); },
     [](const PackRecord& p) { return Unit(QString::number(p.soh), "%"); }},
};

// Caption column 4 of the main grid: three cell temperatures, four MOS
// temperatures, then the cell count.
const char* const kTemperatureCaptions[] = {
    "Tem 1:", "Tem 2:", "Tem 3:", "Tem 4:", "Tem 5:", "Tem 6:", "Tem 7:", "  Cell String:",
};

// How a value of the parallel-system grid is written: hexadecimal of a
// width (its tooltip the decimal value), decimal, or a voltage in 10 mV.
enum class BsiFormat { Hex2, Hex4, Hex8, Decimal, TenMillivolts };

// The parallel-system grid (block 7): caption in column col, value in
// column col + 1.
struct BsiCell {
    int col;
    int row;
    const char* caption;
    BsiFormat format;
    uint32_t (*value)(const BsiRecordT&);
};

using F = BsiFormat;
const BsiCell kBsiCells[] = {
    {0, 1, "sys state 0:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.sys_state[0]; }},
    {0, 2, "sys state 1:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.sys_state[1]; }},
    {0, 3, "error state 0:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.error_state[0]; }},
    {0, 4, "error state 1:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.error_state[1]; }},
    {0, 5, "error state 2:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.error_state[2]; }},
    {0, 6, "error state 3:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.error_state[3]; }},
    {0, 7, "online tag:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.online_tag; }},
    {0, 8, "pre sp tag:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.pre_sp_tag; }},
    {2, 1, "diff volt normal:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.diff_volt_normal; }},
    {2, 2, "done sp tag:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.done_sp_tag; }},
    {2, 3, "cp bat num:", F::Decimal, [](const BsiRecordT& b) -> uint32_t { return b.cp_bat_num; }},
    {2, 4, "cascad bat num:", F::Decimal, [](const BsiRecordT& b) -> uint32_t { return b.cascad_bat_num; }},
    {2, 5, "cp bat num set:", F::Decimal, [](const BsiRecordT& b) -> uint32_t { return b.cp_bat_num_set; }},
    {2, 6, "cascad bat num set:", F::Decimal, [](const BsiRecordT& b) -> uint32_t { return b.cascad_bat_num_set; }},
    {2, 7, "sys work state:", F::Hex2, [](const BsiRecordT& b) -> uint32_t { return b.sys_work_state; }},
    {2, 8, "bat online num:", F::Decimal, [](const BsiRecordT& b) -> uint32_t { return b.bat_online_num; }},
    {4, 1, "heater request open:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.heater_request_open; }},
    {4, 2, "heater abnormal:", F::Hex8, [](const BsiRecordT& b) -> uint32_t { return b.heater_abnormal; }},
    {4, 3, "dmos on max volt:", F::TenMillivolts, [](const BsiRecordT& b) -> uint32_t { return b.dmos_on_max_volt; }},
    {4, 4, "status0:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.status0; }},
    {4, 5, "uid num:", F::Decimal, [](const BsiRecordT& b) -> uint32_t { return b.uid_num; }},
    {4, 6, "chg mos ctrl:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.chg_mos_ctrl; }},
    {4, 7, "dsg mos ctrl:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.dsg_mos_ctrl; }},
    {4, 8, "heat mos ctrl:", F::Hex4, [](const BsiRecordT& b) -> uint32_t { return b.heat_mos_ctrl; }},
};

GridValue BsiValue(BsiFormat format, uint32_t v, bool tips)
{
    const auto decimal = [v] { return QString::number(v); };
    switch (format) {
    case F::Hex2: return {QStringLiteral("0x") + HexText(v, 2), TipIf(tips, decimal), 7, 0};
    case F::Hex4: return {QStringLiteral("0x") + HexText(v, 4), TipIf(tips, decimal), 7, 0};
    case F::Hex8: return {QStringLiteral("0x") + HexText(v, 8), TipIf(tips, decimal), 7, 0};
    case F::Decimal: {
        const QString text = decimal();
        return {text, tips ? text : QString(), 7, 0};
    }
    case F::TenMillivolts:
        return {QString::number(v * 10) + QStringLiteral("mV"), TipIf(tips, [v] { return Unit(FixedPoint(v, 2), "V"); }), 7, 0};
    }
    return {};
}

GridValue CellVolt(const PackRecord& p, int cell, bool tips)
{
    const uint16_t mv = p.cell_volt[static_cast<size_t>(cell)];
    return {QString::number(mv) + QStringLiteral("mV"), TipIf(tips, [mv] { return Unit(FixedPoint(mv, 3), "V"); }), 6, cell};
}

// Temperatures are kept in 0.1 degC and shown without scaling ("250'C").
GridValue Temperature(int16_t tenths, int block, int sensor, bool tips)
{
    return {QString::number(tenths) + QStringLiteral("'C"), TipIf(tips, [tenths] { return Unit(FixedPoint(tenths, 1), "°C"); }),
            block, sensor};
}

} // namespace

void ForEachGridCaption(const GridCellVisitor& visit)
{
    const auto header = [&](const QString& grid, int columns) {
        for (int col = 0; col < columns; ++col)
            visit(grid, col, 0, (col % 2 == 0) ? QStringLiteral("Item:") : QStringLiteral("values:"));
    };
    header(kMainGrid, 8);
    for (int row = 1; row <= 8; ++row) {
        visit(kMainGrid, 0, row, QStringLiteral("Cell%1 Volt:").arg(row));
        visit(kMainGrid, 2, row, QStringLiteral("Cell%1 Volt:").arg(row + 8));
        visit(kMainGrid, 4, row, QString::fromLatin1(kTemperatureCaptions[row - 1]));
    }
    for (const PackCell& c : kPackColumn)
        visit(kMainGrid, 6, c.row, QString::fromLatin1(c.caption));
    header(kBsiGrid, kBsiGridColumns);
    for (const BsiCell& c : kBsiCells)
        visit(kBsiGrid, c.col, c.row, QString::fromLatin1(c.caption));
}

void ForEachGridValue(const PackRecord& p, const BsiRecordT& bsi, bool tips, const GridValueVisitor& visit)
{
    // Cells 1..8 in column 1, 9..16 in column 3, whatever cell_count says.
    for (int row = 1; row <= 8; ++row) {
        visit(kMainGrid, 1, row, CellVolt(p, row - 1, tips));
        visit(kMainGrid, 3, row, CellVolt(p, row + 7, tips));
    }
    for (int row = 1; row <= 3; ++row)
        visit(kMainGrid, 5, row, Temperature(p.temp_a[static_cast<size_t>(row - 1)], 4, row - 1, tips));
    for (int row = 4; row <= 7; ++row)
        visit(kMainGrid, 5, row, Temperature(p.temp_b[static_cast<size_t>(row - 4)], 5, row - 4, tips));
    const QString cells = QString::number(p.cell_count);
    visit(kMainGrid, 5, 8, {cells, TipIf(tips, [&cells] { return Unit(cells, "cells"); }), 3, 0});
    for (const PackCell& c : kPackColumn)
        visit(kMainGrid, 7, c.row, {c.text(p), TipIf(tips, [&] { return c.tip(p); }), c.block, 0});
    for (const BsiCell& c : kBsiCells)
        visit(kBsiGrid, c.col + 1, c.row, BsiValue(c.format, c.value(bsi), tips));
}

} // namespace bms
