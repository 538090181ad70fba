#include "StationRun.h"

#include "TextChecks.h"

#include <QMetaObject>
#include <QUuid>
#include <cmath>

namespace bms::station {

namespace {

// At most this many lines typed before a prompt asks for them are kept.
constexpr size_t kTypedAheadMax = 64;

} // namespace

StationRun::StationRun(Recipe recipe, RunSettings settings, RunServices services)
    : recipe_(std::move(recipe)), settings_(std::move(settings)), services_(services)
{
    stepTimer_.setSingleShot(true);
    QObject::connect(&stepTimer_, &QTimer::timeout, &context_, [this] { stepTimedOut(); });
}

StationRun::~StationRun() = default;

void StationRun::emitEvent(const RunEvent& event)
{
    if (onEvent)
        onEvent(event);
}

void StationRun::start()
{
    RunRecord& r = record_;
    r.runId = settings_.runId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : settings_.runId;
    state_.reservation = settings_.reservation;
    r.reservation = settings_.reservation;
    r.stationId = settings_.stationId;
    r.fixture = settings_.fixture;
    r.operatorName = settings_.operatorName;
    r.toolVersion = settings_.toolVersion;
    r.port = settings_.port;
    r.recipeName = recipe_.name;
    r.recipeVersion = recipe_.version;
    r.recipeSha256 = recipe_.sha256;
    r.recipeFile = recipe_.file;
    r.product = recipe_.product;
    r.startedAt = QDateTime::currentDateTime();
    RunStartEvent started{r.runId, r.recipeName, r.recipeVersion, r.recipeSha256, r.stationId, r.fixture, r.operatorName,
                          r.port, {}};
    for (size_t i = 0; i < recipe_.steps.size(); ++i) {
        const RecipeStep& s = recipe_.steps[i];
        StepRecord step;
        step.index = static_cast<int>(i);
        step.name = s.name;
        step.kind = StepKindName(s.kind);
        r.steps.push_back(step);
        started.steps.push_back({step.index, step.name, step.kind});
    }
    emitEvent(started);
    index_ = 0;
    QMetaObject::invokeMethod(&context_, [this] { startStep(); }, Qt::QueuedConnection);
}

void StationRun::startStep()
{
    if (finished_ || aborting_)
        return;
    if (index_ >= static_cast<int>(recipe_.steps.size()))
        return finish();
    record_.steps[static_cast<size_t>(index_)].startedAt = QDateTime::currentDateTime();
    attempt_ = 0;
    packMs_ = 0;
    stepClock_.start();
    stepTimer_.start(static_cast<int>(recipeStep().timeoutS * 1000));
    startAttempt();
}

void StationRun::startAttempt()
{
    attemptMeasurements_ = record_.measurements.size();
    attemptEnding_ = false;
    emitEvent(StepStartEvent{index_, recipeStep().name, StepKindName(recipeStep().kind), attempt_ + 1});
    if (portLost_)
        return endStep(Outcome::Error, *portLost_);
    step_ = MakeStep(recipeStep().kind, *this);
    step_->run();
}

Outcome StationRun::measure(const QString& name, const QJsonValue& value, const QString& unit, const Limits& limits)
{
    Limits l = limits;
    l.unit = unit;
    const Evaluation e = Evaluate(name, value, l);
    MeasurementRecord m{index_, name, value.isUndefined() ? QJsonValue() : value, unit, l, e.verdict};
    record_.measurements.push_back(m);
    failReasons_.push_back(e.reason);
    emitEvent(MeasurementEvent{m, recipeStep().name, e.reason});
    return e.verdict;
}

void StationRun::done(Outcome outcome, const QString& reason)
{
    if (attemptEnding_)
        return;
    attemptEnding_ = true;
    const int generation = generation_;
    // The step may still be on the stack: it goes once its call returns.
    QMetaObject::invokeMethod(&context_, [this, generation, outcome, reason] {
        if (generation == generation_)
            attemptEnded(outcome, reason);
    }, Qt::QueuedConnection);
}

void StationRun::attemptEnded(Outcome outcome, QString reason)
{
    ++generation_;
    step_.reset();
    services_.driver.cancel();
    closePrompt(false);
    if (outcome == Outcome::Pass) {
        for (size_t i = attemptMeasurements_; i < record_.measurements.size(); ++i) {
            if (record_.measurements[i].outcome == Outcome::Fail) {
                outcome = Outcome::Fail;
                reason = failReasons_[i];
                break;
            }
        }
    }
    const bool failed = outcome == Outcome::Fail || outcome == Outcome::Error;
    if (failed && attempt_ < recipeStep().retries && !aborting_) {
        // Only the last attempt's measurements stay in the record.
        record_.measurements.resize(attemptMeasurements_);
        failReasons_.resize(attemptMeasurements_);
        ++attempt_;
        emitEvent(StepRetryEvent{index_, recipeStep().name, outcome, reason});
        return startAttempt();
    }
    endStep(outcome, reason);
}

void StationRun::stepTimedOut()
{
    if (finished_ || index_ < 0 || index_ >= static_cast<int>(recipe_.steps.size()))
        return;
    const bool waitingForOperator = prompt_.has_value();
    const QString reason = waitingForOperator
                               ? QStringLiteral("no answer within %1 s").arg(recipeStep().timeoutS)
                               : QStringLiteral("the step took longer than its %1 s").arg(recipeStep().timeoutS);
    endStep(waitingForOperator ? Outcome::Aborted : Outcome::Error, reason);
}

void StationRun::endStep(Outcome outcome, const QString& endReason)
{
    ++generation_;
    step_.reset();
    // An upgrade stopped here may leave the pack in its boot loader: the
    // record says so.
    services_.driver.cancel();
    QString reason = endReason;
    const bool ended = outcome == Outcome::Error || outcome == Outcome::Aborted;
    if (ended && services_.driver.inBootLoader() && !reason.contains(PackInBootLoaderText()))
        reason += QStringLiteral("; ") + PackInBootLoaderText();
    closePrompt(false);
    stepTimer_.stop();
    StepRecord& r = record_.steps[static_cast<size_t>(index_)];
    r.outcome = outcome;
    r.reason = reason;
    r.retries = attempt_;
    r.endedAt = QDateTime::currentDateTime();
    r.packSeconds = packMs_ / 1000.0;
    emitEvent(StepEndEvent{index_, r.name, r.kind, outcome, reason, attempt_, stepClock_.elapsed() / 1000.0, r.packSeconds});
    const bool failed = outcome == Outcome::Fail || outcome == Outcome::Error;
    if (outcome == Outcome::Aborted || aborting_ || portLost_ || (failed && recipeStep().stopOnFail))
        return finish();
    ++index_;
    QMetaObject::invokeMethod(&context_, [this] { startStep(); }, Qt::QueuedConnection);
}

void StationRun::abort(const QString& why)
{
    if (finished_ || aborting_)
        return;
    aborting_ = true;
    abortReason_ = why;
    if (index_ >= 0 && index_ < static_cast<int>(recipe_.steps.size())
        && record_.steps[static_cast<size_t>(index_)].startedAt.isValid()
        && record_.steps[static_cast<size_t>(index_)].outcome == Outcome::NotRun)
        return endStep(Outcome::Aborted, why);
    finish();
}

void StationRun::portLost(const QString& why)
{
    if (finished_ || portLost_)
        return;
    portLost_ = why;
    // Between two steps the next one ends at its start.
    if (index_ >= 0 && index_ < static_cast<int>(recipe_.steps.size())
        && record_.steps[static_cast<size_t>(index_)].startedAt.isValid()
        && record_.steps[static_cast<size_t>(index_)].outcome == Outcome::NotRun)
        endStep(Outcome::Error, why);
}

void StationRun::ask(PromptKind kind, const QString& text, std::function<void(const QString&)> answer, Refusal refuses)
{
    if (kind == PromptKind::Confirm && settings_.confirmPrompts) {
        const int generation = generation_;
        QMetaObject::invokeMethod(&context_, [this, generation, answer] {
            if (generation == generation_)
                answer(QStringLiteral("yes"));
        }, Qt::QueuedConnection);
        return;
    }
    prompt_ = Prompt{QStringLiteral("p%1").arg(++prompts_), kind, std::move(answer), std::move(refuses)};
    const double left = std::max(0, stepTimer_.remainingTime()) / 1000.0;
    emitEvent(PromptEvent{prompt_->id, index_, kind, text, left});
    const int generation = generation_;
    QMetaObject::invokeMethod(&context_, [this, generation] {
        while (generation == generation_ && prompt_ && !typedAhead_.empty()) {
            const QString line = typedAhead_.front();
            typedAhead_.pop_front();
            deliver(line);
        }
        if (generation == generation_ && prompt_ && inputClosed_)
            abort(QStringLiteral("the input closed while a prompt waited for its answer"));
    }, Qt::QueuedConnection);
}

void StationRun::closePrompt(bool answered)
{
    if (!prompt_)
        return;
    const QString id = prompt_->id;
    prompt_.reset();
    emitEvent(PromptClosedEvent{id, answered});
}

void StationRun::answer(const QString& typed)
{
    QString line = typed;
    while (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    if (line.trimmed() == QLatin1String("!abort"))
        return abort(QStringLiteral("the operator aborted the run"));
    if (finished_)
        return;
    if (!prompt_) {
        if (typedAhead_.size() < kTypedAheadMax)
            typedAhead_.push_back(line);
        return;
    }
    deliver(line);
}

void StationRun::deliver(const QString& typed)
{
    QString line = typed;
    // "@p3 answer" is meant for the prompt p3 only: an answer to a prompt
    // that has gone is dropped.
    if (line.startsWith(QLatin1Char('@'))) {
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString id = line.mid(1, space < 0 ? -1 : space - 1);
        if (id != prompt_->id)
            return;
        line = space < 0 ? QString() : line.mid(space + 1);
    }
    const QString word = line.trimmed();
    QString accepted;
    QString refusal;
    switch (prompt_->kind) {
    case PromptKind::Barcode:
        if (word.isEmpty())
            return; // a stray Enter of the scanner
        if (HasControlCharacters(word))
            refusal = QStringLiteral("a barcode holds no control characters");
        else
            accepted = word;
        break;
    case PromptKind::Confirm: {
        const QString w = word.toLower();
        if (w.isEmpty() || w == QLatin1String("y") || w == QLatin1String("yes") || w == QLatin1String("ok"))
            accepted = QStringLiteral("yes");
        else if (w == QLatin1String("n") || w == QLatin1String("no"))
            return abort(QStringLiteral("the operator answered no"));
        else
            refusal = QStringLiteral("answer yes (or an empty line) or no");
        break;
    }
    case PromptKind::Value: {
        bool ok = false;
        const double value = word.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            refusal = QStringLiteral("'%1' is not a number").arg(Printable(word));
        else if (prompt_->refuses)
            refusal = prompt_->refuses(value);
        if (refusal.isEmpty())
            accepted = word;
        break;
    }
    }
    if (!refusal.isEmpty()) {
        emitEvent(PromptRefusedEvent{prompt_->id, refusal});
        return;
    }
    const std::function<void(const QString&)> callback = prompt_->answer;
    closePrompt(true);
    callback(accepted);
}

void StationRun::inputClosed()
{
    inputClosed_ = true;
    if (prompt_ && typedAhead_.empty())
        abort(QStringLiteral("the input closed while a prompt waited for its answer"));
}

void StationRun::settleReservation()
{
    if (!state_.reservation)
        return;
    SerialReservation& r = *state_.reservation;
    QString error;
    const bool passed = record_.outcome == Outcome::Pass;
    if (!services_.serials.settle(SerialGrant{r.key, r.number, r.value, r.reused}, record_.runId, r.written, passed, error))
        emitEvent(WarningEvent{QStringLiteral("serial number %1: %2").arg(r.value, error)});
}

void StationRun::finish()
{
    if (finished_)
        return;
    finished_ = true;
    ++generation_;
    stepTimer_.stop();
    step_.reset();
    services_.driver.cancel();
    closePrompt(false);

    RunRecord& r = record_;
    // The worst step decides; the first step of that outcome names it.
    const StepRecord* aborted = nullptr;
    const StepRecord* error = nullptr;
    const StepRecord* failed = nullptr;
    for (const StepRecord& s : r.steps) {
        if (!aborted && s.outcome == Outcome::Aborted)
            aborted = &s;
        if (!error && s.outcome == Outcome::Error)
            error = &s;
        if (!failed && s.outcome == Outcome::Fail)
            failed = &s;
    }
    if (aborted || aborting_) {
        r.outcome = Outcome::Aborted;
        r.failureCode = (aborted ? aborted->name : QStringLiteral("run")) + QStringLiteral(".aborted");
        r.failureReason = aborted ? aborted->reason : abortReason_;
    } else if (error) {
        r.outcome = Outcome::Error;
        r.failureCode = error->name + QStringLiteral(".error");
        r.failureReason = error->reason;
    } else if (failed) {
        r.outcome = Outcome::Fail;
        r.failureCode = failed->name + QStringLiteral(".failed");
        r.failureReason = failed->reason;
        for (size_t i = 0; i < r.measurements.size(); ++i) {
            if (r.measurements[i].outcome == Outcome::Fail) {
                r.failureCode = r.steps[static_cast<size_t>(r.measurements[i].step)].name + QLatin1Char('.')
                                + r.measurements[i].name;
                r.failureReason = failReasons_[i];
                break;
            }
        }
    } else {
        r.outcome = Outcome::Pass;
    }
    r.endedAt = QDateTime::currentDateTime();
    // What becomes of the serial number is in the record as the run's end
    // settles it: committed on a PASS, the pack's when it was written, given
    // back when not.
    if (state_.reservation) {
        SerialReservation& reserved = *state_.reservation;
        reserved.committed = reserved.written && r.outcome == Outcome::Pass;
        reserved.released = !reserved.written && !reserved.reused;
        r.reservation = reserved;
    }

    QJsonObject json = r.toJson();
    QString path;
    QString problem;
    if (!WriteRecord(settings_.resultsFolder, json, path, problem)) {
        // A run whose record cannot be kept has not done its job, whatever
        // the pack did: ERROR everywhere, and nothing committed.
        path.clear();
        r.outcome = Outcome::Error;
        r.failureCode = QStringLiteral("run.error");
        r.failureReason = QStringLiteral("the record could not be written: ") + problem;
        if (state_.reservation) {
            state_.reservation->committed = false;
            r.reservation = state_.reservation;
        }
        json = r.toJson();
        emitEvent(ErrorEvent{r.failureReason});
    }
    settleReservation();
    if (!services_.sink.store(json, problem)) {
        if (path.isEmpty()) {
            emitEvent(ErrorEvent{QStringLiteral("the run is in neither the results folder nor the records database: ") + problem});
        } else {
            // Stored when the database can take it (the next run, or
            // `station import`), and forwarded from there.
            KeepForLater(settings_.resultsFolder, r.runId);
            emitEvent(WarningEvent{QStringLiteral("kept in the results folder, not yet in the records database (%1)").arg(problem)});
        }
    }
    emitEvent(RecordEvent{path, json});
    if (onFinished)
        onFinished(r.outcome, path);
}

} // namespace bms::station
