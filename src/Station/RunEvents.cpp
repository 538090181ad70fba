#include "RunEvents.h"

#include "JsonFields.h"

#include <QJsonArray>

namespace bms::station {

using namespace json;

namespace {

// The events' keys, written and read.
namespace eventKey {
const QLatin1String Event("event"), RunId("run_id"), Recipe("recipe"), Name("name"), Version("version"),
    Sha256("sha256"), StationId("station_id"), Fixture("fixture"), Operator("operator"), Port("port"), Steps("steps"),
    Index("index"), Kind("kind"), Attempt("attempt"), StepName("step_name"), Reason("reason"), Id("id"), Step("step"),
    Text("text"), TimeoutS("timeout_s"), How("how"), Outcome("outcome"), Retries("retries"), DurationS("duration_s"),
    PackS("pack_s"), Message("message"), Path("path"), Record("record"), FailureCode("failure_code"),
    FailureReason("failure_reason"), Exit("exit"), Error("error"), Errors("errors"), Messages("messages"),
    Notes("notes");
} // namespace eventKey

template <class Event>
RunEvent ReadEvent(const QJsonObject& o)
{
    return Event::fromJson(o);
}

// Each kind: its name and its reader.
struct KindWord {
    EventKind kind;
    const char* name;
    RunEvent (*read)(const QJsonObject&);
};

const KindWord kKinds[] = {
    {EventKind::RunStart, "run_start", ReadEvent<RunStartEvent>},
    {EventKind::StepStart, "step_start", ReadEvent<StepStartEvent>},
    {EventKind::Measurement, "measurement", ReadEvent<MeasurementEvent>},
    {EventKind::Prompt, "prompt", ReadEvent<PromptEvent>},
    {EventKind::PromptRefused, "prompt_refused", ReadEvent<PromptRefusedEvent>},
    {EventKind::PromptClosed, "prompt_closed", ReadEvent<PromptClosedEvent>},
    {EventKind::StepRetry, "step_retry", ReadEvent<StepRetryEvent>},
    {EventKind::StepEnd, "step_end", ReadEvent<StepEndEvent>},
    {EventKind::Warning, "warning", ReadEvent<WarningEvent>},
    {EventKind::Error, "error", ReadEvent<ErrorEvent>},
    {EventKind::Record, "record", ReadEvent<RecordEvent>},
    {EventKind::RunEnd, "run_end", ReadEvent<RunEndEvent>},
};

const char* const kPromptKinds[] = {"barcode", "confirm", "value"};

const QLatin1String kAnswered("answered"), kCancelled("cancelled");

// An empty text as null.
QJsonValue NullIfEmpty(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QStringList Texts(const QJsonObject& o, QLatin1String k)
{
    QStringList texts;
    for (const QJsonValue& v : o.value(k).toArray())
        texts.append(v.toString());
    return texts;
}

} // namespace

QString EventKindName(EventKind kind)
{
    for (const KindWord& w : kKinds)
        if (w.kind == kind)
            return QLatin1String(w.name);
    return {};
}

std::optional<EventKind> EventKindNamed(const QString& name)
{
    for (const KindWord& w : kKinds)
        if (name == QLatin1String(w.name))
            return w.kind;
    return std::nullopt;
}

QString PromptKindName(PromptKind kind)
{
    return QLatin1String(kPromptKinds[static_cast<int>(kind)]);
}

QJsonObject RunStartEvent::toJson() const
{
    QJsonArray stepArray;
    for (const StepHeader& s : steps)
        stepArray.append(QJsonObject{{eventKey::Index, s.index}, {eventKey::Name, s.name}, {eventKey::Kind, s.kind}});
    return {{eventKey::RunId, runId},
            {eventKey::Recipe, QJsonObject{{eventKey::Name, recipeName}, {eventKey::Version, recipeVersion}, {eventKey::Sha256, recipeSha256}}},
            {eventKey::StationId, stationId},
            {eventKey::Fixture, fixture},
            {eventKey::Operator, operatorName},
            {eventKey::Port, port},
            {eventKey::Steps, stepArray}};
}

RunStartEvent RunStartEvent::fromJson(const QJsonObject& e)
{
    RunStartEvent r;
    r.runId = Text(e, eventKey::RunId);
    const QJsonObject recipe = e.value(eventKey::Recipe).toObject();
    r.recipeName = Text(recipe, eventKey::Name);
    r.recipeVersion = Text(recipe, eventKey::Version);
    r.recipeSha256 = Text(recipe, eventKey::Sha256);
    r.stationId = Text(e, eventKey::StationId);
    r.fixture = Text(e, eventKey::Fixture);
    r.operatorName = Text(e, eventKey::Operator);
    r.port = Text(e, eventKey::Port);
    for (const QJsonValue& v : e.value(eventKey::Steps).toArray()) {
        const QJsonObject s = v.toObject();
        // A step without its index is the one after the last.
        r.steps.push_back({Whole(s, eventKey::Index, int(r.steps.size())), Text(s, eventKey::Name), Text(s, eventKey::Kind)});
    }
    return r;
}

QJsonObject StepStartEvent::toJson() const
{
    return {{eventKey::Index, index}, {eventKey::Name, name}, {eventKey::Kind, kind}, {eventKey::Attempt, attempt}};
}

StepStartEvent StepStartEvent::fromJson(const QJsonObject& e)
{
    return {Whole(e, eventKey::Index, -1), Text(e, eventKey::Name), Text(e, eventKey::Kind), Whole(e, eventKey::Attempt, 1)};
}

QJsonObject MeasurementEvent::toJson() const
{
    QJsonObject o = measurement.toJson();
    o.insert(eventKey::StepName, stepName);
    if (!reason.isEmpty())
        o.insert(eventKey::Reason, reason);
    return o;
}

MeasurementEvent MeasurementEvent::fromJson(const QJsonObject& e)
{
    return {MeasurementRecord::fromJson(e), Text(e, eventKey::StepName), Text(e, eventKey::Reason)};
}

QJsonObject PromptEvent::toJson() const
{
    return {{eventKey::Id, id}, {eventKey::Step, step}, {eventKey::Kind, PromptKindName(kind)}, {eventKey::Text, text}, {eventKey::TimeoutS, timeoutS}};
}

PromptEvent PromptEvent::fromJson(const QJsonObject& e)
{
    PromptEvent p;
    p.id = Text(e, eventKey::Id);
    p.step = Whole(e, eventKey::Step, -1);
    const QString kind = Text(e, eventKey::Kind);
    for (int k = 0; k < int(std::size(kPromptKinds)); ++k)
        if (kind == QLatin1String(kPromptKinds[k]))
            p.kind = static_cast<PromptKind>(k);
    p.text = Text(e, eventKey::Text);
    p.timeoutS = e.value(eventKey::TimeoutS).toDouble();
    return p;
}

QJsonObject PromptRefusedEvent::toJson() const
{
    return {{eventKey::Id, id}, {eventKey::Reason, reason}};
}

PromptRefusedEvent PromptRefusedEvent::fromJson(const QJsonObject& e)
{
    return {Text(e, eventKey::Id), Text(e, eventKey::Reason)};
}

QJsonObject PromptClosedEvent::toJson() const
{
    return {{eventKey::Id, id}, {eventKey::How, answered ? kAnswered : kCancelled}};
}

PromptClosedEvent PromptClosedEvent::fromJson(const QJsonObject& e)
{
    return {Text(e, eventKey::Id), Text(e, eventKey::How) == kAnswered};
}

QJsonObject StepRetryEvent::toJson() const
{
    return {{eventKey::Index, index}, {eventKey::Name, name}, {eventKey::Outcome, OutcomeName(outcome)}, {eventKey::Reason, reason}};
}

StepRetryEvent StepRetryEvent::fromJson(const QJsonObject& e)
{
    return {Whole(e, eventKey::Index, -1), Text(e, eventKey::Name), OutcomeAt(e, eventKey::Outcome, Outcome::Error), Text(e, eventKey::Reason)};
}

QJsonObject StepEndEvent::toJson() const
{
    return {{eventKey::Index, index},       {eventKey::Name, name},       {eventKey::Kind, kind},
            {eventKey::Outcome, OutcomeName(outcome)}, {eventKey::Reason, reason}, {eventKey::Retries, retries},
            {eventKey::DurationS, durationS}, {eventKey::PackS, packS}};
}

StepEndEvent StepEndEvent::fromJson(const QJsonObject& e)
{
    StepEndEvent s;
    s.index = Whole(e, eventKey::Index, -1);
    s.name = Text(e, eventKey::Name);
    s.kind = Text(e, eventKey::Kind);
    s.outcome = OutcomeAt(e, eventKey::Outcome, Outcome::Error);
    s.reason = Text(e, eventKey::Reason);
    s.retries = Whole(e, eventKey::Retries, 0);
    s.durationS = e.value(eventKey::DurationS).toDouble();
    s.packS = e.value(eventKey::PackS).toDouble();
    return s;
}

QJsonObject WarningEvent::toJson() const
{
    return {{eventKey::Message, message}};
}

WarningEvent WarningEvent::fromJson(const QJsonObject& e)
{
    return {Text(e, eventKey::Message)};
}

QJsonObject ErrorEvent::toJson() const
{
    return {{eventKey::Message, message}};
}

ErrorEvent ErrorEvent::fromJson(const QJsonObject& e)
{
    return {Text(e, eventKey::Message)};
}

QJsonObject RecordEvent::toJson() const
{
    return {{eventKey::Path, path}, {eventKey::Record, record}};
}

RecordEvent RecordEvent::fromJson(const QJsonObject& e)
{
    return {Text(e, eventKey::Path), e.value(eventKey::Record).toObject()};
}

QJsonObject RunEndEvent::toJson() const
{
    return {{eventKey::RunId, runId},
            {eventKey::Outcome, OutcomeName(outcome)},
            {eventKey::FailureCode, NullIfEmpty(failureCode)},
            {eventKey::FailureReason, failureReason},
            {eventKey::Record, NullIfEmpty(recordPath)}};
}

RunEndEvent RunEndEvent::fromJson(const QJsonObject& e)
{
    RunEndEvent r;
    r.runId = Text(e, eventKey::RunId);
    r.outcome = OutcomeAt(e, eventKey::Outcome, Outcome::Error);
    r.failureCode = Text(e, eventKey::FailureCode);
    r.failureReason = Text(e, eventKey::FailureReason);
    r.recordPath = Text(e, eventKey::Record);
    r.exit = Whole(e, eventKey::Exit, -1);
    return r;
}

NotStartedEvent NotStartedEvent::fromJson(const QJsonObject& e)
{
    NotStartedEvent n;
    n.exit = Whole(e, eventKey::Exit, -1);
    n.error = Text(e.value(eventKey::Error).toObject(), eventKey::Message);
    if (n.error.isEmpty())
        n.error = Texts(e, eventKey::Errors).value(Texts(e, eventKey::Errors).size() - 1);
    return n;
}

QJsonObject EventJson(const RunEvent& event)
{
    return std::visit(
        [](const auto& e) -> QJsonObject {
            using Event = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<Event, NotStartedEvent>) {
                return {};
            } else {
                QJsonObject o = e.toJson();
                o.insert(eventKey::Event, EventKindName(Event::kKind));
                return o;
            }
        },
        event);
}

std::optional<ParsedEvent> ParseEvent(const QJsonObject& o)
{
    const QJsonValue kind = o.value(eventKey::Event);
    std::optional<RunEvent> event;
    for (const KindWord& w : kKinds)
        if (kind.toString() == QLatin1String(w.name))
            event = w.read(o);
    if (kind.isUndefined() && o.contains(eventKey::Exit))
        event = NotStartedEvent::fromJson(o);
    if (!event)
        return std::nullopt;
    return ParsedEvent{std::move(*event), Texts(o, eventKey::Messages), Texts(o, eventKey::Errors), Texts(o, eventKey::Notes)};
}

} // namespace bms::station
