// The live sheet window: a workbook's sheet in a table, titled with the
// workbook's caption, filling as the rows arrive (it follows the last row
// while the operator has scrolled to the bottom). It stays open after the
// tool has ended the workbook, offers "Save As..." to an .xlsx, and writes the
// workbook's own .xlsx when it is closed with changes not yet saved. Files
// are written on a worker thread, so the window never waits for them.
#pragma once

#include "WorkbookDocument.h"

#include <QMainWindow>
#include <memory>

class QLabel;
class QTableView;

namespace bms {

class LiveSheetModel;

class LiveSheetWindow : public QMainWindow, private WorkbookDocument::Listener {
    Q_OBJECT
public:
    explicit LiveSheetWindow(std::shared_ptr<WorkbookDocument> document, QWidget* parent = nullptr);
    ~LiveSheetWindow() override;

    QTableView* table() const { return table_; }
    const std::shared_ptr<WorkbookDocument>& document() const { return document_; }
    // Writes the sheet to `path` in the background (the "Save As..." action
    // without its dialog); a failure is shown in a message box (through the
    // window interface when there is one).
    void saveTo(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void workbookSaved(const QString& path) override;
    void workbookSaveFailed(const QString& path, const QString& problem) override;
    void workbookEnded() override;
    void applyColumnWidths();
    void saveAsDialog();

    std::shared_ptr<WorkbookDocument> document_;
    LiveSheetModel* model_;
    QTableView* table_;
    QLabel* status_;
    QString lastSave_; // "Saved: <path>" or "Not saved: ..." of the last save that ended
    bool followLastRow_ = true;
};

// Makes every workbook the tool opens appear in its own LiveSheetWindow (sets
// the workbook window factory). Call once from the main window.
void InstallLiveSheetWindows();
// Closes every open live sheet window (each saves its changes); the main
// window calls it on exit after ending an open workbook.
void CloseLiveSheetWindows();

} // namespace bms
