// The live sheet window: it opens with the workbook, fills as rows arrive,
// stays open after the log is ended, saves as .xlsx and on closing.
#include "BackgroundSave.h"
#include "FakeHost.h"
#include "LiveSheetModel.h"
#include "LiveSheetWindow.h"
#include "PackTable.h"
#include "TestEnv.h"
#include "Workbooks.h"
#include "XlsxDump.h"

#include <QApplication>
#include <QLabel>
#include <QTableView>

using namespace bms;
using namespace bms::test;

namespace {

[[maybe_unused]] auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment<QApplication>);

class LiveSheet : public WorkbookFolderFixture {
protected:
    void SetUp() override
    {
        WorkbookFolderFixture::SetUp();
        ResetPackTable();
        app_ = std::make_unique<TestApp>();
        app_->host.texts["cbb_pdType"] = "Q-Serial";
        InstallLiveSheetWindows();
    }
    void TearDown() override
    {
        EndOpenWorkbook();
        CloseLiveSheetWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        SetWorkbookWindowFactory({});
        app_.reset();
        WorkbookFolderFixture::TearDown();
    }
    static QList<LiveSheetWindow*> Windows()
    {
        QList<LiveSheetWindow*> found;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* sheet = qobject_cast<LiveSheetWindow*>(w); sheet && sheet->isVisible())
                found.append(sheet);
        }
        return found;
    }
    std::unique_ptr<TestApp> app_;
};

QString Shown(QTableView* table, int row, int column)
{
    return table->model()->index(row - 1, column - 1).data().toString();
}

} // namespace

TEST_F(LiveSheet, windowFillsAsRowsArriveAndStaysOpenAfterTheLogEnds)
{
    excbtnClick();
    ASSERT_EQ(Windows().size(), 1);
    LiveSheetWindow* window = Windows().first();
    EXPECT_EQ(window->windowTitle(), "Q-Serial-data");
    QTableView* table = window->table();
    EXPECT_EQ(table->model()->rowCount(), 2);
    EXPECT_EQ(table->model()->columnCount(), 38);
    EXPECT_EQ(table->model()->headerData(37, Qt::Horizontal).toString(), "AL");
    EXPECT_EQ(Shown(table, 2, 1), "Sampling Time");
    const int digit = table->fontMetrics().horizontalAdvance('0');
    EXPECT_GT(table->columnWidth(0), table->columnWidth(1));
    EXPECT_GT(table->columnWidth(1), table->columnWidth(20));
    EXPECT_GE(table->columnWidth(20), 5 * digit);

    PackTable[0].cell_count = 2; // later rows may be wider than the header
    for (int i = 0; i < 5; ++i) {
        PackTable[0].current = -100 * i;
        AppendDataRow();
    }
    EXPECT_EQ(table->model()->rowCount(), 7);
    EXPECT_EQ(table->model()->columnCount(), 40);
    EXPECT_EQ(Shown(table, 7, 3), "-400");
    EXPECT_EQ(Shown(table, 7, 40), "0");

    excbtnClick();
    ASSERT_EQ(Windows().size(), 1);
    EXPECT_EQ(Windows().first(), window);
    EXPECT_EQ(window->windowTitle(), "Q-Serial-data");
    EXPECT_EQ(table->model()->rowCount(), 7);
    FinishWorkbookSaves();
    ASSERT_EQ(files("*.xlsx").size(), 1);

    const QString copy = folder() + "/copy.xlsx";
    window->saveTo(copy);
    FinishWorkbookSaves();
    QString error;
    const std::optional<XlsxDump> d = ReadXlsx(copy, &error);
    ASSERT_TRUE(d) << error.toStdString();
    EXPECT_EQ(d->maxRow(), 7);
    EXPECT_EQ(d->number(7, 3), -400);
}

TEST_F(LiveSheet, closingTheWindowWhileLoggingWritesTheXlsxAndTheLogGoesOn)
{
    excbtnClick();
    AppendDataRow();
    ASSERT_EQ(Windows().size(), 1);
    Windows().first()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Windows().isEmpty());
    // Rows keep coming while the copy taken at closing is written.
    AppendDataRow();
    FinishWorkbookSaves();
    const QStringList saved = files("*.xlsx");
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(ReadXlsx(saved[0]).value_or(XlsxDump{}).maxRow(), 3);

    AppendDataRow();
    excbtnClick();
    FinishWorkbookSaves();
    EXPECT_EQ(ReadXlsx(saved[0]).value_or(XlsxDump{}).maxRow(), 5);
}

TEST_F(LiveSheet, eachWorkbookGetsItsOwnWindowTitledWithItsCaption)
{
    btn_save_uidClick();
    btn_save_uidClick();
    Cal_excel_buttonClick();
    QStringList titles;
    for (LiveSheetWindow* w : Windows())
        titles.append(w->windowTitle());
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"BMS-UID", QString::fromUtf8("电池电流校准记录表")}));
}

TEST_F(LiveSheet, statusSaysSavedOnlyOnceTheXlsxIsWrittenAndTellsAFailure)
{
    const auto status = [] { return Windows().first()->findChild<QLabel*>("liveSheetStatus")->text(); };
    for (const bool folderGone : {false, true}) {
        excbtnClick();
        ASSERT_EQ(Windows().size(), 1);
        const QString xlsx = CurrentWorkbook()->xlsxPath();
        if (folderGone)
            QDir(folder()).removeRecursively();
        excbtnClick(); // the log ends; its .xlsx is written in the background
        EXPECT_EQ(status(), "Ended. Saving: " + xlsx);
        FinishWorkbookSaves();
        if (folderGone)
            EXPECT_TRUE(status().startsWith("Not saved: ")) << status().toStdString();
        else
            EXPECT_EQ(status(), "Ended. Saved: " + xlsx);
        Windows().first()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(LiveSheet, failedSaveAsNamesItsReasonAndTheStatusKeepsTheLastSaveThatHappened)
{
    const auto status = [] { return Windows().first()->findChild<QLabel*>("liveSheetStatus")->text(); };
    excbtnClick();
    AppendDataRow();
    LiveSheetWindow* window = Windows().first();
    const QString copy = folder() + "/copy.xlsx";
    const QString missing = folder() + "/no such folder/x.xlsx";
    window->saveTo(copy);
    FinishWorkbookSaves();
    ASSERT_EQ(status(), "Saved: " + copy);

    window->saveTo(missing);
    FinishWorkbookSaves();
    EXPECT_EQ(status(), "Saved: " + copy);
    ASSERT_EQ(app_->host.errors.size(), 1);
    EXPECT_EQ(app_->host.errors[0],
              "Cannot write the workbook " + missing + ": the folder " + folder() + "/no such folder does not exist");

    const QString own = CurrentWorkbook()->xlsxPath();
    excbtnClick();
    FinishWorkbookSaves();
    window->saveTo(missing);
    FinishWorkbookSaves();
    EXPECT_EQ(status(), "Ended. Saved: " + own);
    EXPECT_EQ(app_->host.errors.size(), 2);
    EXPECT_FALSE(QFile::exists(JournalPathFor(own)));
}
