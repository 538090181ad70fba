// What the rack's view sums up: the summary line over the packs that
// answer, and which pack of a column is out of line.
#pragma once

#include "BusEvents.h"

#include <optional>
#include <vector>

namespace bms::bus {

// A pack of the rack as last seen: its last values and whether its last
// sweep brought an answer.
struct RackPack {
    PackReading last;
    bool answering = false;
};

struct RackSummary {
    qint64 currentSum = 0;         // mA, over the packs answering
    std::optional<int> lowestSoc;  // 0.1 %
    std::optional<int> highestSoc;
    std::optional<int> highestSpread; // mV
    int answering = 0;
    int packs = 0;

    std::optional<int> socDifference() const
    {
        return lowestSoc && highestSoc ? std::optional<int>(*highestSoc - *lowestSoc) : std::nullopt;
    }
};

RackSummary Summarize(const std::vector<RackPack>& packs);

enum class OutOfLine {
    Lowest,   // the lowest value stands out (state of charge, lowest cell)
    Highest,  // the highest (highest cell, spread, temperature, cycles)
    Farthest, // the one farthest from the others' median (voltage, current)
};

// The index of the value out of line among `values` (empty ones skipped),
// or -1 with fewer than two values or when they are all equal.
int OutOfLineIndex(const std::vector<std::optional<double>>& values, OutOfLine rule);

} // namespace bms::bus
