// `station export`: the runs of a filter, oldest first, as a table for a
// spreadsheet (one row per run: the run's fields, then one column per
// measurement in the order first met, named with its step as the failure
// codes are, "identify.serial_number (unit)", so that it never shares a name
// with a run's field) in CSV or .xlsx through the workbook layer, or as the
// whole records in a JSON array. The CSV file starts with a UTF-8 byte order
// mark, by which a spreadsheet knows its encoding ("°C"); on stdout it has
// none.
#include "StationRecordsCommand.h"

#include "Database.h"
#include "RecordStore.h"
#include "RunRecord.h"
#include "Session.h"
#include "Sheet.h"
#include "WorkbookError.h"
#include "XlsxFile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
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

QJsonValue TextOrNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

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
        {"barcode", [](const RunRecord& r) { return TextOrNull(r.pack.barcode); }},
        {"uid", [](const RunRecord& r) { return TextOrNull(r.pack.uid); }},
        {"serial_number", [](const RunRecord& r) { return TextOrNull(r.pack.serialNumber); }},
        {"sw_version_before", [](const RunRecord& r) { return TextOrNull(r.pack.swBefore); }},
        {"sw_version_after", [](const RunRecord& r) { return TextOrNull(r.pack.swAfter); }},
        {"outcome", [](const RunRecord& r) { return QJsonValue(station::OutcomeName(r.outcome)); }},
        {"failure_code", [](const RunRecord& r) { return r.failureCode.isEmpty() ? QJsonValue() : QJsonValue(r.failureCode); }},
        {"retest", [](const RunRecord& r) { return QJsonValue(r.retest); }},
        {"duration_s", [](const RunRecord& r) {
             return r.startedAt.isValid() && r.endedAt.isValid() ? QJsonValue(r.startedAt.msecsTo(r.endedAt) / 1000.0) : QJsonValue();
         }},
    };
    return columns;
}

// A table of cells: texts, numbers and booleans kept apart so the .xlsx gets
// each as such.
using Row = std::vector<QJsonValue>;

struct Table {
    QStringList headers;
    std::vector<Row> rows;
};

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

Table TableOf(const std::vector<QJsonObject>& records)
{
    Table t;
    for (const RunColumn& c : RunColumns())
        t.headers.append(QLatin1String(c.header));
    std::map<QString, int> columnOf; // measurement key -> column
    for (const QJsonObject& record : records) {
        Row row;
        const station::RunRecord run = station::RunRecord::fromJson(record);
        for (const RunColumn& c : RunColumns())
            row.push_back(c.value(run));
        std::map<QString, int> seen;
        for (const QJsonValue& v : record.value(QLatin1String("measurements")).toArray()) {
            const QJsonObject m = v.toObject();
            QString key = MeasurementKey(record, m);
            // The same name measured twice in a run: name#2, name#3, ...
            if (const int n = ++seen[key]; n > 1)
                key += QStringLiteral("#%1").arg(n);
            auto it = columnOf.find(key);
            if (it == columnOf.end()) {
                const QString unit = m.value(QLatin1String("unit")).toString();
                it = columnOf.emplace(key, int(t.headers.size())).first;
                t.headers.append(unit.isEmpty() ? key : key + QStringLiteral(" (") + unit + QLatin1Char(')'));
            }
            if (int(row.size()) <= it->second)
                row.resize(size_t(it->second) + 1);
            row[size_t(it->second)] = m.value(QLatin1String("value"));
        }
        t.rows.push_back(std::move(row));
    }
    return t;
}

QString CellText(const QJsonValue& v)
{
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 15);
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return v.toString();
}

QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray Csv(const Table& t)
{
    QByteArray out;
    const auto line = [&](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields)
            quoted.append(CsvField(f));
        out += quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    line(t.headers);
    for (const Row& row : t.rows) {
        QStringList fields;
        for (qsizetype i = 0; i < t.headers.size(); ++i)
            fields.append(size_t(i) < row.size() ? CellText(row[size_t(i)]) : QString());
        line(fields);
    }
    return out;
}

Sheet SheetOf(const Table& t)
{
    Sheet sheet;
    for (qsizetype c = 0; c < t.headers.size(); ++c) {
        sheet.setCell(1, int(c) + 1, CellValue::Text(t.headers[c]));
        sheet.setColumnWidth(int(c) + 1, std::max<double>(Sheet::kDefaultWidth, std::min<qsizetype>(t.headers[c].size(), 40) + 2));
    }
    for (size_t r = 0; r < t.rows.size(); ++r) {
        for (size_t c = 0; c < t.rows[r].size(); ++c) {
            const QJsonValue& v = t.rows[r][c];
            if (v.isDouble())
                sheet.setCell(int(r) + 2, int(c) + 1, CellValue::Number(v.toDouble()));
            else if (v.isBool())
                sheet.setCell(int(r) + 2, int(c) + 1, CellValue::Boolean(v.toBool()));
            else if (!v.isNull() && !v.isUndefined())
                sheet.setCell(int(r) + 2, int(c) + 1, CellValue::Text(CellText(v)));
        }
    }
    // Run ids and times are long: give them room.
    sheet.setColumnWidth(1, 38);
    sheet.setColumnWidth(2, 30);
    sheet.setColumnWidth(3, 30);
    return sheet;
}

bool WriteOut(Session& s, const QString& path, const QByteArray& bytes)
{
    if (path.isEmpty()) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        s.report.error(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
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
    QString error;
    const auto ids = RunIds(db, filter, error);
    if (!ids) {
        s.report.error(error);
        return kExitDatabase;
    }
    RecordStore store(db, false);
    std::vector<QJsonObject> records;
    records.reserve(ids->size());
    for (const QString& id : *ids) {
        auto record = store.load(id, error);
        if (!record) {
            s.report.error(error);
            return kExitDatabase;
        }
        records.push_back(std::move(*record));
    }
    if (format == QLatin1String("json")) {
        QJsonArray array;
        for (const QJsonObject& r : records)
            array.append(r);
        if (!WriteOut(s, out, QJsonDocument(array).toJson(QJsonDocument::Indented)))
            return kExitUsage;
    } else if (format == QLatin1String("csv")) {
        const QByteArray bom = out.isEmpty() ? QByteArray() : QByteArray("\xEF\xBB\xBF");
        if (!WriteOut(s, out, bom + Csv(TableOf(records))))
            return kExitUsage;
    } else {
        try {
            WriteXlsx(SheetOf(TableOf(records)), out);
        } catch (const EWorkbookError& e) {
            s.report.error(e.message());
            return kExitUsage;
        }
    }
    if (!out.isEmpty())
        s.report.note(QStringLiteral("%1 runs written to %2").arg(records.size()).arg(out));
    return kExitDone;
}

} // namespace bms::cli
