// The inside of SampleStore, shared by its append side (SampleStore.cpp) and
// its query side (SampleQuery.cpp).
#pragma once

#include "SampleStore.h"

#include <array>
#include <cmath>
#include <limits>

namespace bms::trends {

// Samples summarised by one minimum/maximum pair of a column.
constexpr int kBlock = 16;
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct SampleStore::Column {
    std::vector<float> values;            // NaN: no value in that sample
    std::vector<float> blockMin, blockMax; // +inf / -inf: no value in the block
};

struct SampleStore::Chunk {
    std::vector<int64_t> time;
    std::array<std::unique_ptr<Column>, SeriesCount> columns; // null: no value at all
    std::vector<int> segmentStarts; // indices of samples that begin a segment

    int size() const { return int(time.size()); }
    float value(int series, int index) const
    {
        const Column* c = columns[size_t(series)].get();
        return c ? c->values[size_t(index)] : kNoValue;
    }
};

struct SampleStore::Interval {
    int64_t start = 0;
    bool segmentStart = false;
    std::array<float, SeriesCount> min;
    std::array<float, SeriesCount> max;
};

inline int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace bms::trends
