// libFuzzer target of the record reader: any bytes as a record file's
// content, through the JSON parser, the record's checks and its columns.
// A record that is accepted must come back from its columns as it went in.
#include "Record.h"

#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!doc.isObject())
        return 0;
    QString error;
    const auto rows = bms::records::SplitRecord(doc.object(), error);
    if (!rows)
        return 0;
    for (const QJsonValue& s : rows->steps) {
        const QJsonObject step = s.toObject();
        if (bms::records::StepOfColumns(bms::records::ColumnsOfStep(step)).isEmpty() && !step.isEmpty())
            std::abort();
    }
    for (const QJsonValue& m : rows->measurements) {
        const QJsonObject back = bms::records::MeasurementOfColumns(bms::records::ColumnsOfMeasurement(m.toObject()));
        if (back.value(QLatin1String("name")) != m.toObject().value(QLatin1String("name")))
            std::abort();
    }
    return 0;
}
