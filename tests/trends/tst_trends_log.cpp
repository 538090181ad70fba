// Data logs written by the tool plot the values they hold, from the .xlsx
// and from the journal; CSV export reads back.
#include "CsvExport.h"
#include "DataLogReader.h"
#include "Errors.h"
#include "FileSync.h"
#include "Journal.h"
#include "LogLoader.h"
#include "LogRows.h"
#include "PackSample.h"
#include "SheetScan.h"
#include "XlsxFile.h"
#include "XlsxRows.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <fcntl.h>
#include <future>
#include <limits>
#include <string>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

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
        // The .xlsx, the journal, and the journal as an editor on another
        // system saves it (a byte order mark in front, CR LF line ends).
        for (int kind : {0, 1, 2}) {
            const bool journal = kind > 0;
            const Sheet sheet = LogSheet(rows, bsi);
            const QString path = dir.filePath(QStringLiteral("log-%1-%2").arg(bsi).arg(kind));
            if (journal)
                WriteJournal(sheet, path);
            else
                WriteXlsx(sheet, path);
            if (kind == 2) {
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                const QByteArray edited = "\xEF\xBB\xBF" + file.readAll().replace("\n", "\r\n");
                file.seek(0);
                file.write(edited);
            }
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
                            "<worksheet><sheetData><row r=\"1\"><!-- note --><c r=\"A1\"><v>1</v></c></row>"}) {
        SheetScan scan(shared, ignore);
        EXPECT_THROW(scan.feed(xml), UnsupportedSheetXml) << xml;
    }
}

namespace {

constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

std::string ColumnName(size_t column)
{
    std::string name;
    for (; column > 0; column = (column - 1) / 26)
        name.insert(name.begin(), char('A' + (column - 1) % 26));
    return name;
}

// Rows as "row:column=value,..." (texts in quotes), empty cells left out.
struct SheetRead {
    std::string rows;
    int64_t unreadable = 0;
    bool handedOver = false; // the fast reader gave up and the XML reader read it
};

SheetRead ReadBoth(const std::string& xml, bool fast, size_t piece)
{
    SheetRead read;
    auto visit = [&read](int row, const std::vector<CellValue>& cells) {
        read.rows += (read.rows.empty() ? "" : " ") + std::to_string(row) + ":";
        bool first = true;
        for (size_t c = 0; c < cells.size(); ++c) {
            if (cells[c].isEmpty())
                continue;
            read.rows += (first ? "" : ",") + ColumnName(c + 1) + "=";
            read.rows += cells[c].isText() ? "'" + cells[c].text.toStdString() + "'"
                                           : QString::number(cells[c].number).toStdString();
            first = false;
        }
    };
    SharedStrings shared;
    shared.append(u"zero");
    shared.append(u"one");
    try {
        read.unreadable = ReadSheetXml(xml, shared, visit, fast, piece);
    } catch (const UnsupportedSheetXml&) {
        read = {};
        read.handedOver = true;
        read.unreadable = ReadSheetXml(xml, shared, visit, false, piece);
    }
    return read;
}

} // namespace

// Each case as the sheet XML's definition has it (ECMA-376, c and
// ST_CellType): both readers, whole and in one-byte pieces, give these rows.
TEST(DataLogTest, bothWorksheetReadersReadEveryCellAsTheSheetXmlDefinesIt)
{
    struct Case {
        const char* what;
        std::string xml; // inside <sheetData>, or a whole worksheet
        const char* rows;
        int unreadable;
    };
    auto prefixed = [](const char* p) {
        return QStringLiteral("<%1:worksheet xmlns:%1=\"%2\"><%1:sheetData><%1:row r=\"1\"><%1:c r=\"A1\"><%1:v>1</%1:v>"
                              "</%1:c><%1:c r=\"B1\" t=\"inlineStr\"><%1:is><%1:t>t</%1:t></%1:is></%1:c></%1:row>"
                              "</%1:sheetData></%1:worksheet>")
            .arg(QLatin1String(p), QLatin1String(kMainNamespace))
            .toStdString();
    };
    const Case cases[] = {
        {"number, shared string, inline string",
         R"(<row r="1"><c r="A1"><v>1.5</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="inlineStr"><is><t>x</t></is></c></row>)",
         "1:A=1.5,B='one',C='x'", 0},
        {"x: prefix", prefixed("x"), "1:A=1,B='t'", 0},
        {"ss: prefix", prefixed("ss"), "1:A=1,B='t'", 0},
        {"main: prefix", prefixed("main"), "1:A=1,B='t'", 0},
        {"booleans are 1 and 0; anything else is unreadable",
         R"(<row r="1"><c r="A1" t="b"><v>1</v></c><c r="B1" t="b"><v>0</v></c><c r="C1" t="b"><v>2</v></c></row>)",
         "1:A=1,B=0", 1},
        {"an unknown type is unreadable, with <is> as with <v>",
         R"(<row r="1"><c r="A1" t="x"><is><t>hi</t></is></c><c r="B1" t="x"><v>1</v></c><c r="C1"><v>3</v></c></row>)",
         "1:C=3", 2},
        {"two values in one cell are unreadable",
         R"(<row r="1"><c r="A1"><v>1</v><v>2</v></c><c r="B1" t="inlineStr"><is><t>a</t></is><is><t>b</t></is></c><c r="C1"><v>3</v></c></row>)",
         "1:C=3", 2},
        {"rich text runs count, phonetic runs do not",
         R"(<row r="1"><c r="A1" t="inlineStr"><is><r><t>ab</t></r><r><rPr><b/></rPr><t xml:space="preserve">cd </t></r><rPh sb="0" eb="1"><t>X</t></rPh></is></c></row>)",
         "1:A='abcd '", 0},
        {"a formula gives its cached value; str, e and d hold texts",
         R"(<row r="1"><c r="A1"><f>1+1</f><v>2</v></c><c r="B1" t="str"><f>A1</f><v>x&amp;y&#x41;</v></c><c r="C1" t="e"><v>#N/A</v></c><c r="D1" t="d"><v>2026-03-14T12:00:00</v></c></row>)",
         "1:A=2,B='x&yA',C='#N/A',D='2026-03-14T12:00:00'", 0},
        {"numbers as xsd:double writes them; NaN, INF and what overflows are unreadable",
         R"(<row r="1"><c r="A1"><v> 1.5E3 </v></c><c r="B1"><v>+2</v></c><c r="C1"><v>-.5</v></c><c r="D1"><v>NaN</v></c><c r="E1"><v>INF</v></c><c r="F1"><v>1e400</v></c><c r="G1"><v>0x10</v></c><c r="H1"><v/></c></row>)",
         "1:A=1500,B=2,C=-0.5", 5},
        {"a shared string beyond the table is unreadable",
         R"(<row r="1"><c r="A1" t="s"><v>2</v></c><c r="B1" t="s"><v>-1</v></c><c r="C1" t="s"><v>0</v></c></row>)",
         "1:C='zero'", 2},
        {"references beyond XFD, overlong or in small letters are unreadable",
         R"(<row r="1"><c r="AAAAAAAA1"><v>1</v></c><c r="XFE1"><v>2</v></c><c r="a1"><v>3</v></c><c r="A"><v>4</v></c><c r="XFD1"><v>5</v></c></row>)",
         "1:XFD=5", 4},
        {"cells and rows without a reference follow the one before",
         R"(<row r="5"><c r="C5"><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c></row>)", "5:C=1,D=2 6:A=3", 0},
        {"rows beyond the sheet are unreadable",
         R"(<row r="2147483647"><c r="A1"><v>1</v></c></row><row r="0"><c><v>2</v></c></row><row r="1048576"><c><v>3</v></c></row><row><c><v>4</v></c></row>)",
         "1048576:A=3", 3},
        {"line ends as an XML reader gives them",
         "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a&#13;b\r\nc\rd</t></is></c></row>", "1:A='a\rb\nc\nd'", 0},
        {"cells without a value are empty",
         R"(<row r="1"><c r="A1"/><c r="B1" t="s"/><c r="C1" t="inlineStr"></c><c r="D1" s="3"><v>7</v></c></row>)",
         "1:D=7", 0},
        {"elements the sheet data does not define are passed over",
         R"(<row r="1" spans="1:2"><c r="A1"><v>1</v><extLst><ext><v>9</v></ext></extLst></c></row><other><row r="9"><c><v>9</v></c></row></other>)",
         "1:A=1", 0},
        {"a comment and a CDATA section", R"(<row r="1"><!-- note --><c r="A1"><v><![CDATA[1]]></v></c></row>)",
         "1:A=1", 0},
    };
    for (const Case& c : cases) {
        const std::string xml = c.xml.find("worksheet") != std::string::npos
            ? c.xml
            : std::string("<worksheet xmlns=\"") + kMainNamespace + "\"><sheetData>" + c.xml + "</sheetData></worksheet>";
        for (const bool fast : {true, false}) {
            for (const size_t piece : {size_t(1), size_t(1) << 18}) {
                SCOPED_TRACE(std::string(c.what) + (fast ? ", fast reader" : ", XML reader") + ", pieces of "
                             + std::to_string(piece));
                const SheetRead read = ReadBoth(xml, fast, piece);
                EXPECT_EQ(read.rows, c.rows);
                EXPECT_EQ(read.unreadable, c.unreadable);
                // Namespace prefixes no longer send the fast reader away.
                if (fast && std::string(c.what).ends_with("prefix")) {
                    EXPECT_FALSE(read.handedOver);
                }
            }
        }
    }
}

// Past a limit both readers refuse the worksheet, and neither holds more
// than the limit on the way.
TEST(DataLogTest, bothWorksheetReadersRefuseWhatIsPastTheirLimits)
{
    const std::string cell = R"(<row r="1"><c r="A1" t="inlineStr"><is><t>)";
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "<a>";
    const std::pair<const char*, std::string> cases[] = {
        {"a text of 32,768 characters", cell + std::string(32768, 'a') + "</t></is></c></row>"},
        {"a value of 2 MiB", R"(<row r="1"><c r="A1"><v>)" + std::string(2 << 20, '1') + "</v></c></row>"},
        {"elements nested 300 deep", "<row r=\"1\">" + deep + "</row>"},
        {"a document type with entities", R"(<!DOCTYPE worksheet [<!ENTITY e "eeeeeeee">]><worksheet><sheetData><row r="1"><c r="A1" t="str"><v>&e;&e;</v></c></row></sheetData></worksheet>)"},
    };
    for (const auto& [what, inner] : cases) {
        const std::string xml = inner.find("worksheet") != std::string::npos
            ? inner
            : std::string("<worksheet><sheetData>") + inner + "</sheetData></worksheet>";
        for (const bool fast : {true, false}) {
            SCOPED_TRACE(std::string(what) + (fast ? ", fast reader" : ", XML reader"));
            EXPECT_THROW(ReadBoth(xml, fast, size_t(1) << 18), EInOutError);
        }
    }
    SharedStrings shared;
    EXPECT_THROW(shared.append(QString(32768, QLatin1Char('a'))), SheetTooLarge);
    for (size_t i = 0; i < kMaxSharedStrings; ++i)
        shared.append(u"");
    EXPECT_THROW(shared.append(u""), SheetTooLarge);
}

// A time cell that is no date (as a spreadsheet counts days: 1900 to 9999)
// or a value that is not finite skips its row, and the row is counted.
TEST(DataLogTest, rowsWhoseTimeOrValuesAreNoNumbersAreSkippedAndCounted)
{
    const std::vector<LoggedRow> rows = Rows();
    const Sheet sheet = LogSheet(rows, false);
    auto row = [&sheet](int r) {
        std::vector<CellValue> cells;
        for (int c = 1; c <= sheet.rowLength(r); ++c)
            cells.push_back(sheet.cell(r, c));
        return cells;
    };
    SampleStore store;
    DataLogReader reader(store);
    reader.row(2, row(2));
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const double time : {1e300, -1e300, nan, inf, 0.0, 2958466.0})
        reader.row(3, [&] {
            std::vector<CellValue> cells = row(3);
            cells[0] = CellValue::Number(time);
            return cells;
        }());
    for (const double value : {nan, inf, 1e300})
        reader.row(4, [&] {
            std::vector<CellValue> cells = row(4);
            cells[1] = CellValue::Number(value);
            return cells;
        }());
    reader.row(5, row(5));
    std::vector<CellValue> serial = row(6);
    serial[0] = CellValue::Number(46096.5); // 2026-03-15 12:00 as a spreadsheet's date
    reader.row(6, serial);
    EXPECT_EQ(reader.skipped(), 9);
    EXPECT_EQ(reader.samples(), 2);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(store.lastTime()), QDateTime(QDate(2026, 3, 15), QTime(12, 0)));
}

// A bus log's row whose address is no pack's (0, past 255, a fraction, a
// text) or whose time cannot be read is skipped, and makes no pack of it.
TEST(DataLogTest, aBusLogRowWithoutAPacksAddressOrTimeMakesNoPack)
{
    const std::vector<LoggedRow> rows = Rows();
    SampleStore store;
    DataLogReader reader(store);
    reader.row(2, BusLogHeaderRow(rows[0].pack));
    EXPECT_TRUE(reader.busLog());
    auto bad = [&](int address, int column, const CellValue& value) {
        CellRow cells = BusLogRow(rows[1].pack, address, QStringLiteral("X"), rows[1].when);
        cells[size_t(column)] = value;
        reader.row(3, cells);
    };
    for (const CellValue& address : {CellValue::Number(0), CellValue::Number(256), CellValue::Number(2.5),
                                     CellValue::Text(QStringLiteral("two"))})
        bad(1, 1, address);
    bad(9, 0, CellValue::Text(QStringLiteral("no time")));
    reader.row(4, BusLogRow(rows[2].pack, 4, QStringLiteral("SN4"), rows[2].when));
    EXPECT_EQ(reader.skipped(), 5);
    const std::vector<PackTimeline> packs = reader.takePacks();
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(packs[0].address, 4);
    EXPECT_EQ(packs[0].serial, QStringLiteral("SN4"));
    EXPECT_EQ(packs[0].samples, 1);
    EXPECT_TRUE(store.empty());
}

namespace {

// Writes the tool's data log of `rows` rows, then changes its worksheet's
// XML with `edit` and adds `shared` as its shared strings.
void CraftXlsx(const QString& path, int rows, const std::function<void(std::string&)>& edit, const std::string& shared)
{
    std::vector<LoggedRow> logged = Rows();
    while (int(logged.size()) < rows)
        logged.push_back({logged.back().pack, logged.back().when.addSecs(1)});
    WriteXlsx(LogSheet(logged, false), path);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), 0, &error);
    ASSERT_TRUE(z);
    const char* const sheet = "xl/worksheets/sheet1.xml";
    std::string xml;
    zip_file_t* f = zip_fopen(z, sheet, 0);
    char buffer[65536];
    for (zip_int64_t n; f && (n = zip_fread(f, buffer, sizeof buffer)) > 0;)
        xml.append(buffer, size_t(n));
    zip_fclose(f);
    edit(xml);
    zip_source_t* source = zip_source_buffer(z, xml.data(), xml.size(), 0);
    ASSERT_EQ(zip_file_replace(z, zip_uint64_t(zip_name_locate(z, sheet, 0)), source, 0), 0);
    const std::string strings = std::string("<sst xmlns=\"") + kMainNamespace + "\">" + shared + "</sst>";
    ASSERT_GE(zip_file_add(z, "xl/sharedStrings.xml", zip_source_buffer(z, strings.data(), strings.size(), 0), 0), 0);
    ASSERT_EQ(zip_close(z), 0);
}

} // namespace

// A part that inflates far beyond its compressed size is refused before it
// is read, naming the part; the progress runs through the shared strings
// before the worksheet.
TEST(DataLogTest, inflatedPartsAreRefusedAtOnceAndSharedStringsCountInTheProgress)
{
    QTemporaryDir dir;
    const QString spaces = dir.filePath(QStringLiteral("spaces.xlsx")), many = dir.filePath(QStringLiteral("many.xlsx"));
    CraftXlsx(spaces, 6, [](std::string& xml) { xml.insert(xml.find("<sheetData"), std::string(16 << 20, ' ')); }, {});
    std::string x;
    for (int i = 0; i < 1'000'000; ++i)
        x += "<si><t>x</t></si>";
    CraftXlsx(many, 6, [](std::string&) {}, x);
    for (const auto& [path, part] : {std::pair{spaces, "xl/worksheets/sheet1.xml"}, std::pair{many, "xl/sharedStrings.xml"}}) {
        QElapsedTimer clock;
        clock.start();
        try {
            LoadDataLog(path);
            ADD_FAILURE() << part << " was read";
        } catch (const EInOutError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("its part %1 decompresses to more than 100 times").arg(part)))
                << e.message().toStdString();
        }
        EXPECT_LT(clock.elapsed(), 500) << part;
    }

    // Shared strings (random texts) about as large as the worksheet: when
    // the first row comes, half of the reading is done.
    std::string texts;
    uint32_t r = 1;
    for (int i = 0; i < 100'000; ++i) {
        texts += "<si><t>";
        for (int c = 0; c < 24; ++c, r = r * 1103515245u + 12345u)
            texts += char('a' + (r >> 16) % 26);
        texts += "</t></si>";
    }
    const QString log = dir.filePath(QStringLiteral("shared.xlsx"));
    CraftXlsx(log, 1400, [](std::string&) {}, texts);
    ReadControl control;
    int firstRow = -1;
    ReadXlsxRows(log, [&](int, const std::vector<CellValue>&) {
        if (firstRow < 0)
            firstRow = control.permille.load();
    }, {&control, true});
    EXPECT_GT(firstRow, 400);
    EXPECT_LT(firstRow, 700);
}

// Only a regular file, or a link to one, is opened: a named pipe (which
// would hold the read until a writer comes) or a link to a device is
// refused at once.
TEST(DataLogTest, onlyRegularFilesAreOpened)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("log.xlsx")), fifo = dir.filePath(QStringLiteral("pipe.xlsx")),
                  zero = dir.filePath(QStringLiteral("zero.journal")), link = dir.filePath(QStringLiteral("link.xlsx"));
    WriteXlsx(LogSheet(Rows(), false), log);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    ASSERT_TRUE(QFile::link(log, link));
    const std::pair<QString, const char*> cases[] = {
        {fifo, "it is a named pipe (FIFO), not a file"}, {zero, "it is a device, not a file"}, {link, nullptr}};
    for (const auto& [path, refusal] : cases) {
        SCOPED_TRACE(path.toStdString());
        std::future<QString> outcome = std::async(std::launch::async, [path = path] {
            try {
                return QString::number(LoadDataLog(path).samples);
            } catch (const EInOutError& e) {
                return e.message();
            }
        });
        if (outcome.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "still reading after 5 s";
            // Lets a read that waits in the pipe's open go on.
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        const QString said = outcome.get();
        EXPECT_EQ(said.toStdString(), (refusal ? QStringLiteral("Cannot read %1: %2").arg(path, QLatin1String(refusal))
                                               : QString::number(Rows().size()))
                                          .toStdString());
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
    // Rows 1..4 only; the new name is made durable (its folder synced).
    QStringList synced;
    bms::FolderSynced = [&](const QString& folder) { synced.append(folder); };
    const int written = WriteCsv(store, rows[1].when.toMSecsSinceEpoch(), rows[4].when.toMSecsSinceEpoch(), path);
    bms::FolderSynced = nullptr;
    EXPECT_EQ(written, 4);
    EXPECT_EQ(synced, QStringList{QFileInfo(path).absolutePath()});

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
