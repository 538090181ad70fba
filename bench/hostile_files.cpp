// Time and peak memory of crafted files through the real entry points:
// "Open log…" of the Trends tab (LoadDataLog) and workbook-recover. Each case
// runs in a fresh child process, so its peak resident memory is its own; a
// case still running after the time limit is killed and reported so.
//   bench_hostile_files [seconds per case, default 120] [folder]
// The files take a few MB of disk (the 2 GiB journal line is a sparse run
// of NUL bytes); making them takes about 2 GB of memory for a moment.
#include "Errors.h"
#include "Journal.h"
#include "LogLoader.h"
#include "LogRows.h"
#include "Sheet.h"
#include "XlsxFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

extern char** environ;

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// A small data log of the tool, written by its own writer.
bms::Sheet SmallLog()
{
    bms::Sheet sheet;
    bms::PackRecord pack{};
    pack.cell_count = 4;
    auto put = [&sheet](int row, const bms::CellRow& cells) {
        for (size_t c = 0; c < cells.size(); ++c)
            sheet.setCell(row, int(c) + 1, cells[c]);
    };
    put(1, bms::DeviceLineRow(pack));
    put(2, bms::DataLogHeaderRow(pack, false));
    const QDateTime start(QDate(2026, 3, 14), QTime(12, 0));
    for (int r = 0; r < 10; ++r)
        put(r + 3, bms::DataLogRow(pack, bms::BsiRecordT{}, false, start.addSecs(r)));
    return sheet;
}

std::string EntryText(zip_t* z, const char* name)
{
    std::string text;
    zip_file_t* f = zip_fopen(z, name, 0);
    char buffer[65536];
    zip_int64_t n;
    while (f && (n = zip_fread(f, buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    if (f)
        zip_fclose(f);
    return text;
}

// Writes the small log to `path`, then changes its worksheet with `sheet`
// and, when `shared` is not empty, adds it as the shared strings.
bool CraftXlsx(const QString& path, const std::function<void(std::string&)>& sheet, std::string shared = {})
{
    bms::WriteXlsx(SmallLog(), path);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), 0, &error);
    if (!z)
        return false;
    std::string xml = EntryText(z, "xl/worksheets/sheet1.xml");
    sheet(xml);
    const zip_int64_t index = zip_name_locate(z, "xl/worksheets/sheet1.xml", 0);
    zip_source_t* s = zip_source_buffer(z, xml.data(), xml.size(), 0);
    bool ok = index >= 0 && s && zip_file_replace(z, zip_uint64_t(index), s, 0) == 0;
    if (ok && !shared.empty()) {
        zip_source_t* t = zip_source_buffer(z, shared.data(), shared.size(), 0);
        ok = t && zip_file_add(z, "xl/sharedStrings.xml", t, ZIP_FL_OVERWRITE) >= 0;
    }
    return zip_close(z) == 0 && ok;
}

void Insert(std::string& xml, const char* before, const std::string& text)
{
    const size_t at = xml.find(before);
    if (at != std::string::npos)
        xml.insert(at, text);
}

std::string SharedStrings(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        + body + "</sst>";
}

bool WriteJournal(const QString& path, const std::function<void(FILE*)>& body)
{
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    std::fputs("QBMS-WORKBOOK-JOURNAL 2\n", f);
    body(f);
    return std::fclose(f) == 0;
}

struct Case {
    const char* name;
    QString file;
    bool recover; // through workbook-recover, else through "Open log…"
};

struct Outcome {
    double seconds = 0;
    double peakMiB = 0;
    QString ending;
    QString output;
};

Outcome Run(const QStringList& arguments, const QString& outputFile, int limitSeconds)
{
    Outcome o;
    std::vector<QByteArray> bytes;
    for (const QString& a : arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = QFile::encodeName(outputFile);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        o.ending = QStringLiteral("cannot start");
        return o;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    bool killed = false;
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (clock.elapsed() > limitSeconds * 1000LL && !killed) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        ::usleep(20'000);
    }
    o.seconds = double(clock.elapsed()) / 1000.0;
    o.peakMiB = double(usage.ru_maxrss) / 1024.0;
    if (killed)
        o.ending = QStringLiteral("killed after %1 s").arg(limitSeconds);
    else if (WIFSIGNALED(status))
        o.ending = QStringLiteral("signal %1").arg(WTERMSIG(status));
    else
        o.ending = QStringLiteral("exit %1").arg(WEXITSTATUS(status));
    QFile f(outputFile);
    if (f.open(QIODevice::ReadOnly))
        o.output = QString::fromUtf8(f.read(300)).section(QLatin1Char('\n'), 0, 0);
    return o;
}

// The child: opens `path` as "Open log…" does and says how it went.
int OpenLog(const QString& path)
{
    try {
        const bms::trends::LoadedLog log = bms::trends::LoadDataLog(path);
        std::printf("%d samples, %d rows skipped\n", log.samples, log.skipped);
        return 0;
    } catch (const bms::Error& e) {
        std::printf("refused: %s\n", e.what());
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--open"))
        return OpenLog(args[2]);

    const int limit = args.size() > 1 ? args[1].toInt() : 120;
    QTemporaryDir temporary;
    const QString folder = args.size() > 2 ? args[2] : temporary.path();
    QDir().mkpath(folder);
    auto file = [&](const char* name) { return QDir(folder).filePath(QString::fromLatin1(name)); };

    std::printf("crafting the files in %s\n", qPrintable(folder));
    std::fflush(stdout);
    // In a child of its own: a process started later inherits the peak
    // memory of its parent (Linux keeps it across exec).
    const pid_t crafter = ::fork();
    if (crafter > 0) {
        int status = 0;
        ::waitpid(crafter, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 1;
    } else {
    const std::string spaces(256 * kMiB, ' ');
    CraftXlsx(file("spaces.xlsx"), [&](std::string& xml) { Insert(xml, "<sheetData", spaces); });
    CraftXlsx(file("long-value.xlsx"), [&](std::string& xml) {
        Insert(xml, "</sheetData>", "<row r=\"20\"><c r=\"B20\"><v>" + std::string(256 * kMiB, '1') + "</v></c></row>");
    });
    {
        std::string many;
        many.reserve(10'000'000 * 16);
        for (int i = 0; i < 10'000'000; ++i)
            many += "<si><t>x</t></si>";
        CraftXlsx(file("shared-count.xlsx"), [](std::string&) {}, SharedStrings(many));
    }
    CraftXlsx(file("shared-long.xlsx"), [](std::string&) {},
              SharedStrings("<si><t>" + std::string(256 * kMiB, 'a') + "</t></si>"));
    // 1 GiB of rows of the sheet's full size, then a comment: the fast
    // reader reads them all before it meets the comment and hands the sheet
    // to the general reader, which reads them again.
    CraftXlsx(file("rows-then-comment.xlsx"), [](std::string& xml) {
        std::string cells;
        for (int c = 0; c < 64; ++c)
            cells += "<c><v>1</v></c>";
        std::string rows;
        rows.reserve(size_t(1) << 30);
        for (int r = 13; r <= 1'048'576; ++r)
            rows += "<row r=\"" + std::to_string(r) + "\">" + cells + "</row>";
        Insert(xml, "</sheetData>", rows + "<!-- end -->");
    });
    WriteJournal(file("wide-rows.journal"), [](FILE* f) {
        for (int row = 1; row <= 10'000; ++row)
            std::fprintf(f, "c\t%d\t16384\tn1\n", row);
    });
    // One line of 2 GiB: a sparse run of NUL bytes, then its line feed.
    WriteJournal(file("long-line.journal"), [](FILE* f) {
        std::fflush(f);
        const off_t end = ::lseek(fileno(f), 0, SEEK_END) + (off_t(2) << 30);
        if (::ftruncate(fileno(f), end) == 0) {
            std::fseek(f, 0, SEEK_END);
            std::fputs("\n", f);
        }
    });
    ::_exit(0);
    }

    const Case cases[] = {
        {"256 MiB of spaces before <sheetData>", file("spaces.xlsx"), false},
        {"one <v> of 256 MiB", file("long-value.xlsx"), false},
        {"10^7 shared strings", file("shared-count.xlsx"), false},
        {"one shared string of 256 MiB", file("shared-long.xlsx"), false},
        {"1 GiB of rows, then a comment", file("rows-then-comment.xlsx"), false},
        {"journal: 10,000 rows to column 16384", file("wide-rows.journal"), false},
        {"  the same, workbook-recover", file("wide-rows.journal"), true},
        {"journal: one line of 2 GiB", file("long-line.journal"), false},
        {"  the same, workbook-recover", file("long-line.journal"), true},
    };
    std::printf("%-40s %10s %10s %10s  %s\n", "case", "file KiB", "seconds", "peak MiB", "ending: output");
    for (const Case& c : cases) {
        const QStringList command = c.recover
            ? QStringList{QStringLiteral(WORKBOOK_RECOVER), c.file, file("recovered.xlsx")}
            : QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("--open"), c.file};
        QFile::remove(file("recovered.xlsx"));
        const Outcome o = Run(command, file("output.txt"), limit);
        struct stat st;
        ::stat(QFile::encodeName(c.file).constData(), &st);
        std::printf("%-40s %10lld %10.2f %10.1f  %s: %s\n", c.name, (long long)(st.st_blocks / 2), o.seconds,
                    o.peakMiB, qPrintable(o.ending), qPrintable(o.output.left(110)));
        std::fflush(stdout);
    }
    return 0;
}
