// The main window offscreen: its controls in their start-up state, the
// status bar, caption and title, the grid captions, the general error
// handler, the keystroke filters and the confirmed close.
#include "WindowFixture.h"

#include "Errors.h"
#include "Indicators.h"
#include "ShapeWidget.h"
#include "UiHost.h"
#include "Simulator.h"
#include "Wiring.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <stdexcept>

using bms::MessageBoxInfo;
using bms::test::WindowFixture;

namespace {

// Controls and their state right after start-up, one per line:
//   name  flags  text
// flags: e enabled, v visible (the control's own flag), '-' for neither.
// The text is what the window interface reads back ("~" for empty).
const char kStartState[] = R"(
cbb_pdType ev Q-Serial
sxcom ev Refresh 
cbb2 ev 19200
cbb3 -v 500
opencom ev Open Port
cybtn -v Start Sampling
cbb_addr ev 06
lbl_addr_read ev Addr: 06
grp4 ev State Description
lbl10 ev bms status 0:
lbl16 ev bms status 3:
lbl_secProtect ev fault status 0:
lbl_currentRev ev fault status 3:
grp_interval e- Setting WiFi Upload Interval
btn_interval ev Modify
grp5 ev BMS Status
lbl30 ev Standby
lbl33 ev Charge MOS:off
lbl34 ev Discharge MOS:off
xlmk_status e- Current limit:off
limiter1 -- Limiter Enable
grp6 ev Information
edt1 ev ~
edt3 ev ~
btn3 -v Read Info
btn8 -v Modify Barcode
btn_rcap -v Modify RSOC
btn9 e- Modify Capacity
btn_set_pack_id e- Modify SN
btn_uid_save -v Save UID
edt2 e- ~
mmo1 ev Notifications:
excbtn -v Save to Excel
btn_save_uid -v Save UID to Excel
Button1 e- Setup-BLE
GroupBox1 ev Alarm/protection Status
strgrid_bsi e- ~
grp7 ev Current Calibration
btnc ev Calibration
btn_zero_current ev Set zero
Cal_excel_button ev Open excel
btn_cal_confirm e- 确认已校准
grp8 ev Voltage Calibration
edtv2 e- ~
btnv ev Calibration
grp_settime ev RTC Time Calibration
btn_rtc -v setting
btn_read_time -v Read
grp_parallel ev Series-Parallel Setting
rb_stand_alone ev Stand Alone
rb_single_serial ev Single Serial
rb_single_parallel ev Single Parallel
rb_serial_parallel ev Serial Parallel
cbb_pretype e- 0
lbl_sp_reset ev Reset
btn_parallel ev setting
grp_protocol_type ev Protocol Setting
cbb_protocol_type ev 0
btn_protocol_type ev setting
GroupBox2 ev Sleep Time Setting
btn_set_sleep_time -v setting
btn_read_sleep_time -v Read
Edit3 ev 10
lbl_zero_drift_unit ev *10  mAh
Button3 -v SET
edt6 -v ~
opbtn -v Open
upbtn -v Upgrade
rbtn_upgrade_main_board ev Upgrade Main Control Board
rbtn_upgrade_wifi ev Upgrad dev firmware
lbl_dev_firmware e- please confirm firmware version!
edt_firmware_version e- ~
edt_firmware_model e- ~
btn_erase_dev_firmware e- Erase dev firmware
Label40 e- Upgrade Package NO:
edt_firmware_packpag e- 1
Label41 e- （Please enter one of the 1-5 upgrade packages to upgrade or replace）
edt_password ev ~
btn_test ev START TESTING
grp_test_setting e- Setting
lbl_cell_temp_param e- Tempterure 'C
cbb_cell_volt_param e- 1
btn_set_cell_volt_param e- set
btn_read_cell_volt_param e- read
btn_reset_param e- RECOVER
Customer_code_read e- read
Customer_code_set e- set
grp_parallel_param e- 并机参数测试修改
lbl_max_charge_volt_param ev 最大充电电压 mV
lbl_max_discharge_current_param ev 最大放电电流 mA
)";

struct ItemList {
    const char* combo;
    QStringList items;
};

QStringList Numbers(int from, int to)
{
    QStringList list;
    for (int i = from; i <= to; ++i)
        list.append(QString::number(i));
    return list;
}

QStringList AddressItems()
{
    QStringList list;
    for (int i = 1; i <= 16; ++i)
        list.append(QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0')).toUpper());
    list.append(QStringLiteral("FA"));
    return list;
}

} // namespace

class WindowFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlsStartInTheirDesignState()
    {
        WindowFixture f;
        const QStringList lines = QString::fromUtf8(kStartState).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() > 80);
        for (const QString& line : lines) {
            const QString name = line.section(QLatin1Char(' '), 0, 0);
            const QString flags = line.section(QLatin1Char(' '), 1, 1);
            QString text = line.section(QLatin1Char(' '), 2);
            if (text == QLatin1String("~"))
                text.clear();
            QVERIFY2(f.host().control(name), qPrintable(name));
            QCOMPARE(f.host().text(name), text);
            QVERIFY2(f.host().isEnabled(name) == flags.contains(QLatin1Char('e')), qPrintable(name));
            QVERIFY2(f.host().isVisible(name) == flags.contains(QLatin1Char('v')), qPrintable(name));
        }
    }

    void everyHandlerFindsItsControl()
    {
        WindowFixture f;
        for (const bms::ClickHandler& click : bms::ClickHandlers())
            QVERIFY2(qobject_cast<QAbstractButton*>(f.host().control(click.control)), qPrintable(click.control));
        for (const QString& name : bms::SimulatorControls())
            QVERIFY2(f.host().control(name), qPrintable(name));
        // Unlocking the simulator shows its rows, but not the rows' "read"
        // buttons nor the parallel-parameter group.
        f.find<QLineEdit>("edt_password")->setText(QStringLiteral("dmkq804417"));
        f.click("btn_test");
        QVERIFY(f.host().isVisible(QStringLiteral("grp_test_setting")));
        QVERIFY(f.host().isVisible(QStringLiteral("edt_cell_temp_param")));
        QVERIFY(f.host().isVisible(QStringLiteral("Customer_code_read")));
        QVERIFY(!f.host().isVisible(QStringLiteral("btn_read_cell_temp_param")));
        QVERIFY(!f.host().isVisible(QStringLiteral("grp_parallel_param")));
        // Start-up and the unlock touched no control the window lacks.
        QCOMPARE(f.host().unknownControls(), QStringList());
    }

    void comboBoxesHoldTheirItemsAndLimits()
    {
        WindowFixture f;
        const ItemList lists[] = {
            {"cbb_pdType", {"BSI", "Q-Serial"}},
            {"cbb2", {"4800", "9600", "19200", "38400", "76800", "115200", "125000"}},
            {"cbb3", {"500", "1000", "1500", "2000"}},
            {"cbb_addr", AddressItems()},
            {"cbb_pretype", Numbers(1, 8)},
            {"cbb_protocol_type", Numbers(0, 15)},
            {"cbb_cell_volt_param", Numbers(1, 16) << QStringLiteral("ALL")},
            {"cbb_cell_temp_param", Numbers(1, 7) << QStringLiteral("ALL")},
        };
        for (const ItemList& list : lists)
            QCOMPARE(f.host().items(QString::fromLatin1(list.combo)), list.items);
        QCOMPARE(f.host().items(QStringLiteral("cbb_addr")).size(), 17);

        // Typing stops at 7 characters in the product type (whose start text
        // "Q-Serial" is longer) and at 3 in the address.
        auto* pdType = f.find<QComboBox>("cbb_pdType");
        pdType->lineEdit()->clear();
        QTest::keyClicks(pdType->lineEdit(), QStringLiteral("Q-Serial"));
        QCOMPARE(pdType->currentText(), QStringLiteral("Q-Seria"));
        auto* addr = f.find<QComboBox>("cbb_addr");
        addr->lineEdit()->selectAll();
        QTest::keyClicks(addr->lineEdit(), QStringLiteral("0FAB"));
        QCOMPARE(addr->currentText(), QStringLiteral("0FA"));
        QCOMPARE(f.host().text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: FA"));
        QCOMPARE(f.find<QLineEdit>("edt1")->maxLength(), 12);
        QCOMPARE(f.find<QLineEdit>("edt_pack_id")->maxLength(), 20);
        QCOMPARE(f.find<QLineEdit>("edt_firmware_version")->maxLength(), 8);
        QCOMPARE(f.find<QLineEdit>("edt_firmware_model")->maxLength(), 4);
        QVERIFY(f.find<QLineEdit>("edt3")->isReadOnly());
        QVERIFY(f.find<QLineEdit>("edt_uid")->isReadOnly());
        QVERIFY(f.find<QPlainTextEdit>("mmo1")->isReadOnly());
    }

    void windowHasItsCaptionTabsAndStatusPanels()
    {
        WindowFixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Quorlex-Modbus-V1.0_beta29"));
        auto* tabs = f.find<QTabWidget>("pgc1");
        QVERIFY(tabs);
        const char* const pages[][2] = {{"ts1", "Data Collection"},
                                        {"ts2", "Parameter Calibration"},
                                        {"ts3", "Device Upgrade"},
                                        {"ts4", "Software Simulator Test"},
                                        {"ts5", "Trends"}, // added after the four designed tabs
                                        {"ts6", "Station"},
                                        {"ts7", "Bus"}};
        QCOMPARE(tabs->count(), 7);
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(tabs->widget(i)->objectName(), QString::fromLatin1(pages[i][0]));
            QCOMPARE(tabs->tabText(i), QString::fromLatin1(pages[i][1]));
        }
        QVERIFY(f.find<QStatusBar>("stat1"));
        QCOMPARE(f.host().panel(0), QStringLiteral("Offline!"));
        QCOMPARE(f.host().panel(1), QStringLiteral("Ready!"));
        QCOMPARE(f.host().panel(2), QString());
        QCOMPARE(f.host().panel(3), QStringLiteral("System Time\uFF1A"));
        // The clock takes over the last panel within one period of 500 ms.
        QTRY_VERIFY_WITH_TIMEOUT(f.host().panel(3).startsWith(QStringLiteral("System Time: ")), 3000);
        QCOMPARE(f.host().panel(3).size(), 21);
        QVERIFY(f.window->tmr3.enabled());
        QCOMPARE(f.window->tmr3.interval(), 500);
        QVERIFY(!f.window->tmr1.enabled());
        QVERIFY(!f.window->tmr2.enabled());
    }

    void shapesStartInTheirDesignColoursWithHints()
    {
        WindowFixture f;
        QCOMPARE(f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColGrey));
        QCOMPARE(f.host().colour(QStringLiteral("shp_sp_reset")), uint32_t(bms::ColLime));
        // Every indicator of the decoder's tables is a lime square whose
        // caption label carries the hint.
        int squares = 0;
        for (auto table : {bms::AlarmIndicators(), bms::ProtectionIndicators(), bms::IdleAlarmIndicators()}) {
            for (const bms::IndicatorInfo& info : table) {
                const QString square = QString::fromLatin1(info.square);
                auto* shape = f.window->findChild<ShapeWidget*>(square);
                QVERIFY2(shape, info.square);
                QCOMPARE(shape->shape(), ShapeWidget::Square);
                QCOMPARE(shape->size(), QSize(12, 12));
                QCOMPARE(f.host().colour(square), uint32_t(bms::ColLime));
                auto* caption = f.find<QLabel>(qPrintable(QStringLiteral("lbl_") + square));
                QVERIFY2(caption, info.square);
                QCOMPARE(caption->text(), QString::fromUtf8(info.caption));
                QCOMPARE(caption->toolTip(), QString::fromUtf8(info.hint));
                ++squares;
            }
        }
        QCOMPARE(squares, 37);
        for (const bms::ProgressShape& progress : bms::ParallelProgressShapes())
            QVERIFY2(!f.host().isVisible(QString::fromLatin1(progress.shape)), progress.shape);
    }

    void gridsShowTheirCaptionsAfterStartUp()
    {
        WindowFixture f;
        auto* grid = f.find<QTableWidget>("strngrd1");
        QCOMPARE(grid->columnCount(), 10);
        QCOMPARE(grid->rowCount(), 9);
        QCOMPARE(grid->columnWidth(0), 80);
        QCOMPARE(grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        auto cell = [grid](int col, int row) { return grid->item(row, col) ? grid->item(row, col)->text() : QString(); };
        QCOMPARE(cell(0, 0), QStringLiteral("Item:"));
        QCOMPARE(cell(7, 0), QStringLiteral("values:"));
        QCOMPARE(cell(0, 1), QStringLiteral("Cell1 Volt:"));
        QCOMPARE(cell(2, 8), QStringLiteral("Cell16 Volt:"));
        QCOMPARE(cell(4, 8), QStringLiteral("  Cell String:"));
        QCOMPARE(cell(6, 8), QStringLiteral("SOH:"));
        QCOMPARE(cell(1, 1), QString());
        QCOMPARE(cell(8, 0), QString());

        auto* bsi = f.find<QTableWidget>("strgrid_bsi");
        QCOMPARE(bsi->columnCount(), 8);
        QCOMPARE(bsi->columnWidth(0), 100);
        QCOMPARE(bsi->item(1, 0)->text(), QStringLiteral("sys state 0:"));
        QCOMPARE(bsi->item(8, 4)->text(), QStringLiteral("heat mos ctrl:"));
    }

    void batteryPictureTogglesTheParallelGrid()
    {
        WindowFixture f;
        auto* picture = f.find<ShapeWidget>("img4");
        QTest::mouseClick(picture, Qt::LeftButton);
        QVERIFY(f.host().isVisible(QStringLiteral("strgrid_bsi")));
        QTest::mouseClick(picture, Qt::LeftButton);
        QVERIFY(!f.host().isVisible(QStringLiteral("strgrid_bsi")));
    }

    void upgradeTargetButtonsSwitchTheDevFirmwareControls()
    {
        WindowFixture f;
        f.click("rbtn_upgrade_wifi");
        for (const char* name : {"lbl_dev_firmware", "edt_firmware_version", "Label40", "edt_firmware_packpag", "Label41"})
            QVERIFY2(f.host().isVisible(QString::fromLatin1(name)), name);
        QVERIFY(!f.host().isVisible(QStringLiteral("edt_firmware_model")));
        f.click("rbtn_upgrade_main_board");
        for (const char* name : {"lbl_dev_firmware", "edt_firmware_version", "Label40", "edt_firmware_packpag", "Label41"})
            QVERIFY2(!f.host().isVisible(QString::fromLatin1(name)), name);
        QCOMPARE(f.host().unknownControls(), QStringList());
    }

    void handlerErrorsAreShownAndTheWindowGoesOn()
    {
        WindowFixture f;
        // A port that cannot be opened.
        f.setComboText("cbb1", QStringLiteral("/nonexistent/ttyQX0"));
        f.click("opencom");
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].kind, MessageBoxInfo::Critical);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Zanthelor RQM+ Update Tool V04"));
        QCOMPARE(f.boxes[0].text, QStringLiteral("Error opening serial port."));

        // A baud rate that is not a number: quoted, and the window stays offline.
        f.boxes.clear();
        if (f.host().text(QStringLiteral("opencom")) == QLatin1String("Close Port"))
            f.click("opencom");
        f.setComboText("cbb2", QStringLiteral("19200x"));
        f.click("opencom");
        QCOMPARE(f.boxTexts(), QStringList{QStringLiteral("'19200x' is not a valid integer value.")});
        QCOMPARE(f.host().panel(0), QStringLiteral("Offline!"));
        QCOMPARE(f.host().text(QStringLiteral("opencom")), QStringLiteral("Open Port"));

        // An address that is not hexadecimal, typed into the address box:
        // one plain message.
        f.boxes.clear();
        f.setComboText("cbb_addr", QStringLiteral("G1"));
        QCOMPARE(f.boxTexts(),
                 QStringList{QStringLiteral("Please enter the device address as a hexadecimal number from 01 to FF!")});
        QCOMPARE(f.host().text(QStringLiteral("lbl_addr_read")), QStringLiteral("Addr: 06"));

        // Any exception of a handler: the full stop is added only after a
        // character that sorts after '.'.
        f.boxes.clear();
        bms::RunGuarded([] { throw std::runtime_error("File handle is not a comm handle "); });
        bms::RunGuarded([] { throw bms::EConvertError(QStringLiteral("Bad value!")); });
        QCOMPARE(f.boxTexts(), (QStringList{QStringLiteral("File handle is not a comm handle "),
                                            QStringLiteral("Bad value!")}));
        QVERIFY(f.window->isVisible());
    }

    void keystrokeFiltersKeepOnlyTheirCharacters()
    {
        WindowFixture f;
        struct Case {
            const char* box;
            const char* typed;
            const char* kept;
        };
        const Case cases[] = {
            {"edtc", "ab-1x2.3", "123"},
            {"edtc", "letters", ""},
            {"edtv1", "-3300", "3300"},
            {"edt_sleep_time_base", "6 0+0", "600"},
            {"edt_cell_temp_param", "-2a5", "-25"},
            {"edt_cell_volt_param", "-3312", "3312"},
            {"edt_pack_id", "QX-1 ab_9!", "QX1 ab9"},
            {"Customer_code_edit", "ab.CD 12", "abCD 12"},
            {"edt_password", "dmkq-804417", "dmkq-804417"}, // not filtered
        };
        for (const Case& c : cases) {
            auto* box = f.find<QLineEdit>(c.box);
            QVERIFY2(box, c.box);
            box->clear();
            QTest::keyClicks(box, QString::fromLatin1(c.typed));
            QCOMPARE(box->text(), QString::fromLatin1(c.kept));
        }
        // Backspace still edits a filtered box.
        auto* edtc = f.find<QLineEdit>("edtc");
        edtc->setText(QStringLiteral("123"));
        edtc->setCursorPosition(3);
        QTest::keyClick(edtc, Qt::Key_Backspace);
        QCOMPARE(edtc->text(), QStringLiteral("12"));
    }

    void exitAnsweredNoKeepsTheWindow()
    {
        WindowFixture f;
        f.answerYes = false;
        QVERIFY(!f.window->close());
        QVERIFY(f.window->isVisible());
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].kind, MessageBoxInfo::Question);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Confirm"));
        QCOMPARE(f.boxes[0].text, QStringLiteral("Exit now?"));
        QCOMPARE(f.terminations, 0);
        QVERIFY(f.window->tmr3.enabled());
    }

    void exitAnsweredYesStopsTimersAndEnds()
    {
        WindowFixture f;
        f.answerYes = true;
        QVERIFY(f.window->close());
        QCOMPARE(f.terminations, 1);
        QVERIFY(!f.window->tmr1.enabled());
        QVERIFY(!f.window->tmr3.enabled());
        QVERIFY(!f.window->tmr4.enabled());
    }
};

QTEST_MAIN(WindowFormTest)
#include "tst_window_form.moc"
