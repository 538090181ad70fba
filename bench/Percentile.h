// The value below which a share `p` (0..1) of the samples lies, nearest rank.
#pragma once

#include <algorithm>
#include <vector>

namespace bms::bench {

inline double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

} // namespace bms::bench
