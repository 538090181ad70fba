// Reads random journal lines (after the journal's first line) as
// workbook-recover and "Open log…" do: the sheet rebuilt from them, every
// text as the .xlsx writer would write it, and the rows as a data log. The
// writer's texts must be what a spreadsheet opens without repair.
#include "Errors.h"
#include "Journal.h"
#include "LogLoader.h"
#include "WorkbookError.h"
#include "XlsxFile.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

using namespace bms;

namespace {

bool Writable(const QString& text)
{
    if (text.size() > 32767)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if ((c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) || c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c) && !(i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())))
            return false;
        if (QChar::isLowSurrogate(c) && !(i > 0 && QChar::isHighSurrogate(text[i - 1].unicode())))
            return false;
        if (QChar::isHighSurrogate(c))
            ++i;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The journal lives in memory; its name is the descriptor's.
    static const int fd = memfd_create("journal", 0);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    static const char kFirstLine[] = "QBMS-WORKBOOK-JOURNAL 2\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, kFirstLine, sizeof kFirstLine - 1, 0) < 0
        || pwrite(fd, data, size, sizeof kFirstLine - 1) < 0)
        std::abort();

    try {
        const std::unique_ptr<JournalContents> contents = ReadJournal(path);
        const Sheet& sheet = contents->sheet;
        XlsxWriteNotes notes;
        for (int row = 1; row <= sheet.rowCount(); ++row) {
            if (sheet.rowLength(row) > kMaxJournalColumns)
                std::abort();
            for (int column = 1; column <= sheet.rowLength(row); ++column) {
                const CellValue cell = sheet.cell(row, column);
                if (cell.isText() && !Writable(WritableText(cell.text, notes)))
                    std::abort();
            }
        }
    } catch (const EWorkbookError&) {
    }
    try {
        (void)trends::LoadDataLog(path);
    } catch (const Error&) {
    }
    return 0;
}
