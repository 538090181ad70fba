#include "FixtureModel.h"

#include "Limits.h"

#include <algorithm>

namespace bms::stationtab {

using station::Outcome;

namespace {

// Notes kept for the panel; older ones go.
constexpr int kNotesKept = 3;

QString WithUnit(const QString& text, const QString& unit)
{
    return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
}

QString Number(const QJsonValue& v)
{
    return station::ValueText(v);
}

// A 16-bit word as the pack's registers are written: "0x0040".
QString Hex(qint64 word)
{
    return QStringLiteral("0x") + QString::number(word, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

// The banner of a run's outcome: anything but a run's own outcome is an
// ERROR.
Verdict VerdictOf(Outcome outcome)
{
    return station::IsRunOutcome(outcome) ? outcome : Outcome::Error;
}

} // namespace

QString LimitsText(const station::Limits& limits, const QString& unit)
{
    QStringList parts;
    if (limits.low && limits.high)
        parts.append(WithUnit(Number(*limits.low) + QStringLiteral(" to ") + Number(*limits.high), unit));
    else if (limits.low)
        parts.append(QStringLiteral("at least ") + WithUnit(Number(*limits.low), unit));
    else if (limits.high)
        parts.append(QStringLiteral("at most ") + WithUnit(Number(*limits.high), unit));
    if (const std::optional<QJsonValue>& v = limits.equals)
        parts.append(QStringLiteral("= ") + WithUnit(Number(*v), v->isDouble() ? unit : QString()));
    if (limits.matches)
        parts.append(QStringLiteral("matches ") + *limits.matches);
    if (limits.mask)
        parts.append(QStringLiteral("mask ") + Hex(*limits.mask));
    return parts.join(QStringLiteral(", "));
}

QString MeasuredText(const QJsonValue& value, const QString& unit, const station::Limits& limits)
{
    if (value.isNull())
        return QStringLiteral("no value");
    if (value.isDouble() && limits.mask)
        return Hex(value.toInteger());
    return WithUnit(Number(value), value.isDouble() ? unit : QString());
}

QString FailureLine(const FailedMeasurement& f)
{
    // A mask says what it is; a range is named.
    return f.limits.startsWith(QLatin1String("mask ")) ? QStringLiteral("%1 %2 (%3)").arg(f.name, f.value, f.limits)
                                                         : QStringLiteral("%1 %2 (limits %3)").arg(f.name, f.value, f.limits);
}

QString FixtureModel::barcodeTaken() const
{
    switch (s_.phase) {
    case Phase::Idle: return {};
    case Phase::Checking: return s_.checked;
    default: return s_.barcode;
    }
}

void FixtureModel::checking(const QString& barcode)
{
    s_.phase = Phase::Checking;
    s_.checked = barcode;
    s_.message = QStringLiteral("Checking %1 ...").arg(barcode);
}

void FixtureModel::refuse(const QString& words)
{
    s_.phase = Phase::Idle;
    s_.checked.clear();
    s_.message = words;
}

void FixtureModel::begin(const QString& barcode)
{
    s_ = FixtureState{};
    s_.phase = Phase::Running;
    s_.barcode = barcode;
    runEndSeen_ = false;
    record_.reset();
    notStarted_.reset();
}

void FixtureModel::note(const QString& text)
{
    if (text.isEmpty())
        return;
    s_.notes.append(text);
    while (s_.notes.size() > kNotesKept)
        s_.notes.removeFirst();
}

void FixtureModel::event(const QJsonObject& e)
{
    if (const std::optional<station::ParsedEvent> parsed = station::ParseEvent(e))
        event(*parsed);
}

void FixtureModel::event(const station::ParsedEvent& e)
{
    for (const QString& error : e.errors)
        note(error);
    std::visit([this](const auto& event) { take(event); }, e.event);
}

void FixtureModel::take(const station::RunStartEvent& e)
{
    s_.runId = e.runId;
    s_.steps.clear();
    for (const station::StepHeader& step : e.steps)
        s_.steps.push_back({step.name, step.kind, {}, 0, {}});
}

void FixtureModel::take(const station::StepStartEvent& e)
{
    s_.current = e.index;
    s_.attempt = e.attempt;
    // A step tried again: only its last attempt's failures count.
    if (s_.attempt > 1 && s_.current >= 0 && s_.current < int(s_.steps.size())) {
        const QString name = s_.steps[size_t(s_.current)].name;
        std::erase_if(s_.failures, [&](const FailedMeasurement& f) { return f.step == name; });
    }
}

void FixtureModel::take(const station::MeasurementEvent& e)
{
    const station::MeasurementRecord& m = e.measurement;
    if (m.name == QLatin1String("uid") && m.value.isString())
        s_.uid = m.value.toString();
    else if (m.name == QLatin1String("serial_number") && m.value.isString())
        s_.serialNumber = m.value.toString();
    // The barcode scanned (identify reads the one the pack held before it
    // is written).
    else if (m.name == QLatin1String("barcode") && m.value.isString() && !m.value.toString().isEmpty()
             && stepKind(m.step) == QLatin1String("scan"))
        s_.barcode = m.value.toString();
    if (m.outcome == Outcome::Fail)
        s_.failures.push_back({e.stepName, m.name, MeasuredText(m.value, m.unit, m.limits), LimitsText(m.limits, m.unit), e.reason});
}

void FixtureModel::take(const station::PromptEvent& e)
{
    s_.prompt = {e.id, station::PromptKindName(e.kind), e.text, e.timeoutS, {}, 0};
}

void FixtureModel::take(const station::PromptRefusedEvent& e)
{
    if (e.id == s_.prompt.id) {
        s_.prompt.refused = e.reason;
        ++s_.prompt.refusals;
    }
}

void FixtureModel::take(const station::PromptClosedEvent& e)
{
    if (e.id == s_.prompt.id)
        s_.prompt = {};
}

void FixtureModel::take(const station::StepEndEvent& e)
{
    if (e.index >= 0 && e.index < int(s_.steps.size())) {
        StepRow& row = s_.steps[size_t(e.index)];
        row.outcome = e.outcome;
        row.durationS = e.durationS;
        row.reason = e.reason;
    }
    if (e.index == s_.current)
        s_.current = -1;
}

void FixtureModel::take(const station::RecordEvent& e)
{
    s_.recordPath = e.path;
    if (!s_.recordPath.isEmpty() && !e.record.isEmpty())
        record_ = station::RunRecord::fromJson(e.record);
}

QString FixtureModel::stepKind(int index) const
{
    return index >= 0 && index < int(s_.steps.size()) ? s_.steps[size_t(index)].kind : QString();
}

void FixtureModel::endSteps(Outcome rest, std::optional<Outcome> current)
{
    for (StepRow& row : s_.steps) {
        if (!row.outcome)
            row.outcome = current && &row - s_.steps.data() == s_.current ? *current : rest;
    }
    s_.current = -1;
}

void FixtureModel::take(const station::RunEndEvent& e)
{
    runEndSeen_ = true;
    s_.verdict = VerdictOf(e.outcome);
    s_.failureCode = e.failureCode;
    s_.reason = e.failureReason;
    s_.recordPath = e.recordPath;
    if (s_.recordPath.isEmpty()) {
        // A run that leaves no record has not done its job, whatever the
        // pack did.
        s_.verdict = Outcome::Error;
        s_.reason = QStringLiteral("The record of the run was not written")
                    + (s_.notes.isEmpty() ? QString() : QStringLiteral(": ") + s_.notes.last());
    }
    s_.prompt = {};
    endSteps(Outcome::NotRun);
}

void FixtureModel::aborting()
{
    if (s_.phase == Phase::Running)
        s_.phase = Phase::Aborting;
}

void FixtureModel::ended(const ProcessEnd& end, const std::optional<station::RunRecord>& found, const QString& foundPath)
{
    const bool wasAborting = s_.phase == Phase::Aborting;
    s_.phase = Phase::Idle;
    s_.prompt = {};
    if (runEndSeen_)
        return;
    // The run's record is the truth of how it ended, also when its program
    // was stopped before it could say so.
    const std::optional<station::RunRecord>& record = record_ ? record_ : found;
    if (record) {
        if (s_.recordPath.isEmpty())
            s_.recordPath = foundPath;
        s_.verdict = VerdictOf(record->outcome);
        s_.failureCode = record->failureCode;
        s_.reason = record->failureReason;
        if (end.crashed)
            s_.reason = (s_.reason.isEmpty() ? QString() : s_.reason + QStringLiteral("; "))
                        + QStringLiteral("its record was written, then the test program was stopped");
        endSteps(Outcome::NotRun);
        return;
    }
    s_.verdict = Outcome::Error;
    if (notStarted_ && !notStarted_->error.isEmpty()) {
        s_.reason = QStringLiteral("Not tested: ") + notStarted_->error;
    } else {
        // The station keeps the record of a run that started (RunTrail).
        if (!s_.runId.isEmpty())
            s_.failureCode = QStringLiteral("run.error");
        s_.reason = end.crashed && wasAborting
                        ? QStringLiteral("The run was aborted and its test program did not end; it was killed")
                    : end.crashed ? QStringLiteral("The test program ended without a result (it was killed)")
                                  : QStringLiteral("The test program ended without a result (exit status %1)").arg(end.exitCode);
        const QString tail = end.stderrTail.trimmed();
        if (!tail.isEmpty())
            s_.reason += QStringLiteral(": ") + tail.section(QLatin1Char('\n'), -1);
    }
    endSteps(Outcome::NotRun, Outcome::Error);
}

void FixtureModel::recordKept(const QString& runId, const QString& path, const QString& error)
{
    if (runId != s_.runId || !s_.recordPath.isEmpty())
        return;
    s_.recordPath = path;
    if (path.isEmpty())
        s_.reason += QStringLiteral("; the station could not keep its record: ") + error;
}

int FixtureModel::stepsDone() const
{
    return int(std::count_if(s_.steps.begin(), s_.steps.end(), [](const StepRow& r) { return r.outcome.has_value(); }));
}

QString FixtureModel::currentStepText() const
{
    if (s_.current < 0 || s_.current >= int(s_.steps.size()))
        return {};
    QString text = QStringLiteral("%1/%2 %3").arg(s_.current + 1).arg(s_.steps.size()).arg(s_.steps[size_t(s_.current)].name);
    if (s_.attempt > 1)
        text += QStringLiteral(" (attempt %1)").arg(s_.attempt);
    return text;
}

} // namespace bms::stationtab
