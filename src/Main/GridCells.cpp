#include "GridCells.h"

#include <QHeaderView>
#include <QPainter>
#include <QTableWidget>

namespace bms {

void GridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool fixedRow = index.row() == 0;
    const QPalette& pal = option.palette;
    painter->save();
    painter->fillRect(option.rect, fixedRow ? pal.button() : pal.base());
    if (fixedRow) {
        // A raised caption cell: light top-left, dark bottom-right edge.
        const QRect r = option.rect.adjusted(0, 0, -1, -1);
        painter->setPen(pal.light().color());
        painter->drawLine(r.topLeft(), r.topRight());
        painter->drawLine(r.topLeft(), r.bottomLeft());
        painter->setPen(pal.mid().color());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
    }
    painter->setPen(fixedRow ? pal.buttonText().color() : pal.text().color());
    painter->setFont(option.font);
    painter->setClipRect(option.rect);
    painter->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    painter->restore();
}

void SetUpGrid(QTableWidget* grid, int columnWidth)
{
    if (!grid)
        return;
    grid->setItemDelegate(new GridCellDelegate(grid));
    grid->horizontalHeader()->setDefaultSectionSize(columnWidth);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    const int rowHeight = grid->verticalHeader()->defaultSectionSize();
    const int frame = 2 * grid->frameWidth();
    grid->setFixedSize(grid->columnCount() * columnWidth + frame, grid->rowCount() * rowHeight + frame);
}

} // namespace bms
