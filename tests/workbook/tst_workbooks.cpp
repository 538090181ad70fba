// The three workbooks driven through their buttons, read back from the .xlsx
// files they leave.
#include "CommRecord.h"
#include "FakeHost.h"
#include "PackTable.h"
#include "TestEnv.h"
#include "WorkbookError.h"
#include "WorkbookDocument.h"
#include "Workbooks.h"
#include "XlsxDump.h"

#include "BackgroundSave.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

using namespace bms;
using namespace bms::test;

namespace {

[[maybe_unused]] auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment<QCoreApplication>);

QString T(const char* utf8) { return QString::fromUtf8(utf8); }

class Workbooks : public WorkbookFolderFixture {
protected:
    void SetUp() override
    {
        WorkbookFolderFixture::SetUp();
        ResetPackTable();
        ExcelRow = 0;
        app_ = std::make_unique<TestApp>();
        host().texts["cbb_pdType"] = "Q-Serial";
        host().texts["excbtn"] = "Save to Excel";
    }
    void TearDown() override
    {
        EndOpenWorkbook();
        app_.reset();
        WorkbookFolderFixture::TearDown();
    }
    FakeHost& host() { return app_->host; }

    // The .xlsx files, once every background save has finished.
    QStringList Saved()
    {
        FinishWorkbookSaves();
        return files("*.xlsx");
    }
    XlsxDump OnlyXlsx()
    {
        const QStringList xlsx = Saved();
        EXPECT_EQ(xlsx.size(), 1) << xlsx.join(' ').toStdString();
        return Read(xlsx.value(0));
    }
    static XlsxDump Read(const QString& path)
    {
        QString error;
        std::optional<XlsxDump> dump = ReadXlsx(path, &error);
        EXPECT_TRUE(dump) << error.toStdString();
        return dump.value_or(XlsxDump{});
    }

    std::unique_ptr<TestApp> app_;
};

void FillPack()
{
    PackRecord& p = PackTable[0];
    p.version_major = 1;
    p.version_minor = 2;
    p.sw_version = 0x1A2B;
    p.hw_version = 0x0003;
    p.total_volt = 5200;
    p.current = -1500;
    p.fcc_cap = 0x80000001u;
    p.temp_001F = -55;
    p.cell_count = 16;
    p.temp_a_count = 4;
    p.temp_b_count = 2;
    for (size_t i = 0; i < 16; ++i) {
        p.cell_volt[i] = uint16_t(3300 + i);
        p.temp_a[i] = int16_t(-10 - int(i));
        p.temp_b[i] = int16_t(300 + i);
    }
}

} // namespace

TEST_F(Workbooks, dataLogXlsxHoldsDeviceLineHeaderRowsWidthsAndTextFormat)
{
    FillPack();
    excbtnClick();
    EXPECT_EQ(DataLogging, 1);
    EXPECT_EQ(host().texts["excbtn"], "Cancel the save");
    EXPECT_EQ(ExcelRow, 3);
    for (int i = 0; i < 3; ++i) {
        PackTable[0].current = -1500 - i;
        AppendDataRow();
    }
    EXPECT_EQ(ExcelRow, 6);
    excbtnClick();
    EXPECT_EQ(DataLogging, 0);
    EXPECT_EQ(host().texts["excbtn"], "Save to Excel");

    // The .xlsx is written in the background and announced in the memo.
    QElapsedTimer clock;
    clock.start();
    while (PendingWorkbookSaves() > 0 && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(PendingWorkbookSaves(), 0);
    QStringList xlsx = files("*.xlsx");
    ASSERT_EQ(xlsx.size(), 1);
    EXPECT_TRUE(QFileInfo(xlsx[0]).fileName().startsWith("Q-Serial-data_"));
    const QStringList memo = host().memos["mmo1"];
    EXPECT_TRUE(memo.contains("Workbook journal: " + JournalPathFor(xlsx[0])));
    EXPECT_TRUE(memo.contains("Workbook saved: " + xlsx[0]));
    // The journal has done its work once the .xlsx is written: it is gone,
    // and the name is free again once the .xlsx is moved away.
    EXPECT_TRUE(files("*.journal").isEmpty());
    const QString moved = folder() + "/moved.xlsx";
    ASSERT_TRUE(QFile::rename(xlsx[0], moved));
    EXPECT_EQ(NewWorkbookPathProblem(xlsx[0]), "");
    xlsx[0] = moved;

    const XlsxDump d = Read(xlsx[0]);
    EXPECT_EQ(d.maxRow(), 5);
    EXPECT_EQ(d.text(1, 1), "protocol soft version");
    EXPECT_TRUE(d.isNumber(1, 2));
    EXPECT_EQ(d.number(1, 2), 1);
    EXPECT_EQ(d.number(1, 4), 2);
    EXPECT_EQ(d.text(1, 6), "0x1A2B");
    EXPECT_EQ(d.text(1, 8), "0x0003");
    EXPECT_EQ(d.rowLength(2), 60);
    EXPECT_EQ(d.text(2, 1), "Sampling Time");
    EXPECT_EQ(d.text(2, 17), T("Max Cell Tem(°C)"));
    EXPECT_EQ(d.text(2, 39), "Cell Volt1(mV)");
    EXPECT_EQ(d.text(2, 55), T("Cell Tem1(°C)"));
    EXPECT_EQ(d.text(2, 60), T("MOS Tem2(°C)"));
    for (int row = 3; row <= 5; ++row) {
        EXPECT_EQ(d.rowLength(row), 60);
        EXPECT_TRUE(d.isText(row, 1));
        for (int c = 2; c <= 60; ++c)
            EXPECT_TRUE(d.isNumber(row, c)) << row << "/" << c;
        EXPECT_EQ(d.number(row, 3), -1500 - (row - 3));
    }
    EXPECT_EQ(d.number(3, 2), 52000);
    EXPECT_EQ(d.number(3, 4), 2147483649.0);
    EXPECT_EQ(d.number(3, 17), -55);
    EXPECT_EQ(d.number(3, 39), 3300);
    EXPECT_EQ(d.number(3, 54), 3315);
    EXPECT_EQ(d.number(3, 55), -10);
    EXPECT_EQ(d.number(3, 58), -13);
    EXPECT_EQ(d.number(3, 59), 300);
    EXPECT_EQ(d.number(3, 60), 301);
    EXPECT_EQ(d.format(1, 1), "@");
    EXPECT_EQ(d.format(3, 3), "@");
    EXPECT_NEAR(d.width(1), 16, 0.01);
    for (int c = 2; c <= 14; ++c)
        EXPECT_NEAR(d.width(c), 15, 0.01) << c;
    EXPECT_NEAR(d.width(15), 5, 0.01);
    EXPECT_NEAR(d.width(60), 5, 0.01);
    EXPECT_NEAR(d.width(16384), 5, 0.01);
}

TEST_F(Workbooks, bsiProductAddsTwentyNineColumnsToHeaderAndRows)
{
    host().texts["cbb_pdType"] = "BSI";
    BsiRecord.heater_abnormal = 0xFFFFFFFFu;
    excbtnClick();
    AppendDataRow();
    host().texts["cbb_pdType"] = "Q-Serial"; // checked again for every row
    AppendDataRow();
    excbtnClick();
    const XlsxDump d = OnlyXlsx();
    EXPECT_EQ(d.rowLength(2), 67);
    EXPECT_EQ(d.text(2, 67), "Uid Num");
    EXPECT_EQ(d.rowLength(3), 67);
    EXPECT_EQ(d.number(3, 62), 4294967295.0);
    EXPECT_EQ(d.rowLength(4), 38);
}

TEST_F(Workbooks, secondLogIsASecondWorkbookStartingAgainAtRowOne)
{
    excbtnClick();
    AppendDataRow();
    AppendDataRow();
    excbtnClick();
    PackTable[0].version_major = 9;
    PackTable[0].current = -7;
    excbtnClick();
    EXPECT_EQ(ExcelRow, 3);
    AppendDataRow();
    excbtnClick();
    const QStringList xlsx = Saved();
    ASSERT_EQ(xlsx.size(), 2);
    EXPECT_TRUE(files("*.journal").isEmpty());
    const XlsxDump first = Read(xlsx[0]);
    const XlsxDump second = Read(xlsx[1]);
    EXPECT_EQ(first.maxRow(), 4);
    EXPECT_EQ(first.number(1, 2), 0);
    EXPECT_EQ(second.maxRow(), 3);
    EXPECT_EQ(second.number(1, 2), 9);
    EXPECT_EQ(second.text(2, 1), "Sampling Time");
    EXPECT_EQ(second.number(3, 3), -7);
}

TEST_F(Workbooks, dataLogPausesSamplingWhileOpeningAndResumesIt)
{
    Sampling = 1;
    SampleIntervalMs = 1000;
    app_->tmr1.setInterval(500);
    app_->tmr1.setEnabled(true);
    bool enabledDuringSetUp = true;
    QTimer::singleShot(50, [&] { enabledDuringSetUp = app_->tmr1.enabled(); });
    excbtnClick();
    EXPECT_FALSE(enabledDuringSetUp);
    EXPECT_TRUE(app_->tmr1.enabled());
    EXPECT_EQ(app_->tmr1.interval(), 1000);

    excbtnClick(); // ending leaves the timer alone
    EXPECT_TRUE(app_->tmr1.enabled());

    Sampling = 0;
    app_->tmr1.setEnabled(false);
    excbtnClick();
    EXPECT_FALSE(app_->tmr1.enabled());
}

TEST_F(Workbooks, failedOpenRaisesAndStillResumesSampling)
{
    qputenv("QUORLEX_BMS_WORKBOOK_DIR", "/proc/no-such-folder/workbooks");
    Sampling = 1;
    SampleIntervalMs = 500;
    app_->tmr1.setEnabled(true);
    EXPECT_THROW(excbtnClick(), EWorkbookError);
    EXPECT_EQ(DataLogging, 0);
    EXPECT_EQ(host().texts["excbtn"], "Save to Excel");
    EXPECT_TRUE(app_->tmr1.enabled());
    EXPECT_THROW(Cal_excel_buttonClick(), EWorkbookError);
    EXPECT_EQ(CalWorkbookOpen, 0);
}

TEST_F(Workbooks, eachOpenWorkbookDisablesTheOtherTwoButtons)
{
    const QString data = "excbtn", uid = "btn_save_uid", cal = "Cal_excel_button";
    excbtnClick();
    EXPECT_FALSE(host().isEnabled(uid));
    EXPECT_FALSE(host().isEnabled(cal));
    excbtnClick();
    EXPECT_TRUE(host().isEnabled(uid));
    EXPECT_TRUE(host().isEnabled(cal));

    btn_save_uidClick();
    EXPECT_EQ(UidWorkbookOpen, 1);
    EXPECT_EQ(host().texts[uid], "Cancel the save");
    EXPECT_FALSE(host().isEnabled(data));
    EXPECT_FALSE(host().isEnabled(cal));
    btn_save_uidClick();
    EXPECT_EQ(UidWorkbookOpen, 0);
    EXPECT_EQ(host().texts[uid], "Save UID to Excel");
    EXPECT_TRUE(host().isEnabled(data));
    EXPECT_TRUE(host().isEnabled(cal));

    Cal_excel_buttonClick();
    EXPECT_EQ(CalWorkbookOpen, 1);
    EXPECT_EQ(host().texts[cal], "Save and Closs");
    EXPECT_TRUE(host().isVisible("btn_cal_confirm"));
    EXPECT_FALSE(host().isEnabled(data));
    EXPECT_FALSE(host().isEnabled(uid));
    Cal_excel_buttonClick();
    EXPECT_EQ(CalWorkbookOpen, 0);
    EXPECT_EQ(host().texts[cal], "Open excel");
    EXPECT_FALSE(host().isVisible("btn_cal_confirm"));
    EXPECT_TRUE(host().isEnabled(data));
    EXPECT_TRUE(host().isEnabled(uid));
    EXPECT_EQ(Saved().size(), 3);
}

TEST_F(Workbooks, noWorkbookOpensWhileAnotherIsOpen)
{
    // Buttons can be enabled behind the workbooks' back (sampling started
    // again); a click on another workbook's button must still open nothing.
    const struct {
        void (*click)();
        const uint8_t* open;
    } books[] = {{excbtnClick, &DataLogging}, {btn_save_uidClick, &UidWorkbookOpen},
                 {Cal_excel_buttonClick, &CalWorkbookOpen}};
    for (const auto& opened : books) {
        opened.click();
        for (const auto& other : books)
            if (&other != &opened)
                other.click();
        for (const auto& book : books)
            EXPECT_EQ(*book.open, &book == &opened ? 1 : 0);
        opened.click();
    }
    EXPECT_EQ(Saved().size(), 3);
}

TEST_F(Workbooks, calibrationRowsAreWrittenInTwoHalvesAndNumberedFromOne)
{
    PackTable[0].version_major = 4;
    btn_cal_confirmClick(); // nothing open: nothing happens
    EXPECT_TRUE(files("*.journal").isEmpty());

    Cal_excel_buttonClick();
    host().texts["edt1"] = "FIRST";
    BeginCalibrationRow();
    host().texts["edt1"] = "SECOND"; // a second calibration before confirming
    BeginCalibrationRow();
    EXPECT_EQ(ExcelRow, 3);
    PackTable[0].current = -20010;
    host().texts["edtc"] = "20000";
    btn_cal_confirmClick();
    EXPECT_FALSE(host().isEnabled("btn_cal_confirm"));
    EXPECT_EQ(ExcelRow, 4);
    host().texts["edt1"] = "THIRD";
    BeginCalibrationRow();
    PackTable[0].current = 5000;
    host().texts["edtc"] = "5000";
    CompleteCalibrationRow();
    Cal_excel_buttonClick();

    XlsxDump d = OnlyXlsx();
    EXPECT_TRUE(QFileInfo(files("*.xlsx")[0]).fileName().startsWith(T("电池电流校准记录表_")));
    EXPECT_EQ(d.maxRow(), 4);
    EXPECT_EQ(d.text(1, 1), "protocol soft version");
    EXPECT_EQ(d.number(1, 2), 4);
    const char* header[] = {"时间", "NO", "条形码", "实际电流", "校准电流", "确认校准"};
    for (int c = 1; c <= 6; ++c)
        EXPECT_EQ(d.text(2, c), T(header[c - 1]));
    EXPECT_TRUE(d.isNumber(3, 2));
    EXPECT_EQ(d.number(3, 2), 1);
    EXPECT_EQ(d.text(3, 3), "SECOND");
    EXPECT_EQ(d.number(3, 4), -20010);
    EXPECT_EQ(d.text(3, 5), "20000");
    EXPECT_EQ(d.text(3, 6), T("确认"));
    EXPECT_EQ(d.number(4, 2), 2);
    EXPECT_EQ(d.text(4, 3), "THIRD");
    EXPECT_EQ(d.number(4, 4), 5000);
    const double widths[] = {16, 15, 40, 15, 15, 15, 5};
    for (int c = 1; c <= 7; ++c)
        EXPECT_NEAR(d.width(c), widths[c - 1], 0.01) << c;
    EXPECT_EQ(d.format(3, 2), "@");

    Cal_excel_buttonClick(); // a new workbook numbers from 1 again
    BeginCalibrationRow();
    btn_cal_confirmClick();
    Cal_excel_buttonClick();
    const QStringList xlsx = Saved();
    ASSERT_EQ(xlsx.size(), 2);
    d = Read(xlsx[1]);
    EXPECT_EQ(d.maxRow(), 3);
    EXPECT_EQ(d.number(3, 2), 1);
}

TEST_F(Workbooks, saveUidAppendsRowsOnlyWhileTheUidWorkbookIsOpen)
{
    host().texts["edt1"] = "BC0001";
    host().texts["edt_uid"] = "0102030405060708090A0B0C";
    host().enabled["btn_uid_save"] = true;
    btn_uid_saveClick();
    EXPECT_TRUE(host().messages.isEmpty());
    EXPECT_TRUE(host().isEnabled("btn_uid_save"));

    btn_save_uidClick();
    btn_uid_saveClick();
    EXPECT_EQ(host().messages, QStringList{"Has been written!"});
    EXPECT_FALSE(host().isEnabled("btn_uid_save"));
    // The same UID again is written only when the operator says so.
    host().texts["edt1"] = "BC0002";
    btn_uid_saveClick();
    EXPECT_EQ(host().questions,
              QStringList{"|The UID 0102030405060708090A0B0C is already in row 2 of the UID sheet. Write it again?"});
    host().answerYes = false;
    btn_uid_saveClick();
    host().answerYes = true;
    btn_save_uidClick();

    const XlsxDump d = OnlyXlsx();
    EXPECT_TRUE(QFileInfo(files("*.xlsx")[0]).fileName().startsWith("BMS-UID_"));
    EXPECT_EQ(d.maxRow(), 3);
    EXPECT_EQ(d.text(1, 1), T("时间"));
    EXPECT_EQ(d.text(1, 2), "SN");
    EXPECT_EQ(d.text(1, 3), "QRcode");
    EXPECT_EQ(d.text(2, 2), "BC0001");
    EXPECT_EQ(d.text(2, 3), "{\"UID\": \"0102030405060708090A0B0C\"}");
    EXPECT_EQ(d.text(3, 2), "BC0002");
    const double widths[] = {16, 15, 40, 5};
    for (int c = 1; c <= 4; ++c)
        EXPECT_NEAR(d.width(c), widths[c - 1], 0.01) << c;
}

TEST_F(Workbooks, clicksWhileAWorkbookOpensAreIgnored)
{
    QTimer::singleShot(50, [] {
        excbtnClick();
        Cal_excel_buttonClick();
    });
    excbtnClick();
    EXPECT_EQ(DataLogging, 1);
    EXPECT_EQ(CalWorkbookOpen, 0);
    EXPECT_EQ(files("*.journal").size(), 1);
}

TEST_F(Workbooks, fullWorksheetStopsTheRowsWithOneMemoLine)
{
    excbtnClick();
    ExcelRow = 1048576;
    AppendDataRow();
    EXPECT_EQ(ExcelRow, 1048577);
    EXPECT_NO_THROW(AppendDataRow());
    EXPECT_NO_THROW(AppendDataRow());
    EXPECT_EQ(ExcelRow, 1048577);
    EXPECT_EQ(host().memos["mmo1"].count("The worksheet is full; no more rows are logged"), 1);
    EXPECT_EQ(CurrentWorkbook()->sheet().rowCount(), 1048576);
}

TEST_F(Workbooks, savesWhileLoggingWriteCopiesOneAfterTheOtherAndTheEndWritesLast)
{
    excbtnClick();
    AppendDataRow();
    const std::shared_ptr<WorkbookDocument> doc = CurrentWorkbook();
    doc->saveInBackground();
    AppendDataRow();
    const QString other = folder() + "/other.xlsx";
    doc->saveAsInBackground(other);
    AppendDataRow();
    excbtnClick();
    EXPECT_TRUE(doc->saving());
    FinishWorkbookSaves();
    EXPECT_FALSE(doc->saving());
    EXPECT_FALSE(doc->changedSinceSave());
    EXPECT_EQ(Read(doc->xlsxPath()).maxRow(), 5);
    EXPECT_EQ(Read(other).maxRow(), 4);
    EXPECT_TRUE(host().memos["mmo1"].contains("Workbook saved: " + doc->xlsxPath()));
    EXPECT_THROW(doc->setCell(6, 1, CellValue::Number(1)), EWorkbookError);
}
