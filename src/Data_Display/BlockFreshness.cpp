#include "BlockFreshness.h"

#include "Hooks.h"
#include "PackTable.h"
#include "ReadRequests.h"
#include "TelemetryBlocks.h"

#include <algorithm>

namespace bms {

namespace {

// Registers of an answer that the decoder keeps: for the cell and
// temperature blocks no more than the count of block 3 (and the 16 the
// arrays hold); every register of the other blocks.
int KeptRegisters(int block, int answered)
{
    const PackRecord& pack = PackTable[0];
    switch (block) {
    case 4: return std::min({answered, int{pack.temp_a_count}, 16});
    case 5: return std::min({answered, int{pack.temp_b_count}, 16});
    case 6: return std::min({answered, pack.cell_count & 0xFF, 16});
    default: return answered;
    }
}

} // namespace

void BlockFreshness::take(const ReadOutcome& outcome)
{
    if (outcome.block < 0 || outcome.block >= static_cast<int>(blocks_.size()))
        return;
    Block& b = blocks_[static_cast<size_t>(outcome.block)];
    switch (outcome.kind) {
    case ReadOutcomeKind::Decoded:
        b.poll = ReadRequests.telemetryRequests();
        b.registers = KeptRegisters(outcome.block, std::max(0, outcome.byteCount) / 2);
        b.failed = false;
        break;
    case ReadOutcomeKind::Refused:
    case ReadOutcomeKind::TimedOut: b.failed = true; break;
    case ReadOutcomeKind::Dropped: break;
    }
}

void BlockFreshness::clear()
{
    blocks_ = {};
}

bool BlockFreshness::fresh(int block, int index, int rotationLength) const
{
    if (block < 0 || block >= static_cast<int>(blocks_.size()))
        return false;
    const Block& b = blocks_[static_cast<size_t>(block)];
    const int64_t age = ReadRequests.telemetryRequests() - b.poll;
    if (b.poll < 0 || b.failed || age < 0 || age > rotationLength)
        return false;
    return block < 4 || block > 6 || index < b.registers;
}

bool BlockFreshness::fresh(int block, int index) const
{
    return fresh(block, index, RotationLength());
}

int RotationLength()
{
    int length = 1;
    for (int32_t block = NextReadBlock(0); block != 0 && length < 8; block = NextReadBlock(block))
        ++length;
    return length;
}

} // namespace bms
