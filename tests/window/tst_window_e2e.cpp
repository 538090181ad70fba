// The whole tool against the virtual pack on a pseudo-terminal, through the
// real window offscreen: open the port, sample, see the pack's values, time
// out on a silent pack and recover, read the information block, close the
// port and the window.
#include "WindowFixture.h"

#include "Codec.h"
#include "CommRecord.h"
#include "SerialComm.h"
#include "UiHost.h"
#include "VirtualPack.h"

#include "LiveSheetWindow.h"
#include "WorkbookDocument.h"
#include "Workbooks.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTableWidget>
#include <QTest>

using bms::MessageBoxInfo;
using bms::test::WindowFixture;

namespace {

bms::sim::PackConfig SteadyPack()
{
    bms::sim::PackConfig config;
    config.live = false; // values stay put, so the window can be compared with them
    config.publish = false;
    return config;
}

QString Hex4(uint16_t v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); }

struct Session {
    explicit Session(bms::sim::PackConfig config = SteadyPack()) : pack(config)
    {
        port = QString::fromStdString(pack.start());
    }
    // Opens the port and starts sampling (every 500 ms unless told otherwise).
    void openAndSample(const QString& period = QStringLiteral("500"))
    {
        f.setComboText("cbb1", port);
        f.click("opencom");
        QCOMPARE(f.host().panel(0), QStringLiteral("Connected to the communication box!"));
        QCOMPARE(f.host().text(QStringLiteral("opencom")), QStringLiteral("Close Port"));
        QCOMPARE(f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColRed));
        f.setComboText("cbb3", period);
        f.click("cybtn");
        QCOMPARE(f.host().text(QStringLiteral("cybtn")), QStringLiteral("Close Sampling"));
        QCOMPARE(f.host().panel(1), QStringLiteral("Sampling!"));
    }
    QString cell(int col, int row) const
    {
        auto* grid = f.window->findChild<QTableWidget*>(QStringLiteral("strngrd1"));
        return grid->item(row, col) ? grid->item(row, col)->text() : QString();
    }
    int memoLines(const QString& start) const
    {
        int n = 0;
        for (const QString& line : f.host().text(QStringLiteral("mmo1")).split(QLatin1Char('\n')))
            n += line.startsWith(start) ? 1 : 0;
        return n;
    }

    bms::sim::VirtualPack pack;
    QString port;
    mutable WindowFixture f;
};

} // namespace

class WindowEndToEndTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void samplingShowsThePacksValues()
    {
        Session s;
        s.openAndSample();
        // Blocks 0..6 take seven periods; cells come with the last of them.
        const uint16_t cell1 = s.pack.reg(0x0500);
        const uint16_t cell16 = s.pack.reg(0x050F);
        QVERIFY(cell1 > 2000);
        QTRY_COMPARE_WITH_TIMEOUT(s.cell(1, 1), QString::number(cell1) + QStringLiteral("mV"), 15000);
        QCOMPARE(s.cell(3, 8), QString::number(cell16) + QStringLiteral("mV"));
        // Current values in the grid's own colour, each with its engineering value.
        auto* grid = s.f.window->findChild<QTableWidget*>(QStringLiteral("strngrd1"));
        QCOMPARE(grid->item(1, 1)->toolTip(), QStringLiteral("%1.%2 V").arg(cell1 / 1000).arg(cell1 % 1000, 3, 10, QLatin1Char('0')));
        QVERIFY(!grid->item(1, 1)->data(Qt::ForegroundRole).isValid());
        QCOMPARE(s.cell(7, 1), QString::number(s.pack.reg(0x0017) * 10) + QStringLiteral("mV"));
        const int32_t current = static_cast<int32_t>(uint32_t(s.pack.reg(0x0015)) << 16 | s.pack.reg(0x0016));
        QCOMPARE(s.cell(7, 2), QString::number(current) + QStringLiteral("mA"));
        const uint16_t rsoc = s.pack.reg(0x0018);
        QCOMPARE(s.cell(7, 6), QStringLiteral("%1.%2%").arg(rsoc / 10).arg(rsoc % 10));
        QCOMPARE(s.cell(7, 7), QString::number(s.pack.reg(0x001B)));
        QCOMPARE(s.cell(5, 1), QString::number(int16_t(s.pack.reg(0x0400) - 2731)) + QStringLiteral("'C"));
        QCOMPARE(s.cell(5, 8), QString::number(s.pack.reg(0x0205)));
        QCOMPARE(s.f.host().text(QStringLiteral("lbl10")), QStringLiteral("bms status 0:") + Hex4(s.pack.reg(0x0100)));
        QCOMPARE(s.f.host().text(QStringLiteral("lbl_secProtect")),
                 QStringLiteral("fault status 0:") + Hex4(s.pack.reg(0x0080)));
        QVERIFY(s.f.host().text(QStringLiteral("edt3")).startsWith(QStringLiteral("HV:")));
        QVERIFY(s.f.host().text(QStringLiteral("lblc")).startsWith(QStringLiteral("Current:")));
        QCOMPARE(s.f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColLime));
        QVERIFY(s.memoLines(QStringLiteral("Note: communication is normal!(")) >= 7);
        QCOMPARE(s.memoLines(QStringLiteral("communication timeout!(")), 0);
        QVERIFY(s.f.boxes.isEmpty());
        // Every control the core touched exists in the window.
        QCOMPARE(s.f.host().unknownControls(), QStringList());
    }

    void silentPackGivesOneTimeoutLinePerPollAndRecovers()
    {
        // A period longer than the 500 ms reply time-out, so that every poll
        // has its own time-out (at 500 ms a poll that goes out while the
        // previous time-out still runs shares it).
        Session s;
        s.openAndSample(QStringLiteral("1000"));
        QTRY_VERIFY_WITH_TIMEOUT(s.pack.answersSent() >= 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColLime), 3000);

        s.pack.setSilent(3);
        QTRY_VERIFY_WITH_TIMEOUT(s.memoLines(QStringLiteral("communication timeout!(")) >= 1, 8000);
        QCOMPARE(s.f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColRed));
        const uint64_t answered = s.pack.answersSent();
        // The fourth poll is answered again: lime, and no more time-outs.
        QTRY_VERIFY_WITH_TIMEOUT(s.pack.answersSent() >= answered + 1, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColLime), 5000);
        QCOMPARE(s.memoLines(QStringLiteral("communication timeout!(")), 3);
        QTRY_VERIFY_WITH_TIMEOUT(s.pack.answersSent() >= answered + 3, 15000);
        QCOMPARE(s.memoLines(QStringLiteral("communication timeout!(")), 3);
        // A time-out line carries the time as (hh:mm:ss).
        const QString memo = s.f.host().text(QStringLiteral("mmo1"));
        const int at = memo.indexOf(QStringLiteral("communication timeout!("));
        QCOMPARE(memo.mid(at + 23 + 8, 1), QStringLiteral(")"));
        QVERIFY(s.f.boxes.isEmpty());
    }

    void readInfoFillsTheInformationGroup()
    {
        Session s;
        s.f.setComboText("cbb1", s.port);
        s.f.click("opencom");
        s.f.click("btn3");
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().text(QStringLiteral("edt1")), QString::fromStdString(s.pack.barcode()), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(s.f.boxTexts().contains(QStringLiteral("Get the information completely!")), 3000);
        QCOMPARE(s.f.host().text(QStringLiteral("edt_pack_id")),
                 QString::fromStdString(s.pack.serialNumber()).trimmed());
        QCOMPARE(s.f.host().text(QStringLiteral("edt4")), QString::number(s.pack.ratedCapacity()));
        // UID: 24 hex digits, its CRC in the label beside "UID CRC".
        const QString uid = s.f.host().text(QStringLiteral("edt_uid"));
        QCOMPARE(uid.size(), 24);
        const QByteArray uidBytes = QByteArray::fromHex(uid.toLatin1());
        const uint16_t crc = bms::Crc16(reinterpret_cast<const uint8_t*>(uidBytes.constData()), 12);
        QCOMPARE(s.f.host().text(QStringLiteral("lbl_uid_crc")), Hex4(crc));
        QVERIFY(s.f.host().text(QStringLiteral("lbl_rtc")).startsWith(QStringLiteral("RTC Time: 20")));
        QVERIFY(s.f.host().text(QStringLiteral("lbl_sleep_time")).startsWith(QStringLiteral("Sleep Time: ")));
        QCOMPARE(s.f.boxes.size(), 1);
        QCOMPARE(s.f.boxes[0].kind, MessageBoxInfo::Information);
        QCOMPARE(s.f.boxes[0].title, QStringLiteral("Zanthelor RQM+ Update Tool V04"));
        QCOMPARE(s.f.host().unknownControls(), QStringList());
    }

    void pollsGoOnWhileAMessageBoxIsOpen()
    {
        // The operator leaves a box open for 2.6 s while sampling every
        // 500 ms: the box of the information read (shown by the decoder) and
        // a refused input (shown inside a settings handler that pauses
        // sampling around its request).
        const struct {
            const char* button;
            const char* barcode;
            const char* box;
        } cases[] = {
            {"btn3", "", "Get the information completely!"},
            {"btn8", "12345", "Please enter 12 bits 0~9 data!"},
        };
        for (const auto& c : cases) {
            Session s;
            s.openAndSample();
            QTRY_VERIFY_WITH_TIMEOUT(s.pack.answersSent() >= 2, 5000);
            s.f.host().setText(QStringLiteral("edt1"), QString::fromLatin1(c.barcode));
            uint64_t answersWhileOpen = 0;
            s.f.window->host().messageHook = [&](const MessageBoxInfo& box) {
                s.f.boxes.append(box);
                if (box.text == QLatin1String(c.box)) {
                    const uint64_t before = s.pack.answersSent();
                    QTest::qWait(2600);
                    answersWhileOpen = s.pack.answersSent() - before;
                }
                return true;
            };
            s.f.click(c.button);
            QTRY_VERIFY_WITH_TIMEOUT(s.f.boxTexts().contains(QLatin1String(c.box)), 5000);
            QVERIFY2(answersWhileOpen >= 4, c.box);
        }
    }

    void writesWithoutAMessageAreNotedInTheMemo()
    {
        Session s;
        s.f.setComboText("cbb1", s.port);
        s.f.click("opencom");
        s.f.click("Button3"); // zero drift "SET"
        QTRY_COMPARE_WITH_TIMEOUT(s.memoLines(QStringLiteral("Note: the pack accepted the zero drift write (register 0x9D27)!(")),
                                  1, 3000);
        QVERIFY(s.f.boxes.isEmpty());
    }

    void badSamplingTimeIsReportedAndSamplingStaysOff()
    {
        Session s;
        s.f.setComboText("cbb1", s.port);
        s.f.click("opencom");
        s.f.setComboText("cbb3", QStringLiteral("50x"));
        s.f.click("cybtn");
        QCOMPARE(s.f.boxTexts(), QStringList{QStringLiteral("'50x' is not a valid integer value.")});
        QCOMPARE(s.f.host().text(QStringLiteral("cybtn")), QStringLiteral("Start Sampling"));
        QVERIFY(!s.f.window->tmr1.enabled());
        QCOMPARE(s.f.host().panel(1), QStringLiteral("Ready!"));
    }

    void packAlarmAndStateWordsLightTheIndicators()
    {
        Session s;
        s.pack.setRegister(0x0080, 0x0401); // cell low voltage and MOS high temperature alarms
        s.pack.setRegister(0x0082, 0x0002); // short circuit protection
        s.pack.setRegister(0x0083, 0x1000); // hardware protection
        s.pack.setRegister(0x0100, 0x0021); // charging, charge MOS on
        s.openAndSample();
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().colour(QStringLiteral("prt_sc")), uint32_t(bms::ColRed), 8000);
        QCOMPARE(s.f.host().colour(QStringLiteral("alarm_cuv")), uint32_t(bms::ColYellow));
        QCOMPARE(s.f.host().colour(QStringLiteral("alarm_fht")), uint32_t(bms::ColYellow));
        QCOMPARE(s.f.host().colour(QStringLiteral("alarm_cov")), uint32_t(bms::ColLime));
        QCOMPARE(s.f.host().colour(QStringLiteral("protect_hardwear")), uint32_t(bms::ColRed));
        QCOMPARE(s.f.host().colour(QStringLiteral("prt_doc")), uint32_t(bms::ColLime));
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().text(QStringLiteral("lbl30")), QStringLiteral("Charging..."), 3000);
        QCOMPARE(s.f.host().text(QStringLiteral("lbl33")), QStringLiteral("Charge MOS:on"));
        QCOMPARE(s.f.host().text(QStringLiteral("lbl34")), QStringLiteral("Discharge MOS:off"));
        QCOMPARE(s.f.host().text(QStringLiteral("lbl10")), QStringLiteral("bms status 0:0021"));
    }

    void mainBoardUpgradeRunsThroughTheWindow()
    {
        Session s;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("BMS_MAIN.hex"));
        const QByteArray image = ":020000040800F2\n:0400000001020304F2\n:10001000000102030405060708090A0B0C0D0E0F68\n"
                                 ":00000001FF\n";
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(image);
        }
        s.f.window->chooseFile = [file] { return file; };
        s.f.setComboText("cbb1", s.port);
        s.f.click("opencom");
        s.f.click("opbtn");
        QCOMPARE(s.f.host().text(QStringLiteral("edt6")), file);
        s.f.answerYes = true;
        s.f.click("upbtn");
        QCOMPARE(s.f.boxes.value(0).kind, MessageBoxInfo::Warning);
        QCOMPARE(s.f.boxes.value(0).text, QStringLiteral("Whether to restart the device and update?"));
        // While the run is on, sampling and closing the port are refused;
        // the buttons keep their designed states.
        s.f.click("cybtn");
        s.f.click("opencom");
        QCOMPARE(s.f.boxTexts().mid(1), QStringList(2, QStringLiteral("Please wait until the upgrade has ended!")));
        QCOMPARE(s.f.host().text(QStringLiteral("cybtn")), QStringLiteral("Start Sampling"));
        QCOMPARE(s.f.host().text(QStringLiteral("opencom")), QStringLiteral("Close Port"));
        QVERIFY(s.f.window->port()->Connected());
        // The transfer reads each answer as soon as it is in.
        QTRY_VERIFY_WITH_TIMEOUT(s.f.window->port()->ReadIntervalTimeout() == bms::kReadIntervalImmediate, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().text(QStringLiteral("lbl35")), QStringLiteral("Upgrade Complete!"), 30000);
        QCOMPARE(QByteArray::fromStdString(s.pack.imageHex(bms::sim::Target::MainBoard)), image);
        // Once the board answers again its versions are read back under the
        // four image lines, without time-out lines while it restarts.
        QTRY_COMPARE_WITH_TIMEOUT(s.f.host().text(QStringLiteral("mmo2")).split(QLatin1Char('\n')).value(4),
                                  QStringLiteral("Firmware before: HV:2.1.0 SV:1.5.3 after: HV:2.1.0 SV:1.5.4"), 10000);
        QCOMPARE(s.f.host().text(QStringLiteral("edt3")), QStringLiteral("HV:2.1.0 SV:1.5.4"));
        QCOMPARE(s.memoLines(QStringLiteral("communication timeout!(")), 0);
        QVERIFY(s.f.host().isEnabled(QStringLiteral("upbtn")));
        QVERIFY(s.f.host().isEnabled(QStringLiteral("rbtn_upgrade_wifi")));
        QCOMPARE(s.f.window->port()->ReadIntervalTimeout(), 1u);
        QCOMPARE(s.f.boxes.size(), 3);
        QCOMPARE(s.f.host().unknownControls(), QStringList());
    }

    void dataLogCollectsRowsWhileSampling()
    {
        QTemporaryDir dir;
        qputenv("QUORLEX_BMS_WORKBOOK_DIR", dir.path().toLocal8Bit());
        Session s;
        s.openAndSample();
        s.f.click("excbtn");
        QCOMPARE(s.f.host().text(QStringLiteral("excbtn")), QStringLiteral("Cancel the save"));
        QVERIFY(!s.f.host().isEnabled(QStringLiteral("btn_save_uid")));
        QVERIFY(!s.f.host().isEnabled(QStringLiteral("Cal_excel_button")));
        const std::shared_ptr<bms::WorkbookDocument> log = bms::CurrentWorkbook();
        QVERIFY(log);
        // The product type's start text is taken whole into the caption.
        QCOMPARE(log->caption(), QStringLiteral("Q-Serial-data"));
        // Device line, header, then one row per telemetry answer.
        QTRY_VERIFY_WITH_TIMEOUT(log->sheet().rowCount() >= 5, 10000);
        bool shown = false;
        for (QWidget* top : QApplication::topLevelWidgets())
            shown = shown || (qobject_cast<bms::LiveSheetWindow*>(top) && top->isVisible());
        QVERIFY(shown);

        s.f.click("excbtn");
        QCOMPARE(s.f.host().text(QStringLiteral("excbtn")), QStringLiteral("Save to Excel"));
        QVERIFY(s.f.host().isEnabled(QStringLiteral("btn_save_uid")));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log->xlsxPath()), 10000);
        QVERIFY(s.f.boxes.isEmpty());
        bms::CloseLiveSheetWindows();
        qunsetenv("QUORLEX_BMS_WORKBOOK_DIR");
    }

    void closingThePortAndTheWindow()
    {
        Session s;
        s.openAndSample();
        QTRY_VERIFY_WITH_TIMEOUT(s.pack.answersSent() >= 1, 5000);
        s.f.click("opencom");
        QCOMPARE(s.f.host().panel(0), QStringLiteral("Offline!"));
        QCOMPARE(s.f.host().text(QStringLiteral("opencom")), QStringLiteral("Open Port"));
        QCOMPARE(s.f.host().colour(QStringLiteral("shp9")), uint32_t(bms::ColGrey));
        QVERIFY(!s.f.host().isEnabled(QStringLiteral("cybtn")));
        QVERIFY(!s.f.window->tmr1.enabled());
        QVERIFY(!s.f.window->tmr2.enabled());
        QCOMPARE(bms::PortOpen, uint8_t(0));

        // Open again, then leave: Yes closes the port and ends the program.
        s.f.click("opencom");
        QCOMPARE(s.f.host().panel(0), QStringLiteral("Connected to the communication box!"));
        s.f.answerYes = true;
        QVERIFY(s.f.window->close());
        QCOMPARE(s.f.terminations, 1);
        QVERIFY(!s.f.window->port()->Connected());
        QVERIFY(!s.f.window->tmr3.enabled());
    }
};

QTEST_MAIN(WindowEndToEndTest)
#include "tst_window_e2e.moc"
