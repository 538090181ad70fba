// The sample store: exact minima and maxima through decimation and merging,
// bounded memory, and envelopes that keep every extreme and every gap.
#include "SampleStoreParts.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace bms::trends;

namespace {

SampleValues Values(std::mt19937& random, int64_t t)
{
    SampleValues v;
    v.fill(kNoValue);
    v[PackVoltage] = float(50000 + random() % 5000);
    v[PackCurrent] = float(int(random() % 40000) - 20000);
    // A series that has a value only now and then.
    if (t % 7000 < 3000)
        v[FirstCell] = float(3000 + random() % 400);
    return v;
}

struct Extremes {
    float lo = kNoValue, hi = kNoValue;
    void add(float v)
    {
        if (std::isnan(v))
            return;
        lo = std::isnan(lo) ? v : std::min(lo, v);
        hi = std::isnan(hi) ? v : std::max(hi, v);
    }
};

bool Same(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

} // namespace

struct DecimationCase {
    int maxIntervals;
    int64_t durationMs;
    bool archiveFullAtHalf;
};

class DecimationTest : public ::testing::TestWithParam<DecimationCase> {};

TEST_P(DecimationTest, intervalsKeepTheirMinimumAndMaximumExactlyAndMemoryStaysBounded)
{
    SampleStore::Config config;
    config.fullResolutionMs = 10'000;
    config.intervalMs = 1000;
    config.maxIntervals = GetParam().maxIntervals;
    config.chunkSamples = 64;
    SampleStore store(config);

    std::mt19937 random(7);
    std::vector<std::pair<int64_t, SampleValues>> all;
    size_t memoryAtHalf = 0;
    for (int64_t t = 0; t < GetParam().durationMs; t += 100) {
        all.emplace_back(t, Values(random, t));
        store.append(t, all.back().second);
        if (t == GetParam().durationMs / 2)
            memoryAtHalf = store.memoryBytes();
    }
    ASSERT_GT(store.intervalCount(), 0);
    EXPECT_LE(store.intervalCount(), config.maxIntervals);
    if (GetParam().archiveFullAtHalf) {
        EXPECT_LE(store.memoryBytes(), memoryAtHalf + 4096); // no growth once the archive is full
    }
    // Full resolution at least over the last 10 s.
    EXPECT_LE(store.lastTime() - (store.sampleCount() - 1) * 100, store.lastTime() - 10'000);

    // Brute force over every sample folded (older than the samples kept at
    // full resolution), in intervals of the store's final width.
    int64_t firstKept = store.lastTime();
    store.forEachRow(0, store.lastTime(), [&](int64_t t, SampleStore::RowKind kind, const SampleValues&) {
        if (kind == SampleStore::RowKind::Sample)
            firstKept = std::min(firstKept, t);
    });
    const int64_t width = store.intervalMs();
    std::map<int64_t, std::array<Extremes, SeriesCount>> expected;
    for (const auto& [t, v] : all) {
        if (t >= firstKept)
            break;
        auto& e = expected[FloorDiv(t, width) * width];
        for (int s = 0; s < SeriesCount; ++s)
            e[size_t(s)].add(v[size_t(s)]);
    }
    int intervals = 0;
    int samples = 0;
    store.forEachRow(0, store.lastTime(), [&](int64_t t, SampleStore::RowKind kind, const SampleValues& v) {
        if (kind == SampleStore::RowKind::Sample) {
            ++samples;
            return;
        }
        ASSERT_EQ(t % width, 0);
        const auto& e = expected.at(t);
        for (int s = 0; s < SeriesCount; ++s) {
            const float want = kind == SampleStore::RowKind::IntervalMin ? e[size_t(s)].lo : e[size_t(s)].hi;
            ASSERT_TRUE(Same(v[size_t(s)], want)) << "interval " << t << " series " << s;
        }
        intervals += kind == SampleStore::RowKind::IntervalMin;
    });
    EXPECT_EQ(intervals, store.intervalCount());
    EXPECT_EQ(samples, store.sampleCount());
}

INSTANTIATE_TEST_SUITE_P(Widths, DecimationTest,
                         ::testing::Values(DecimationCase{1000, 60'000, false}, // 1 s intervals, never merged
                                           DecimationCase{8, 600'000, true}));  // merged several times

TEST(SampleStoreTest, envelopeKeepsEveryExtremeAndShowsGaps)
{
    SampleStore::Config config;
    config.chunkSamples = 256;
    SampleStore store(config);
    std::mt19937 random(3);
    std::vector<std::pair<int64_t, float>> voltage;
    const int64_t gapAt = 1'000'000;
    for (int64_t t = 0; t < 2'000'000; t += 500) {
        if (t >= gapAt && t < gapAt + 60'000)
            continue; // sampling stopped for a minute
        const SampleValues v = Values(random, t);
        store.append(t, v, t == gapAt + 60'000);
        voltage.emplace_back(t, v[PackVoltage]);
    }

    struct View {
        int64_t t0, t1;
        int buckets;
    };
    for (const View& view : {View{0, 2'000'000, 300}, View{400'000, 1'500'000, 1000}, View{10'000, 40'000, 200},
                             View{990'000, 1'100'000, 50}}) {
        std::vector<TrendPoint> points;
        store.envelope(PackVoltage, view.t0, view.t1, view.buckets, points);
        EXPECT_LE(points.size(), size_t(2 * view.buckets + 4));
        Extremes inView;
        for (const auto& [t, v] : voltage) {
            if (t >= view.t0 && t <= view.t1)
                inView.add(v);
        }
        Extremes drawn;
        bool gapDrawn = false;
        for (const TrendPoint& p : points) {
            if (std::isnan(p.value)) {
                gapDrawn = gapDrawn || (p.time > gapAt - 1000 && p.time <= gapAt + 61'000);
                continue;
            }
            if (p.time >= view.t0 && p.time <= view.t1)
                drawn.add(float(p.value));
        }
        EXPECT_EQ(drawn.lo, inView.lo) << view.t0 << ".." << view.t1;
        EXPECT_EQ(drawn.hi, inView.hi) << view.t0 << ".." << view.t1;
        const bool gapInView = view.t0 < gapAt && view.t1 > gapAt + 60'000;
        EXPECT_EQ(gapDrawn, gapInView) << view.t0 << ".." << view.t1;
    }
}
