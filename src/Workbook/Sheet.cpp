#include "Sheet.h"

#include <algorithm>
#include <stdexcept>

namespace bms {

void Sheet::setCell(int row, int column, const CellValue& value)
{
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        throw std::out_of_range("cell outside the worksheet");
    const int oldRows = rowCount();
    if (row > oldRows) {
        // A new row is usually as long as the one before: reserving that
        // length keeps it from growing in steps to twice its size.
        const size_t likely = rows_.empty() ? 0 : rows_.back().kinds.size();
        rows_.resize(size_t(row));
        rows_.back().values.reserve(likely);
        rows_.back().kinds.reserve(likely);
    }
    Row& r = rows_[size_t(row - 1)];
    if (int(r.kinds.size()) < column) {
        cells_ += column - int64_t(r.kinds.size());
        r.values.resize(size_t(column), 0);
        r.kinds.resize(size_t(column), CellValue::Kind::Empty);
    }
    const size_t c = size_t(column - 1);
    switch (value.kind) {
    case CellValue::Kind::Text:
        textChars_ += value.text.size();
        if (r.kinds[c] == CellValue::Kind::Text) {
            QString& text = texts_[size_t(r.values[c])];
            textChars_ -= text.size();
            text = value.text;
        } else {
            r.values[c] = double(texts_.size());
            texts_.push_back(value.text);
        }
        break;
    case CellValue::Kind::Number:
    case CellValue::Kind::Boolean:
        r.values[c] = value.number;
        break;
    case CellValue::Kind::Empty:
        r.values[c] = 0;
        break;
    }
    // An overwritten text leaves its slot in texts_; only the calibration
    // sheet overwrites, a few cells at most.
    r.kinds[c] = value.kind;

    const int oldColumns = columns_;
    columns_ = std::max(columns_, column);
    for (SheetObserver* o : observers_) {
        if (columns_ > oldColumns)
            o->sheetColumnsAdded(oldColumns + 1, columns_);
        if (row > oldRows)
            o->sheetRowsAdded(oldRows + 1, row);
        else
            o->sheetCellChanged(row, column);
    }
}

CellValue Sheet::cell(int row, int column) const
{
    if (row < 1 || row > rowCount() || column < 1)
        return {};
    const Row& r = rows_[size_t(row - 1)];
    if (column > int(r.kinds.size()))
        return {};
    const size_t c = size_t(column - 1);
    switch (r.kinds[c]) {
    case CellValue::Kind::Text:
        return CellValue::Text(texts_[size_t(r.values[c])]);
    case CellValue::Kind::Number:
        return CellValue::Number(r.values[c]);
    case CellValue::Kind::Boolean:
        return CellValue::Boolean(r.values[c] != 0);
    case CellValue::Kind::Empty:
        break;
    }
    return {};
}

int Sheet::rowLength(int row) const
{
    if (row < 1 || row > rowCount())
        return 0;
    return int(rows_[size_t(row - 1)].kinds.size());
}

int64_t Sheet::memoryBytes() const
{
    // A text takes its QString, the block holding its characters (a header
    // of about 32 bytes) and two bytes a character.
    return int64_t(rows_.size() * sizeof(Row)) + cells_ * int64_t(sizeof(double) + sizeof(CellValue::Kind))
        + int64_t(texts_.size()) * int64_t(sizeof(QString) + 32) + textChars_ * 2;
}

void Sheet::setAllColumnWidths(double width)
{
    allWidth_ = width;
    widths_.clear();
    for (SheetObserver* o : observers_)
        o->sheetLayoutChanged();
}

void Sheet::setColumnWidth(int column, double width)
{
    if (column < 1 || column > kMaxColumns)
        throw std::out_of_range("column outside the worksheet");
    widths_[column] = width;
    for (SheetObserver* o : observers_)
        o->sheetLayoutChanged();
}

double Sheet::columnWidth(int column) const
{
    const auto it = widths_.find(column);
    return it == widths_.end() ? allWidth_ : it->second;
}

void Sheet::setNumberFormat(const QString& format)
{
    numberFormat_ = format;
    for (SheetObserver* o : observers_)
        o->sheetLayoutChanged();
}

void Sheet::addObserver(SheetObserver* observer) { observers_.push_back(observer); }

void Sheet::removeObserver(SheetObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

int ColumnOfCellReference(const QString& reference)
{
    int column = 0;
    int i = 0;
    const QString ref = reference.trimmed().toUpper();
    while (i < ref.size() && ref[i] >= QLatin1Char('A') && ref[i] <= QLatin1Char('Z')) {
        column = column * 26 + (ref[i].unicode() - 'A' + 1);
        if (column > Sheet::kMaxColumns)
            return 0;
        ++i;
    }
    if (i == 0 || i == ref.size())
        return 0;
    for (int j = i; j < ref.size(); ++j) {
        if (!ref[j].isDigit())
            return 0;
    }
    return column;
}

} // namespace bms
