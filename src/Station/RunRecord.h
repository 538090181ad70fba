// The record of one station run, as docs/station-record.md describes it:
// who, where, which recipe, the pack's identity, every step and every
// measurement with its limits and outcome, and the frame trace of the run.
// Built while the run goes on, written once when it ends; read back from
// its JSON by the readers of records (the Station tab, the records
// commands).
#pragma once

#include "Limits.h"
#include "Outcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <vector>

namespace bms::station {

// The readers (fromJson) take what a record holds as the writers put it; a
// key that is missing or of another type reads as the field's default (an
// empty text, nothing, -1 for an index), so a record from another program
// is read as far as it can be.

struct MeasurementRecord {
    int step = 0;
    QString name;
    QJsonValue value;
    QString unit;
    Limits limits;
    Outcome outcome = Outcome::Info; // Pass, Fail or Info
    QJsonObject toJson() const;
    static MeasurementRecord fromJson(const QJsonObject& measurement);
};

struct StepRecord {
    int index = 0;
    QString name;
    QString kind;
    Outcome outcome = Outcome::NotRun;
    QDateTime startedAt;
    QDateTime endedAt;
    int retries = 0;
    QString reason;
    // Time spent waiting on the pack: from each request of the step to its
    // answer, the handlers' designed waits included.
    double packSeconds = 0;
    QJsonObject toJson() const;
    static StepRecord fromJson(const QJsonObject& step);
};

// The frames of the run, one trace line each, kept compressed in the
// record. Holds at most kMaxBytes of text; what comes after is counted but
// dropped, and the record says so.
class TraceLog {
public:
    static constexpr qsizetype kMaxBytes = 32 << 20;
    void add(const QString& line);
    int frames() const { return frames_; }
    // {"encoding": "zlib+base64", "frames": N, "bytes": B, "data": "..."}
    QJsonObject toJson() const;
    // The text back from a record's trace object (tests, readers).
    static QByteArray Decode(const QJsonObject& trace);

private:
    QByteArray text_;
    int frames_ = 0;
    bool truncated_ = false;
};

struct PackIdentity {
    std::optional<QString> barcode, uid, uidCrc, serialNumber, hwVersion, swBefore, swAfter;
    std::optional<int> cells;
};

struct SerialReservation {
    QString key;
    qint64 number = 0;
    QString value;
    bool reused = false;   // the pack's own number from an earlier run
    bool written = false;  // its write went out to the pack: it is the pack's for good
    bool released = false; // never written, given back when the run ended
    bool committed = false; // written and the run passed
    // "committed", "written" (the pack's; its run did not pass), "released"
    // or "reserved" (the run has not ended).
    QString state() const;
    static QString committedState();
};

struct RunRecord {
    QString runId;
    QString stationId;
    QString fixture;
    QString operatorName;
    QString toolVersion;
    QString port;
    QString recipeName, recipeVersion, recipeSha256, recipeFile, product;
    QDateTime startedAt, endedAt;
    Outcome outcome = Outcome::Error;
    QString failureCode;   // empty: null
    QString failureReason;
    bool retest = false;
    PackIdentity pack;
    std::optional<SerialReservation> reservation;
    std::vector<StepRecord> steps;
    std::vector<MeasurementRecord> measurements;
    TraceLog trace;

    QJsonObject toJson() const;
    // The record of `record` (docs/station-record.md). The trace is not
    // read: TraceLog::Decode gives its text.
    static RunRecord fromJson(const QJsonObject& record);
};

// ISO 8601 local time with milliseconds and UTC offset.
QString RecordTime(const QDateTime& t);

// Writes `record` as `<run_id>.json` in `folder` (made when missing), whole
// or not at all; `path` gets the file's path.
bool WriteRecord(const QString& folder, const QJsonObject& record, QString& path, QString& error);

// Free space a results folder must have before a run touches a pack: a
// record with its whole trace fits with room to spare.
constexpr qint64 kResultsFreeBytes = 64LL << 20;
// Whether a record can be written to `folder` (made when missing): a file
// written and renamed there, and the free space; false with the reason.
bool CheckResultsFolder(const QString& folder, QString& error);
// Marks the record file of `runId` in `folder` as not yet in the records
// database, to be stored when it can take it.
void KeepForLater(const QString& folder, const QString& runId);

} // namespace bms::station
