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

// Installs the delegate and fixes the grid's size to its cells (no scroll
// bars): columns of `columnWidth`, rows of the grid's default row height.
void SetUpGrid(QTableWidget* grid, int columnWidth);

} // namespace bms
