// What a step of a station run sees of the run: the pack, the recipe, what
// earlier steps learned, measurements, the operator, and the end of the
// step. One Step object runs one attempt; the run destroys it when the
// attempt ends, times out or is aborted, and nothing it started calls back
// after that.
#pragma once

#include "Limits.h"
#include "PackDriver.h"
#include "Recipe.h"
#include "RunEvents.h"
#include "RunRecord.h"
#include "Stores.h"

#include <QObject>
#include <functional>
#include <memory>

namespace bms::station {

// What the steps learn and hand on.
struct RunState {
    QString barcode;                      // scanned
    std::optional<uint16_t> swVersion;    // as the pack reports it now
    std::optional<SerialReservation> reservation;
};

class StepHost {
public:
    virtual ~StepHost() = default;
    virtual PackDriver& driver() = 0;
    virtual const Recipe& recipe() const = 0;
    virtual const RecipeStep& recipeStep() const = 0;
    virtual RunState& state() = 0;
    virtual RunRecord& record() = 0;
    virtual SerialSequence& serials() = 0;
    virtual PassHistory& history() = 0;
    virtual const QString& stationId() const = 0;
    // The barcode given on the command line, if any.
    virtual std::optional<QString> givenBarcode() const = 0;
    // Confirmation prompts are answered Yes without asking (--yes).
    virtual bool confirmsPrompts() const = 0;

    // Records a measurement of this attempt and returns its verdict.
    virtual Outcome measure(const QString& name, const QJsonValue& value, const QString& unit, const Limits& limits) = 0;
    // Asks the operator; `answer` gets the line (a barcode, an empty line or
    // "yes" for a confirmation, a finite number). A "no" to a confirmation
    // aborts the run, as does a prompt left unanswered until the step times
    // out. `refuses` (a value prompt) says why a number is not taken, or
    // nothing: the prompt then asks again rather than pass on an answer the
    // step would refuse.
    using Refusal = std::function<QString(double value)>;
    virtual void ask(PromptKind kind, const QString& text, std::function<void(const QString& answer)> answer,
                     Refusal refuses = {}) = 0;
    // Ends the attempt: Pass (Fail when a measurement failed), Error,
    // Skipped or Aborted, with the reason in words.
    virtual void done(Outcome outcome, const QString& reason = {}) = 0;
};

class Step {
public:
    explicit Step(StepHost& host) : host_(host) {}
    virtual ~Step() = default;
    virtual void run() = 0;

protected:
    StepHost& host_;
    // Parent of the step's timers and processes: they go with the step.
    QObject context_;
};

std::unique_ptr<Step> MakeStep(StepKind kind, StepHost& host);

} // namespace bms::station
