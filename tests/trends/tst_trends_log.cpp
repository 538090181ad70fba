// Data logs written by the tool plot the values they hold, from the .xlsx
// and from the journal; CSV export reads back.
#include "CsvExport.h"
#include "Errors.h"
#include "Journal.h"
#include "LogLoader.h"
#include "LogRows.h"
#include "PackSample.h"
#include "SheetScan.h"
#include "XlsxFile.h"
#include "XlsxRows.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace bms;
using namespace bms::trends;

namespace {

struct LoggedRow {
    PackRecord pack;
    QDateTime when;
};

std::vector<LoggedRow> Rows()
{
    std::vector<LoggedRow> rows;
    const QDateTime start(QDate(2026, 3, 14), QTime(23, 59, 58));
    for (int i = 0; i < 6; ++i) {
        PackRecord p;
        p.total_volt = uint16_t(5300 + i);
        p.current = i % 2 ? -15000 - i : 20000 + i;
        p.rsoc = uint16_t(500 + i);
        p.soh = 97;
        p.temp_001C = int16_t(-40 + i);
        p.temp_001F = 301;
        p.temp_0020 = -5;
        p.temp_0025 = 410;
        // The counts change along the log: no cells yet, then 13, then 16.
        p.cell_count = uint16_t(i == 0 ? 0 : i < 4 ? 13 : 16);
        p.temp_a_count = uint8_t(i == 0 ? 0 : 3);
        p.temp_b_count = uint8_t(i == 0 ? 0 : 2);
        for (int c = 0; c < 16; ++c) {
            p.cell_volt[size_t(c)] = uint16_t(3300 + 7 * c + i);
            p.temp_a[size_t(c)] = int16_t(-100 + 11 * c);
            p.temp_b[size_t(c)] = int16_t(350 + c);
        }
        // A pause of a minute before the last row (sampling stopped).
        rows.push_back({p, start.addSecs(i < 5 ? i : 65)});
    }
    return rows;
}

Sheet LogSheet(const std::vector<LoggedRow>& rows, bool bsi)
{
    Sheet sheet;
    auto put = [&sheet](int row, const CellRow& cells) {
        for (size_t c = 0; c < cells.size(); ++c)
            sheet.setCell(row, int(c) + 1, cells[c]);
    };
    put(1, DeviceLineRow(rows[0].pack));
    put(2, DataLogHeaderRow(rows[0].pack, bsi));
    for (size_t r = 0; r < rows.size(); ++r)
        put(int(r) + 3, DataLogRow(rows[r].pack, BsiRecordT{}, bsi, rows[r].when));
    return sheet;
}

void WriteJournal(const Sheet& sheet, const QString& path)
{
    std::unique_ptr<Journal> journal = Journal::Create(path);
    for (int r = 1; r <= sheet.rowCount(); ++r) {
        for (int c = 1; c <= sheet.rowLength(r); ++c)
            journal->cell(r, c, sheet.cell(r, c));
        journal->sync();
    }
    // Left open, as after a crash.
}

bool Same(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

} // namespace

TEST(DataLogTest, aLogWrittenByTheToolPlotsTheValuesItHolds)
{
    QTemporaryDir dir;
    const std::vector<LoggedRow> rows = Rows();
    for (bool bsi : {false, true}) {
        for (bool journal : {false, true}) {
            const Sheet sheet = LogSheet(rows, bsi);
            const QString path = dir.filePath(QStringLiteral("log-%1-%2").arg(bsi).arg(journal));
            if (journal)
                WriteJournal(sheet, path);
            else
                WriteXlsx(sheet, path);
            const LoadedLog log = LoadDataLog(path);
            SCOPED_TRACE(path.toStdString());
            EXPECT_EQ(log.journal, journal);
            EXPECT_EQ(log.samples, int(rows.size()));
            EXPECT_EQ(log.skipped, 0);
            EXPECT_FALSE(log.datesGuessed);

            size_t n = 0;
            log.store.forEachRow(0, log.store.lastTime(), [&](int64_t t, SampleStore::RowKind, const SampleValues& v) {
                ASSERT_LT(n, rows.size());
                EXPECT_EQ(t, rows[n].when.toMSecsSinceEpoch());
                const SampleValues want = SampleFromPack(rows[n].pack, kAllBlocks);
                for (int s = 0; s < SeriesCount; ++s)
                    EXPECT_TRUE(Same(v[size_t(s)], want[size_t(s)])) << "row " << n << " " << Info(s).name.toStdString();
                ++n;
            });
            EXPECT_EQ(n, rows.size());
            // The minute without rows is a gap.
            std::vector<TrendPoint> points;
            log.store.envelope(PackVoltage, log.store.firstTime(), log.store.lastTime(), 100, points);
            EXPECT_EQ(std::count_if(points.begin(), points.end(), [](const TrendPoint& p) { return std::isnan(p.value); }), 1);
        }
    }
}

TEST(DataLogTest, bothWorksheetReadersGiveTheSameRowsAndTheFastOneRefusesWhatItDoesNotKnow)
{
    QTemporaryDir dir;
    Sheet sheet = LogSheet(Rows(), true);
    sheet.setCell(1, 9, CellValue::Text(QStringLiteral("a <b> & \"c\" é")));
    const QString path = dir.filePath(QStringLiteral("log.xlsx"));
    WriteXlsx(sheet, path);
    std::vector<std::pair<int, std::vector<CellValue>>> read[2];
    for (int fast = 0; fast < 2; ++fast)
        ReadXlsxRows(path, [&](int row, const std::vector<CellValue>& cells) { read[fast].emplace_back(row, cells); },
                     {nullptr, fast == 1});
    ASSERT_EQ(read[0].size(), size_t(sheet.rowCount()));
    EXPECT_TRUE(read[0] == read[1]);
    EXPECT_EQ(read[1][0].second[8].text, QStringLiteral("a <b> & \"c\" é"));

    const SharedStrings shared;
    const RowVisitor ignore = [](int, const std::vector<CellValue>&) {};
    for (const char* xml : {"<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v><![CDATA[1]]></v></c></row>",
                            "<x:worksheet><x:sheetData><x:row r=\"1\"><x:c r=\"A1\"><x:v>1</x:v></x:c></x:row>",
                            "<worksheet><sheetData><row r=\"1\"><!-- note --><c r=\"A1\"><v>1</v></c></row>"}) {
        SheetScan scan(shared, ignore);
        EXPECT_THROW(scan.feed(xml), UnsupportedSheetXml) << xml;
    }
}

TEST(DataLogTest, otherFilesAreRefused)
{
    QTemporaryDir dir;
    Sheet uid;
    const CellRow header = UidHeaderRow();
    for (size_t c = 0; c < header.size(); ++c)
        uid.setCell(1, int(c) + 1, header[c]);
    const QString workbook = dir.filePath(QStringLiteral("uid.xlsx"));
    WriteXlsx(uid, workbook);
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PK but not a zip");
    file.close();
    for (const QString& path : {workbook, text, dir.filePath(QStringLiteral("missing.xlsx"))})
        EXPECT_THROW(LoadDataLog(path), EInOutError) << path.toStdString();
}

TEST(CsvExportTest, writesTheRangeInShownUnitsAndReadsBack)
{
    QTemporaryDir dir;
    const std::vector<LoggedRow> rows = Rows();
    SampleStore store;
    for (const LoggedRow& row : rows)
        store.append(row.when.toMSecsSinceEpoch(), SampleFromPack(row.pack, kAllBlocks));
    const QString path = dir.filePath(QStringLiteral("trend.csv"));
    // Rows 1..4 only.
    const int written = WriteCsv(store, rows[1].when.toMSecsSinceEpoch(), rows[4].when.toMSecsSinceEpoch(), path);
    EXPECT_EQ(written, 4);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    const QStringList header = lines[0].split(QLatin1Char(','));
    const QStringList first = lines[1].split(QLatin1Char(','));
    ASSERT_EQ(first.size(), header.size());
    auto value = [&](const QString& title) { return first.at(header.indexOf(title)); };
    EXPECT_EQ(first[0], rows[1].when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
    EXPECT_EQ(value(QStringLiteral("Pack voltage (V)")), QStringLiteral("53.010"));
    EXPECT_EQ(value(QStringLiteral("Current (A)")), QStringLiteral("-15.001"));
    EXPECT_EQ(value(QStringLiteral("RSOC (%)")), QStringLiteral("50.1"));
    EXPECT_EQ(value(QStringLiteral("ENV (°C)")), QStringLiteral("-3.9"));
    EXPECT_EQ(value(QStringLiteral("Cell 13 (mV)")), QStringLiteral("3385"));
    EXPECT_EQ(value(QStringLiteral("Cell 14 (mV)")), QString()); // beyond this row's 13 cells
    EXPECT_EQ(value(QStringLiteral("Cell spread (mV)")), QStringLiteral("84"));
    EXPECT_EQ(header.last(), QStringLiteral("Decimated"));
}
