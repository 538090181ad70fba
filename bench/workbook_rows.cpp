// Cost of the data log: time per appended row at row 1,000 and at row
// 100,000 (journal on tmpfs, so the figure is the tool's own work), the cost
// of a row whose journal is flushed to a real disk, and the time to write the
// .xlsx of 100,000 rows of 67 columns and to recover it from its journal.
//
// usage: bench_workbook [DISK_FOLDER]   (DISK_FOLDER defaults to /var/tmp)
#include "Rss.h"
#include "CommRecord.h"
#include "Journal.h"
#include "PackTable.h"
#include "Recover.h"
#include "App.h"
#include "FakeHost.h"
#include "Workbooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>
#include <fstream>
#include <string>

namespace {

using bms::bench::RssKiB;

void AppendOne(int n)
{
    bms::PackTable[0].current = -n;
    bms::PackTable[0].fcc_cap = 0x80000000u + uint32_t(n);
    bms::AppendDataRow();
}

// Appends rows up to `upTo` (rows of the sheet), then times five runs of
// `count` more and returns the median time per row.
double MicrosPerRow(int upTo, int count)
{
    while (bms::ExcelRow < upTo)
        AppendOne(bms::ExcelRow);
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < count; ++i)
            AppendOne(bms::ExcelRow);
        runs.push_back(double(t.nsecsElapsed()) / 1000.0 / count);
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The window as the workbooks read it: product type "BSI", so that a
    // pack with no cells or sensors gives rows of 67 columns.
    bms::test::TestApp testApp;
    testApp.host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("BSI");
    const QString diskBase = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/var/tmp");

    QTemporaryDir shm(QStringLiteral("/dev/shm/bench-workbook-XXXXXX"));
    qputenv("QUORLEX_BMS_WORKBOOK_DIR", shm.path().toUtf8());
    bms::excbtnClick();
    const double at1k = MicrosPerRow(1000, 1000);
    const double at100k = MicrosPerRow(100000, 1000);
    const int rows = bms::ExcelRow - 1;
    std::printf("append row (journal on tmpfs): %.1f us at row 1,000, %.1f us at row 100,000, ratio %.2f\n",
                at1k, at100k, at100k / at1k);
    std::printf("resident memory with %d rows of 67 columns: %ld MiB\n", rows, RssKiB() / 1024);

    const std::shared_ptr<bms::WorkbookDocument> doc = bms::CurrentWorkbook();
    const QString journal = doc->journalPath();
    QElapsedTimer t;
    t.start();
    doc->save();
    std::printf("write .xlsx of %d rows x 67 columns: %.2f s (%lld MiB)\n", rows, t.nsecsElapsed() / 1e9,
                QFile(doc->xlsxPath()).size() >> 20);
    bms::EndOpenWorkbook(); // already saved: nothing written again

    t.restart();
    const std::unique_ptr<bms::JournalContents> contents = bms::ReadJournal(journal);
    std::printf("read the journal (%lld MiB): %.2f s\n", QFile(journal).size() >> 20, t.nsecsElapsed() / 1e9);
    t.restart();
    const bms::RecoveryResult r = bms::RecoverWorkbook(journal, shm.path() + QStringLiteral("/recovered.xlsx"));
    std::printf("recover .xlsx from the journal (%d rows, %lld MiB journal): %.2f s\n", r.rows,
                QFile(journal).size() >> 20, t.nsecsElapsed() / 1e9);

    QTemporaryDir disk(diskBase + QStringLiteral("/bench-workbook-XXXXXX"));
    qputenv("QUORLEX_BMS_WORKBOOK_DIR", disk.path().toUtf8());
    bms::excbtnClick();
    const double onDisk = MicrosPerRow(3, 40);
    std::printf("append row with fdatasync to %s: %.1f us\n", qPrintable(diskBase), onDisk);
    bms::EndOpenWorkbook();
    return 0;
}
