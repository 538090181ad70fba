// `station print RUN`, `station reprint RUN --reason TEXT` and `station
// report RUN --pdf FILE`: a stored run's label printed (once; again only with
// a reason), and its unit report written as a PDF. `station run` starts
// `station print RUN --background` as a process of its own when its recipe
// has a label or a report, so the run never waits for a printer.
#pragma once

#include "Command.h"

namespace bms::cli {

// The label (or report) was not printed.
constexpr int kExitNotPrinted = 7;

std::unique_ptr<Command> MakeStationPrintCommand(Session& session);

// Whether `sub` is one of this file's subcommands.
bool IsStationPrintCommand(const QString& sub);

// Starts `station print RUN --background` for a run that ended (its record
// on the PC); false when the process could not be started.
bool PrintInBackground(const QString& runId, const QString& resultsFolder, const QString& printer);

} // namespace bms::cli
