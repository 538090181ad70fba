// End to end: the tool samples the virtual pack with the data log on and is
// killed with SIGKILL; every row it completed is in the journal.
#include "Journal.h"
#include "Recover.h"
#include "TestEnv.h"
#include "VirtualPack.h"
#include "XlsxDump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

using namespace bms;
using namespace bms::test;

namespace {

[[maybe_unused]] auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment<QCoreApplication>);

using WorkbookEndToEnd = WorkbookFolderFixture;

} // namespace

TEST_F(WorkbookEndToEnd, rowsLoggedFromTheVirtualPackSurviveSigkill)
{
    sim::PackConfig config;
    config.publish = false;
    sim::VirtualPack pack(config);
    const QString port = QString::fromStdString(pack.start());

    const int last = RunChildUntilKilled(WORKBOOK_E2E_CHILD, {port}, folder(), 12);
    ASSERT_GE(last, 12);
    EXPECT_GT(pack.requestCount(0x04), 0u);

    const QStringList journals = files("*.journal");
    ASSERT_EQ(journals.size(), 1);
    EXPECT_TRUE(files("*.xlsx").isEmpty());
    const std::unique_ptr<JournalContents> c = ReadJournal(journals[0]);
    EXPECT_FALSE(c->complete);
    EXPECT_EQ(c->sheet.cell(1, 1), CellValue::Text("protocol soft version"));
    EXPECT_EQ(c->sheet.cell(2, 1), CellValue::Text("Sampling Time"));
    ASSERT_GE(c->sheet.rowCount(), last);
    for (int row = 3; row <= last; ++row) {
        ASSERT_GE(c->sheet.rowLength(row), 38) << row;
        EXPECT_TRUE(c->sheet.cell(row, 1).isText()) << row;
        for (int column = 2; column <= 38; ++column)
            EXPECT_TRUE(c->sheet.cell(row, column).isNumber()) << row << "/" << column;
    }
    // Once the cells have been read, the pack's voltages are logged.
    EXPECT_GT(c->sheet.cell(last, 2).number, 0);

    const RecoveryResult r = RecoverWorkbook(journals[0]);
    const std::optional<XlsxDump> d = ReadXlsx(r.xlsxPath);
    ASSERT_TRUE(d);
    EXPECT_GE(d->maxRow(), last);
    EXPECT_EQ(d->number(last, 2), c->sheet.cell(last, 2).number);
}
