// Turns the elements of a worksheet's XML into rows of cells. Both worksheet
// readers feed it the same events (start and end of every element by its
// local name, so any namespace prefix reads alike, and the text inside the
// elements it collects), so they give the same rows from the same XML.
//
// It reads <sheetData>: <row> elements with an optional `r` (their number;
// without it, the row after the previous one), <c> cells with optional `r`
// and `t`, their <v> values and <is> inline texts. Whatever else the sheet
// data holds (formulas, extension lists, run properties, phonetic runs) is
// passed over. It holds one row at a time, and at most the cells the caller
// wants.
#pragma once

#include "SheetCells.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bms::trends {

// Called for every row that has cells: its number (from 1) and its cells
// from column A, empty where the row has none.
using RowVisitor = std::function<void(int row, const std::vector<CellValue>& cells)>;

// XML that nests elements deeper than this is refused (SheetTooLarge).
constexpr int kMaxXmlDepth = 256;

class SheetRows {
public:
    // `columns`: how many columns from A the visitor wants; cells beyond are
    // read (and checked) but not handed over.
    SheetRows(const SharedStrings& shared, const RowVisitor& visit, int columns = kMaxSheetColumns);

    // Attribute values as they stand in the XML (the readers resolve nothing
    // in them); empty when missing.
    void start(std::string_view name, std::string_view r, std::string_view t);
    void end(std::string_view name);
    // Text inside the element being collected, entities resolved, UTF-8.
    void text(std::string_view utf8);

    // Whether text matters now (the readers skip decoding it otherwise).
    bool collecting() const { return collect_ != nullptr; }
    bool inSheetData() const { return where_ != Where::Before && where_ != Where::Done; }
    bool done() const { return where_ == Where::Done; }
    // Cells skipped because they break the format.
    int64_t unreadableCells() const { return unreadable_; }

private:
    enum class Where { Before, Data, Row, Cell, Done };
    void beginRow(std::string_view r);
    void endRow();
    void beginCell(std::string_view r, std::string_view t);
    void endCell();

    const SharedStrings& shared_;
    const RowVisitor& visit_;
    const int columns_;
    Where where_ = Where::Before;
    int depth_ = 0;
    int skip_ = 0; // depth inside an element that is passed over
    bool inInline_ = false;
    std::vector<uint64_t> names_; // hashes of the open elements' names, [0, depth_)
    std::string* collect_ = nullptr;
    int row_ = 0;
    bool rowOk_ = true;
    int column_ = 0;
    bool cellOk_ = true;
    CellParts parts_;
    std::vector<CellValue> cells_;
    int64_t unreadable_ = 0;
};

} // namespace bms::trends
