// The cells of the two live grids as data: the fixed captions, and for every
// value cell its text as the grid shows it, its value in engineering units
// (the cell's tooltip) and the register block, and register of it, that the
// value comes from.
#pragma once

#include "PackTable.h"

#include <QString>
#include <functional>

namespace bms {

inline const QString kMainGrid = QStringLiteral("strngrd1");
inline const QString kBsiGrid = QStringLiteral("strgrid_bsi");

struct GridValue {
    QString text; // as designed: "3312mV", "250'C", "123.4%"
    QString tip;  // engineering value and unit: "3.312 V", "25.0 °C", "123.4 %"
    int block;    // telemetry block 0..7
    int index;    // register of blocks 4..6 (a cell or sensor); 0 otherwise
};

using GridCellVisitor = std::function<void(const QString& grid, int col, int row, const QString& text)>;
using GridValueVisitor = std::function<void(const QString& grid, int col, int row, const GridValue& value)>;

// Every caption cell of both grids, row 0 included.
void ForEachGridCaption(const GridCellVisitor& visit);
// Every value cell of both grids, from PackTable entry `pack` and `bsi`;
// without `tips` the values come without their tooltips (a display that
// shows none need not make them at every answer).
void ForEachGridValue(const PackRecord& pack, const BsiRecordT& bsi, bool tips, const GridValueVisitor& visit);

} // namespace bms
