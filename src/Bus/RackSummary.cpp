#include "RackSummary.h"

#include <algorithm>
#include <cmath>

namespace bms::bus {

RackSummary Summarize(const std::vector<RackPack>& packs)
{
    RackSummary s;
    s.packs = static_cast<int>(packs.size());
    for (const RackPack& p : packs) {
        if (!p.answering)
            continue;
        ++s.answering;
        const PackReading& r = p.last;
        s.currentSum += r.current.value_or(0);
        if (r.rsoc) {
            s.lowestSoc = std::min(s.lowestSoc.value_or(*r.rsoc), *r.rsoc);
            s.highestSoc = std::max(s.highestSoc.value_or(*r.rsoc), *r.rsoc);
        }
        if (const auto spread = r.spread())
            s.highestSpread = std::max(s.highestSpread.value_or(*spread), *spread);
    }
    return s;
}

int OutOfLineIndex(const std::vector<std::optional<double>>& values, OutOfLine rule)
{
    std::vector<double> present;
    for (const auto& v : values)
        if (v)
            present.push_back(*v);
    if (present.size() < 2)
        return -1;
    const auto [lo, hi] = std::minmax_element(present.begin(), present.end());
    if (*lo == *hi)
        return -1;
    std::vector<double> sorted = present;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    int best = -1;
    double bestScore = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!values[i])
            continue;
        const double v = *values[i];
        const double score = rule == OutOfLine::Lowest ? -v : rule == OutOfLine::Highest ? v : std::fabs(v - median);
        if (best < 0 || score > bestScore) {
            best = static_cast<int>(i);
            bestScore = score;
        }
    }
    return best;
}

} // namespace bms::bus
