// Cost of the Trends tab with a day of samples:
//  - filling the store with 24 h at 500 ms (172,800 samples of a 16-cell
//    pack with 4 cell and 2 MOS sensors: 33 series) and the store's memory;
//  - CPU per appended sample with the tab shown at 1340x640 (its size in a
//    1366x768 window) and repainted, showing "All" and "10 min";
//  - with Qt Charts on the same envelopes, when built with it;
//  - opening a data log of 100,000 rows, as .xlsx and as journal.
//   QT_QPA_PLATFORM=offscreen bench_trends [rows] [folder]
#include "Rss.h"
#include "CellBars.h"
#include "Journal.h"
#include "LogLoader.h"
#include "LogRows.h"
#include "PackSample.h"
#include "TrendCharts.h"
#include "TrendsTab.h"
#include "XlsxFile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TrendsBench.h"

namespace {

using namespace bms::trends;

constexpr int64_t kStart = 1'767'225'600'000; // 2026-01-01
constexpr int kDaySamples = 172'800;

using bms::bench::RssKiB;

// A pack going through charge and discharge: sample i of the day.
bms::PackRecord SyntheticPack(int i)
{
    bms::PackRecord p;
    const double phase = std::sin(double(i) * 2 * M_PI / 14'400.0); // a 2-hour cycle
    p.total_volt = uint16_t(5200 + 300 * phase);
    p.current = int32_t(phase > 0 ? 50'000 : -70'000) + (i % 17) * 10;
    p.rsoc = uint16_t(500 + 450 * phase);
    p.soh = 98;
    p.temp_001C = int16_t(250 + i % 3);
    p.temp_001F = int16_t(310 + 20 * phase);
    p.temp_0020 = int16_t(290 + 20 * phase);
    p.temp_0025 = int16_t(400 + 30 * phase);
    p.cell_count = 16;
    p.temp_a_count = 4;
    p.temp_b_count = 2;
    for (int c = 0; c < 16; ++c)
        p.cell_volt[size_t(c)] = uint16_t(3250 + 150 * phase + (c * 7 + i) % 23);
    for (int c = 0; c < 4; ++c)
        p.temp_a[size_t(c)] = int16_t(300 + 20 * phase + c);
    for (int c = 0; c < 2; ++c)
        p.temp_b[size_t(c)] = int16_t(380 + 30 * phase + c);
    return p;
}

void Pump()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// CPU of one step with the tab showing `preset`, as the event loop runs it:
// `repaint` false appends a sample (the tab only notes that a repaint is
// due), true appends one and repaints the charts and cell bars at once.
Cost ChartCost(TrendsTab& tab, const char* preset, int runs, const std::function<void()>& append, bool repaint)
{
    tab.findChild<QAbstractButton*>(QString::fromLatin1(preset))->click();
    Pump();
    std::vector<double> cpu;
    for (int r = 0; r < runs; ++r) {
        const double t0 = CpuMs();
        append();
        if (repaint)
            tab.refresh();
        Pump();
        cpu.push_back(CpuMs() - t0);
    }
    return Summarise(cpu);
}

void LogOpen(int rows, const QString& folder)
{
    QTemporaryDir dir(folder + QStringLiteral("/bench-trends-XXXXXX"));
    dir.setAutoRemove(!qEnvironmentVariableIsSet("BENCH_TRENDS_KEEP")); // keep the logs to profile the reader
    bms::Sheet sheet;
    auto put = [&sheet](int row, const bms::CellRow& cells) {
        for (size_t c = 0; c < cells.size(); ++c)
            sheet.setCell(row, int(c) + 1, cells[c]);
    };
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(kStart);
    put(1, bms::DeviceLineRow(SyntheticPack(0)));
    put(2, bms::DataLogHeaderRow(SyntheticPack(0), false));
    for (int i = 0; i < rows; ++i)
        put(i + 3, bms::DataLogRow(SyntheticPack(i), bms::BsiRecordT{}, false, start.addMSecs(500LL * i)));
    const QString xlsx = dir.filePath(QStringLiteral("log.xlsx"));
    const QString journal = dir.filePath(QStringLiteral("log.journal"));
    bms::WriteXlsx(sheet, xlsx);
    {
        auto j = bms::Journal::Create(journal);
        for (int r = 1; r <= sheet.rowCount(); ++r)
            for (int c = 1; c <= sheet.rowLength(r); ++c)
                j->cell(r, c, sheet.cell(r, c));
        j->close();
    }
    for (const QString& path : {xlsx, journal}) {
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = CpuMs();
        const LoadedLog log = LoadDataLog(path);
        std::printf("open %s (%d rows x %d columns, %.1f MB): %.2f s wall, %.2f s CPU, %d samples\n",
                    qPrintable(QFileInfo(path).fileName()), rows, sheet.rowLength(3),
                    double(QFileInfo(path).size()) / 1e6, double(wall.elapsed()) / 1000, (CpuMs() - cpu0) / 1000,
                    log.samples);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int logRows = argc > 1 ? std::atoi(argv[1]) : 100'000;
    const bool chartsToo = !qEnvironmentVariableIsSet("BENCH_TRENDS_LOG_ONLY");
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/var/tmp");

    int64_t now = kStart;
    TrendRecorder recorder([&now] { return now; });
    const long rss0 = RssKiB();
    QElapsedTimer fill;
    fill.start();
    int next = 0;
    for (; next < kDaySamples; ++next) {
        bms::PackTable[0] = SyntheticPack(next);
        now = kStart + 500LL * next;
        recorder.record(next % 7, 500);
    }
    std::printf("store: %d samples in %.2f s, %.1f MB held (process grew by %.1f MB)\n", kDaySamples,
                double(fill.elapsed()) / 1000, double(recorder.store().memoryBytes()) / 1e6,
                double(RssKiB() - rss0) / 1024);

    auto append = [&] {
        bms::PackTable[0] = SyntheticPack(next);
        now = kStart + 500LL * next;
        recorder.record(next % 7, 500);
        ++next;
    };
    if (!chartsToo) {
        LogOpen(logRows, folder);
        return 0;
    }
    TrendsTab tab(recorder);
    tab.resize(1340, 640);
    tab.show();
    Pump();
    int replots = 0;
    QObject::connect(tab.charts(), &QCustomPlot::afterReplot, [&replots] { ++replots; });
    struct View {
        const char* preset;
        const char* name;
        int64_t spanMs;
    };
    for (const View& view : {View{"trendAll", "All (24 h)", 0}, View{"trend10Min", "10 min", 600'000}}) {
        ChartCost(tab, view.preset, 5, append, true); // warm-up
        replots = 0;
        const Cost full = ChartCost(tab, view.preset, 100, append, true);
        const int repaints = replots;
        const Cost quiet = ChartCost(tab, view.preset, 100, append, false);
        // The tab repaints at most once per pixel of time, and at most once
        // per sample.
        const double msPerPixel = double(view.spanMs > 0 ? view.spanMs : 86'400'000) / tab.charts()->plotWidth();
        const double share = std::min(1.0, 500.0 / msPerPixel);
        std::printf("QCustomPlot, %s: sample with repaint %.2f ms CPU (p95 %.2f ms, %d points, %d repaints), "
                    "sample alone %.3f ms; one repaint per %.0f ms of time: %.2f ms CPU per sample on average\n",
                    view.name, full.mean, full.p95, tab.charts()->pointCount(), repaints, quiet.mean, msPerPixel,
                    quiet.mean + share * (full.mean - quiet.mean));
    }
#ifdef BENCH_WITH_QTCHARTS
    tab.hide();
    for (bool all : {true, false}) {
        if (qEnvironmentVariableIsSet("BENCH_TRENDS_NO_QTCHARTS"))
            break;
        const Cost c = QtChartsCost(recorder.store(), all, 200, append);
        std::printf("Qt Charts, %s: %.2f ms CPU per sample (p95 %.2f ms)\n", all ? "All (24 h)" : "10 min", c.mean,
                    c.p95);
    }
#endif
    tab.hide();
    if (logRows > 0)
        LogOpen(logRows, folder);
    return 0;
}
