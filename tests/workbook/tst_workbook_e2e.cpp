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

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUORLEX_BMS_WORKBOOK_DIR", folder());
    tool.setProcessEnvironment(env);
    tool.start(WORKBOOK_E2E_CHILD, {port});
    ASSERT_TRUE(tool.waitForStarted(10000));
    int last = 0;
    QByteArray pending;
    QElapsedTimer clock;
    clock.start();
    while (last < 12 && clock.elapsed() < 60000 && tool.state() == QProcess::Running) {
        tool.waitForReadyRead(1000);
        pending += tool.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("row "))
                last = line.mid(4).toInt();
        }
    }
    tool.kill(); // SIGKILL
    ASSERT_TRUE(tool.waitForFinished(10000));
    ASSERT_GE(last, 12) << tool.readAllStandardError().toStdString();
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
