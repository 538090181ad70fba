#include "PackUnit.h"

#include <algorithm>

namespace bms::sim {

namespace {

// Consumes one use of a fault count: -1 always, 0 never, n > 0 the next n.
bool TakeOne(int& count)
{
    if (count == 0)
        return false;
    if (count > 0)
        --count;
    return true;
}

} // namespace

PackUnit::PackUnit(const PackConfig& config)
    : epoch(Clock::now())
    , address(config.address)
    , responder(config, 0.0)
{
}

double PackUnit::now() const
{
    return std::chrono::duration<double>(Clock::now() - epoch).count();
}

Clock::time_point PackUnit::at(double seconds) const
{
    return epoch + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::vector<Outgoing> PackUnit::shape(std::vector<Answer> answers, uint32_t baud)
{
    std::vector<Outgoing> out;
    for (Answer& answer : answers) {
        if (TakeOne(silent))
            continue;
        if (TakeOne(corruptCrc) && answer.bytes.size() >= 2)
            answer.bytes.back() ^= 0x5A;
        Outgoing o;
        o.bytes = noise;
        o.bytes.insert(o.bytes.end(), answer.bytes.begin(), answer.bytes.end());
        o.shape.baud = baud;
        o.shape.pieces = pieces;
        o.shape.gapMs = gapMs;
        o.notBefore = at(answer.notBefore);
        o.delayMs = delayMs;
        o.from = {this};
        out.push_back(std::move(o));
    }
    return out;
}

Outgoing Collide(std::vector<Outgoing> answers)
{
    Outgoing merged = std::move(answers.front());
    for (size_t i = 1; i < answers.size(); ++i) {
        const std::vector<uint8_t>& other = answers[i].bytes;
        const size_t overlap = std::min(merged.bytes.size(), other.size());
        for (size_t b = 0; b < overlap; ++b)
            merged.bytes[b] &= other[b];
        if (other.size() > overlap)
            merged.bytes.insert(merged.bytes.end(), other.begin() + static_cast<std::ptrdiff_t>(overlap), other.end());
        merged.from.insert(merged.from.end(), answers[i].from.begin(), answers[i].from.end());
    }
    return merged;
}

} // namespace bms::sim
