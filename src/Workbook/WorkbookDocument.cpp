#include "WorkbookDocument.h"

#include "BackgroundSave.h"
#include "DataFolders.h"
#include "FileSync.h"
#include "WorkbookError.h"
#include "XlsxFile.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace bms {

namespace {

WorkbookWindowFactory& Factory()
{
    static WorkbookWindowFactory factory;
    return factory;
}

} // namespace

QString WorkbookFolder()
{
    const QString overridden = qEnvironmentVariable("QUORLEX_BMS_WORKBOOK_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return DataFolder() + QStringLiteral("/workbooks");
}

QString FileNameOfCaption(const QString& caption)
{
    QString name;
    for (QChar c : caption) {
        const bool bad = c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20
            || QStringLiteral(":*?\"<>|").contains(c);
        name.append(bad ? QLatin1Char('_') : c);
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("workbook"));
    return name;
}

WorkbookDocument::WorkbookDocument(const QString& caption, const QString& folder, const QDateTime& opened)
    : caption_(caption)
{
    const bool folderExisted = QFileInfo(folder).isDir();
    if (!QDir().mkpath(folder))
        throw EWorkbookError(QStringLiteral("Cannot create the workbook folder %1").arg(folder));
    if (!folderExisted)
        (void)SyncFolderOf(QDir(folder).absolutePath()); // the new folder's name in its parent
    const QString base = QDir(folder).filePath(FileNameOfCaption(caption) + QLatin1Char('_')
                                               + opened.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    // Two workbooks opened within the same second get "_2", "_3", ...
    for (int n = 1; !journal_; ++n) {
        const QString stem = n == 1 ? base : base + QStringLiteral("_%1").arg(n);
        journalPath_ = stem + QStringLiteral(".journal");
        xlsxPath_ = stem + QStringLiteral(".xlsx");
        if (QFileInfo::exists(journalPath_) || QFileInfo::exists(xlsxPath_)) {
            if (n > 1000)
                throw EWorkbookError(QStringLiteral("Cannot create the workbook journal %1").arg(journalPath_));
            continue;
        }
        journal_ = Journal::Create(journalPath_);
    }
    journal_->caption(caption);
    journal_->sync();
}

WorkbookDocument::WorkbookDocument(const QString& caption, const QString& xlsxPath)
    : caption_(caption), journalPath_(JournalPathFor(xlsxPath)), xlsxPath_(xlsxPath)
{
    if (QFileInfo::exists(xlsxPath_))
        throw EWorkbookError(QStringLiteral("%1 exists already; it is not overwritten").arg(xlsxPath_));
    journal_ = Journal::Create(journalPath_);
    journal_->caption(caption);
    journal_->sync();
}

QString JournalPathFor(const QString& xlsxPath)
{
    if (xlsxPath.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return xlsxPath.chopped(5) + QStringLiteral(".journal");
    return xlsxPath + QStringLiteral(".journal");
}

QString NewWorkbookPathProblem(const QString& xlsxPath)
{
    const QFileInfo folder(QFileInfo(xlsxPath).absolutePath());
    if (!folder.isDir())
        return QStringLiteral("The folder %1 does not exist").arg(folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("The folder %1 is not writable").arg(folder.filePath());
    for (const QString& path : {xlsxPath, JournalPathFor(xlsxPath)}) {
        if (QFileInfo::exists(path))
            return QStringLiteral("%1 exists already; it is not overwritten").arg(path);
    }
    return {};
}

WorkbookDocument::~WorkbookDocument()
{
    if (journal_)
        journal_->close();
}

void WorkbookDocument::setCell(int row, int column, const CellValue& value)
{
    checkOpen();
    sheet_.setCell(row, column, value);
    changed_ = true;
    if (journal_)
        journal_->cell(row, column, value);
}

void WorkbookDocument::setAllColumnWidths(double width)
{
    checkOpen();
    sheet_.setAllColumnWidths(width);
    changed_ = true;
    if (journal_)
        journal_->allColumnWidths(width);
}

void WorkbookDocument::setColumnWidth(int column, double width)
{
    checkOpen();
    sheet_.setColumnWidth(column, width);
    changed_ = true;
    if (journal_)
        journal_->columnWidth(column, width);
}

void WorkbookDocument::setNumberFormat(const QString& format)
{
    checkOpen();
    sheet_.setNumberFormat(format);
    changed_ = true;
    if (journal_)
        journal_->numberFormat(format);
}

bool WorkbookDocument::rowDone() { return journal_ && journal_->sync(); }

void WorkbookDocument::checkOpen() const
{
    if (ended_)
        throw EWorkbookError(QStringLiteral("The workbook %1 has been ended").arg(caption_));
}

void WorkbookDocument::end(SaveDone done)
{
    if (ended_)
        return;
    ended_ = true;
    if (journal_)
        journal_->close();
    if (!changed_ && !saving_ && QFileInfo::exists(xlsxPath_)) {
        // Saved since the last change (the window was closed while logging).
        removeJournal();
        if (done)
            done(QString());
    } else {
        requestSave({xlsxPath_, true, std::move(done), {}});
    }
    // Copies: a listener may drop the last reference to the window.
    const std::vector<Listener*> listeners = listeners_;
    for (Listener* l : listeners)
        l->workbookEnded();
}

void WorkbookDocument::saveInBackground(SaveDone done) { requestSave({xlsxPath_, true, std::move(done), {}}); }

void WorkbookDocument::saveAsInBackground(const QString& path, SaveDone done)
{
    requestSave({path, false, std::move(done), {}});
}

void WorkbookDocument::requestSave(SaveRequest request)
{
    // An ended workbook no longer changes and is read in place; one still
    // being written is copied as it is now (a fraction of a second for a day
    // of rows).
    if (ended_) {
        request.sheet = std::shared_ptr<const Sheet>(shared_from_this(), &sheet_);
        request.last = request.ownPath;
    } else {
        auto copy = std::make_shared<Sheet>(sheet_);
        copy->clearObservers();
        request.sheet = std::move(copy);
    }
    if (request.ownPath)
        changed_ = false;
    if (saving_)
        queued_.push_back(std::move(request));
    else
        startSave(std::move(request));
}

void WorkbookDocument::startSave(SaveRequest request)
{
    saving_ = true;
    std::shared_ptr<const Sheet> sheet = std::move(request.sheet);
    std::weak_ptr<WorkbookDocument> self = weak_from_this();
    const Sheet& toWrite = *sheet;
    const QString journal = request.last ? journalPath_ : QString();
    SaveInBackground(std::move(sheet), toWrite, request.path, [self, request](const QString& problem) {
        if (const std::shared_ptr<WorkbookDocument> document = self.lock()) {
            document->saving_ = false;
            if (!problem.isEmpty() && request.ownPath)
                document->changed_ = true;
            // Copies: a listener may drop the last reference to the window.
            const std::vector<Listener*> listeners = document->listeners_;
            for (Listener* l : listeners) {
                if (problem.isEmpty())
                    l->workbookSaved(request.path);
                else
                    l->workbookSaveFailed(request.path, problem);
            }
            if (!document->queued_.empty()) {
                SaveRequest next = std::move(document->queued_.front());
                document->queued_.pop_front();
                document->startSave(std::move(next));
            }
        }
        if (request.done)
            request.done(problem);
    }, journal);
}

void WorkbookDocument::save()
{
    while (saving_)
        FinishWorkbookSaves();
    WriteXlsx(sheet_, xlsxPath_);
    changed_ = false;
    if (ended_)
        removeJournal();
    const std::vector<Listener*> listeners = listeners_;
    for (Listener* l : listeners)
        l->workbookSaved(xlsxPath_);
}

void WorkbookDocument::removeJournal()
{
    if (journal_)
        journal_->close();
    (void)RemoveDurably(journalPath_);
}

void WorkbookDocument::addListener(Listener* listener) { listeners_.push_back(listener); }

void WorkbookDocument::removeListener(Listener* listener)
{
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void SetWorkbookWindowFactory(WorkbookWindowFactory factory) { Factory() = std::move(factory); }

const WorkbookWindowFactory& CurrentWorkbookWindowFactory() { return Factory(); }

} // namespace bms
