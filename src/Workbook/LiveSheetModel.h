// A table model over a workbook's sheet that follows it as rows arrive: a new
// row is announced with beginInsertRows/endInsertRows (no reset, no work that
// grows with the rows before it), a changed cell with dataChanged. Headers
// are the spreadsheet's: A, B, C ... across, 1, 2, 3 ... down.
#pragma once

#include "Sheet.h"
#include "WorkbookDocument.h"

#include <QAbstractTableModel>
#include <memory>

namespace bms {

class LiveSheetModel : public QAbstractTableModel, private SheetObserver {
    Q_OBJECT
public:
    explicit LiveSheetModel(std::shared_ptr<WorkbookDocument> document, QObject* parent = nullptr);
    ~LiveSheetModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const std::shared_ptr<WorkbookDocument>& document() const { return document_; }

Q_SIGNALS:
    // Widths or number format of the sheet changed.
    void layoutOfSheetChanged();

private:
    void sheetRowsAdded(int first, int last) override;
    void sheetColumnsAdded(int first, int last) override;
    void sheetCellChanged(int row, int column) override;
    void sheetLayoutChanged() override;

    std::shared_ptr<WorkbookDocument> document_;
    int rows_ = 0;
    int columns_ = 0;
};

// Column letters of a column number from 1: 1 -> "A", 27 -> "AA".
QString ColumnLetters(int column);

} // namespace bms
