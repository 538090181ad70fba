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
    bool send(const std::vector<uint8_t>& bytes, const Shape& shape);
    // Waits until `deadline`; false when the pack stopped meanwhile.
    bool sleepUntil(Clock::time_point deadline) const;

    static Clock::duration byteTime(uint32_t baud);

private:
    bool writeAll(const uint8_t* data, size_t count) const;

    int fd_;
    int stopFd_;
};

} // namespace bms::sim
