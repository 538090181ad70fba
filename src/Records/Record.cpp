#include "Record.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QUuid>
#include <QVariant>

namespace bms::records {

namespace {

const QStringList& Outcomes()
{
    static const QStringList outcomes = {QStringLiteral("PASS"), QStringLiteral("FAIL"), QStringLiteral("ERROR"),
                                         QStringLiteral("ABORTED")};
    return outcomes;
}

QString Compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject ObjectOf(const QVariant& text)
{
    if (text.isNull())
        return {};
    return QJsonDocument::fromJson(text.toString().toUtf8()).object();
}

QVariant IntOrNull(const QJsonValue& v)
{
    return v.isDouble() ? QVariant(v.toInteger()) : QVariant();
}

// What is left of `object` once `known` keys are taken out, as JSON text;
// null when nothing is left.
QVariant Extra(QJsonObject object, std::initializer_list<const char*> known)
{
    for (const char* key : known)
        object.remove(QLatin1String(key));
    return object.isEmpty() ? QVariant() : QVariant(Compact(object));
}

void PutText(QJsonObject& o, const char* key, const QVariant& v)
{
    if (!v.isNull())
        o.insert(QLatin1String(key), v.toString());
}

void PutInt(QJsonObject& o, const char* key, const QVariant& v)
{
    if (!v.isNull())
        o.insert(QLatin1String(key), v.toLongLong());
}

} // namespace

QVariant TextOrNull(const QJsonValue& value)
{
    return value.isString() ? QVariant(value.toString()) : QVariant();
}

std::optional<RunRows> SplitRecord(const QJsonObject& record, QString& error)
{
    const QString format = record.value(QLatin1String("format")).toString();
    static const QLatin1String prefix("quorlex-station-record/");
    bool majorOk = false;
    const int major = format.startsWith(prefix) ? format.mid(prefix.size()).toInt(&majorOk) : 0;
    if (!majorOk || major < 1) {
        error = QStringLiteral("not a station run record (format '%1')").arg(format);
        return std::nullopt;
    }
    if (major > kRecordFormatMajor) {
        error = QStringLiteral("record format %1 is newer than this tool reads (%2%3)").arg(format, prefix).arg(kRecordFormatMajor);
        return std::nullopt;
    }
    RunRows rows;
    rows.runId = record.value(QLatin1String("run_id")).toString();
    const QUuid uuid(rows.runId);
    if (uuid.isNull() || rows.runId.size() != 36) {
        error = QStringLiteral("run_id '%1' is not a UUID").arg(rows.runId);
        return std::nullopt;
    }
    rows.runId = uuid.toString(QUuid::WithoutBraces);
    const QJsonValue station = record.value(QLatin1String("station_id"));
    if (!station.isString()) {
        error = QStringLiteral("run %1: station_id is missing").arg(rows.runId);
        return std::nullopt;
    }
    rows.stationId = station.toString();
    rows.outcome = record.value(QLatin1String("outcome")).toString();
    if (!Outcomes().contains(rows.outcome)) {
        error = QStringLiteral("run %1: outcome '%2' is not PASS, FAIL, ERROR or ABORTED").arg(rows.runId, rows.outcome);
        return std::nullopt;
    }
    rows.startedAt = record.value(QLatin1String("started_at")).toString();
    const QDateTime started = QDateTime::fromString(rows.startedAt, Qt::ISODateWithMs);
    if (!started.isValid() || rows.startedAt.size() < 19) {
        error = QStringLiteral("run %1: started_at '%2' is not an ISO 8601 time").arg(rows.runId, rows.startedAt);
        return std::nullopt;
    }
    rows.startedMs = started.toMSecsSinceEpoch();

    const QJsonValue steps = record.value(QLatin1String("steps"));
    const QJsonValue measurements = record.value(QLatin1String("measurements"));
    if ((!steps.isArray() && !steps.isUndefined()) || (!measurements.isArray() && !measurements.isUndefined())) {
        error = QStringLiteral("run %1: steps and measurements must be lists").arg(rows.runId);
        return std::nullopt;
    }
    rows.steps = steps.toArray();
    rows.measurements = measurements.toArray();
    if (rows.steps.size() > kMaxSteps || rows.measurements.size() > kMaxMeasurements) {
        error = QStringLiteral("run %1: more than %2 steps or %3 measurements").arg(rows.runId).arg(kMaxSteps).arg(kMaxMeasurements);
        return std::nullopt;
    }
    for (const QJsonValue& s : rows.steps) {
        if (!s.isObject()) {
            error = QStringLiteral("run %1: a step is not an object").arg(rows.runId);
            return std::nullopt;
        }
    }
    for (const QJsonValue& m : rows.measurements) {
        if (!m.isObject() || !m.toObject().value(QLatin1String("name")).isString()) {
            error = QStringLiteral("run %1: a measurement has no name").arg(rows.runId);
            return std::nullopt;
        }
    }

    rows.header = record;
    rows.header.remove(QLatin1String("steps"));
    rows.header.remove(QLatin1String("measurements"));
    rows.header.insert(QLatin1String("run_id"), rows.runId);
    const QJsonValue trace = record.value(QLatin1String("trace"));
    if (trace.isObject()) {
        rows.hasTrace = true;
        rows.traceMeta = trace.toObject();
        const QString data = rows.traceMeta.take(QLatin1String("data")).toString();
        const bool base64 = rows.traceMeta.value(QLatin1String("encoding")).toString().contains(QLatin1String("base64"));
        if (base64) {
            auto decoded = QByteArray::fromBase64Encoding(data.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded) {
                error = QStringLiteral("run %1: the trace data is not base64").arg(rows.runId);
                return std::nullopt;
            }
            rows.traceData = *decoded;
        } else {
            rows.traceData = data.toUtf8();
        }
        rows.header.remove(QLatin1String("trace"));
    }
    return rows;
}

std::optional<QJsonObject> ReadRecordFile(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxRecordFileBytes) {
        error = QStringLiteral("%1: larger than %2 MB").arg(path).arg(kMaxRecordFileBytes >> 20);
        return std::nullopt;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxRecordFileBytes), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("%1: not a JSON object (%2 at offset %3)")
                    .arg(path, parse.error != QJsonParseError::NoError ? parse.errorString() : QStringLiteral("another value"))
                    .arg(parse.offset);
        return std::nullopt;
    }
    return doc.object();
}

StepColumns ColumnsOfStep(const QJsonObject& s)
{
    return {IntOrNull(s.value(QLatin1String("index"))),
            TextOrNull(s.value(QLatin1String("name"))),
            TextOrNull(s.value(QLatin1String("kind"))),
            TextOrNull(s.value(QLatin1String("outcome"))),
            TextOrNull(s.value(QLatin1String("started_at"))),
            TextOrNull(s.value(QLatin1String("ended_at"))),
            IntOrNull(s.value(QLatin1String("retries"))),
            TextOrNull(s.value(QLatin1String("reason"))),
            Extra(s, {"index", "name", "kind", "outcome", "started_at", "ended_at", "retries", "reason"})};
}

MeasurementColumns ColumnsOfMeasurement(const QJsonObject& m)
{
    const QJsonValue value = m.value(QLatin1String("value"));
    const QJsonValue limits = m.value(QLatin1String("limits"));
    // A value that is neither a number, a text nor null stays in `extra`.
    const bool plain = value.isDouble() || value.isString() || value.isNull() || value.isUndefined();
    QJsonObject rest = m;
    for (const char* key : {"step", "name", "unit", "limits", "outcome"})
        rest.remove(QLatin1String(key));
    if (plain)
        rest.remove(QLatin1String("value"));
    if (!limits.isObject() && !limits.isUndefined())
        rest.insert(QLatin1String("limits"), limits);
    return {IntOrNull(m.value(QLatin1String("step"))),
            m.value(QLatin1String("name")).toString(),
            value.isDouble() ? QVariant(value.toDouble()) : QVariant(),
            value.isString() ? QVariant(value.toString()) : QVariant(),
            TextOrNull(m.value(QLatin1String("unit"))),
            limits.isObject() ? QVariant(Compact(limits.toObject())) : QVariant(),
            TextOrNull(m.value(QLatin1String("outcome"))),
            rest.isEmpty() ? QVariant() : QVariant(Compact(rest))};
}

QJsonObject StepOfColumns(const StepColumns& c)
{
    QJsonObject s = ObjectOf(c.extra);
    PutInt(s, "index", c.stepIndex);
    PutText(s, "name", c.name);
    PutText(s, "kind", c.kind);
    PutText(s, "outcome", c.outcome);
    PutText(s, "started_at", c.startedAt);
    PutText(s, "ended_at", c.endedAt);
    PutInt(s, "retries", c.retries);
    PutText(s, "reason", c.reason);
    return s;
}

QJsonObject MeasurementOfColumns(const MeasurementColumns& c)
{
    QJsonObject m = ObjectOf(c.extra);
    PutInt(m, "step", c.step);
    PutText(m, "name", c.name);
    if (!m.contains(QLatin1String("value"))) {
        if (!c.valueNum.isNull())
            m.insert(QLatin1String("value"), c.valueNum.toDouble());
        else if (!c.valueText.isNull())
            m.insert(QLatin1String("value"), c.valueText.toString());
        else
            m.insert(QLatin1String("value"), QJsonValue::Null);
    }
    PutText(m, "unit", c.unit);
    if (!c.limits.isNull())
        m.insert(QLatin1String("limits"), ObjectOf(c.limits));
    PutText(m, "outcome", c.outcome);
    return m;
}

QJsonObject TraceOfColumns(const QString& meta, const QByteArray& data)
{
    QJsonObject trace = ObjectOf(meta);
    const bool base64 = trace.value(QLatin1String("encoding")).toString().contains(QLatin1String("base64"));
    trace.insert(QLatin1String("data"), base64 ? QString::fromLatin1(data.toBase64()) : QString::fromUtf8(data));
    return trace;
}

} // namespace bms::records
