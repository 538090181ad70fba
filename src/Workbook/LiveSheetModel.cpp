#include "LiveSheetModel.h"

namespace bms {

QString ColumnLetters(int column)
{
    QString letters;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        letters.prepend(QChar(u'A' + digit));
        column = (column - 1) / 26;
    }
    return letters;
}

LiveSheetModel::LiveSheetModel(std::shared_ptr<WorkbookDocument> document, QObject* parent)
    : QAbstractTableModel(parent), document_(std::move(document))
{
    rows_ = document_->sheet().rowCount();
    columns_ = document_->sheet().columnCount();
    document_->sheetForObservers().addObserver(this);
}

LiveSheetModel::~LiveSheetModel() { document_->sheetForObservers().removeObserver(this); }

int LiveSheetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int LiveSheetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns_;
}

QVariant LiveSheetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const CellValue v = document_->sheet().cell(index.row() + 1, index.column() + 1);
    switch (role) {
    case Qt::DisplayRole:
        if (v.isText())
            return v.text;
        if (v.isNumber())
            return QString::number(v.number, 'g', 15);
        return {};
    case Qt::TextAlignmentRole:
        // Numbers to the right, texts to the left, as a spreadsheet shows them.
        return v.isNumber() ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                            : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant LiveSheetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    return orientation == Qt::Horizontal ? ColumnLetters(section + 1) : QString::number(section + 1);
}

void LiveSheetModel::sheetRowsAdded(int first, int last)
{
    // The counts the view sees change only between begin and end.
    beginInsertRows({}, first - 1, last - 1);
    rows_ = last;
    endInsertRows();
}

void LiveSheetModel::sheetColumnsAdded(int first, int last)
{
    beginInsertColumns({}, first - 1, last - 1);
    columns_ = last;
    endInsertColumns();
}

void LiveSheetModel::sheetCellChanged(int row, int column)
{
    const QModelIndex i = index(row - 1, column - 1);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole, Qt::TextAlignmentRole});
}

void LiveSheetModel::sheetLayoutChanged() { Q_EMIT layoutOfSheetChanged(); }

} // namespace bms
