// Drawing and sizing of the two live grids: every cell's text on a single
// line, centred both ways; row 0 is drawn like a fixed caption row.
#pragma once

#include <QStyledItemDelegate>

class QTableWidget;

namespace bms {

class GridCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Installs the delegate and sizes the grid to its cells (no scroll bars):
// rows of the grid's default row height, columns of `columnWidth` that grow
// (and never shrink) to fit the longest text they have shown. The first
// `contentColumns` columns hold texts; the grid may be narrower than its
// columns by the empty ones after them when the window is small.
void SetUpGrid(QTableWidget* grid, int columnWidth, int contentColumns);

} // namespace bms
