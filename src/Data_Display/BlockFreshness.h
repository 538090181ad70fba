// Which telemetry blocks the read rotation has refreshed lately, so that the
// grid can tell the pack's current values from values left over.
//
// A block counts as fresh when its answer was decoded within the last
// rotation (no more polls ago than the rotation has blocks) and the newest
// request for it was neither refused nor left unanswered. A block the
// rotation no longer visits (its count went to 0, the product type changed)
// goes stale after one rotation; when the pack falls silent, every block goes
// stale at the poll at which it would have been refreshed. Of the cell and
// temperature blocks only the registers the answer carried, up to the count
// of block 3, are fresh.
#pragma once

#include <array>
#include <cstdint>

namespace bms {

struct ReadOutcome;

class BlockFreshness {
public:
    // An outcome of a read (Hooks.readOutcome): a decoded block is fresh, a
    // refused or unanswered one stale. Dropped answers change nothing.
    void take(const ReadOutcome& outcome);
    // Nothing is fresh (another pack may be on the line).
    void clear();

    // Block 0..7 is fresh; for blocks 4, 5 and 6, register `index` of it.
    // `rotationLength` is RotationLength(), given by callers that ask for
    // many values at once.
    bool fresh(int block, int index, int rotationLength) const;
    bool fresh(int block, int index = 0) const;

private:
    struct Block {
        int64_t poll = -1; // telemetry requests sent when it was decoded; -1 never
        int registers = 0; // registers the answer refreshed
        bool failed = false;
    };
    std::array<Block, 8> blocks_{};
};

// Polls the rotation takes from block 0 back to block 0 with the counts and
// the product type as they are now.
int RotationLength();

} // namespace bms
