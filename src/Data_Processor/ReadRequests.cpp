#include "ReadRequests.h"

#include <algorithm>
#include <chrono>

namespace bms {

ReadHistory ReadRequests;

int64_t MonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void ReadHistory::record(int block, uint16_t reg, uint16_t quantity, int64_t nowMs)
{
    ReadRequest& slot = ring_[static_cast<size_t>(count_ % kSize)];
    slot = ReadRequest{};
    slot.block = block;
    slot.reg = reg;
    slot.quantity = quantity;
    slot.sentMs = nowMs;
    ++count_;
    if (block >= 0 && block <= 7)
        ++telemetry_;
}

std::vector<int64_t> ReadHistory::open(int64_t nowMs) const
{
    std::vector<int64_t> seqs;
    for (int64_t seq = std::max<int64_t>(0, count_ - kSize); seq < count_; ++seq) {
        const ReadRequest& r = ring_[static_cast<size_t>(seq % kSize)];
        if (!r.closed && nowMs - r.sentMs <= kWindowMs)
            seqs.push_back(seq);
    }
    return seqs;
}

ReadMatch ReadHistory::choose(const std::vector<int64_t>& candidates) const
{
    ReadMatch match;
    if (candidates.empty())
        return match;
    for (int64_t seq : candidates)
        match.blocks.push_back(ring_[static_cast<size_t>(seq % kSize)].block);
    std::sort(match.blocks.begin(), match.blocks.end());
    match.blocks.erase(std::unique(match.blocks.begin(), match.blocks.end()), match.blocks.end());
    if (match.blocks.size() == 1) {
        // Answers come in order: the oldest open request is answered first.
        match.kind = ReadMatchKind::Matched;
        match.request = ring_[static_cast<size_t>(candidates.front() % kSize)];
        match.blocks.clear();
    } else {
        match.kind = ReadMatchKind::Ambiguous;
    }
    return match;
}

ReadMatch ReadHistory::matchAmong(int byteCount, int64_t nowMs, std::vector<int64_t>& candidates) const
{
    const std::vector<int64_t> seqs = open(nowMs);
    auto expected = [this](int64_t seq) { return ring_[static_cast<size_t>(seq % kSize)].expectedBytes(); };
    for (int64_t seq : seqs)
        if (expected(seq) == byteCount)
            candidates.push_back(seq);
    if (candidates.empty()) {
        // A short answer: only requests that asked for more could give it.
        for (int64_t seq : seqs)
            if (expected(seq) > byteCount)
                candidates.push_back(seq);
    }
    return choose(candidates);
}

void ReadHistory::closeUpTo(int64_t seq)
{
    for (int64_t s = std::max<int64_t>(0, count_ - kSize); s <= seq && s < count_; ++s)
        ring_[static_cast<size_t>(s % kSize)].closed = true;
}

ReadMatch ReadHistory::take(const ReadMatch& match, const std::vector<int64_t>& candidates)
{
    if (!candidates.empty())
        closeUpTo(candidates.front());
    return match;
}

ReadMatch ReadHistory::matchAnswer(int byteCount, int64_t nowMs)
{
    std::vector<int64_t> candidates;
    const ReadMatch match = matchAmong(byteCount, nowMs, candidates);
    return take(match, candidates);
}

ReadMatch ReadHistory::peekAnswer(int byteCount, int64_t nowMs) const
{
    std::vector<int64_t> candidates;
    return matchAmong(byteCount, nowMs, candidates);
}

ReadMatch ReadHistory::matchRefusal(int64_t nowMs)
{
    const std::vector<int64_t> candidates = open(nowMs);
    return take(choose(candidates), candidates);
}

ReadMatch ReadHistory::peekRefusal(int64_t nowMs) const
{
    return choose(open(nowMs));
}

ReadRequest* ReadHistory::latest()
{
    return count_ == 0 ? nullptr : &ring_[static_cast<size_t>((count_ - 1) % kSize)];
}

void ReadHistory::clear()
{
    ring_ = {};
    count_ = 0;
    telemetry_ = 0;
}

} // namespace bms
