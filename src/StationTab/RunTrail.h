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

#include "RunEvents.h"
#include "RunRecord.h"

#include <QJsonObject>

namespace bms::stationtab {

struct RunnerSettings;

class RunTrail {
public:
    // A run of `barcode` starts with `settings`.
    void begin(const RunnerSettings& settings, const QString& barcode);
    // One event of the run.
    void event(const station::RunEvent& e);
    // The run has started (its run_start came): it has a run id and may
    // have touched the pack.
    bool started() const { return !record_.runId.isEmpty(); }
    // The run's record, ended now as an ERROR for `reason`.
    QJsonObject lostRecord(const QString& reason) const;

private:
    void take(const station::RunStartEvent& e);
    void take(const station::StepStartEvent& e);
    void take(const station::MeasurementEvent& e);
    void take(const station::StepEndEvent& e);
    // The other events tell nothing the record keeps.
    template <class Event>
    void take(const Event&)
    {
    }
    // The step of `index`, or null.
    station::StepRecord* step(int index);

    station::RunRecord record_;
    int current_ = -1; // the step under way
};

} // namespace bms::stationtab
