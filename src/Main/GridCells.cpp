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
    // A value its block has not refreshed lately carries its own (grey) colour.
    const QVariant foreground = index.data(Qt::ForegroundRole);
    const QColor textColour = fixedRow                                ? pal.buttonText().color()
                              : foreground.canConvert<QBrush>()       ? foreground.value<QBrush>().color()
                                                                      : pal.text().color();
    painter->setPen(textColour);
    painter->setFont(option.font);
    painter->setClipRect(option.rect);
    painter->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    painter->restore();
}

namespace {

// Room on both sides of a cell's text, and the room the grid keeps beside
// its value columns so that a grown column does not need a wider grid.
constexpr int kCellPadding = 6;
constexpr int kGrowthRoom = 60;

// Widens the columns of the changed cells to their texts; never narrows.
void FitColumns(QTableWidget* grid, const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    const QFontMetrics metrics(grid->font());
    for (int col = topLeft.column(); col <= bottomRight.column(); ++col) {
        int needed = grid->columnWidth(col);
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
            const QString text = grid->model()->index(row, col).data(Qt::DisplayRole).toString();
            needed = qMax(needed, metrics.horizontalAdvance(text) + 2 * kCellPadding);
        }
        if (needed > grid->columnWidth(col))
            grid->setColumnWidth(col, needed);
    }
}

} // namespace

void SetUpGrid(QTableWidget* grid, int columnWidth, int contentColumns)
{
    if (!grid)
        return;
    grid->setItemDelegate(new GridCellDelegate(grid));
    grid->horizontalHeader()->setDefaultSectionSize(columnWidth);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->setAutoScroll(false);
    const int rowHeight = grid->verticalHeader()->defaultSectionSize();
    const int frame = 2 * grid->frameWidth();
    // Always as high as its rows. As wide as all its columns where there is
    // room; where there is not, the empty columns at the right are what is
    // cut, never a column with content.
    grid->setFixedHeight(grid->rowCount() * rowHeight + frame);
    grid->setMinimumWidth(qMin(contentColumns * columnWidth + kGrowthRoom, grid->columnCount() * columnWidth) + frame);
    grid->setMaximumWidth(grid->columnCount() * columnWidth + frame);
    grid->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QObject::connect(grid->model(), &QAbstractItemModel::dataChanged, grid,
                     [grid](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                         FitColumns(grid, topLeft, bottomRight);
                     });
}

} // namespace bms
