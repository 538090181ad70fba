// libFuzzer target of the record reader: any bytes as a record file's
// content, through the JSON parser and the duplicate-key scan, the record's
// checks and its columns. Every step and measurement of an accepted record
// must come back from its columns exactly as it went in (the same JSON
// text), and the whole record from its rows (the trace's attachment
// included).
#include "Record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray Text(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void Same(const QJsonObject& in, const QJsonObject& back)
{
    if (back != in || Text(back) != Text(in))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    QString error;
    const auto record = bms::records::ParseRecordJson(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), error);
    if (!record)
        return 0;
    const auto rows = bms::records::SplitRecord(*record, error);
    if (!rows)
        return 0;
    for (const QJsonValue& s : rows->steps)
        Same(s.toObject(), bms::records::StepOfColumns(bms::records::ColumnsOfStep(s.toObject())));
    for (const QJsonValue& m : rows->measurements)
        Same(m.toObject(), bms::records::MeasurementOfColumns(bms::records::ColumnsOfMeasurement(m.toObject())));
    // The rows hold the whole record (its run id in lower case, steps and
    // measurements always there).
    QJsonObject expected = *record;
    expected.insert(QLatin1String("run_id"), rows->runId);
    for (const char* list : {"steps", "measurements"})
        if (!expected.contains(QLatin1String(list)))
            expected.insert(QLatin1String(list), QJsonArray());
    Same(expected, bms::records::RecordOfRows(*rows));
    return 0;
}
