// The station run record (docs/station-record.md) checked and taken apart
// into the rows the schema keeps, and put together again. What the schema
// has no column for (unknown keys of a step or a measurement, a value that
// is neither a number nor a text) and every value that its column would not
// give back exactly (a number as a step's name, 2.5 retries, a null time)
// travels in the row's `extra` JSON under its key, so a record read back
// equals the record stored. A record that no database could keep as it is
// (a NUL character or a lone surrogate in a text) is refused.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace bms::records {

// The newest major number of the record format this tool reads.
constexpr int kRecordFormatMajor = 1;
// Bounds of a record from outside (an imported file, a run).
constexpr qint64 kMaxRecordFileBytes = 64 * 1024 * 1024;
constexpr qsizetype kMaxSteps = 10000;
constexpr qsizetype kMaxMeasurements = 100000;

struct RunRows {
    QString runId;
    QString stationId;
    QString outcome;
    QString startedAt;
    qint64 startedMs = 0;
    int utcOffsetS = 0; // of started_at: the station's UTC offset when the run started
    QJsonObject header; // the record without steps, measurements and trace data
    QJsonArray steps;
    QJsonArray measurements;
    bool hasTrace = false;
    QJsonObject traceMeta; // the trace object without its data
    QByteArray traceData;  // the data, base64-decoded when its encoding says base64
};

// Checks a record and takes it apart. Nothing on a record that is not one
// (with the reason in `error`).
std::optional<RunRows> SplitRecord(const QJsonObject& record, QString& error);

// The record that `rows` were taken from, as a database gives it back
// (steps and measurements always present, the run id in lower case).
QJsonObject RecordOfRows(const RunRows& rows);

// The JSON object of a record file's text; nothing (with the reason) on
// text that is not one or that gives a key twice in an object.
std::optional<QJsonObject> ParseRecordJson(const QByteArray& text, QString& error);
// Reads one record file, bounded by kMaxRecordFileBytes; anything but a
// regular file (or a link to one) is refused without being read.
std::optional<QJsonObject> ReadRecordFile(const QString& path, QString& error);

// The text of an optional JSON string: null for null or absent.
QVariant TextOrNull(const QJsonValue& value);

// A step and a measurement as the columns keep them, and back.
struct StepColumns {
    QVariant stepIndex, name, kind, outcome, startedAt, endedAt, retries, reason, extra;
};
struct MeasurementColumns {
    QVariant step, name, valueNum, valueText, unit, limits, outcome, extra;
};
StepColumns ColumnsOfStep(const QJsonObject& step);
MeasurementColumns ColumnsOfMeasurement(const QJsonObject& measurement);
QJsonObject StepOfColumns(const StepColumns& c);
QJsonObject MeasurementOfColumns(const MeasurementColumns& c);
// The trace object of the record from its columns.
QJsonObject TraceOfColumns(const QString& meta, const QByteArray& data);

} // namespace bms::records
