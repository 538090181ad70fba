// Trend samples from the decoded pack: one sample from PackTable entry 0
// after each decoded telemetry block, stamped with a clock that never runs
// backwards.
#pragma once

#include "PackTable.h"
#include "SampleStore.h"

#include <QElapsedTimer>
#include <cstdint>
#include <functional>

namespace bms::trends {

// Bit n set: telemetry block n has been decoded at least once, so the fields
// it fills hold received values rather than their zero start values.
using BlockMask = uint16_t;
constexpr BlockMask kAllBlocks = 0x00FF;

// The values of one sample. Fields of blocks never received, cells beyond
// `cell_count` and sensors beyond their counts have no value (NaN); the
// highest and lowest cell and the spread come from the cells that have one.
SampleValues SampleFromPack(const PackRecord& pack, BlockMask received);

class TrendRecorder {
public:
    // Milliseconds since the epoch. The default is the wall clock at start
    // plus a monotonic clock, so setting the system clock does not fold the
    // timeline.
    using Clock = std::function<int64_t()>;
    explicit TrendRecorder(Clock clock = {});

    // Block `block` (0..7) was just decoded into PackTable while sampling
    // every `intervalMs`: appends one sample. A pause of more than three
    // periods (at least 3 s) since the previous sample starts a new segment.
    void record(int block, int intervalMs);
    // Sampling stopped: the next sample starts a new segment.
    void samplingStopped() { store_.breakSegment(); }
    // Another pack may answer from now on (a port was opened): no block
    // counts as received, so no sample pairs its values with the last
    // pack's, and the next sample starts a new segment.
    void newPack()
    {
        received_ = 0;
        store_.breakSegment();
    }
    // Starts a new timeline.
    void clear() { store_.clear(); }

    SampleStore& store() { return store_; }
    const SampleStore& store() const { return store_; }
    BlockMask received() const { return received_; }

    // Told after every appended sample.
    std::function<void()> onSample;

private:
    Clock clock_;
    QElapsedTimer monotonic_;
    int64_t startMs_ = 0;
    SampleStore store_;
    BlockMask received_ = 0;
};

} // namespace bms::trends
