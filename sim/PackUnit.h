// One pack as its line sees it: what it answers (the responder), the line
// faults applied to its answers and the counters it reports. A line serves
// one pack (VirtualPack) or several on one bus (VirtualBus). Everything but
// the epoch and the address is guarded by `mutex`.
#pragma once

#include "LineWriter.h"
#include "PackConfig.h"
#include "Responder.h"

#include <mutex>
#include <vector>

namespace bms::sim {

struct PackUnit;

// An answer ready for the line: its bytes after the line faults of the
// packs that sent it, how they are cut into pieces, and when they may leave.
struct Outgoing {
    std::vector<uint8_t> bytes;
    LineWriter::Shape shape;
    Clock::time_point notBefore;
    int delayMs = 0;
    std::vector<PackUnit*> from;
};

struct PackUnit {
    explicit PackUnit(const PackConfig& config);

    std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex); }
    double now() const;
    Clock::time_point at(double seconds) const;
    // The answers with this pack's line faults applied: silenced ones are
    // left out, the rest corrupted, led by noise and split as set. Called
    // with the lock held.
    std::vector<Outgoing> shape(std::vector<Answer> answers, uint32_t baud);

    const Clock::time_point epoch;
    const uint8_t address;
    mutable std::mutex mutex;
    Responder responder;
    int silent = 0;
    int corruptCrc = 0;
    std::vector<uint8_t> noise;
    int pieces = 1;
    int gapMs = 5;
    int delayMs = 0;
    uint64_t answers = 0;
    uint64_t dropped = 0;
};

// Answers of several packs to the same request cross the line at the same
// time: the receiver sees each bit low where any sender drove it low, so
// the bytes are ANDed where they overlap and the longer answer's tail
// follows. The result keeps the first answer's shape and timing.
Outgoing Collide(std::vector<Outgoing> answers);

} // namespace bms::sim
