#include "Recover.h"

#include "Journal.h"
#include "XlsxFile.h"

#include <QFileInfo>

namespace bms {

RecoveryResult RecoverWorkbook(const QString& journalPath, const QString& xlsxPath)
{
    const std::unique_ptr<JournalContents> contents = ReadJournal(journalPath);
    RecoveryResult result;
    result.xlsxPath = xlsxPath;
    if (result.xlsxPath.isEmpty()) {
        QString stem = journalPath;
        if (stem.endsWith(QStringLiteral(".journal")))
            stem.chop(int(qstrlen(".journal")));
        result.xlsxPath = stem + QStringLiteral(".xlsx");
        if (QFileInfo::exists(result.xlsxPath))
            result.xlsxPath = stem + QStringLiteral("-recovered.xlsx");
    }
    result.notes = WriteXlsx(contents->sheet, result.xlsxPath);
    result.rows = contents->sheet.rowCount();
    result.complete = contents->complete;
    result.badLines = contents->badLines;
    return result;
}

} // namespace bms
