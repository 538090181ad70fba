#include "SampleStoreParts.h"

#include <algorithm>

namespace bms::trends {

namespace {

void Widen(float& lo, float& hi, float v)
{
    if (std::isnan(v))
        return;
    if (std::isnan(lo) || v < lo)
        lo = v;
    if (std::isnan(hi) || v > hi)
        hi = v;
}

} // namespace

SampleStore::SampleStore() : SampleStore(Config{}) {}

SampleStore::SampleStore(const Config& config) : config_(config)
{
    config_.chunkSamples = std::max(config_.chunkSamples, kBlock);
    config_.maxIntervals = std::max(config_.maxIntervals, 2);
    config_.intervalMs = std::max<int64_t>(config_.intervalMs, 1);
    clear();
}

SampleStore::~SampleStore() = default;
SampleStore::SampleStore(SampleStore&&) noexcept = default;
SampleStore& SampleStore::operator=(SampleStore&&) noexcept = default;

void SampleStore::clear()
{
    chunks_.clear();
    intervals_.clear();
    intervalMs_ = config_.intervalMs;
    firstTime_ = std::numeric_limits<int64_t>::max();
    lastTime_ = std::numeric_limits<int64_t>::min();
    samples_ = 0;
    clamped_ = 0;
    pendingBreak_ = false;
    present_.reset();
}

void SampleStore::append(int64_t timeMs, const SampleValues& values, bool newSegment)
{
    if (!empty() && timeMs < lastTime_) {
        timeMs = lastTime_;
        ++clamped_;
    }
    const bool segment = (newSegment || pendingBreak_) && !empty();
    pendingBreak_ = false;

    if (chunks_.empty() || chunks_.back()->size() >= config_.chunkSamples) {
        auto chunk = std::make_unique<Chunk>();
        chunk->time.reserve(size_t(config_.chunkSamples));
        chunks_.push_back(std::move(chunk));
    }
    Chunk& chunk = *chunks_.back();
    const int index = chunk.size();
    chunk.time.push_back(timeMs);
    if (segment)
        chunk.segmentStarts.push_back(index);

    const size_t blocks = size_t(config_.chunkSamples + kBlock - 1) / kBlock;
    const bool newBlock = index % kBlock == 0;
    for (int s = 0; s < SeriesCount; ++s) {
        const float v = values[size_t(s)];
        std::unique_ptr<Column>& column = chunk.columns[size_t(s)];
        if (!column) {
            if (std::isnan(v))
                continue;
            // First value of this series in the chunk: the samples before
            // it had none.
            column = std::make_unique<Column>();
            column->values.reserve(size_t(config_.chunkSamples));
            column->values.assign(size_t(index), kNoValue);
            column->blockMin.reserve(blocks);
            column->blockMax.reserve(blocks);
            const size_t filled = size_t(index + kBlock - 1) / kBlock;
            column->blockMin.assign(filled, kInf);
            column->blockMax.assign(filled, -kInf);
        }
        column->values.push_back(v);
        if (newBlock) {
            column->blockMin.push_back(kInf);
            column->blockMax.push_back(-kInf);
        }
        if (!std::isnan(v)) {
            column->blockMin.back() = std::min(column->blockMin.back(), v);
            column->blockMax.back() = std::max(column->blockMax.back(), v);
            present_.set(size_t(s));
        }
    }

    ++samples_;
    firstTime_ = std::min(firstTime_, timeMs);
    lastTime_ = timeMs;
    foldOldChunks();
}

void SampleStore::foldOldChunks()
{
    bool folded = false;
    while (chunks_.size() > 1 && chunks_.front()->time.back() < lastTime_ - config_.fullResolutionMs) {
        foldChunk(*chunks_.front());
        samples_ -= chunks_.front()->size();
        chunks_.erase(chunks_.begin());
        folded = true;
    }
    if (folded)
        mergeIntervals();
}

void SampleStore::foldChunk(const Chunk& chunk)
{
    size_t nextStart = 0;
    for (int i = 0; i < chunk.size(); ++i) {
        const int64_t key = FloorDiv(chunk.time[size_t(i)], intervalMs_) * intervalMs_;
        if (intervals_.empty() || intervals_.back().start != key) {
            Interval fresh;
            fresh.start = key;
            fresh.min.fill(kNoValue);
            fresh.max.fill(kNoValue);
            intervals_.push_back(fresh);
        }
        Interval& interval = intervals_.back();
        if (nextStart < chunk.segmentStarts.size() && chunk.segmentStarts[nextStart] == i) {
            interval.segmentStart = true;
            ++nextStart;
        }
        for (int s = 0; s < SeriesCount; ++s) {
            if (const Column* c = chunk.columns[size_t(s)].get())
                Widen(interval.min[size_t(s)], interval.max[size_t(s)], c->values[size_t(i)]);
        }
    }
}

void SampleStore::mergeIntervals()
{
    while (int(intervals_.size()) > config_.maxIntervals) {
        intervalMs_ *= 2;
        std::vector<Interval> merged;
        merged.reserve(intervals_.size() / 2 + 1);
        for (const Interval& interval : intervals_) {
            const int64_t key = FloorDiv(interval.start, intervalMs_) * intervalMs_;
            if (merged.empty() || merged.back().start != key) {
                merged.push_back(interval);
                merged.back().start = key;
                continue;
            }
            Interval& into = merged.back();
            into.segmentStart = into.segmentStart || interval.segmentStart;
            for (size_t s = 0; s < size_t(SeriesCount); ++s) {
                Widen(into.min[s], into.max[s], interval.min[s]);
                Widen(into.min[s], into.max[s], interval.max[s]);
            }
        }
        intervals_ = std::move(merged);
    }
}

int SampleStore::intervalCount() const { return int(intervals_.size()); }

size_t SampleStore::memoryBytes() const
{
    size_t bytes = sizeof(*this) + chunks_.capacity() * sizeof(void*) + intervals_.capacity() * sizeof(Interval);
    for (const auto& chunk : chunks_) {
        bytes += sizeof(Chunk) + chunk->time.capacity() * sizeof(int64_t)
            + chunk->segmentStarts.capacity() * sizeof(int);
        for (const auto& column : chunk->columns) {
            if (column)
                bytes += sizeof(Column)
                    + (column->values.capacity() + column->blockMin.capacity() + column->blockMax.capacity())
                        * sizeof(float);
        }
    }
    return bytes;
}

} // namespace bms::trends
