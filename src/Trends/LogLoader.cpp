#include "LogLoader.h"

#include "DataLogReader.h"
#include "Errors.h"
#include "Journal.h"
#include "SheetScan.h"
#include "XlsxRows.h"

#include <QFile>
#include <QFileInfo>

namespace bms::trends {

namespace {

// Rows of a journal, rebuilt by the workbook layer's own reader.
void ReadJournalRows(const QString& path, DataLogReader& reader, const std::atomic_bool* cancel)
{
    std::unique_ptr<JournalContents> contents;
    try {
        contents = ReadJournal(path);
    } catch (const Error& e) {
        throw EInOutError(e.message());
    }
    const Sheet& sheet = contents->sheet;
    std::vector<CellValue> cells;
    for (int row = 1; row <= sheet.rowCount(); ++row) {
        if (cancel && *cancel)
            return;
        const int length = sheet.rowLength(row);
        cells.resize(size_t(length));
        for (int column = 1; column <= length; ++column)
            cells[size_t(column - 1)] = sheet.cell(row, column);
        reader.row(row, cells);
    }
}

} // namespace

LoadedLog LoadDataLog(const QString& path, const std::atomic_bool* cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
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
        ReadXlsxRows(path, [r](int row, const std::vector<CellValue>& cells) { r->row(row, cells); }, cancel, fast);
    };
    if (start.startsWith("PK")) {
        // The fast reader first; a worksheet it does not take is read again
        // by the general XML reader.
        try {
            readXlsx(true);
        } catch (const UnsupportedSheetXml&) {
            readXlsx(false);
        }
    } else if (start.startsWith("QBMS-WORKBOOK-JOURNAL")) {
        log.journal = true;
        reader = std::make_unique<DataLogReader>(log.store, fallbackDate);
        ReadJournalRows(path, *reader, cancel);
    } else {
        throw EInOutError(QStringLiteral("%1 is neither a workbook nor a workbook journal").arg(path));
    }
    if (!reader->headerFound())
        throw EInOutError(QStringLiteral("%1 is not a data log written by this tool").arg(path));
    log.samples = reader->samples();
    log.skipped = reader->skipped();
    log.datesGuessed = reader->datesGuessed();
    return log;
}

} // namespace bms::trends
