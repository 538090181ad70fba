// Cost of the live sheet window as rows arrive: a window shown offscreen
// over a data log of 67 columns, one row appended and the events handled as
// the event loop would between two samples; time per row at row 1,000 and at
// row 100,000.
//
// usage: QT_QPA_PLATFORM=offscreen bench_workbook_view
#include "BackgroundSave.h"
#include "FakeHost.h"
#include "LiveSheetWindow.h"
#include "PackTable.h"
#include "Workbooks.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void AppendOne(bool handleEvents)
{
    bms::PackTable[0].current = -bms::ExcelRow;
    bms::AppendDataRow();
    if (handleEvents)
        QCoreApplication::processEvents();
}

double MicrosPerRow(int upTo, int count)
{
    while (bms::ExcelRow < upTo)
        AppendOne(bms::ExcelRow % 1000 == 0);
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < count; ++i)
            AppendOne(true);
        runs.push_back(double(t.nsecsElapsed()) / 1000.0 / count);
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir shm(QStringLiteral("/dev/shm/bench-workbook-view-XXXXXX"));
    qputenv("QUORLEX_BMS_WORKBOOK_DIR", shm.path().toUtf8());
    bms::test::TestApp testApp;
    testApp.host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("BSI");
    bms::InstallLiveSheetWindows();
    bms::excbtnClick();
    const double at1k = MicrosPerRow(1000, 200);
    const double at100k = MicrosPerRow(100000, 200);
    std::printf("append row with the live window (events handled each row): %.1f us at row 1,000, "
                "%.1f us at row 100,000, ratio %.2f\n", at1k, at100k, at100k / at1k);
    bms::EndOpenWorkbook();
    bms::CloseLiveSheetWindows();
    return 0;
}
