// How a run, a step or a measurement ended, and the word the events and the
// record write for it ("PASS", "NOT_RUN", ...). The words are the contract
// with the Station tab, the records databases and scripts: they never change.
#pragma once

#include <QString>
#include <optional>

namespace bms::station {

enum class Outcome {
    Pass,    // a run, step or measurement that passed
    Fail,    // a measurement outside its limits (and its step and run)
    Error,   // the pack, the port or the station failed
    Aborted, // the operator or a signal stopped it
    Skipped, // a step with nothing to do (an upgrade to the version the pack runs)
    NotRun,  // a step after a stopping failure
    Info,    // a measurement recorded without limits
};

// "PASS", "FAIL", "ERROR", "ABORTED", "SKIPPED", "NOT_RUN", "INFO".
QString OutcomeName(Outcome outcome);
// The outcome `name` stands for; nothing for any other text.
std::optional<Outcome> OutcomeNamed(const QString& name);
// PASS, FAIL, ERROR and ABORTED: the outcomes a whole run may have.
bool IsRunOutcome(Outcome outcome);
// Exit status of a run's outcome: PASS 0, FAIL 1, ABORTED 5, anything else
// (ERROR) 4.
int OutcomeExitCode(Outcome outcome);

} // namespace bms::station
