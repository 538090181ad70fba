// The read side of SampleStore: values at a time, chart envelopes and row
// visits for export.
#include "SampleStoreParts.h"

#include <algorithm>

namespace bms::trends {

namespace {

// The smallest step of the 1-2-5 series (in ms) not below `ms`, so that
// bucket edges stay put while a growing range changes the width a little.
int64_t NiceStep(int64_t ms)
{
    int64_t decade = 1;
    while (true) {
        for (int64_t m : {1, 2, 5}) {
            if (m * decade >= ms)
                return m * decade;
        }
        decade *= 10;
    }
}

// Builds the point list: consecutive gaps collapse into one NaN, and a
// bucket's two extremes go out in the order that draws the shorter line
// from the previous point.
class Emitter {
public:
    explicit Emitter(std::vector<TrendPoint>& out) : out_(out) {}
    void gap(double t)
    {
        if (!out_.empty() && !std::isnan(out_.back().value))
            out_.push_back({t, std::numeric_limits<double>::quiet_NaN()});
    }
    void point(double t, float v)
    {
        if (std::isnan(v))
            gap(t);
        else
            out_.push_back({t, double(v)});
    }
    void range(double t, float lo, float hi)
    {
        if (std::isnan(lo) || std::isnan(hi) || lo > hi) {
            gap(t);
            return;
        }
        if (lo == hi) {
            point(t, lo);
            return;
        }
        const bool fromAbove = !out_.empty() && !std::isnan(out_.back().value)
            && out_.back().value > (double(lo) + double(hi)) / 2;
        point(t, fromAbove ? hi : lo);
        point(t, fromAbove ? lo : hi);
    }

private:
    std::vector<TrendPoint>& out_;
};

} // namespace

struct SampleStore::Cursor {
    size_t chunk = 0;
    int index = 0;
};

bool SampleStore::chunkRange(const Chunk& chunk, int series, int from, int to, float& lo, float& hi)
{
    const Column* c = chunk.columns[size_t(series)].get();
    if (!c || from >= to)
        return false;
    float low = kInf, high = -kInf;
    int i = from;
    for (; i < to && i % kBlock != 0; ++i) {
        const float v = c->values[size_t(i)];
        if (v < low) low = v;
        if (v > high) high = v;
    }
    for (; i + kBlock <= to; i += kBlock) {
        low = std::min(low, c->blockMin[size_t(i / kBlock)]);
        high = std::max(high, c->blockMax[size_t(i / kBlock)]);
    }
    for (; i < to; ++i) {
        const float v = c->values[size_t(i)];
        if (v < low) low = v;
        if (v > high) high = v;
    }
    if (low > high)
        return false;
    lo = std::min(lo, low);
    hi = std::max(hi, high);
    return true;
}

bool SampleStore::segmentStartIn(const Chunk& chunk, int from, int to)
{
    for (int s : chunk.segmentStarts) {
        if (s >= from && s < to)
            return true;
    }
    return false;
}

bool SampleStore::valuesAt(int64_t timeMs, SampleValues& values, int64_t* when) const
{
    // The last chunk that starts at or before the time, then the last sample.
    auto chunk = std::upper_bound(chunks_.begin(), chunks_.end(), timeMs,
                                  [](int64_t t, const auto& c) { return t < c->time.front(); });
    if (chunk == chunks_.begin())
        return false;
    const Chunk& c = **(chunk - 1);
    const int index = int(std::upper_bound(c.time.begin(), c.time.end(), timeMs) - c.time.begin()) - 1;
    for (int s = 0; s < SeriesCount; ++s)
        values[size_t(s)] = c.value(s, index);
    if (when)
        *when = c.time[size_t(index)];
    return true;
}

void SampleStore::envelope(int series, int64_t t0, int64_t t1, int buckets, std::vector<TrendPoint>& out) const
{
    out.clear();
    if (empty() || t1 < t0 || series < 0 || series >= SeriesCount)
        return;
    buckets = std::max(buckets, 1);
    Emitter emit(out);

    // First sample at or after t0, and the count of samples up to t1.
    auto firstAtOrAfter = [this](int64_t t) {
        Cursor c;
        c.chunk = size_t(std::lower_bound(chunks_.begin(), chunks_.end(), t,
                                          [](const auto& k, int64_t v) { return k->time.back() < v; })
                         - chunks_.begin());
        if (c.chunk < chunks_.size()) {
            const auto& times = chunks_[c.chunk]->time;
            c.index = int(std::lower_bound(times.begin(), times.end(), t) - times.begin());
        }
        return c;
    };
    const Cursor begin = firstAtOrAfter(t0);
    const Cursor end = firstAtOrAfter(t1 + 1);
    int64_t inRange = 0;
    for (size_t k = begin.chunk; k < end.chunk && k < chunks_.size(); ++k)
        inRange += chunks_[k]->size();
    inRange += (end.chunk < chunks_.size() ? end.index : 0) - (begin.chunk < chunks_.size() ? begin.index : 0);
    const auto firstInterval = std::lower_bound(intervals_.begin(), intervals_.end(), t0 - intervalMs_,
                                                [](const Interval& i, int64_t t) { return i.start < t; });
    const auto endInterval = std::upper_bound(intervals_.begin(), intervals_.end(), t1,
                                              [](int64_t t, const Interval& i) { return t < i.start; });
    const int64_t intervalPoints = 2 * (endInterval - firstInterval);

    if (inRange + intervalPoints <= 2 * int64_t(buckets)) {
        // Few enough to draw every one, with a neighbour on each side.
        for (auto i = firstInterval; i != endInterval; ++i) {
            const double mid = double(i->start) + double(intervalMs_) / 2;
            if (i->segmentStart)
                emit.gap(double(i->start));
            emit.range(mid, i->min[size_t(series)], i->max[size_t(series)]);
        }
        Cursor c = begin;
        if (c.index > 0) {
            --c.index;
        } else if (c.chunk > 0) {
            --c.chunk;
            c.index = chunks_[c.chunk]->size() - 1;
        }
        int after = 0;
        for (; c.chunk < chunks_.size() && after < 2; ++c.chunk, c.index = 0) {
            const Chunk& k = *chunks_[c.chunk];
            for (; c.index < k.size() && after < 2; ++c.index) {
                const int64_t t = k.time[size_t(c.index)];
                if (t > t1)
                    ++after;
                if (after == 2)
                    break;
                if (segmentStartIn(k, c.index, c.index + 1))
                    emit.gap(double(t));
                emit.point(double(t), k.value(series, c.index));
            }
        }
        return;
    }

    // Buckets aligned to multiples of their width: the minimum and maximum
    // of each.
    const int64_t width = NiceStep((t1 - t0 + buckets - 1) / buckets);
    int64_t bucket = FloorDiv(t0, width) - 1;
    float lo = kInf, hi = -kInf;
    bool any = false, gapBefore = false;
    auto flush = [&] {
        if (any || gapBefore) {
            // The edge buckets are cut at the range.
            const int64_t start = std::max(bucket * width, t0);
            const int64_t stop = std::min(bucket * width + width, t1 + 1);
            if (gapBefore)
                emit.gap(double(start));
            emit.range(double(start + stop) / 2, lo, hi);
        }
        lo = kInf;
        hi = -kInf;
        any = gapBefore = false;
    };
    auto enter = [&](int64_t b) {
        if (b != bucket) {
            flush();
            bucket = b;
            any = true; // a bucket with samples but no value shows as a gap
        }
    };

    for (auto i = firstInterval; i != endInterval; ++i) {
        if (i->start < t0)
            continue;
        enter(FloorDiv(i->start, width));
        gapBefore = gapBefore || i->segmentStart;
        const float a = i->min[size_t(series)], b = i->max[size_t(series)];
        if (!std::isnan(a)) {
            lo = std::min(lo, a);
            hi = std::max(hi, b);
        }
    }
    Cursor c = begin;
    for (; c.chunk < chunks_.size(); ++c.chunk, c.index = 0) {
        const Chunk& k = *chunks_[c.chunk];
        while (c.index < k.size()) {
            const int64_t time = k.time[size_t(c.index)];
            if (time > t1) {
                flush();
                return;
            }
            const int64_t b = FloorDiv(time, width);
            const auto edge
                = std::lower_bound(k.time.begin() + c.index, k.time.end(), std::min((b + 1) * width, t1 + 1));
            const int to = int(edge - k.time.begin());
            enter(b);
            gapBefore = gapBefore || segmentStartIn(k, c.index, to);
            chunkRange(k, series, c.index, to, lo, hi);
            c.index = to;
        }
    }
    flush();
}

void SampleStore::forEachRow(int64_t t0, int64_t t1,
                             const std::function<void(int64_t, RowKind, const SampleValues&)>& visit) const
{
    SampleValues values;
    for (const Interval& i : intervals_) {
        if (i.start < t0 || i.start > t1)
            continue;
        visit(i.start, RowKind::IntervalMin, i.min);
        visit(i.start, RowKind::IntervalMax, i.max);
    }
    for (const auto& chunk : chunks_) {
        if (chunk->time.back() < t0 || chunk->time.front() > t1)
            continue;
        for (int index = 0; index < chunk->size(); ++index) {
            const int64_t t = chunk->time[size_t(index)];
            if (t < t0 || t > t1)
                continue;
            for (int s = 0; s < SeriesCount; ++s)
                values[size_t(s)] = chunk->value(s, index);
            visit(t, RowKind::Sample, values);
        }
    }
}

} // namespace bms::trends
