// An open workbook: one sheet, the journal that makes every change durable
// from the moment the workbook is opened, and the .xlsx it is saved to.
//
// Files go to WorkbookFolder(): $QUORLEX_BMS_WORKBOOK_DIR when set, else
// $XDG_DATA_HOME/quorlex-bms/workbooks, else
// ~/.local/share/quorlex-bms/workbooks. Each workbook is
// "<caption>_<yyyyMMdd-HHmmss>[_n].journal" and ".xlsx" beside it. Once the
// tool has ended the workbook and its .xlsx is written and synced, the journal
// has done its work and is removed; until then (a crash, a failed save) it
// stays, and `workbook-recover` turns it into an .xlsx.
#pragma once

#include "Journal.h"
#include "Sheet.h"

#include <QDateTime>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace bms {

class WorkbookDocument : public std::enable_shared_from_this<WorkbookDocument> {
public:
    // Told when a save of the workbook has been written or has failed, and
    // when the tool stops writing to it.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void workbookSaved(const QString& path) = 0;
        virtual void workbookSaveFailed(const QString& path, const QString& problem) = 0;
        virtual void workbookEnded() = 0;
    };

    // Creates the journal in `folder` (created when missing). Throws
    // EWorkbookError when that is impossible.
    WorkbookDocument(const QString& caption, const QString& folder, const QDateTime& opened);
    // A workbook at a path of the user's choice: the .xlsx is `xlsxPath`, the
    // journal JournalPathFor(xlsxPath). Throws EWorkbookError when either
    // file exists already (nothing is overwritten) or cannot be created.
    WorkbookDocument(const QString& caption, const QString& xlsxPath);
    ~WorkbookDocument();
    WorkbookDocument(const WorkbookDocument&) = delete;
    WorkbookDocument& operator=(const WorkbookDocument&) = delete;

    const QString& caption() const { return caption_; }
    const Sheet& sheet() const { return sheet_; }
    // The sheet for observers (the live view); change it through the
    // functions below, which journal every change.
    Sheet& sheetForObservers() { return sheet_; }

    void setCell(int row, int column, const CellValue& value);
    void setAllColumnWidths(double width);
    void setColumnWidth(int column, double width);
    void setNumberFormat(const QString& format);
    // A row (or half of one) is complete: flush the journal to disk. Returns
    // false when the journal can no longer be written.
    bool rowDone();

    using SaveDone = std::function<void(const QString& problem)>;

    // The tool stops writing: the journal is closed and the .xlsx written on
    // a worker thread (the document must be owned by a shared_ptr). `done`
    // runs on this thread when the file is written, with an empty text, or
    // with what went wrong. From now on the sheet does not change.
    void end(SaveDone done = {});
    bool ended() const { return ended_; }
    // True from a save request until its file is written or has failed.
    bool saving() const { return saving_; }

    // Write the .xlsx on a worker thread, to the workbook's own path or to
    // `path`, so that the window never waits for it. While the tool still
    // writes the workbook, a copy of the sheet taken now is saved. The saves
    // of one workbook run one after the other.
    void saveInBackground(SaveDone done = {});
    void saveAsInBackground(const QString& path, SaveDone done = {});
    // The same, waiting for the file (benchmarks). Throws EWorkbookError.
    void save();
    bool changedSinceSave() const { return changed_; }

    const QString& journalPath() const { return journalPath_; }
    const QString& xlsxPath() const { return xlsxPath_; }
    bool journalFailed() const { return !journal_ || journal_->failed(); }

    void addListener(Listener* listener);
    void removeListener(Listener* listener);

private:
    QString caption_;
    QString journalPath_;
    QString xlsxPath_;
    Sheet sheet_;
    std::unique_ptr<Journal> journal_;
    struct SaveRequest {
        QString path;
        bool ownPath;
        SaveDone done;
        std::shared_ptr<const Sheet> sheet; // what to write
        bool last = false; // the ended workbook to its own path: the journal goes once it is written
    };
    void checkOpen() const;
    void requestSave(SaveRequest request);
    void startSave(SaveRequest request);
    void removeJournal();

    bool ended_ = false;
    bool saving_ = false;
    bool changed_ = true;
    std::deque<SaveRequest> queued_;
    std::vector<Listener*> listeners_;
};

// The folder described above.
QString WorkbookFolder();
// The journal beside an .xlsx path: "log.xlsx" -> "log.journal"; a path
// without the .xlsx suffix gets ".journal" appended.
QString JournalPathFor(const QString& xlsxPath);
// Why a workbook cannot be created at `xlsxPath` (the .xlsx or its journal
// exists, or its folder is missing or not writable); empty when it can.
QString NewWorkbookPathProblem(const QString& xlsxPath);
// A file name made of the caption: characters a file name cannot hold become
// "_".
QString FileNameOfCaption(const QString& caption);

// Called with every workbook opened while its application is visible; the
// window sets it to open a live sheet window. Unset, workbooks have no window.
using WorkbookWindowFactory = std::function<void(const std::shared_ptr<WorkbookDocument>&)>;
void SetWorkbookWindowFactory(WorkbookWindowFactory factory);
const WorkbookWindowFactory& CurrentWorkbookWindowFactory();

} // namespace bms
