#include "LiveSheetWindow.h"

#include "App.h"
#include "LiveSheetModel.h"
#include "WorkbookError.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <vector>

namespace bms {

namespace {

std::vector<QPointer<LiveSheetWindow>>& OpenWindows()
{
    static std::vector<QPointer<LiveSheetWindow>> windows;
    return windows;
}

} // namespace

LiveSheetWindow::LiveSheetWindow(std::shared_ptr<WorkbookDocument> document, QWidget* parent)
    : QMainWindow(parent), document_(std::move(document)), model_(new LiveSheetModel(document_, this)),
      table_(new QTableView(this)), status_(new QLabel(this))
{
    setObjectName(QStringLiteral("liveSheetWindow"));
    setWindowTitle(document_->caption());
    table_->setObjectName(QStringLiteral("liveSheetTable"));
    table_->setModel(model_);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    // Fixed row heights keep a table of a day's rows cheap to lay out.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setCentralWidget(table_);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* saveAs = file->addAction(QStringLiteral("Save As..."));
    saveAs->setObjectName(QStringLiteral("actionSaveAs"));
    saveAs->setShortcut(QKeySequence::SaveAs);
    connect(saveAs, &QAction::triggered, this, &LiveSheetWindow::saveAsDialog);
    QAction* closeAction = file->addAction(QStringLiteral("Close"));
    connect(closeAction, &QAction::triggered, this, &QWidget::close);

    status_->setObjectName(QStringLiteral("liveSheetStatus"));
    statusBar()->addWidget(status_, 1);
    status_->setText(QStringLiteral("Journal: ") + document_->journalPath());

    connect(model_, &LiveSheetModel::layoutOfSheetChanged, this, &LiveSheetWindow::applyColumnWidths);
    connect(model_, &QAbstractItemModel::columnsInserted, this, &LiveSheetWindow::applyColumnWidths);
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = table_->verticalScrollBar();
        followLastRow_ = bar->value() >= bar->maximum();
    });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (followLastRow_)
            table_->scrollToBottom();
    });
    applyColumnWidths();
    document_->addListener(this);
    OpenWindows().emplace_back(this);
    resize(900, 500);
}

LiveSheetWindow::~LiveSheetWindow()
{
    document_->removeListener(this);
    auto& windows = OpenWindows();
    std::erase_if(windows, [this](const QPointer<LiveSheetWindow>& w) { return w.isNull() || w == this; });
}

void LiveSheetWindow::applyColumnWidths()
{
    // A column width counts characters of the digit width, as in a spreadsheet.
    const int digit = table_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const Sheet& sheet = document_->sheet();
    for (int c = 0; c < model_->columnCount(); ++c)
        table_->setColumnWidth(c, int(sheet.columnWidth(c + 1) * digit) + 5);
}

void LiveSheetWindow::saveTo(const QString& path)
{
    status_->setText(QStringLiteral("Saving: ") + path);
    QPointer<LiveSheetWindow> self(this);
    document_->saveAsInBackground(path, [self](const QString& problem) {
        // The status line has been told by the document.
        if (!self || problem.isEmpty())
            return;
        if (App.ui)
            App.ui->showError(problem);
        else
            QMessageBox::warning(self, self->windowTitle(), problem);
    });
}

void LiveSheetWindow::saveAsDialog()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), document_->xlsxPath(),
                                                QStringLiteral("Excel workbook (*.xlsx)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        path += QStringLiteral(".xlsx");
    saveTo(path);
}

void LiveSheetWindow::closeEvent(QCloseEvent* event)
{
    // The workbook's own .xlsx, written in the background; should that fail,
    // the journal still holds every row and the end of the log writes again.
    if (document_->changedSinceSave()) {
        const QString journal = document_->journalPath();
        document_->saveInBackground([journal](const QString& problem) {
            if (!problem.isEmpty())
                qWarning("%s; the rows are kept in %s", qPrintable(problem), qPrintable(journal));
        });
    }
    event->accept();
}

// The status line says "Saved" only once a file is written, and tells a
// failed write of the workbook's own file with the journal that still holds
// every row. A failed "Save As..." elsewhere (its reason shown in a message
// box) leaves the line telling the last save that happened.
void LiveSheetWindow::workbookSaved(const QString& path)
{
    lastSave_ = QStringLiteral("Saved: ") + path;
    status_->setText((document_->ended() ? QStringLiteral("Ended. ") : QString()) + lastSave_);
}

void LiveSheetWindow::workbookSaveFailed(const QString& path, const QString& problem)
{
    if (path != document_->xlsxPath() && !lastSave_.isEmpty()) {
        status_->setText((document_->ended() && lastSave_.startsWith(QStringLiteral("Saved"))
                              ? QStringLiteral("Ended. ")
                              : QString())
                         + lastSave_);
        return;
    }
    lastSave_ = QStringLiteral("Not saved: ") + problem + QStringLiteral("; the rows are in ") + document_->journalPath();
    status_->setText(lastSave_);
}

void LiveSheetWindow::workbookEnded()
{
    // The window stays as it is; only the status line tells that the tool
    // has stopped writing.
    if (document_->saving())
        status_->setText(QStringLiteral("Ended. Saving: ") + document_->xlsxPath());
    else if (document_->changedSinceSave())
        status_->setText(QStringLiteral("Ended; not saved, the rows are in ") + document_->journalPath());
    else
        status_->setText(QStringLiteral("Ended. Saved: ") + document_->xlsxPath());
}

void InstallLiveSheetWindows()
{
    SetWorkbookWindowFactory([](const std::shared_ptr<WorkbookDocument>& document) {
        auto* window = new LiveSheetWindow(document);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
    });
}

void CloseLiveSheetWindows()
{
    const std::vector<QPointer<LiveSheetWindow>> windows = OpenWindows();
    for (const QPointer<LiveSheetWindow>& w : windows) {
        if (!w)
            continue;
        const bool deletes = w->testAttribute(Qt::WA_DeleteOnClose);
        w->close();
        if (!deletes && w)
            delete w.data();
    }
}

} // namespace bms
