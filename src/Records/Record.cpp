#include "Record.h"

#include "DuplicateKeys.h"
#include "FileSync.h"
#include "Outcome.h"
#include "StorableText.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QUuid>
#include <QVariant>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <limits>

namespace bms::records {

namespace {

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

// A whole number that an INTEGER column of both databases takes (32 bits).
bool FitsInteger(const QJsonValue& v)
{
    if (!v.isDouble())
        return false;
    const qint64 i = v.toInteger(std::numeric_limits<qint64>::min());
    return i >= std::numeric_limits<qint32>::min() && i <= std::numeric_limits<qint32>::max();
}

// A number that a DOUBLE PRECISION column gives back as it was: every
// finite number but a whole number beyond 2^53 that JSON holds exactly
// (9007199254740993 would come back as ...992).
bool FitsReal(const QJsonValue& v)
{
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return false;
    if (std::abs(v.toDouble()) < 0x1p53)
        return true;
    return v.toInteger(0) == 0 && v.toInteger(1) == 1; // beyond 64 bits: a double in JSON too
}

// Takes the known keys of a step or a measurement into their columns. A
// value goes into its column only when the column keeps it exactly; any
// other value (a number as a name, 2.5 as a count, a null time) stays under
// its key in the rest, which travels as the row's `extra` JSON. So the
// object comes back from its columns as it went in.
class ColumnSplit {
public:
    explicit ColumnSplit(const QJsonObject& object) : rest_(object) {}

    QVariant text(const char* key)
    {
        const QJsonValue v = rest_.value(QLatin1String(key));
        return v.isString() ? take(key, v.toString()) : QVariant();
    }
    QVariant integer(const char* key)
    {
        const QJsonValue v = rest_.value(QLatin1String(key));
        return FitsInteger(v) ? take(key, v.toInteger()) : QVariant();
    }
    QVariant real(const char* key)
    {
        const QJsonValue v = rest_.value(QLatin1String(key));
        return FitsReal(v) ? take(key, v.toDouble()) : QVariant();
    }
    QVariant object(const char* key)
    {
        const QJsonValue v = rest_.value(QLatin1String(key));
        return v.isObject() ? take(key, Compact(v.toObject())) : QVariant();
    }
    // A null `key` leaves no trace: it comes back as null.
    void dropNull(const char* key)
    {
        if (rest_.value(QLatin1String(key)).isNull())
            rest_.remove(QLatin1String(key));
    }
    QVariant extra() const { return rest_.isEmpty() ? QVariant() : QVariant(Compact(rest_)); }

private:
    QVariant take(const char* key, QVariant value)
    {
        rest_.remove(QLatin1String(key));
        return value;
    }

    QJsonObject rest_;
};

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
    if (const auto outcome = station::OutcomeNamed(rows.outcome); !outcome || !station::IsRunOutcome(*outcome)) {
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
    rows.utcOffsetS = started.offsetFromUtc();

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
    for (qsizetype i = 0; i < rows.measurements.size(); ++i) {
        const QJsonObject m = rows.measurements[i].toObject();
        if (!rows.measurements[i].isObject() || !m.value(QLatin1String("name")).isString()) {
            error = QStringLiteral("run %1: a measurement has no name").arg(rows.runId);
            return std::nullopt;
        }
        // Its columns cannot tell a missing value from null.
        if (!m.contains(QLatin1String("value"))) {
            error = QStringLiteral("run %1: measurements[%2] has no value (null when it was not read)").arg(rows.runId).arg(i);
            return std::nullopt;
        }
    }
    if (const QString why = UnstorableText(record); !why.isEmpty()) {
        error = QStringLiteral("run %1: %2, which the records databases cannot keep").arg(rows.runId, why);
        return std::nullopt;
    }

    rows.header = record;
    rows.header.remove(QLatin1String("steps"));
    rows.header.remove(QLatin1String("measurements"));
    rows.header.insert(QLatin1String("run_id"), rows.runId);
    // The trace's data goes into an attachment of its own (base64 decoded)
    // when it comes back from there as it was; any other trace stays in the
    // header as it is.
    const QJsonObject trace = record.value(QLatin1String("trace")).toObject();
    if (const QJsonValue data = trace.value(QLatin1String("data")); data.isString()) {
        QJsonObject meta = trace;
        meta.remove(QLatin1String("data"));
        const bool base64 = meta.value(QLatin1String("encoding")).toString().contains(QLatin1String("base64"));
        QByteArray bytes = data.toString().toUtf8();
        bool exact = true;
        if (base64) {
            auto decoded = QByteArray::fromBase64Encoding(bytes, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded) {
                error = QStringLiteral("run %1: the trace data is not base64").arg(rows.runId);
                return std::nullopt;
            }
            exact = decoded.decoded.toBase64() == bytes; // not so when the padding is left out
            bytes = std::move(decoded.decoded);
        }
        if (exact) {
            rows.hasTrace = true;
            rows.traceMeta = meta;
            rows.traceData = std::move(bytes);
            rows.header.remove(QLatin1String("trace"));
        }
    }
    return rows;
}

QJsonObject RecordOfRows(const RunRows& rows)
{
    QJsonObject record = rows.header;
    record.insert(QLatin1String("steps"), rows.steps);
    record.insert(QLatin1String("measurements"), rows.measurements);
    if (rows.hasTrace)
        record.insert(QLatin1String("trace"), TraceOfColumns(Compact(rows.traceMeta), rows.traceData));
    return record;
}

std::optional<QJsonObject> ParseRecordJson(const QByteArray& text, QString& error)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("not a JSON object (%1 at offset %2)")
                    .arg(parse.error != QJsonParseError::NoError ? parse.errorString() : QStringLiteral("another value"))
                    .arg(parse.offset);
        return std::nullopt;
    }
    if (const std::optional<DuplicateKey> twice = FindDuplicateKey(text)) {
        error = QStringLiteral("the key \"%1\" is given twice in %2")
                    .arg(twice->key, twice->where.isEmpty() ? QStringLiteral("the record") : twice->where);
        return std::nullopt;
    }
    return doc.object();
}

std::optional<QJsonObject> ReadRecordFile(const QString& path, QString& error)
{
    // Opened without waiting and read only when it is a regular file: a
    // FIFO put in place of a record would otherwise block the read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = QStringLiteral("%1: %2").arg(path, SystemError());
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        error = QStringLiteral("%1: not a regular file").arg(path);
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (st.st_size > kMaxRecordFileBytes) {
        error = QStringLiteral("%1: larger than %2 MB").arg(path).arg(kMaxRecordFileBytes >> 20);
        return std::nullopt;
    }
    const std::optional<QJsonObject> record = ParseRecordJson(file.read(kMaxRecordFileBytes), error);
    if (!record)
        error = QStringLiteral("%1: %2").arg(path, error);
    return record;
}

StepColumns ColumnsOfStep(const QJsonObject& s)
{
    ColumnSplit split(s);
    StepColumns c;
    c.stepIndex = split.integer("index");
    c.name = split.text("name");
    c.kind = split.text("kind");
    c.outcome = split.text("outcome");
    c.startedAt = split.text("started_at");
    c.endedAt = split.text("ended_at");
    c.retries = split.integer("retries");
    c.reason = split.text("reason");
    c.extra = split.extra();
    return c;
}

MeasurementColumns ColumnsOfMeasurement(const QJsonObject& m)
{
    ColumnSplit split(m);
    MeasurementColumns c;
    c.step = split.integer("step");
    c.name = split.text("name");
    c.valueNum = split.real("value");
    c.valueText = split.text("value");
    split.dropNull("value"); // a quantity that could not be read
    c.unit = split.text("unit");
    c.limits = split.object("limits");
    c.outcome = split.text("outcome");
    c.extra = split.extra();
    return c;
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
