// A worksheet held in memory: rows of cells numbered from 1, the width of
// every column and the number format of every cell. Rows live in a vector and
// a row's cells in two parallel arrays (value and kind), so appending a row
// costs the same whatever the number of rows before it, and a day of samples
// (about 170,000 rows of up to 67 columns) stays near 9 bytes a cell.
#pragma once

#include "CellValue.h"

#include <QString>
#include <cstdint>
#include <map>
#include <vector>

namespace bms {

// Told about every change, on the thread that makes it.
class SheetObserver {
public:
    virtual ~SheetObserver() = default;
    // Rows `first`..`last` (1-based) now exist; `columns` is the new count.
    virtual void sheetRowsAdded(int first, int last) = 0;
    virtual void sheetColumnsAdded(int first, int last) = 0;
    virtual void sheetCellChanged(int row, int column) = 0;
    // Widths or number format changed.
    virtual void sheetLayoutChanged() = 0;
};

class Sheet {
public:
    static constexpr double kDefaultWidth = 8.43;
    static constexpr int kMaxRows = 1048576;
    static constexpr int kMaxColumns = 16384;

    // Stores `value` at (row, column), both from 1. Throws std::out_of_range
    // outside the sheet.
    void setCell(int row, int column, const CellValue& value);
    CellValue cell(int row, int column) const;
    int rowCount() const { return int(rows_.size()); }
    int columnCount() const { return columns_; }
    // Cells of a row (up to its last written column).
    int rowLength(int row) const;
    // About how many bytes the rows and texts take.
    int64_t memoryBytes() const;

    // Width of every column, then single columns over it.
    void setAllColumnWidths(double width);
    void setColumnWidth(int column, double width);
    double columnWidth(int column) const;
    double allColumnsWidth() const { return allWidth_; }
    const std::map<int, double>& columnWidths() const { return widths_; }

    void setNumberFormat(const QString& format);
    const QString& numberFormat() const { return numberFormat_; }

    void addObserver(SheetObserver* observer);
    void removeObserver(SheetObserver* observer);
    // A copy that is saved while the original goes on changing tells nobody.
    void clearObservers() { observers_.clear(); }

private:
    struct Row {
        std::vector<double> values; // number, or index into texts_
        std::vector<CellValue::Kind> kinds;
    };

    std::vector<Row> rows_;
    std::vector<QString> texts_;
    int64_t cells_ = 0;     // held, the empty ones before a row's last cell included
    int64_t textChars_ = 0; // in texts_
    int columns_ = 0;
    double allWidth_ = kDefaultWidth;
    std::map<int, double> widths_;
    QString numberFormat_ = QStringLiteral("General");
    std::vector<SheetObserver*> observers_;
};

// "A1"-style reference to a column number (1 for "A1", 14 for "N1"); 0 when
// the text is not a single-cell reference.
int ColumnOfCellReference(const QString& reference);

} // namespace bms
