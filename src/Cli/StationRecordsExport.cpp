// `station export`: the runs of a filter, oldest first, as a table for a
// spreadsheet (one row per run: the run's fields, then one column per
// measurement in the order first met, named with its step as the failure
// codes are, "identify.serial_number (unit)", so that it never shares a name
// with a run's field) in CSV or .xlsx through the workbook layer, or as the
// whole records in a JSON array. The CSV file starts with a UTF-8 byte order
// mark, by which a spreadsheet knows its encoding ("°C"); on stdout it has
// none.
//
// The records stream from the database (RecordStream) and go out one after
// the other, so the memory it takes does not grow with the runs: a table
// reads them twice, first for its columns, then for its rows. A file is
// written whole or not at all.
#include "StationRecordsCommand.h"

#include "Csv.h"
#include "Database.h"
#include "DurableFile.h"
#include "RecordStream.h"
#include "JsonFields.h"
#include "RunRecord.h"
#include "Session.h"
#include "Sheet.h"
#include "WorkbookError.h"
#include "XlsxFile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>
#include <map>

namespace bms::cli {

namespace {

using namespace bms::records;

// The run's own columns: header and its value in the record.
struct RunColumn {
    const char* header;
    QJsonValue (*value)(const station::RunRecord&);
};

const std::vector<RunColumn>& RunColumns()
{
    using station::RunRecord;
    static const std::vector<RunColumn> columns = {
        {"run_id", [](const RunRecord& r) { return QJsonValue(r.runId); }},
        {"started_at", [](const RunRecord& r) { return QJsonValue(station::RecordTime(r.startedAt)); }},
        {"ended_at", [](const RunRecord& r) { return QJsonValue(station::RecordTime(r.endedAt)); }},
        {"station_id", [](const RunRecord& r) { return QJsonValue(r.stationId); }},
        {"fixture", [](const RunRecord& r) { return QJsonValue(r.fixture); }},
        {"operator", [](const RunRecord& r) { return QJsonValue(r.operatorName); }},
        {"recipe", [](const RunRecord& r) { return QJsonValue(r.recipeName); }},
        {"recipe_version", [](const RunRecord& r) { return QJsonValue(r.recipeVersion); }},
        {"product", [](const RunRecord& r) { return QJsonValue(r.product); }},
        {"barcode", [](const RunRecord& r) { return station::json::OrNull(r.pack.barcode); }},
        {"uid", [](const RunRecord& r) { return station::json::OrNull(r.pack.uid); }},
        {"serial_number", [](const RunRecord& r) { return station::json::OrNull(r.pack.serialNumber); }},
        {"sw_version_before", [](const RunRecord& r) { return station::json::OrNull(r.pack.swBefore); }},
        {"sw_version_after", [](const RunRecord& r) { return station::json::OrNull(r.pack.swAfter); }},
        {"outcome", [](const RunRecord& r) { return QJsonValue(station::OutcomeName(r.outcome)); }},
        {"failure_code", [](const RunRecord& r) { return r.failureCode.isEmpty() ? QJsonValue() : QJsonValue(r.failureCode); }},
        {"retest", [](const RunRecord& r) { return QJsonValue(r.retest); }},
        {"duration_s", [](const RunRecord& r) {
             return r.startedAt.isValid() && r.endedAt.isValid() ? QJsonValue(r.startedAt.msecsTo(r.endedAt) / 1000.0) : QJsonValue();
         }},
    };
    return columns;
}

// "<step name>.<measurement name>" of a measurement of `record`; a step
// without a name goes by its index.
QString MeasurementKey(const QJsonObject& record, const QJsonObject& m)
{
    const QJsonValue step = m.value(QLatin1String("step"));
    const qint64 index = step.toInteger(-1);
    const QJsonArray steps = record.value(QLatin1String("steps")).toArray();
    QString stepName = QStringLiteral("step%1").arg(step.isDouble() && index >= 0 ? QString::number(index) : QString());
    if (step.isDouble() && index >= 0 && index < steps.size()) {
        const QJsonValue name = steps[index].toObject().value(QLatin1String("name"));
        if (name.isString())
            stepName = name.toString();
    }
    return stepName + QLatin1Char('.') + m.value(QLatin1String("name")).toString();
}

// Each measurement of `record` with the key of its column; the same name
// measured twice in a run goes to name#2, name#3, ...
template <typename Take>
void ForEachMeasurement(const QJsonObject& record, const Take& take)
{
    std::map<QString, int> seen;
    for (const QJsonValue& v : record.value(QLatin1String("measurements")).toArray()) {
        const QJsonObject m = v.toObject();
        QString key = MeasurementKey(record, m);
        if (const int n = ++seen[key]; n > 1)
            key += QStringLiteral("#%1").arg(n);
        take(key, m);
    }
}

// A row of cells: texts, numbers and booleans kept apart so the .xlsx gets
// each as such.
using Row = std::vector<QJsonValue>;

// The columns of the table: the run's, then one per measurement in the
// order first met.
struct Columns {
    QStringList headers;
    std::map<QString, int> ofMeasurement;

    Columns()
    {
        for (const RunColumn& c : RunColumns())
            headers.append(QLatin1String(c.header));
    }
    void add(const QJsonObject& record)
    {
        ForEachMeasurement(record, [&](const QString& key, const QJsonObject& m) {
            if (ofMeasurement.count(key))
                return;
            const QString unit = m.value(QLatin1String("unit")).toString();
            ofMeasurement.emplace(key, int(headers.size()));
            headers.append(unit.isEmpty() ? key : key + QStringLiteral(" (") + unit + QLatin1Char(')'));
        });
    }
    Row rowOf(const QJsonObject& record) const
    {
        Row row;
        const station::RunRecord run = station::RunRecord::fromJson(record);
        for (const RunColumn& c : RunColumns())
            row.push_back(c.value(run));
        row.resize(size_t(headers.size()));
        ForEachMeasurement(record, [&](const QString& key, const QJsonObject& m) {
            if (const auto it = ofMeasurement.find(key); it != ofMeasurement.end())
                row[size_t(it->second)] = m.value(QLatin1String("value"));
        });
        return row;
    }
};

QString CellText(const QJsonValue& v)
{
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 15);
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return v.toString();
}

QByteArray CsvLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& f : fields)
        quoted.append(CsvField(f));
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

CellValue CellOf(const QJsonValue& v)
{
    if (v.isDouble())
        return CellValue::Number(v.toDouble());
    if (v.isBool())
        return CellValue::Boolean(v.toBool());
    if (v.isNull() || v.isUndefined())
        return {};
    return CellValue::Text(CellText(v));
}

// Where the export goes: stdout, or a file written whole or not at all
// (DurableFile).
class Output {
public:
    explicit Output(const QString& path) : path_(path) {}

    bool open(QString& error)
    {
        if (path_.isEmpty())
            return true;
        file_ = std::make_unique<DurableFile>(path_);
        if (file_->open())
            return true;
        error = QStringLiteral("%1: %2").arg(path_, file_->errorString());
        return false;
    }
    void write(const QByteArray& bytes)
    {
        pending_ += bytes;
        if (pending_.size() >= (1 << 16))
            flush();
    }
    bool commit(QString& error)
    {
        flush();
        if (!file_) {
            std::fflush(stdout);
            return true;
        }
        if (file_->commit())
            return true;
        error = QStringLiteral("%1: %2").arg(path_, file_->errorString());
        return false;
    }

private:
    void flush()
    {
        if (file_)
            file_->write(pending_);
        else
            std::fwrite(pending_.constData(), 1, size_t(pending_.size()), stdout);
        pending_.clear();
    }

    QString path_;
    std::unique_ptr<DurableFile> file_;
    QByteArray pending_;
};

// Each record of the stream, until the last (true) or a database failure
// (false, with `error`).
template <typename Take>
bool EachRecord(RecordStream& stream, QString& error, const Take& take)
{
    for (;;) {
        const std::optional<QJsonObject> record = stream.next(error);
        if (!record)
            return false;
        if (record->isEmpty())
            return true;
        take(*record);
    }
}

} // namespace

int ExportRuns(Session& s, Database& db, const RunFilter& filter)
{
    const QString format = s.options.value(QStringLiteral("format"));
    const QString out = s.options.value(QStringLiteral("out"));
    if (format != QLatin1String("csv") && format != QLatin1String("xlsx") && format != QLatin1String("json")) {
        s.report.error(QStringLiteral("station export: --format csv, xlsx or json"));
        return kExitUsage;
    }
    if (format == QLatin1String("xlsx") && out.isEmpty()) {
        s.report.error(QStringLiteral("station export: an .xlsx needs --out FILE"));
        return kExitUsage;
    }
    if (!out.isEmpty() && QFileInfo::exists(out)) {
        s.report.error(QStringLiteral("%1 exists already; it is not overwritten").arg(out));
        return kExitUsage;
    }
    const bool json = format == QLatin1String("json");
    QString error;
    RecordStream stream(db);
    // A table's columns come from every run, before its first row.
    Columns columns;
    if (!stream.open(filter, {json, json}, error)
        || (!json && (!EachRecord(stream, error, [&](const QJsonObject& r) { columns.add(r); })
                      || !stream.reread({true, false}, error)))) {
        s.report.error(error);
        return kExitDatabase;
    }
    qint64 runs = 0;
    bool read = true;
    if (format == QLatin1String("xlsx")) {
        try {
            std::map<int, double> widths;
            for (qsizetype c = 0; c < columns.headers.size(); ++c)
                widths[int(c) + 1] = std::max<double>(Sheet::kDefaultWidth, std::min<qsizetype>(columns.headers[c].size(), 40) + 2);
            // Run ids and times are long: give them room.
            widths[1] = 38;
            widths[2] = widths[3] = 30;
            XlsxWriter xlsx(out, widths, Sheet::kDefaultWidth, QStringLiteral("General"));
            std::vector<CellValue> cells;
            for (const QString& h : columns.headers)
                cells.push_back(CellValue::Text(h));
            xlsx.addRow(cells);
            read = EachRecord(stream, error, [&](const QJsonObject& record) {
                cells.clear();
                for (const QJsonValue& v : columns.rowOf(record))
                    cells.push_back(CellOf(v));
                xlsx.addRow(cells);
                ++runs;
            });
            if (read)
                xlsx.finish();
        } catch (const EWorkbookError& e) {
            s.report.error(e.message());
            return kExitUsage;
        }
    } else {
        Output output(out);
        if (!output.open(error)) {
            s.report.error(error);
            return kExitUsage;
        }
        if (json) {
            // As a JSON array of the records, indented as Qt indents one.
            output.write("[\n");
            read = EachRecord(stream, error, [&](const QJsonObject& record) {
                QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Indented);
                text.chop(1);
                output.write((runs++ ? ",\n    " : "    ") + text.replace("\n", "\n    "));
            });
            output.write(runs ? "\n]\n" : "]\n");
        } else {
            if (!out.isEmpty())
                output.write("\xEF\xBB\xBF");
            output.write(CsvLine(columns.headers));
            read = EachRecord(stream, error, [&](const QJsonObject& record) {
                QStringList fields;
                for (const QJsonValue& v : columns.rowOf(record))
                    fields.append(CellText(v));
                output.write(CsvLine(fields));
                ++runs;
            });
        }
        if (read && !output.commit(error)) {
            s.report.error(error);
            return kExitUsage;
        }
    }
    if (!read) {
        s.report.error(error);
        return kExitDatabase;
    }
    if (stream.cut())
        s.report.note(QStringLiteral("only the first %1 runs that match were written (--limit N for more, 0 for all)").arg(runs));
    if (!out.isEmpty())
        s.report.note(QStringLiteral("%1 runs written to %2").arg(runs).arg(out));
    return kExitDone;
}

} // namespace bms::cli
