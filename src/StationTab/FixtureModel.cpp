#include "FixtureModel.h"

#include "Limits.h"

#include "EventLines.h"

#include <QJsonArray>

#include <algorithm>

namespace bms::stationtab {

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

Verdict VerdictOf(const QString& outcome)
{
    if (outcome == QLatin1String("PASS"))
        return Verdict::Pass;
    if (outcome == QLatin1String("FAIL"))
        return Verdict::Fail;
    if (outcome == QLatin1String("ABORTED"))
        return Verdict::Aborted;
    return Verdict::Error;
}

// The message of the one line a run that never started prints.
QString FinalError(const QJsonObject& last)
{
    const QString message = last.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
    if (!message.isEmpty())
        return message;
    const QJsonArray errors = last.value(QStringLiteral("errors")).toArray();
    return errors.isEmpty() ? QString() : errors.last().toString();
}

} // namespace

QString VerdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("PASS");
    case Verdict::Fail:
        return QStringLiteral("FAIL");
    case Verdict::Error:
        return QStringLiteral("ERROR");
    case Verdict::Aborted:
        return QStringLiteral("ABORTED");
    case Verdict::None:
        break;
    }
    return {};
}

QString LimitsText(const QJsonObject& limits, const QString& unit)
{
    QStringList parts;
    const QJsonValue low = limits.value(QStringLiteral("low"));
    const QJsonValue high = limits.value(QStringLiteral("high"));
    if (!low.isUndefined() && !high.isUndefined())
        parts.append(WithUnit(Number(low) + QStringLiteral(" to ") + Number(high), unit));
    else if (!low.isUndefined())
        parts.append(QStringLiteral("at least ") + WithUnit(Number(low), unit));
    else if (!high.isUndefined())
        parts.append(QStringLiteral("at most ") + WithUnit(Number(high), unit));
    if (const QJsonValue v = limits.value(QStringLiteral("equals")); !v.isUndefined())
        parts.append(QStringLiteral("= ") + WithUnit(Number(v), v.isDouble() ? unit : QString()));
    if (const QJsonValue v = limits.value(QStringLiteral("matches")); !v.isUndefined())
        parts.append(QStringLiteral("matches ") + v.toString());
    if (const QJsonValue v = limits.value(QStringLiteral("mask")); !v.isUndefined())
        parts.append(QStringLiteral("mask ") + Hex(v.toInteger()));
    return parts.join(QStringLiteral(", "));
}

QString MeasuredText(const QJsonValue& value, const QString& unit, const QJsonObject& limits)
{
    if (value.isNull())
        return QStringLiteral("no value");
    if (value.isDouble() && limits.contains(QStringLiteral("mask")))
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
    record_ = {};
    finalObject_ = {};
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
    for (const QJsonValue& error : e.value(QStringLiteral("errors")).toArray())
        note(error.toString());
    const QString kind = EventText(e, "event");
    if (kind == QLatin1String("run_start")) {
        s_.runId = EventText(e, "run_id");
        s_.steps.clear();
        for (const QJsonValue& v : e.value(QStringLiteral("steps")).toArray()) {
            const QJsonObject step = v.toObject();
            s_.steps.push_back({EventText(step, "name"), EventText(step, "kind"), {}, 0, {}});
        }
    } else if (kind == QLatin1String("step_start")) {
        s_.current = e.value(QStringLiteral("index")).toInt(-1);
        s_.attempt = e.value(QStringLiteral("attempt")).toInt(1);
        // A step tried again: only its last attempt's failures count.
        if (s_.attempt > 1 && s_.current >= 0 && s_.current < int(s_.steps.size())) {
            const QString name = s_.steps[size_t(s_.current)].name;
            std::erase_if(s_.failures, [&](const FailedMeasurement& f) { return f.step == name; });
        }
    } else if (kind == QLatin1String("measurement")) {
        const QString name = EventText(e, "name");
        const QString unit = EventText(e, "unit");
        const QJsonValue value = e.value(QStringLiteral("value"));
        const QString step = EventText(e, "step_name");
        if (name == QLatin1String("uid") && value.isString())
            s_.uid = value.toString();
        else if (name == QLatin1String("serial_number") && value.isString())
            s_.serialNumber = value.toString();
        // The barcode scanned (identify reads the one the pack held before
        // it is written).
        else if (name == QLatin1String("barcode") && value.isString() && !value.toString().isEmpty() && stepKind(e) == QLatin1String("scan"))
            s_.barcode = value.toString();
        if (EventText(e, "outcome") == QLatin1String("FAIL")) {
            const QJsonObject limits = e.value(QStringLiteral("limits")).toObject();
            s_.failures.push_back({step, name, MeasuredText(value, unit, limits), LimitsText(limits, unit), EventText(e, "reason")});
        }
    } else if (kind == QLatin1String("prompt")) {
        s_.prompt = {EventText(e, "id"), EventText(e, "kind"), EventText(e, "text"), e.value(QStringLiteral("timeout_s")).toDouble(), {}, 0};
    } else if (kind == QLatin1String("prompt_refused")) {
        if (EventText(e, "id") == s_.prompt.id) {
            s_.prompt.refused = EventText(e, "reason");
            ++s_.prompt.refusals;
        }
    } else if (kind == QLatin1String("prompt_closed")) {
        if (EventText(e, "id") == s_.prompt.id)
            s_.prompt = {};
    } else if (kind == QLatin1String("step_end")) {
        const int index = e.value(QStringLiteral("index")).toInt(-1);
        if (index >= 0 && index < int(s_.steps.size())) {
            StepRow& row = s_.steps[size_t(index)];
            row.outcome = EventText(e, "outcome");
            row.durationS = e.value(QStringLiteral("duration_s")).toDouble();
            row.reason = EventText(e, "reason");
        }
        if (index == s_.current)
            s_.current = -1;
    } else if (kind == QLatin1String("warning") || kind == QLatin1String("error")) {
        note(EventText(e, "message"));
    } else if (kind == QLatin1String("record")) {
        s_.recordPath = EventText(e, "path");
        if (!s_.recordPath.isEmpty())
            record_ = e.value(QStringLiteral("record")).toObject();
    } else if (kind == QLatin1String("run_end")) {
        runEnded(e);
    } else if (kind.isEmpty() && e.contains(QStringLiteral("exit"))) {
        finalObject_ = e;
    }
}

QString FixtureModel::stepKind(const QJsonObject& measurement) const
{
    const int index = measurement.value(QStringLiteral("step")).toInt(-1);
    return index >= 0 && index < int(s_.steps.size()) ? s_.steps[size_t(index)].kind : QString();
}

void FixtureModel::runEnded(const QJsonObject& e)
{
    runEndSeen_ = true;
    s_.verdict = VerdictOf(EventText(e, "outcome"));
    s_.failureCode = EventText(e, "failure_code");
    s_.reason = EventText(e, "failure_reason");
    s_.recordPath = EventText(e, "record");
    if (s_.recordPath.isEmpty()) {
        // A run that leaves no record has not done its job, whatever the
        // pack did.
        s_.verdict = Verdict::Error;
        s_.reason = QStringLiteral("The record of the run was not written")
                    + (s_.notes.isEmpty() ? QString() : QStringLiteral(": ") + s_.notes.last());
    }
    s_.prompt = {};
    s_.current = -1;
    for (StepRow& row : s_.steps)
        if (row.outcome.isEmpty())
            row.outcome = QStringLiteral("NOT_RUN");
}

void FixtureModel::aborting()
{
    if (s_.phase == Phase::Running)
        s_.phase = Phase::Aborting;
}

void FixtureModel::ended(const ProcessEnd& end, const QJsonObject& found, const QString& foundPath)
{
    const bool wasAborting = s_.phase == Phase::Aborting;
    s_.phase = Phase::Idle;
    s_.prompt = {};
    if (runEndSeen_)
        return;
    // The run's record is the truth of how it ended, also when its program
    // was stopped before it could say so.
    const QJsonObject record = !record_.isEmpty() ? record_ : found;
    if (!record.isEmpty()) {
        if (s_.recordPath.isEmpty())
            s_.recordPath = foundPath;
        s_.verdict = VerdictOf(EventText(record, "outcome"));
        s_.failureCode = EventText(record, "failure_code");
        s_.reason = EventText(record, "failure_reason");
        if (end.crashed)
            s_.reason = (s_.reason.isEmpty() ? QString() : s_.reason + QStringLiteral("; "))
                        + QStringLiteral("its record was written, then the test program was stopped");
        for (StepRow& row : s_.steps)
            if (row.outcome.isEmpty())
                row.outcome = QStringLiteral("NOT_RUN");
        s_.current = -1;
        return;
    }
    s_.verdict = Verdict::Error;
    if (const QString why = FinalError(finalObject_); !why.isEmpty()) {
        s_.reason = QStringLiteral("Not tested: ") + why;
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
    for (StepRow& row : s_.steps) {
        if (row.outcome.isEmpty())
            row.outcome = &row - s_.steps.data() == s_.current ? QStringLiteral("ERROR") : QStringLiteral("NOT_RUN");
    }
    s_.current = -1;
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
    return int(std::count_if(s_.steps.begin(), s_.steps.end(), [](const StepRow& r) { return !r.outcome.isEmpty(); }));
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
