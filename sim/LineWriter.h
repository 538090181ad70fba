// Puts answer frames on the pseudo-terminal the way a line would carry
// them: optionally one byte per character time at a baud rate, optionally in
// pieces with gaps between them. Every wait ends early when the pack stops.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace bms::sim {

using Clock = std::chrono::steady_clock;

class LineWriter {
public:
    // `fd`: the non-blocking master; `stopFd`: readable once the pack stops.
    LineWriter(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}

    struct Shape {
        uint32_t baud = 0;  // 0: no pacing
        int pieces = 1;     // split the frame into this many writes
        int gapMs = 0;      // pause between pieces
    };
    // False when the pack stopped or the line would not take the bytes.
    // Paced bytes are timed from `start` (the frame's first character goes
    // out then), or from the end of the previous frame when that is later,
    // so that a late wake-up before the frame does not delay all of it.
    bool send(const std::vector<uint8_t>& bytes, const Shape& shape, Clock::time_point start = Clock::now());
    // Waits until `deadline`; false when the pack stopped meanwhile.
    bool sleepUntil(Clock::time_point deadline) const;

    static Clock::duration byteTime(uint32_t baud);

private:
    bool writeAll(const uint8_t* data, size_t count) const;

    int fd_;
    int stopFd_;
    Clock::time_point lineFree_{}; // the last paced byte's stop bit
};

} // namespace bms::sim
