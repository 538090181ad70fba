#include "BusLogFiles.h"

#include "DataLogFiles.h"
#include "Session.h"

#include "BackgroundSave.h"
#include "PackTable.h"
#include "WorkbookError.h"

#include <unistd.h>

namespace bms::cli {

BusLogFiles::~BusLogFiles() { end(); }

QString BusLogFiles::prepare(const QString& xlsxPath, const QString& csvPath)
{
    if (!xlsxPath.isEmpty()) {
        if (const QString problem = NewWorkbookPathProblem(xlsxPath); !problem.isEmpty())
            return problem;
        xlsx_ = xlsxPath;
    }
    if (!csvPath.isEmpty()) {
        if (const QString problem = OpenNewLogCsv(csv_, csvPath); !problem.isEmpty())
            return problem;
    }
    return {};
}

bool BusLogFiles::write(const CellRow& row)
{
    ++row_;
    if (workbook_) {
        int column = 1;
        for (const CellValue& v : row)
            workbook_->setCell(row_, column++, v);
        if (!workbook_->rowDone()) {
            failed_ = true;
            s_.fail(ErrorKind::Io, QStringLiteral("Cannot write the journal %1 (a full disk or a file size limit); "
                                                  "it holds the rows before the failure")
                                       .arg(workbook_->journalPath()));
            return false;
        }
    }
    if (csv_.isOpen() && row_ >= 2) {
        const QByteArray line = (CsvFields(row).join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
        if (csv_.write(line) != line.size() || ::fdatasync(csv_.handle()) != 0) {
            failed_ = true;
            s_.fail(ErrorKind::Io, QStringLiteral("Cannot write %1: %2").arg(csv_.fileName(), csv_.errorString()));
            csv_.close();
            return false;
        }
    }
    return true;
}

bool BusLogFiles::addRow(int address, const QString& serial, const std::set<int>& answered, const QDateTime& when)
{
    if (failed_ || ended_)
        return !failed_;
    if (row_ == 0) {
        if (!xlsx_.isEmpty()) {
            try {
                workbook_ = std::make_shared<WorkbookDocument>(QStringLiteral("Bus log"), xlsx_);
            } catch (const EWorkbookError& e) {
                failed_ = true;
                s_.fail(ErrorKind::Io, QStringLiteral("Cannot start the workbook %1: %2").arg(xlsx_, e.message()));
                return false;
            }
            workbook_->addListener(this);
            workbook_->setAllColumnWidths(15);
        }
        if (!write({CellValue::Text(QStringLiteral("Bus log"))})
            || !write(BusLogHeaderRow(PackTable[0])))
            return false;
    }
    uint16_t blocks = 0;
    for (int b : answered)
        blocks = static_cast<uint16_t>(blocks | 1u << b);
    const bool ok = write(BusLogRow(PackTable[0], address, serial, when, blocks));
    rows_ += ok;
    return ok;
}

bool BusLogFiles::end()
{
    if (ended_)
        return !failed_;
    ended_ = true;
    if (workbook_) {
        workbook_->end([](const QString&) {});
        FinishWorkbookSaves();
        workbook_->removeListener(this);
        workbook_.reset();
    }
    if (csv_.isOpen()) {
        csv_.close();
        s_.report.note(QStringLiteral("%1 holds %2 rows").arg(csv_.fileName()).arg(rows_));
    }
    return !failed_;
}

void BusLogFiles::workbookSaved(const QString& path)
{
    s_.report.note(QStringLiteral("%1 holds %2 rows").arg(path).arg(rows_));
}

void BusLogFiles::workbookSaveFailed(const QString& path, const QString& problem)
{
    failed_ = true;
    s_.fail(ErrorKind::Io, QStringLiteral("%1; the journal %2 holds the rows (workbook-recover turns it into %3)")
                               .arg(problem, workbook_ ? workbook_->journalPath() : QString(), path));
}

} // namespace bms::cli
