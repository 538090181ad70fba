// The trend samples of one timeline, in bounded memory: every sample of the
// last `fullResolutionMs` (24 h) at full resolution, older samples folded
// into intervals that keep each series' minimum and maximum exactly. When
// the intervals exceed `maxIntervals`, neighbours merge pairwise (the
// interval doubles), so memory stays bounded however long the tool samples.
//
// Samples live in chunks of `chunkSamples`; each chunk keeps a column per
// series that has a value in it (float, NaN where a sample has none) with
// the minimum and maximum of every 16 samples, so the envelope of a day at
// screen resolution costs a few blocks per pixel, not every sample.
//
// Times are milliseconds since the epoch and never go backwards: a sample
// older than the newest one is stored at the newest time (counted in
// `clampedTimes`). Plain C++ with no Qt widgets.
#pragma once

#include "TrendSeries.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace bms::trends {

struct TrendPoint {
    double time; // ms since the epoch
    double value; // kept units; NaN breaks the line
};

class SampleStore {
public:
    struct Config {
        int64_t fullResolutionMs = 24LL * 3600 * 1000;
        int64_t intervalMs = 60'000; // first width of a decimated interval
        int maxIntervals = 4096;
        int chunkSamples = 4096;
    };

    SampleStore();
    explicit SampleStore(const Config& config);
    ~SampleStore();
    SampleStore(SampleStore&&) noexcept;
    SampleStore& operator=(SampleStore&&) noexcept;

    // Appends one sample; `newSegment` starts a new stretch of the timeline
    // (the charts show a gap before it).
    void append(int64_t timeMs, const SampleValues& values, bool newSegment = false);
    // The next sample starts a new segment.
    void breakSegment() { pendingBreak_ = true; }
    void clear();

    bool empty() const { return firstTime_ > lastTime_; }
    int64_t firstTime() const { return firstTime_; }
    int64_t lastTime() const { return lastTime_; }
    int64_t sampleCount() const { return samples_; }     // at full resolution
    int intervalCount() const;
    int64_t intervalMs() const { return intervalMs_; }
    int64_t clampedTimes() const { return clamped_; }
    // Series that hold at least one value.
    const std::bitset<SeriesCount>& present() const { return present_; }
    size_t memoryBytes() const;

    // The newest full-resolution sample at or before `timeMs`; false when
    // there is none.
    bool valuesAt(int64_t timeMs, SampleValues& values, int64_t* when = nullptr) const;

    // Points of one series over [t0, t1] for a chart `buckets` pixels wide:
    // the samples themselves when they are few, otherwise the minimum and
    // maximum of each bucket (at most 2 points a bucket). The neighbours just
    // outside the range are included so lines reach the edges. Gaps between
    // segments and stretches without a value come out as NaN points.
    void envelope(int series, int64_t t0, int64_t t1, int buckets, std::vector<TrendPoint>& out) const;

    // Every stored row with a time in [t0, t1], oldest first: decimated
    // intervals as two rows (their minima, then their maxima, at the
    // interval's start), then the full-resolution samples.
    enum class RowKind : uint8_t { Sample, IntervalMin, IntervalMax };
    void forEachRow(int64_t t0, int64_t t1,
                    const std::function<void(int64_t, RowKind, const SampleValues&)>& visit) const;

private:
    struct Column;
    struct Chunk;
    struct Interval;
    struct Cursor;

    void foldOldChunks();
    void foldChunk(const Chunk& chunk);
    void mergeIntervals();
    // Minimum and maximum of `series` over samples [from, to) of one chunk;
    // false when none of them has a value.
    static bool chunkRange(const Chunk& chunk, int series, int from, int to, float& lo, float& hi);
    static bool segmentStartIn(const Chunk& chunk, int from, int to);

    Config config_;
    std::vector<std::unique_ptr<Chunk>> chunks_; // oldest first
    std::vector<Interval> intervals_;            // oldest first
    int64_t intervalMs_;
    int64_t firstTime_;
    int64_t lastTime_;
    int64_t samples_ = 0;
    int64_t clamped_ = 0;
    bool pendingBreak_ = false;
    std::bitset<SeriesCount> present_;
};

} // namespace bms::trends
