#include "Outcome.h"

#include <iterator>

namespace bms::station {

namespace {

struct OutcomeWord {
    Outcome outcome;
    const char* name;
};

constexpr OutcomeWord kOutcomes[] = {
    {Outcome::Pass, "PASS"},       {Outcome::Fail, "FAIL"},      {Outcome::Error, "ERROR"}, {Outcome::Aborted, "ABORTED"},
    {Outcome::Skipped, "SKIPPED"}, {Outcome::NotRun, "NOT_RUN"}, {Outcome::Info, "INFO"},
};

} // namespace

QString OutcomeName(Outcome outcome)
{
    for (const OutcomeWord& w : kOutcomes)
        if (w.outcome == outcome)
            return QLatin1String(w.name);
    return {};
}

std::optional<Outcome> OutcomeNamed(const QString& name)
{
    for (const OutcomeWord& w : kOutcomes)
        if (name == QLatin1String(w.name))
            return w.outcome;
    return std::nullopt;
}

bool IsRunOutcome(Outcome outcome)
{
    return outcome == Outcome::Pass || outcome == Outcome::Fail || outcome == Outcome::Error || outcome == Outcome::Aborted;
}

int OutcomeExitCode(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Pass: return 0;
    case Outcome::Fail: return 1;
    case Outcome::Aborted: return 5;
    default: return 4;
    }
}

} // namespace bms::station
