// Shape of the two live grids; the window sizes them from these.
#pragma once

namespace bms {

// "strngrd1": 10 columns, 9 rows, row 0 fixed; columns 8 and 9 stay empty.
constexpr int kMainGridColumns = 10;
constexpr int kMainGridRows = 9;
constexpr int kMainGridColumnWidth = 80;
// "strgrid_bsi": 8 columns, 9 rows, row 0 fixed, hidden at start.
constexpr int kBsiGridColumns = 8;
constexpr int kBsiGridRows = 9;
constexpr int kBsiGridColumnWidth = 100;

} // namespace bms
