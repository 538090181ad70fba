// A run as far as its event lines told it, for the run that leaves no
// record of its own: a program the station had to kill after an abort, or
// one that died on its way. Its record is built as the run's own would be
// (docs/station-record.md): who, where, which recipe, the pack as far as it
// was read, every step and measurement the events told, the step under way
// ERROR and the rest NOT_RUN; the run ERROR with failure code `run.error`
// and the reason ("killed by the station: ...", "the test program ended
// without a result: ..."). It has no trace: the frames went with the
// program.
#pragma once

#include "RunRecord.h"

#include <QJsonObject>

namespace bms::stationtab {

struct RunnerSettings;

class RunTrail {
public:
    // A run of `barcode` starts with `settings`.
    void begin(const RunnerSettings& settings, const QString& barcode);
    // One event line of the run.
    void event(const QJsonObject& e);
    // The run has started (its run_start came): it has a run id and may
    // have touched the pack.
    bool started() const { return !record_.runId.isEmpty(); }
    // The run's record, ended now as an ERROR for `reason`.
    QJsonObject lostRecord(const QString& reason) const;

private:
    station::RunRecord record_;
    int current_ = -1; // the step under way
};

} // namespace bms::stationtab
