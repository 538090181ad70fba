// The read requests sent lately, so that a read answer can be matched to the
// request it answers. Frames carry no transaction number: a pack that answers
// late (after the next poll went out) would otherwise have its answer taken
// for the next block. The request builder records every read (telemetry
// blocks 0..7, the information read as block 8); the receive side asks which
// request an answer or a refusal belongs to.
//
// Matching rests on two facts: a pack answers requests in the order they
// came, and an answer carries as many data bytes as its request asked for
// (or fewer, when the pack stops short). Requests older than kWindowMs are
// no longer expected to be answered.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace bms {

struct ReadRequest {
    int block = -1;        // 0..7 telemetry block, 8 information read
    uint16_t reg = 0;      // start register
    uint16_t quantity = 0; // registers asked for
    int64_t sentMs = 0;    // MonotonicMs() when sent
    bool closed = false;   // answered, refused, or passed over by a later answer
    bool timeoutReported = false;

    int expectedBytes() const { return 2 * quantity; }
};

enum class ReadMatchKind {
    Matched,   // `request` is the one answered
    Ambiguous, // requests of different blocks could have given this answer
    NoRequest, // no open request could have given it
};

struct ReadMatch {
    ReadMatchKind kind = ReadMatchKind::NoRequest;
    ReadRequest request;     // Matched: the request answered
    std::vector<int> blocks; // Ambiguous: the blocks it could belong to, ascending
};

class ReadHistory {
public:
    static constexpr int kSize = 8;
    static constexpr int64_t kWindowMs = 2000;

    void record(int block, uint16_t reg, uint16_t quantity, int64_t nowMs);

    // An answer carrying `byteCount` data bytes. Requests asking for exactly
    // that many bytes come first; failing those, requests asking for more (a
    // short answer). The candidates must all be of one block. A match closes
    // the request and every older one; an ambiguous answer closes the
    // requests up to the oldest candidate, which cannot be answered after it.
    ReadMatch matchAnswer(int byteCount, int64_t nowMs);
    // The same without closing anything (for the frame record).
    ReadMatch peekAnswer(int byteCount, int64_t nowMs) const;
    // An exception answer to a read: any open request may be the one refused.
    ReadMatch matchRefusal(int64_t nowMs);
    // The same without closing anything (for the frame record).
    ReadMatch peekRefusal(int64_t nowMs) const;

    // The newest request recorded, or nullptr.
    ReadRequest* latest();
    // Telemetry reads (blocks 0..7) recorded since the last clear: the
    // display counts the rotation's polls by it.
    int64_t telemetryRequests() const { return telemetry_; }
    void clear();

private:
    // Sequence numbers (ring index = sequence % kSize) of the open, recent requests, oldest first.
    std::vector<int64_t> open(int64_t nowMs) const;
    ReadMatch choose(const std::vector<int64_t>& candidates) const;
    void closeUpTo(int64_t seq);
    ReadMatch take(const ReadMatch& match, const std::vector<int64_t>& candidates);
    ReadMatch matchAmong(int byteCount, int64_t nowMs, std::vector<int64_t>& candidates) const;

    std::array<ReadRequest, kSize> ring_{};
    int64_t count_ = 0; // requests recorded so far
    int64_t telemetry_ = 0;
};

// The read requests of the link, cleared by ResetProtocolState.
extern ReadHistory ReadRequests;

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();

} // namespace bms
