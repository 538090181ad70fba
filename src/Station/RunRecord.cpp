#include "RunRecord.h"

#include "DurableFile.h"
#include "JsonFields.h"
#include "Stores.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <zlib.h>

namespace bms::station {

using namespace json;

namespace {

// The record's keys (docs/station-record.md), written and read.
namespace recordKey {
const QLatin1String Format("format"), RunId("run_id"), StationId("station_id"), Fixture("fixture"), Operator("operator"),
    ToolVersion("tool_version"), Recipe("recipe"), Name("name"), Version("version"), Sha256("sha256"), File("file"),
    Product("product"), Port("port"), StartedAt("started_at"), EndedAt("ended_at"), DurationS("duration_s"),
    Outcome("outcome"), FailureCode("failure_code"), FailureReason("failure_reason"), Retest("retest"), Pack("pack"),
    Barcode("barcode"), Uid("uid"), UidCrc("uid_crc"), SerialNumber("serial_number"), Cells("cells"),
    HwVersion("hw_version"), SwBefore("sw_version_before"), SwAfter("sw_version_after"),
    Reservation("serial_reservation"), Key("key"), Number("number"), Value("value"), Reused("reused"),
    Written("written"), Released("released"), State("state"), Steps("steps"), Measurements("measurements"),
    Trace("trace"), Index("index"), Kind("kind"), Retries("retries"), Reason("reason"), PackS("pack_s"), Step("step"),
    Unit("unit"), Limits("limits"), Encoding("encoding"), Frames("frames"), Bytes("bytes"), Data("data"),
    Truncated("truncated");
} // namespace recordKey

const QString kFormat = QStringLiteral("quorlex-station-record/1");

QJsonValue TimeOrNull(const QDateTime& t)
{
    return t.isValid() ? QJsonValue(RecordTime(t)) : QJsonValue();
}

} // namespace

QString RecordTime(const QDateTime& t)
{
    return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs) : QString();
}

QJsonObject MeasurementRecord::toJson() const
{
    return {{recordKey::Step, step},   {recordKey::Name, name},   {recordKey::Value, value},
            {recordKey::Unit, unit},   {recordKey::Limits, limits.toJson()}, {recordKey::Outcome, OutcomeName(outcome)}};
}

MeasurementRecord MeasurementRecord::fromJson(const QJsonObject& o)
{
    MeasurementRecord m;
    m.step = Whole(o, recordKey::Step, -1);
    m.name = Text(o, recordKey::Name);
    m.value = o.value(recordKey::Value);
    if (m.value.isUndefined())
        m.value = QJsonValue::Null;
    m.unit = Text(o, recordKey::Unit);
    m.limits = Limits::fromJson(o.value(recordKey::Limits).toObject());
    m.limits.unit = m.unit;
    m.outcome = OutcomeAt(o, recordKey::Outcome, Outcome::Info);
    return m;
}

QJsonObject StepRecord::toJson() const
{
    return {{recordKey::Index, index},
            {recordKey::Name, name},
            {recordKey::Kind, kind},
            {recordKey::Outcome, OutcomeName(outcome)},
            {recordKey::StartedAt, TimeOrNull(startedAt)},
            {recordKey::EndedAt, TimeOrNull(endedAt)},
            {recordKey::Retries, retries},
            {recordKey::Reason, reason},
            {recordKey::PackS, packSeconds}};
}

StepRecord StepRecord::fromJson(const QJsonObject& o)
{
    StepRecord s;
    s.index = Whole(o, recordKey::Index, -1);
    s.name = Text(o, recordKey::Name);
    s.kind = Text(o, recordKey::Kind);
    s.outcome = OutcomeAt(o, recordKey::Outcome, Outcome::NotRun);
    s.startedAt = Time(o, recordKey::StartedAt);
    s.endedAt = Time(o, recordKey::EndedAt);
    s.retries = Whole(o, recordKey::Retries, 0);
    s.reason = Text(o, recordKey::Reason);
    s.packSeconds = o.value(recordKey::PackS).toDouble();
    return s;
}

void TraceLog::add(const QString& line)
{
    ++frames_;
    if (truncated_)
        return;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (text_.size() + bytes.size() > kMaxBytes) {
        truncated_ = true;
        return;
    }
    text_ += bytes;
}

QJsonObject TraceLog::toJson() const
{
    uLongf size = compressBound(static_cast<uLong>(text_.size()));
    QByteArray packed(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text_.constData()),
                  static_cast<uLong>(text_.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        size = 0;
    packed.resize(static_cast<qsizetype>(size));
    QJsonObject o{{recordKey::Encoding, QStringLiteral("zlib+base64")},
                  {recordKey::Frames, frames_},
                  {recordKey::Bytes, static_cast<qint64>(text_.size())},
                  {recordKey::Data, QString::fromLatin1(packed.toBase64())}};
    if (truncated_)
        o.insert(recordKey::Truncated, true);
    return o;
}

QByteArray TraceLog::Decode(const QJsonObject& trace)
{
    const QByteArray packed = QByteArray::fromBase64(trace.value(recordKey::Data).toString().toLatin1());
    const qint64 bytes = trace.value(recordKey::Bytes).toInteger();
    if (bytes < 0 || bytes > kMaxBytes)
        return {};
    QByteArray text(static_cast<qsizetype>(bytes), Qt::Uninitialized);
    uLongf size = static_cast<uLongf>(bytes);
    if (uncompress(reinterpret_cast<Bytef*>(text.data()), &size, reinterpret_cast<const Bytef*>(packed.constData()),
                   static_cast<uLong>(packed.size())) != Z_OK)
        return {};
    text.resize(static_cast<qsizetype>(size));
    return text;
}

QString SerialReservation::committedState()
{
    return QStringLiteral("committed");
}

QString SerialReservation::state() const
{
    if (committed)
        return committedState();
    if (released)
        return QStringLiteral("released");
    return written ? QStringLiteral("written") : QStringLiteral("reserved");
}

QJsonObject RunRecord::toJson() const
{
    QJsonArray stepArray;
    for (const StepRecord& s : steps)
        stepArray.append(s.toJson());
    QJsonArray measurementArray;
    for (const MeasurementRecord& m : measurements)
        measurementArray.append(m.toJson());
    const QJsonObject packObject{
        {recordKey::Barcode, OrNull(pack.barcode)},
        {recordKey::Uid, OrNull(pack.uid)},
        {recordKey::UidCrc, OrNull(pack.uidCrc)},
        {recordKey::SerialNumber, OrNull(pack.serialNumber)},
        {recordKey::Product, product},
        {recordKey::Cells, pack.cells ? QJsonValue(*pack.cells) : QJsonValue()},
        {recordKey::HwVersion, OrNull(pack.hwVersion)},
        {recordKey::SwBefore, OrNull(pack.swBefore)},
        {recordKey::SwAfter, OrNull(pack.swAfter)},
    };
    QJsonValue reservationValue;
    if (reservation)
        reservationValue = QJsonObject{{recordKey::Key, reservation->key},
                                       {recordKey::Number, reservation->number},
                                       {recordKey::Value, reservation->value},
                                       {recordKey::Reused, reservation->reused},
                                       {recordKey::Written, reservation->written},
                                       {recordKey::Released, reservation->released},
                                       {recordKey::State, reservation->state()}};
    const double duration = startedAt.isValid() && endedAt.isValid() ? startedAt.msecsTo(endedAt) / 1000.0 : 0.0;
    return {
        {recordKey::Format, kFormat},
        {recordKey::RunId, runId},
        {recordKey::StationId, stationId},
        {recordKey::Fixture, fixture},
        {recordKey::Operator, operatorName},
        {recordKey::ToolVersion, toolVersion},
        {recordKey::Recipe,
         QJsonObject{{recordKey::Name, recipeName},
                     {recordKey::Version, recipeVersion},
                     {recordKey::Sha256, recipeSha256},
                     {recordKey::File, recipeFile},
                     {recordKey::Product, product}}},
        {recordKey::Port, port},
        {recordKey::StartedAt, RecordTime(startedAt)},
        {recordKey::EndedAt, RecordTime(endedAt)},
        {recordKey::DurationS, duration},
        {recordKey::Outcome, OutcomeName(outcome)},
        {recordKey::FailureCode, failureCode.isEmpty() ? QJsonValue() : QJsonValue(failureCode)},
        {recordKey::FailureReason, failureReason},
        {recordKey::Retest, retest},
        {recordKey::Pack, packObject},
        {recordKey::Reservation, reservationValue},
        {recordKey::Steps, stepArray},
        {recordKey::Measurements, measurementArray},
        {recordKey::Trace, trace.toJson()},
    };
}

RunRecord RunRecord::fromJson(const QJsonObject& o)
{
    RunRecord r;
    r.runId = Text(o, recordKey::RunId);
    r.stationId = Text(o, recordKey::StationId);
    r.fixture = Text(o, recordKey::Fixture);
    r.operatorName = Text(o, recordKey::Operator);
    r.toolVersion = Text(o, recordKey::ToolVersion);
    r.port = Text(o, recordKey::Port);
    const QJsonObject recipe = o.value(recordKey::Recipe).toObject();
    r.recipeName = Text(recipe, recordKey::Name);
    r.recipeVersion = Text(recipe, recordKey::Version);
    r.recipeSha256 = Text(recipe, recordKey::Sha256);
    r.recipeFile = Text(recipe, recordKey::File);
    const QJsonObject pack = o.value(recordKey::Pack).toObject();
    // The recipe names the product; a record without it, the pack.
    r.product = OptionalText(recipe, recordKey::Product).value_or(Text(pack, recordKey::Product));
    r.startedAt = Time(o, recordKey::StartedAt);
    r.endedAt = Time(o, recordKey::EndedAt);
    r.outcome = OutcomeAt(o, recordKey::Outcome, Outcome::Error);
    r.failureCode = Text(o, recordKey::FailureCode);
    r.failureReason = Text(o, recordKey::FailureReason);
    r.retest = o.value(recordKey::Retest).toBool();
    r.pack.barcode = OptionalText(pack, recordKey::Barcode);
    r.pack.uid = OptionalText(pack, recordKey::Uid);
    r.pack.uidCrc = OptionalText(pack, recordKey::UidCrc);
    r.pack.serialNumber = OptionalText(pack, recordKey::SerialNumber);
    r.pack.hwVersion = OptionalText(pack, recordKey::HwVersion);
    r.pack.swBefore = OptionalText(pack, recordKey::SwBefore);
    r.pack.swAfter = OptionalText(pack, recordKey::SwAfter);
    if (const QJsonValue cells = pack.value(recordKey::Cells); cells.isDouble())
        r.pack.cells = cells.toInt();
    if (const QJsonValue v = o.value(recordKey::Reservation); v.isObject()) {
        const QJsonObject s = v.toObject();
        SerialReservation reserved{Text(s, recordKey::Key), s.value(recordKey::Number).toInteger(), Text(s, recordKey::Value)};
        reserved.reused = s.value(recordKey::Reused).toBool();
        reserved.written = s.value(recordKey::Written).toBool();
        reserved.released = s.value(recordKey::Released).toBool();
        reserved.committed = Text(s, recordKey::State) == reserved.committedState();
        r.reservation = reserved;
    }
    for (const QJsonValue& v : o.value(recordKey::Steps).toArray())
        r.steps.push_back(StepRecord::fromJson(v.toObject()));
    for (const QJsonValue& v : o.value(recordKey::Measurements).toArray())
        r.measurements.push_back(MeasurementRecord::fromJson(v.toObject()));
    return r;
}

bool WriteRecord(const QString& folder, const QJsonObject& record, QString& path, QString& error)
{
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the results folder %1").arg(folder);
        return false;
    }
    path = QDir(folder).filePath(record.value(recordKey::RunId).toString() + QStringLiteral(".json"));
    return WriteFileAtomically(path, QJsonDocument(record).toJson(QJsonDocument::Indented), error);
}

bool CheckResultsFolder(const QString& folder, QString& error)
{
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        error = QStringLiteral("the results folder %1 cannot be made").arg(folder);
        return false;
    }
    // A record is written as a file beside it, then renamed: try exactly
    // that, with as much as a large record takes.
    const QString probe = QDir(folder).filePath(QStringLiteral(".write-check.json"));
    if (!WriteFileAtomically(probe, QByteArray(64 * 1024, ' '), error)) {
        error = QStringLiteral("the results folder %1 cannot take a record: %2").arg(folder, error);
        return false;
    }
    QFile::remove(probe);
    const QStorageInfo disk(folder);
    if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < kResultsFreeBytes) {
        error = QStringLiteral("the results folder %1 has %2 MB free, less than the %3 MB a record may need")
                    .arg(folder)
                    .arg(disk.bytesAvailable() >> 20)
                    .arg(kResultsFreeBytes >> 20);
        return false;
    }
    return true;
}

void KeepForLater(const QString& folder, const QString& runId)
{
    const QString marks = UnstoredFolder(folder);
    QString ignored;
    if (QDir().mkpath(marks))
        WriteFileAtomically(QDir(marks).filePath(runId), {}, ignored);
}

} // namespace bms::station
