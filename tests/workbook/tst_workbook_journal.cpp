// Durability: every completed row is on disk when the tool is killed, and a
// journal turns back into the workbook it recorded.
#include "FileSync.h"
#include "Journal.h"
#include "Recover.h"
#include "TestEnv.h"
#include "WorkbookError.h"
#include "XlsxDump.h"
#include "XlsxFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <limits>
#include <sys/stat.h>
#include <tuple>

using namespace bms;
using namespace bms::test;

namespace {

[[maybe_unused]] auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment<QCoreApplication>);

using WorkbookJournal = WorkbookFolderFixture;

// Starts the logging child, waits until it reports at least `rows` rows and
// kills it with SIGKILL. Returns the last row it reported complete.
int LogUntilKilled(const QString& folder, int rows)
{
    return RunChildUntilKilled(WORKBOOK_CHILD, {}, folder, rows);
}

} // namespace

TEST_F(WorkbookJournal, everyRowCompletedBeforeSigkillIsInTheJournalAndTheRecoveredXlsx)
{
    const int last = LogUntilKilled(folder(), 150);
    ASSERT_GE(last, 150);
    const QStringList journals = files("*.journal");
    ASSERT_EQ(journals.size(), 1);
    EXPECT_TRUE(files("*.xlsx").isEmpty()); // killed before it could save

    const std::unique_ptr<JournalContents> contents = ReadJournal(journals[0]);
    EXPECT_FALSE(contents->complete);
    EXPECT_EQ(contents->badLines, 0);
    EXPECT_EQ(contents->caption, "Q-Serial-data");
    const Sheet& sheet = contents->sheet;
    ASSERT_GE(sheet.rowCount(), last);
    EXPECT_EQ(sheet.cell(2, 1).text, "Sampling Time");
    for (int row = 3; row <= last; ++row) {
        EXPECT_TRUE(sheet.cell(row, 1).isText()) << row;
        EXPECT_EQ(sheet.cell(row, 3), CellValue::Number(-(row - 2))) << row;
        EXPECT_EQ(sheet.cell(row, 4), CellValue::Number(2147483648.0 + (row - 2))) << row;
        EXPECT_EQ(sheet.rowLength(row) >= 38, true) << row;
    }

    const RecoveryResult recovered = RecoverWorkbook(journals[0]);
    EXPECT_EQ(recovered.xlsxPath, QString(journals[0]).replace(".journal", ".xlsx"));
    QString error;
    const std::optional<XlsxDump> d = ReadXlsx(recovered.xlsxPath, &error);
    ASSERT_TRUE(d) << error.toStdString();
    EXPECT_GE(d->maxRow(), last);
    for (int row = 3; row <= last; ++row) {
        ASSERT_TRUE(d->isNumber(row, 3)) << row;
        EXPECT_EQ(d->number(row, 3), -(row - 2));
        EXPECT_EQ(d->number(row, 4), 2147483648.0 + (row - 2));
    }
    EXPECT_NEAR(d->width(1), 16, 0.01);
    EXPECT_EQ(d->format(3, 3), "@");

    // The program does the same, into a file of the operator's choosing.
    const QString out = folder() + "/by-program.xlsx";
    EXPECT_EQ(QProcess::execute(WORKBOOK_RECOVER, {journals[0], out}), 0);
    EXPECT_TRUE(QFile::exists(out));
    EXPECT_NE(QProcess::execute(WORKBOOK_RECOVER, {folder() + "/missing.journal"}), 0);
}

TEST_F(WorkbookJournal, textsRoundTripAndALineCutOffByACrashIsIgnored)
{
    const QString path = folder() + "/t.journal";
    const QString awkward = QString::fromUtf8("tab\there\nnew line \\ back\\tslash 电池 °");
    {
        std::unique_ptr<Journal> j = Journal::Create(path);
        j->caption(QString::fromUtf8("电池电流校准记录表"));
        j->allColumnWidths(5);
        j->columnWidth(3, 40);
        j->numberFormat("@");
        j->cell(1, 1, CellValue::Text(awkward));
        j->cell(1, 2, CellValue::Number(-2147483648.0));
        j->cell(2, 1, CellValue::Number(4294967295.0));
        j->cell(2, 1, CellValue{});
        ASSERT_TRUE(j->sync());
        EXPECT_THROW(Journal::Create(path), EWorkbookError); // never overwritten
    }
    // A record cut off in the middle of its line, as by a crash.
    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::Append));
    raw.write("c\t5\t1\tn12");
    raw.close();
    const std::unique_ptr<JournalContents> c = ReadJournal(path);
    EXPECT_EQ(c->caption, QString::fromUtf8("电池电流校准记录表"));
    EXPECT_TRUE(c->complete);
    EXPECT_EQ(c->badLines, 0);
    EXPECT_EQ(c->sheet.cell(1, 1), CellValue::Text(awkward));
    EXPECT_EQ(c->sheet.cell(1, 2), CellValue::Number(-2147483648.0));
    EXPECT_TRUE(c->sheet.cell(2, 1).isEmpty());
    EXPECT_EQ(c->sheet.rowCount(), 2); // row 5 was never completed
    EXPECT_EQ(c->sheet.columnWidth(3), 40);
    EXPECT_EQ(c->sheet.columnWidth(4), 5);
    EXPECT_EQ(c->sheet.numberFormat(), "@");

    QFile notJournal(folder() + "/x.journal");
    ASSERT_TRUE(notJournal.open(QIODevice::WriteOnly));
    notJournal.write("hello\n");
    notJournal.close();
    EXPECT_THROW(ReadJournal(notJournal.fileName()), EWorkbookError);
}

TEST_F(WorkbookJournal, folderIsSyncedWhenAJournalIsCreatedAndWhenASaveIsRenamedIntoPlace)
{
    QStringList synced;
    FolderSynced = [&](const QString& f) { synced.append(f); };
    const std::unique_ptr<Journal> journal = Journal::Create(folder() + "/a.journal");
    EXPECT_EQ(synced, QStringList{folder()});
    synced.clear();
    Sheet sheet;
    sheet.setCell(1, 1, CellValue::Text("x"));
    WriteXlsx(sheet, folder() + "/a.xlsx");
    EXPECT_EQ(synced, QStringList{folder()});
    FolderSynced = nullptr;
}

// Lines a crash, a full disk or a hostile file leave are skipped and counted;
// none makes the reader hold more than its limits.
TEST_F(WorkbookJournal, linesPastTheLimitsAreSkippedAndCountedWithoutBeingHeld)
{
    const QString path = folder() + "/hostile.journal";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("QBMS-WORKBOOK-JOURNAL 2\nwidth\t*\t5\nc\t1\t1\ttkept\n");
    const QByteArray bad[] = {
        "c\t2\t16384\tn1",                 // a row widened to the last column
        "c\t2147483647\t1\tn1",            // beyond the last row
        "c\t1\t2147483647\tn1\tn2",        // the second column overflows
        "width\t*\t1e300",                 // widths a spreadsheet cannot take
        "width\t3\tnan",
        "width\t3\t-1",
        "format\t" + QByteArray(256, '0'), // longer than a number format can be
        "c\t2\t1\tn" + QByteArray(2 << 20, '1'), // a line of 2 MiB
    };
    for (const QByteArray& line : bad)
        file.write(line + '\n');
    file.write("c\t2\t1\tn2\n");
    file.close();

    const std::unique_ptr<JournalContents> c = ReadJournal(path);
    EXPECT_EQ(c->badLines, int(std::size(bad)));
    EXPECT_EQ(c->sheet.rowCount(), 2);
    EXPECT_EQ(c->sheet.rowLength(1), 1);
    EXPECT_EQ(c->sheet.cell(2, 1), CellValue::Number(2));
    EXPECT_EQ(c->sheet.columnWidth(3), 5);
    EXPECT_EQ(c->sheet.numberFormat(), "General");
    EXPECT_LT(c->sheet.memoryBytes(), 4096);
}

// What a spreadsheet would have to repair is changed and counted, and every
// other cell is recovered.
TEST_F(WorkbookJournal, recoveryWritesWhatASpreadsheetOpensWithoutRepairAndKeepsEveryOtherCell)
{
    const QString path = folder() + "/awkward.journal";
    const QString nul = QString::fromUtf8("a\0b", 3);
    const QString control = QString::fromUtf8("x\x01y\x1Fz");
    const QString longText = QString(32766, QLatin1Char('l')) + QString::fromUtf8("😀");
    {
        std::unique_ptr<Journal> j = Journal::Create(path);
        const CellValue row[] = {CellValue::Text(nul),     CellValue::Text(control),
                                 CellValue::Text("-"),     CellValue::Text(longText),
                                 CellValue::Number(std::numeric_limits<double>::quiet_NaN()),
                                 CellValue::Number(std::numeric_limits<double>::infinity()),
                                 CellValue::Number(-1.7976931348623157e308),
                                 CellValue::Number(12),    CellValue::Text("tab\tkept")};
        for (size_t c = 0; c < std::size(row); ++c)
            j->cell(1, int(c) + 1, row[c]);
        ASSERT_TRUE(j->sync());
    }
    const RecoveryResult r = RecoverWorkbook(path);
    EXPECT_EQ(r.badLines, 0);
    EXPECT_EQ(r.notes.charactersReplaced, 3);
    EXPECT_EQ(r.notes.textsCut, 1);
    EXPECT_EQ(r.notes.numbersLeftOut, 3);

    QString error;
    const std::optional<XlsxDump> d = ReadXlsx(r.xlsxPath, &error);
    ASSERT_TRUE(d) << error.toStdString();
    const QString replacement(QChar::ReplacementCharacter);
    EXPECT_EQ(d->text(1, 1), "a" + replacement + "b");
    EXPECT_EQ(d->text(1, 2), "x" + replacement + "y" + replacement + "z");
    // Cut before the pair that would not fit whole.
    EXPECT_EQ(d->text(1, 4), QString(32766, QLatin1Char('l')));
    for (int column = 5; column <= 7; ++column)
        EXPECT_TRUE(d->cell(1, column).isEmpty()) << column;
    EXPECT_EQ(d->number(1, 8), 12);
    EXPECT_EQ(d->text(1, 9), "tab\tkept");
}

// A journal that went through an editor or another system (CR LF line ends,
// a byte order mark in front) recovers as the tool wrote it, closed and
// without a CR in its texts. Only a regular file, or a link to one, is read:
// a named pipe or a link to a device is refused at once.
TEST_F(WorkbookJournal, journalsFromElsewhereRecoverAndOnlyRegularFilesAreRead)
{
    const QString written = folder() + "/tool.journal";
    {
        std::unique_ptr<Journal> j = Journal::Create(written);
        j->caption("Q-Serial-data");
        j->cell(1, 1, CellValue::Number(12));
        j->cell(1, 2, CellValue::Text("last text"));
        ASSERT_TRUE(j->close());
    }
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray tool = file.readAll();
    const QByteArray crlf = QByteArray(tool).replace("\n", "\r\n");
    const std::pair<const char*, QByteArray> copies[] = {
        {"crlf", crlf}, {"bom", "\xEF\xBB\xBF" + tool}, {"bom-crlf", "\xEF\xBB\xBF" + crlf}};
    const auto recover = [](const QString& journal, const QString& out) {
        QProcess p;
        QElapsedTimer clock;
        clock.start();
        p.start(WORKBOOK_RECOVER, {journal, out});
        if (!p.waitForFinished(10000))
            p.kill();
        p.waitForFinished();
        return std::tuple{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                          QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()), clock.elapsed()};
    };
    for (const auto& [name, bytes] : copies) {
        SCOPED_TRACE(name);
        const QString path = folder() + "/" + name + ".journal";
        QFile copy(path);
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write(bytes);
        copy.close();
        const std::unique_ptr<JournalContents> c = ReadJournal(path);
        EXPECT_TRUE(c->complete);
        EXPECT_EQ(c->badLines, 0);
        EXPECT_EQ(c->caption, "Q-Serial-data");
        EXPECT_EQ(c->sheet.cell(1, 2), CellValue::Text("last text"));
        const auto [code, said, ms] = recover(path, folder() + "/" + name + ".xlsx");
        EXPECT_EQ(code, 0) << said.toStdString();
        EXPECT_FALSE(said.contains("not closed")) << said.toStdString();
    }
    QString error;
    const std::optional<XlsxDump> d = ReadXlsx(folder() + "/bom-crlf.xlsx", &error);
    ASSERT_TRUE(d) << error.toStdString();
    EXPECT_EQ(d->text(1, 2), "last text");

    const QString fifo = folder() + "/pipe.journal", zero = folder() + "/zero.journal",
                  link = folder() + "/link.journal";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", zero));
    ASSERT_TRUE(QFile::link(written, link));
    const std::tuple<QString, int, const char*> cases[] = {
        {fifo, 1, "it is a named pipe (FIFO), not a file"},
        {zero, 1, "it is a device, not a file"},
        {link, 0, "out.xlsx: 1 rows"},
    };
    for (const auto& [path, wanted, shown] : cases) {
        SCOPED_TRACE(path.toStdString());
        const auto [code, said, ms] = recover(path, folder() + "/out.xlsx");
        EXPECT_EQ(code, wanted) << said.toStdString();
        EXPECT_TRUE(said.contains(shown)) << said.toStdString();
        EXPECT_LT(ms, 5000);
        QFile::remove(folder() + "/out.xlsx");
    }
}
