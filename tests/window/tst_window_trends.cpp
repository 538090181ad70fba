// The Trends tab through the real window offscreen against the virtual pack:
// samples are recorded from "Start Sampling" on, shown or not, the charts
// and the cell bars hold them, stopping leaves a gap, and the charts export
// as PNG and CSV.
#include "WindowFixture.h"

#include "CellBars.h"
#include "LogRows.h"
#include "XlsxFile.h"
#include "PackSample.h"
#include "PackTable.h"
#include "TrendCharts.h"
#include "TrendsTab.h"
#include "VirtualPack.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using bms::test::WindowFixture;
using namespace bms::trends;

class WindowTrendsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void samplingFillsTheChartsWithAGapAfterAStopAndExports()
    {
        bms::sim::PackConfig config;
        config.publish = false;
        bms::sim::VirtualPack pack(config);
        const QString port = QString::fromStdString(pack.start());
        WindowFixture f;
        TrendsTab* tab = f.window->trendsTab();
        const SampleStore& store = f.window->trends().store();
        QCOMPARE(f.form().pgc1->tabText(4), QStringLiteral("Trends"));

        f.setComboText("cbb1", port);
        f.click("opencom");
        f.click("cybtn");
        // Recorded while another tab is shown.
        QTRY_VERIFY_WITH_TIMEOUT(store.sampleCount() >= 8, 20000);
        f.form().pgc1->setCurrentWidget(tab);
        QTRY_VERIFY_WITH_TIMEOUT(tab->charts()->pointCount() > 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tab->bars()->cellsShown(), 16, 10000);
        SampleValues last;
        QVERIFY(store.valuesAt(store.lastTime(), last));
        QCOMPARE(last[PackVoltage], float(bms::PackTable[0].total_volt * 10));
        QCOMPARE(last[FirstCell + 15], float(bms::PackTable[0].cell_volt[15]));

        // Stop, wait, start again: the same timeline goes on after a gap.
        f.click("cybtn");
        const int64_t stoppedAt = store.lastTime();
        QTest::qWait(600);
        f.click("cybtn");
        QTRY_VERIFY_WITH_TIMEOUT(store.lastTime() > stoppedAt + 500, 10000);
        std::vector<TrendPoint> points;
        store.envelope(PackVoltage, store.firstTime(), store.lastTime(), 1000, points);
        QCOMPARE(std::count_if(points.begin(), points.end(), [](const TrendPoint& p) { return std::isnan(p.value); }), 1);

        QTemporaryDir dir;
        tab->chooseFile = [&dir](TrendsTab::FileRole role) {
            return dir.filePath(role == TrendsTab::FileRole::SavePng ? QStringLiteral("t.png") : QStringLiteral("t.csv"));
        };
        f.click("trendExportPng");
        f.click("trendExportCsv");
        const QImage image(dir.filePath(QStringLiteral("t.png")));
        QVERIFY(image.width() > 400 && image.height() > 300);
        QFile csv(dir.filePath(QStringLiteral("t.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QVERIFY(lines.first().startsWith("Time,Pack voltage (V),Current (A)"));
        QVERIFY(lines.size() >= 8);
        QVERIFY(f.boxes.isEmpty());
        f.click("cybtn");
    }

    void aDataLogOpensBesideTheLiveTimelineAndABadFileIsReported()
    {
        QTemporaryDir dir;
        bms::Sheet sheet;
        bms::PackRecord pack;
        pack.total_volt = 5123;
        pack.cell_count = 4;
        pack.cell_volt = {3300, 3310, 3320, 3330};
        const QDateTime start(QDate(2026, 5, 1), QTime(10, 0));
        auto put = [&sheet](int row, const bms::CellRow& cells) {
            for (size_t c = 0; c < cells.size(); ++c)
                sheet.setCell(row, int(c) + 1, cells[c]);
        };
        put(2, bms::DataLogHeaderRow(pack, false));
        for (int i = 0; i < 50; ++i)
            put(i + 3, bms::DataLogRow(pack, bms::BsiRecordT{}, false, start.addSecs(i)));
        const QString good = dir.filePath(QStringLiteral("log.xlsx"));
        bms::WriteXlsx(sheet, good);
        const QString bad = dir.filePath(QStringLiteral("bad.xlsx"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a workbook");
        file.close();

        WindowFixture f;
        TrendsTab* tab = f.window->trendsTab();
        f.form().pgc1->setCurrentWidget(tab);
        QSignalSpy loaded(tab, &TrendsTab::logLoaded);
        tab->openLog(good);
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.takeFirst().at(0).toBool(), true);
        auto* source = tab->findChild<QComboBox*>(QStringLiteral("trendSource"));
        QCOMPARE(source->currentText(), QStringLiteral("log.xlsx"));
        QTRY_VERIFY(tab->charts()->pointCount() > 0);
        QCOMPARE(tab->bars()->cellsShown(), 4);

        tab->openLog(bad);
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.takeFirst().at(0).toBool(), false);
        QCOMPARE(f.boxes.size(), 1); // the reason, through the general error handler
        QCOMPARE(source->currentText(), QStringLiteral("log.xlsx"));
    }

    void aBusLogOffersItsPacksAndDrawsTheOneChosen()
    {
        // Three packs told apart by their cell counts, their rows interleaved
        // as the sweeps of a rack write them.
        QTemporaryDir dir;
        bms::Sheet sheet;
        auto put = [&sheet](int row, const bms::CellRow& cells) {
            for (size_t c = 0; c < cells.size(); ++c)
                sheet.setCell(row, int(c) + 1, cells[c]);
        };
        bms::PackRecord pack;
        pack.cell_count = 16;
        put(2, bms::BusLogHeaderRow(pack));
        const QDateTime start(QDate(2026, 5, 1), QTime(10, 0));
        int row = 3;
        for (int sweep = 0; sweep < 10; ++sweep) {
            for (int address : {2, 7, 16}) {
                pack.cell_count = uint16_t(address);
                put(row++, bms::BusLogRow(pack, address, QStringLiteral("SN-%1").arg(address), start.addSecs(sweep)));
            }
        }
        const QString path = dir.filePath(QStringLiteral("rack.xlsx"));
        bms::WriteXlsx(sheet, path);

        WindowFixture f;
        TrendsTab* tab = f.window->trendsTab();
        f.form().pgc1->setCurrentWidget(tab);
        QSignalSpy loaded(tab, &TrendsTab::logLoaded);
        tab->openLog(path);
        QVERIFY(loaded.wait(20000));
        auto* choice = tab->findChild<QComboBox*>(QStringLiteral("trendPack"));
        QVERIFY(choice->isVisible());
        QCOMPARE(choice->count(), 3);
        QCOMPARE(choice->itemText(1), QStringLiteral("Pack 07 SN-7"));
        QCOMPARE(tab->bars()->cellsShown(), 2);
        auto* status = tab->findChild<QLabel*>(QStringLiteral("trendStatus"));
        QVERIFY(status->text().startsWith(QStringLiteral("10 samples of pack 02 (3 packs)")));
        choice->setCurrentIndex(2);
        QCOMPARE(tab->bars()->cellsShown(), 16);
        choice->setCurrentIndex(1);
        QCOMPARE(tab->bars()->cellsShown(), 7);
        // The live timeline has no packs to choose from.
        tab->findChild<QComboBox*>(QStringLiteral("trendSource"))->setCurrentIndex(0);
        QVERIFY(!choice->isVisible());
        QVERIFY(f.boxes.isEmpty());
    }

    void aBigLogShowsItsProgressCanBeCancelledAndClosingTheTabStopsIt()
    {
        // A journal whose one line is 64 GiB of NUL bytes (a sparse file:
        // nothing on disk), long enough to watch its load.
        QTemporaryDir dir;
        const QString big = dir.filePath(QStringLiteral("big.journal"));
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("QBMS-WORKBOOK-JOURNAL 2\n");
        QVERIFY(file.resize(file.size() + (qint64(64) << 30)));
        file.close();

        TrendRecorder recorder;
        auto* tab = new TrendsTab(recorder);
        tab->show();
        QSignalSpy loaded(tab, &TrendsTab::logLoaded);
        auto* status = tab->findChild<QLabel*>(QStringLiteral("trendStatus"));
        auto* cancel = tab->findChild<QPushButton*>(QStringLiteral("trendCancelLoad"));
        tab->openLog(big);
        QVERIFY(cancel->isVisible());
        const QRegularExpression progress(QStringLiteral("^Loading big\\.journal… [1-9][0-9]? %$"));
        QTRY_VERIFY_WITH_TIMEOUT(progress.match(status->text()).hasMatch(), 20000);
        cancel->click();
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.takeFirst().at(0).toBool(), false);
        QVERIFY(status->text().startsWith(QStringLiteral("Live: ")));
        QVERIFY(!cancel->isVisible());

        // Closed while loading: the reader stops rather than reading on.
        tab->openLog(big);
        QVERIFY(tab->loading());
        delete tab;
    }
};

QTEST_MAIN(WindowTrendsTest)
#include "tst_window_trends.moc"
