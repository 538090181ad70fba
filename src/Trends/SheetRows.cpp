#include "SheetRows.h"

#include <algorithm>

namespace bms::trends {

namespace {

// A cell's text longer than this many bytes of UTF-8 has more than 32,767
// characters (three bytes at most per UTF-16 unit).
constexpr size_t kMaxCellBytes = 3 * size_t(kMaxCellChars);

// A name as a number, to match end tags with start tags cheaply (FNV-1a).
uint64_t NameHash(std::string_view name)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (char c : name)
        h = (h ^ uint8_t(c)) * 0x100000001b3ull;
    return h;
}

} // namespace

SheetRows::SheetRows(const SharedStrings& shared, const RowVisitor& visit, int columns)
    : shared_(shared), visit_(visit), columns_(std::clamp(columns, 1, kMaxSheetColumns))
{
    names_.resize(16);
}

void SheetRows::start(std::string_view name, std::string_view r, std::string_view t)
{
    if (depth_ >= kMaxXmlDepth)
        throw SheetTooLarge("its XML nests elements more than 256 deep");
    if (size_t(depth_) == names_.size())
        names_.resize(names_.size() * 2);
    names_[size_t(depth_++)] = NameHash(name);
    collect_ = nullptr;
    if (skip_ > 0) {
        ++skip_;
        return;
    }
    switch (where_) {
    case Where::Before:
        if (name == "sheetData")
            where_ = Where::Data;
        return;
    case Where::Data:
        if (name == "row") {
            beginRow(r);
            where_ = Where::Row;
            return;
        }
        break;
    case Where::Row:
        if (name == "c") {
            beginCell(r, t);
            where_ = Where::Cell;
            return;
        }
        break;
    case Where::Cell:
        if (!inInline_ && name == "v") {
            ++parts_.values;
            parts_.value.clear();
            collect_ = &parts_.value;
            return;
        }
        if (!inInline_ && name == "is") {
            ++parts_.inlines;
            inInline_ = true;
            return;
        }
        if (inInline_ && name == "t") {
            collect_ = &parts_.inlineText;
            return;
        }
        if (inInline_ && name == "r")
            return; // a run of rich text: its <t> is read
        break;
    case Where::Done:
        return;
    }
    skip_ = 1;
}

void SheetRows::end(std::string_view name)
{
    if (depth_ == 0 || names_[size_t(depth_ - 1)] != NameHash(name))
        throw UnsupportedSheetXml(); // not well-formed: the XML reader says why
    --depth_;
    if (skip_ > 0) {
        --skip_;
        return;
    }
    collect_ = nullptr;
    switch (where_) {
    case Where::Data:
        if (name == "sheetData")
            where_ = Where::Done;
        return;
    case Where::Row:
        endRow();
        where_ = Where::Data;
        return;
    case Where::Cell:
        if (name == "is")
            inInline_ = false;
        else if (name == "c") {
            endCell();
            where_ = Where::Row;
        }
        return;
    case Where::Before:
    case Where::Done:
        return;
    }
}

void SheetRows::text(std::string_view utf8)
{
    if (!collect_)
        return;
    if (collect_->size() + utf8.size() > kMaxCellBytes)
        throw SheetTooLarge("a cell holds more than 32,767 characters");
    collect_->append(utf8);
}

void SheetRows::beginRow(std::string_view r)
{
    int number = 0;
    if (r.empty())
        number = row_ < kMaxSheetRows ? row_ + 1 : 0;
    else
        number = RowNumber(r);
    rowOk_ = number > 0;
    if (rowOk_)
        row_ = number;
    column_ = 0;
    cells_.clear();
}

void SheetRows::endRow()
{
    if (!cells_.empty())
        visit_(row_, cells_);
}

void SheetRows::beginCell(std::string_view r, std::string_view t)
{
    const int referenced = r.empty() ? 0 : ReferenceColumn(r);
    cellOk_ = rowOk_ && (r.empty() || referenced > 0);
    column_ = referenced > 0 ? referenced : std::min(column_ + 1, kMaxSheetColumns + 1);
    cellOk_ = cellOk_ && column_ <= kMaxSheetColumns;
    parts_.clear(CellTypeOf(t));
    inInline_ = false;
}

void SheetRows::endCell()
{
    const std::optional<CellValue> cell = ResolveCell(parts_, shared_);
    if (!cell || (!cellOk_ && !cell->isEmpty())) {
        ++unreadable_;
        return;
    }
    if (!cellOk_ || column_ > columns_)
        return;
    if (cells_.size() < size_t(column_))
        cells_.resize(size_t(column_));
    cells_[size_t(column_ - 1)] = std::move(*cell);
}

} // namespace bms::trends
