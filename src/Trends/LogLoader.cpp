#include "LogLoader.h"

#include "DataLogReader.h"
#include "Errors.h"
#include "Journal.h"
#include "RegularFile.h"
#include "SheetScan.h"
#include "XlsxRows.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <new>
#include <unistd.h>

namespace bms::trends {

namespace {

// Rows of a journal, rebuilt by the workbook layer's own reader.
void ReadJournalRows(const QString& path, DataLogReader& reader, LoadedLog& log, ReadControl* control)
{
    std::unique_ptr<JournalContents> contents;
    try {
        contents = ReadJournal(path, control);
    } catch (const Error& e) {
        throw EInOutError(e.message());
    }
    log.badLines = contents->badLines;
    const Sheet& sheet = contents->sheet;
    const int columns = DataLogReader::columnsRead();
    std::vector<CellValue> cells;
    for (int row = 1; row <= sheet.rowCount(); ++row) {
        if (Cancelled(control))
            return;
        const int length = std::min(sheet.rowLength(row), columns);
        cells.resize(size_t(length));
        for (int column = 1; column <= length; ++column)
            cells[size_t(column - 1)] = sheet.cell(row, column);
        reader.row(row, cells);
    }
}

LoadedLog Load(const QString& path, ReadControl* control)
{
    // Only a regular file: a named pipe would hold the read until a writer
    // comes, a device such as /dev/zero never ends.
    QString error;
    const int fd = OpenRegularFile(path, error);
    if (fd < 0)
        throw EInOutError(QStringLiteral("Cannot read %1: %2").arg(path, error));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw EInOutError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    }
    const QByteArray start = file.read(32);
    file.close();

    LoadedLog log;
    log.path = path;
    const QDate fallbackDate = QFileInfo(path).lastModified().date();
    std::unique_ptr<DataLogReader> reader;
    auto readXlsx = [&](bool fast) {
        log.store.clear();
        reader = std::make_unique<DataLogReader>(log.store, fallbackDate);
        DataLogReader* r = reader.get();
        log.unreadableCells = ReadXlsxRows(
            path, [r](int row, const std::vector<CellValue>& cells) { r->row(row, cells); },
            {control, fast, DataLogReader::columnsRead()});
    };
    if (start.startsWith("PK")) {
        // The fast reader first; a worksheet it does not take is read again
        // by the general XML reader.
        try {
            readXlsx(true);
        } catch (const UnsupportedSheetXml&) {
            readXlsx(false);
        }
    } else if (StartsAsJournal(start)) {
        log.journal = true;
        reader = std::make_unique<DataLogReader>(log.store, fallbackDate);
        ReadJournalRows(path, *reader, log, control);
    } else {
        throw EInOutError(QStringLiteral("%1 is neither a workbook nor a workbook journal").arg(path));
    }
    log.cancelled = Cancelled(control);
    if (!reader->headerFound() && !log.cancelled)
        throw EInOutError(QStringLiteral("%1 is not a data log written by this tool").arg(path));
    log.busLog = reader->busLog();
    log.packs = reader->takePacks();
    log.samples = reader->samples();
    log.skipped = reader->skipped();
    log.datesGuessed = reader->datesGuessed();
    return log;
}

} // namespace

LoadedLog LoadDataLog(const QString& path, ReadControl* control)
{
    try {
        return Load(path, control);
    } catch (const std::bad_alloc&) {
        throw EInOutError(QStringLiteral("Not enough memory to read %1").arg(path));
    }
}

} // namespace bms::trends
