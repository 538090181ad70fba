#include "RunRecord.h"

#include "DurableFile.h"
#include "Stores.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <zlib.h>

namespace bms::station {

namespace {

QJsonValue Optional(const std::optional<QString>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString RecordTime(const QDateTime& t)
{
    return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs) : QString();
}

QJsonObject MeasurementRecord::toJson() const
{
    return {{QStringLiteral("step"), step},       {QStringLiteral("name"), name},
            {QStringLiteral("value"), value},     {QStringLiteral("unit"), unit},
            {QStringLiteral("limits"), limits.toJson()}, {QStringLiteral("outcome"), outcome}};
}

QJsonObject StepRecord::toJson() const
{
    return {{QStringLiteral("index"), index},
            {QStringLiteral("name"), name},
            {QStringLiteral("kind"), kind},
            {QStringLiteral("outcome"), outcome},
            {QStringLiteral("started_at"), startedAt.isValid() ? QJsonValue(RecordTime(startedAt)) : QJsonValue()},
            {QStringLiteral("ended_at"), endedAt.isValid() ? QJsonValue(RecordTime(endedAt)) : QJsonValue()},
            {QStringLiteral("retries"), retries},
            {QStringLiteral("reason"), reason},
            {QStringLiteral("pack_s"), packSeconds}};
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
    QJsonObject o{{QStringLiteral("encoding"), QStringLiteral("zlib+base64")},
                  {QStringLiteral("frames"), frames_},
                  {QStringLiteral("bytes"), static_cast<qint64>(text_.size())},
                  {QStringLiteral("data"), QString::fromLatin1(packed.toBase64())}};
    if (truncated_)
        o.insert(QStringLiteral("truncated"), true);
    return o;
}

QByteArray TraceLog::Decode(const QJsonObject& trace)
{
    const QByteArray packed = QByteArray::fromBase64(trace.value(QStringLiteral("data")).toString().toLatin1());
    const qint64 bytes = trace.value(QStringLiteral("bytes")).toInteger();
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

QString SerialReservation::state() const
{
    if (committed)
        return QStringLiteral("committed");
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
        {QStringLiteral("barcode"), Optional(pack.barcode)},
        {QStringLiteral("uid"), Optional(pack.uid)},
        {QStringLiteral("uid_crc"), Optional(pack.uidCrc)},
        {QStringLiteral("serial_number"), Optional(pack.serialNumber)},
        {QStringLiteral("product"), product},
        {QStringLiteral("cells"), pack.cells ? QJsonValue(*pack.cells) : QJsonValue()},
        {QStringLiteral("hw_version"), Optional(pack.hwVersion)},
        {QStringLiteral("sw_version_before"), Optional(pack.swBefore)},
        {QStringLiteral("sw_version_after"), Optional(pack.swAfter)},
    };
    QJsonValue reservationValue;
    if (reservation)
        reservationValue = QJsonObject{{QStringLiteral("key"), reservation->key},
                                       {QStringLiteral("number"), reservation->number},
                                       {QStringLiteral("value"), reservation->value},
                                       {QStringLiteral("reused"), reservation->reused},
                                       {QStringLiteral("written"), reservation->written},
                                       {QStringLiteral("released"), reservation->released},
                                       {QStringLiteral("state"), reservation->state()}};
    const double duration = startedAt.isValid() && endedAt.isValid() ? startedAt.msecsTo(endedAt) / 1000.0 : 0.0;
    return {
        {QStringLiteral("format"), QStringLiteral("quorlex-station-record/1")},
        {QStringLiteral("run_id"), runId},
        {QStringLiteral("station_id"), stationId},
        {QStringLiteral("fixture"), fixture},
        {QStringLiteral("operator"), operatorName},
        {QStringLiteral("tool_version"), toolVersion},
        {QStringLiteral("recipe"),
         QJsonObject{{QStringLiteral("name"), recipeName},
                     {QStringLiteral("version"), recipeVersion},
                     {QStringLiteral("sha256"), recipeSha256},
                     {QStringLiteral("file"), recipeFile},
                     {QStringLiteral("product"), product}}},
        {QStringLiteral("port"), port},
        {QStringLiteral("started_at"), RecordTime(startedAt)},
        {QStringLiteral("ended_at"), RecordTime(endedAt)},
        {QStringLiteral("duration_s"), duration},
        {QStringLiteral("outcome"), outcome},
        {QStringLiteral("failure_code"), failureCode.isEmpty() ? QJsonValue() : QJsonValue(failureCode)},
        {QStringLiteral("failure_reason"), failureReason},
        {QStringLiteral("retest"), retest},
        {QStringLiteral("pack"), packObject},
        {QStringLiteral("serial_reservation"), reservationValue},
        {QStringLiteral("steps"), stepArray},
        {QStringLiteral("measurements"), measurementArray},
        {QStringLiteral("trace"), trace.toJson()},
    };
}

bool WriteRecord(const QString& folder, const QJsonObject& record, QString& path, QString& error)
{
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the results folder %1").arg(folder);
        return false;
    }
    path = QDir(folder).filePath(record.value(QStringLiteral("run_id")).toString() + QStringLiteral(".json"));
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
