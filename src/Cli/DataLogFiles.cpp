#include "DataLogFiles.h"

#include "Session.h"

#include "Automation.h"
#include "BackgroundSave.h"
#include "CommRecord.h"
#include "LogRows.h"
#include "PackTable.h"
#include "WorkbookDocument.h"
#include "Workbooks.h"

#include <QFileInfo>
#include <unistd.h>

namespace bms::cli {

namespace {

bool ProductIsBsi(const Session& s) { return s.options.product == QLatin1String("BSI"); }

QString CsvField(const CellValue& v)
{
    if (v.isNumber())
        return QString::number(v.number, 'g', 17);
    if (!v.isText())
        return {};
    if (!v.text.contains(QLatin1Char(',')) && !v.text.contains(QLatin1Char('"')) && !v.text.contains(QLatin1Char('\n')))
        return v.text;
    QString quoted = v.text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QStringList CsvFields(const CellRow& row)
{
    QStringList fields;
    for (const CellValue& v : row)
        fields.append(CsvField(v));
    return fields;
}

} // namespace

DataLogFiles::~DataLogFiles() { end(); }

QString DataLogFiles::prepare(const QString& xlsxPath, const QString& csvPath)
{
    if (!xlsxPath.isEmpty()) {
        if (const QString problem = NewWorkbookPathProblem(xlsxPath); !problem.isEmpty())
            return problem;
        xlsx_ = xlsxPath;
    }
    if (!csvPath.isEmpty()) {
        csv_.setFileName(csvPath);
        if (!csv_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text))
            return QStringLiteral("Cannot create %1: %2").arg(csvPath, csv_.errorString());
        csvPath_ = csvPath;
    }
    return {};
}

void DataLogFiles::addRow()
{
    const bool bsi = ProductIsBsi(s_);
    if (!started_) {
        started_ = true;
        if (!xlsx_.isEmpty()) {
            SetNextWorkbookPath(xlsx_);
            s_.run(ToggleDataLog);
        }
        if (csv_.isOpen())
            writeCsv(CsvFields(DataLogHeaderRow(PackTable[0], bsi)));
    }
    if (DataLogging)
        s_.run(AppendDataRow);
    if (csv_.isOpen())
        writeCsv(CsvFields(DataLogRow(PackTable[0], BsiRecord, bsi, QDateTime::currentDateTime())));
}

void DataLogFiles::writeCsv(const QStringList& cells)
{
    csv_.write((cells.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8());
    // On disk at once: a crash or a power cut loses at most this row.
    if (!csv_.flush() || ::fdatasync(csv_.handle()) != 0) {
        s_.report.error(QStringLiteral("Cannot write %1: %2").arg(csvPath_, csv_.errorString()));
        csv_.close();
    }
}

void DataLogFiles::end()
{
    if (DataLogging)
        s_.run(EndOpenWorkbook);
    FinishWorkbookSaves();
    if (csv_.isOpen())
        csv_.close();
}

} // namespace bms::cli
