#include "DataLogFiles.h"

#include "Session.h"

#include "Automation.h"
#include "BackgroundSave.h"
#include "CommRecord.h"
#include "Csv.h"
#include "FileSync.h"
#include "LogRows.h"
#include "PackTable.h"
#include "Workbooks.h"

#include <cerrno>
#include <unistd.h>

namespace bms::cli {

namespace {

bool ProductIsBsi(const Session& s) { return s.options.product == QLatin1String("BSI"); }

uint16_t BlockBits(const std::set<int>& blocks)
{
    uint16_t bits = 0;
    for (int b : blocks)
        bits = static_cast<uint16_t>(bits | 1u << b);
    return bits;
}

} // namespace

QStringList CsvFields(const CellRow& row)
{
    QStringList fields;
    for (const CellValue& v : row)
        fields.append(v.isNumber() ? QString::number(v.number, 'g', 17) : v.isText() ? CsvField(v.text) : QString());
    return fields;
}

void DataLogFiles::Rows::add(qint64 rotation)
{
    if (count++ == 0)
        first = rotation;
    last = rotation;
}

QString DataLogFiles::Rows::text() const
{
    if (count == 0)
        return QStringLiteral("no rows");
    if (first == last)
        return QStringLiteral("1 row (rotation %1)").arg(first);
    return QStringLiteral("%1 rows (rotations %2 to %3)").arg(count).arg(first).arg(last);
}

QString OpenNewLogCsv(QFile& csv, const QString& path)
{
    csv.setFileName(path);
    // Unbuffered: a row that fails is not written again from a buffer when
    // the file is closed.
    if (!csv.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text | QIODevice::Unbuffered))
        return QStringLiteral("Cannot create %1: %2").arg(path, csv.errorString());
    return {};
}

DataLogFiles::~DataLogFiles() { end(); }

QString DataLogFiles::prepare(const QString& xlsxPath, const QString& csvPath)
{
    if (!xlsxPath.isEmpty()) {
        if (const QString problem = NewWorkbookPathProblem(xlsxPath); !problem.isEmpty())
            return problem;
        xlsx_ = xlsxPath;
    }
    if (!csvPath.isEmpty()) {
        if (const QString problem = OpenNewLogCsv(csv_, csvPath); !problem.isEmpty())
            return problem;
        csvPath_ = csvPath;
    }
    return {};
}

bool DataLogFiles::addRow(qint64 rotation, const std::set<int>& answered)
{
    if (failed_ || ended_)
        return !failed_;
    const bool bsi = ProductIsBsi(s_);
    if (!started_) {
        started_ = true;
        if (!xlsx_.isEmpty()) {
            SetNextWorkbookPath(xlsx_);
            if (!s_.run(ToggleDataLog) || !DataLogging) {
                failed_ = true;
                s_.fail(ErrorKind::Io, QStringLiteral("Cannot start the workbook %1: nothing is logged").arg(xlsx_));
                return false;
            }
            workbook_ = CurrentWorkbook();
            if (workbook_)
                workbook_->addListener(this);
        }
        if (csv_.isOpen() && !writeCsv(CsvFields(DataLogHeaderRow(PackTable[0], bsi))))
            return false;
    }
    const uint16_t blocks = BlockBits(answered);
    if (DataLogging && workbook_) {
        s_.run([blocks] { AppendDataRowOfBlocks(blocks); });
        sheetRows_.add(rotation);
        if (!journalFailed_ && workbook_->journalFailed()) {
            journalFailed_ = true;
            failed_ = true;
            s_.fail(ErrorKind::Io, QStringLiteral("Cannot write the journal %1 (a full disk or a file size limit); "
                                                  "it holds %2, the rows before the failure")
                                       .arg(workbook_->journalPath(), journalRows_.text()));
        } else if (!journalFailed_) {
            journalRows_.add(rotation);
        }
    }
    if (csv_.isOpen() && writeCsv(CsvFields(DataLogRow(PackTable[0], BsiRecord, bsi, QDateTime::currentDateTime(), blocks))))
        csvRows_.add(rotation);
    return !failed_;
}

bool DataLogFiles::writeCsv(const QStringList& cells)
{
    const QByteArray line = (cells.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
    errno = 0;
    if (csv_.write(line) != line.size()) {
        csvFailed(errno ? SystemError() : csv_.errorString());
        return false;
    }
    // On disk at once: a crash or a power cut loses at most this row.
    if (::fdatasync(csv_.handle()) != 0) {
        csvFailed(SystemError());
        return false;
    }
    csvGoodSize_ += line.size();
    return true;
}

void DataLogFiles::csvFailed(const QString& problem)
{
    // A row cut short by the failure is taken back: the file ends with its
    // last whole row.
    csv_.unsetError();
    csv_.resize(csvGoodSize_);
    csv_.close();
    failed_ = true;
    s_.fail(ErrorKind::Io, QStringLiteral("Cannot write %1: %2; it holds the header and %3, each whole")
                               .arg(csvPath_, problem, csvRows_.text()));
}

void DataLogFiles::workbookSaved(const QString& path)
{
    s_.report.note(QStringLiteral("%1 holds %2").arg(path, sheetRows_.text()));
}

void DataLogFiles::workbookSaveFailed(const QString& path, const QString& problem)
{
    failed_ = true;
    const QString journal = workbook_ ? workbook_->journalPath() : QString();
    QString reason = problem;
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    s_.fail(ErrorKind::Io, QStringLiteral("%1; the journal %2 holds %3 (workbook-recover turns it into %4)")
                               .arg(reason, journal, journalRows_.text(), path));
}

bool DataLogFiles::end()
{
    if (ended_)
        return !failed_;
    ended_ = true;
    if (DataLogging)
        s_.run(EndOpenWorkbook);
    FinishWorkbookSaves();
    if (workbook_) {
        workbook_->removeListener(this);
        workbook_.reset();
    }
    if (csv_.isOpen()) {
        csv_.close();
        s_.report.note(QStringLiteral("%1 holds %2").arg(csvPath_, csvRows_.text()));
    }
    return !failed_;
}

} // namespace bms::cli
