// The Trends tab through the real window offscreen against the virtual pack:
// samples are recorded from "Start Sampling" on, shown or not, the charts
// and the cell bars hold them, stopping leaves a gap, and the charts export
// as PNG and CSV.
#include "WindowFixture.h"

#include "CellBars.h"
#include "PackSample.h"
#include "PackTable.h"
#include "TrendCharts.h"
#include "TrendsTab.h"
#include "VirtualPack.h"

#include <QFile>
#include <QImage>
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
};

QTEST_MAIN(WindowTrendsTest)
#include "tst_window_trends.moc"
