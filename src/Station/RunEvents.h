// The events of a station run, as `station run --json` prints them one a
// line (docs/station.md, "JSON events"; docs/cli-json-schema.json). Each
// kind has a struct that writes its JSON object (toJson) and reads it back
// (fromJson) with the same keys, so the run that writes them and everything
// that reads them (the command line's text, the Station tab, the tests)
// share one definition. Readers are lenient: an unknown key is skipped, a
// missing one or one of another type reads as the field's default, an
// unknown kind of event is no event.
#pragma once

#include "Outcome.h"
#include "RunRecord.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>
#include <vector>

namespace bms::station {

enum class EventKind {
    RunStart, StepStart, Measurement, Prompt, PromptRefused, PromptClosed, StepRetry, StepEnd, Warning, Error, Record,
    RunEnd,
};
// "run_start", "step_start", ... as the key "event" holds it.
QString EventKindName(EventKind kind);
std::optional<EventKind> EventKindNamed(const QString& name);

// What a prompt asks for: "barcode", "confirm" or "value".
enum class PromptKind { Barcode, Confirm, Value };
QString PromptKindName(PromptKind kind);

struct StepHeader {
    int index = -1;
    QString name;
    QString kind;
};

struct RunStartEvent {
    static constexpr EventKind kKind = EventKind::RunStart;
    QString runId;
    QString recipeName, recipeVersion, recipeSha256;
    QString stationId, fixture, operatorName, port;
    std::vector<StepHeader> steps;
    QJsonObject toJson() const;
    static RunStartEvent fromJson(const QJsonObject& e);
};

struct StepStartEvent {
    static constexpr EventKind kKind = EventKind::StepStart;
    int index = -1;
    QString name, kind;
    int attempt = 1; // from 1
    QJsonObject toJson() const;
    static StepStartEvent fromJson(const QJsonObject& e);
};

// A measurement as the record keeps it, with its step's name and, when it
// failed, why (the key "reason" is there only then).
struct MeasurementEvent {
    static constexpr EventKind kKind = EventKind::Measurement;
    MeasurementRecord measurement;
    QString stepName;
    QString reason;
    QJsonObject toJson() const;
    static MeasurementEvent fromJson(const QJsonObject& e);
};

struct PromptEvent {
    static constexpr EventKind kKind = EventKind::Prompt;
    QString id; // "p1", "p2", ...
    int step = -1;
    PromptKind kind = PromptKind::Confirm;
    QString text;
    double timeoutS = 0; // left for the step
    QJsonObject toJson() const;
    static PromptEvent fromJson(const QJsonObject& e);
};

struct PromptRefusedEvent {
    static constexpr EventKind kKind = EventKind::PromptRefused;
    QString id;
    QString reason;
    QJsonObject toJson() const;
    static PromptRefusedEvent fromJson(const QJsonObject& e);
};

struct PromptClosedEvent {
    static constexpr EventKind kKind = EventKind::PromptClosed;
    QString id;
    bool answered = false; // "answered"; else "cancelled" (the step ended, the run was aborted)
    QJsonObject toJson() const;
    static PromptClosedEvent fromJson(const QJsonObject& e);
};

struct StepRetryEvent {
    static constexpr EventKind kKind = EventKind::StepRetry;
    int index = -1;
    QString name;
    Outcome outcome = Outcome::Error; // of the attempt tried again
    QString reason;
    QJsonObject toJson() const;
    static StepRetryEvent fromJson(const QJsonObject& e);
};

struct StepEndEvent {
    static constexpr EventKind kKind = EventKind::StepEnd;
    int index = -1;
    QString name, kind;
    Outcome outcome = Outcome::Error;
    QString reason;
    int retries = 0;
    double durationS = 0;
    double packS = 0;
    QJsonObject toJson() const;
    static StepEndEvent fromJson(const QJsonObject& e);
};

// "warning" and "error": a serial number not given back, a record not
// written, in words.
struct WarningEvent {
    static constexpr EventKind kKind = EventKind::Warning;
    QString message;
    QJsonObject toJson() const;
    static WarningEvent fromJson(const QJsonObject& e);
};
struct ErrorEvent {
    static constexpr EventKind kKind = EventKind::Error;
    QString message;
    QJsonObject toJson() const;
    static ErrorEvent fromJson(const QJsonObject& e);
};

// The record written (path empty when it could not be) and the whole
// record, read with RunRecord::fromJson when needed.
struct RecordEvent {
    static constexpr EventKind kKind = EventKind::Record;
    QString path;
    QJsonObject record;
    QJsonObject toJson() const;
    static RecordEvent fromJson(const QJsonObject& e);
};

// The last line of a run that started. Besides these keys the command line
// adds "error" (null, or {"kind", "message"}) and "exit".
struct RunEndEvent {
    static constexpr EventKind kKind = EventKind::RunEnd;
    QString runId;
    Outcome outcome = Outcome::Error;
    QString failureCode; // empty: null
    QString failureReason;
    QString recordPath;  // empty: null
    int exit = -1;       // read only; the command line writes it
    QJsonObject toJson() const;
    static RunEndEvent fromJson(const QJsonObject& e);
};

// The one line of a run that never started (a bad recipe, a port that did
// not open): no "event" key, its exit status and its error.
struct NotStartedEvent {
    int exit = -1;
    QString error; // the error's message, else the last of "errors"
    static NotStartedEvent fromJson(const QJsonObject& e);
};

using RunEvent = std::variant<RunStartEvent, StepStartEvent, MeasurementEvent, PromptEvent, PromptRefusedEvent,
                              PromptClosedEvent, StepRetryEvent, StepEndEvent, WarningEvent, ErrorEvent, RecordEvent,
                              RunEndEvent, NotStartedEvent>;

// The JSON object of an event, with its "event" key (a NotStartedEvent,
// which the command line writes itself, gives an empty object).
QJsonObject EventJson(const RunEvent& event);

// An event read from its JSON object, with the window's messages, errors
// and notes that ride along on every line.
struct ParsedEvent {
    RunEvent event;
    QStringList messages, errors, notes;
};
// Nothing for an object of an unknown kind.
std::optional<ParsedEvent> ParseEvent(const QJsonObject& object);

} // namespace bms::station
