// Trend samples from the decoded pack: the values of one sample, and exactly
// one sample for each telemetry block decoded while sampling.
#include "AppTestSupport.h"
#include "PackSample.h"
#include "PackTable.h"
#include "RequestBuilder.h"
#include "Settings.h"
#include "Wiring.h"

#include <cmath>
#include <map>

using namespace bms;
using namespace bms::test;
using namespace bms::trends;

namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

PackRecord Pack()
{
    PackRecord p;
    p.total_volt = 5312; // 10 mV
    p.current = -12345;
    p.rsoc = 875;
    p.soh = 98;
    p.temp_001C = -52; // 0.1 °C
    p.temp_001F = 315;
    p.temp_0020 = 288;
    p.temp_0025 = 402;
    p.cell_count = 3;
    p.temp_a_count = 2;
    p.temp_b_count = 1;
    p.cell_volt = {3301, 3290, 3312, 9999}; // the fourth lies beyond cell_count
    p.temp_a = {250, -15, 777};
    p.temp_b = {401, 555};
    return p;
}

} // namespace

TEST(PackSampleTest, valuesFollowTheReceivedBlocksAndTheCounts)
{
    struct Case {
        const char* name;
        BlockMask received;
        std::map<int, float> values; // every other series has none
    };
    const std::map<int, float> block0 = {{PackVoltage, 53120}, {PackCurrent, -12345}, {Rsoc, 875}, {EnvTemp, -52},
                                         {MaxCellTemp, 315},    {MinCellTemp, 288},    {MaxMosTemp, 402}};
    std::map<int, float> all = block0;
    all.insert({{Soh, 98}, {FirstCell, 3301}, {FirstCell + 1, 3290}, {FirstCell + 2, 3312}, {CellHighest, 3312},
                {CellLowest, 3290}, {CellSpread, 22}, {FirstCellTemp, 250}, {FirstCellTemp + 1, -15},
                {FirstMosTemp, 401}});
    std::map<int, float> noCells = all;
    for (int s : {int(FirstCell), FirstCell + 1, FirstCell + 2, int(CellHighest), int(CellLowest), int(CellSpread)})
        noCells.erase(s);
    const Case cases[] = {
        {"nothing received", 0, {}},
        {"block 0 only", 0x01, block0},
        {"every block", kAllBlocks, all},
        {"cells not yet read", BlockMask(kAllBlocks & ~(1U << 6)), noCells},
    };
    for (const Case& c : cases) {
        const SampleValues v = SampleFromPack(Pack(), c.received);
        for (int s = 0; s < SeriesCount; ++s) {
            const auto want = c.values.find(s);
            if (want == c.values.end())
                EXPECT_TRUE(std::isnan(v[size_t(s)])) << c.name << ": " << Info(s).name.toStdString();
            else
                EXPECT_EQ(v[size_t(s)], want->second) << c.name << ": " << Info(s).name.toStdString();
        }
    }
}

TEST(PackSampleTest, eachBlockDecodedWhileSamplingAddsExactlyOneSample)
{
    TestApp app;
    SetDesignState(app.host);
    ResetPackTable();
    WireHooks();
    int64_t now = 1'700'000'000'000;
    TrendRecorder recorder([&now] { return now; });
    AppHooks.trendSample = [&recorder](int block) { recorder.record(block, 500); };

    // Block 0: current FF FF FF 9C (-100 mA), pack 52.00 V, ENV 0.1 K 2721
    // (-1.0 °C), max cell temperature 3031 (30.0 °C).
    std::vector<uint8_t> frame(3 + 60, 0);
    frame[0] = 0x06;
    frame[1] = 0x04;
    frame[2] = 60;
    WriteU32BE(0xFFFFFF9C, frame, 3 + 22);
    WriteU16BE(5200, frame, 3 + 26);
    WriteU16BE(2721, frame, 3 + 36);
    WriteU16BE(3031, frame, 3 + 42);
    AppendCrc(frame);

    struct Step {
        uint8_t sampling;
        size_t samples;
    };
    for (const Step& step : {Step{1, 1}, Step{1, 2}, Step{0, 2}}) {
        Sampling = step.sampling;
        ReadBlock = 0;
        BuildRequest(cmd_read_block); // the poll this frame answers
        now += 500;
        cm1ReceiveData(frame.data(), uint16_t(frame.size()));
        EXPECT_EQ(recorder.store().sampleCount(), int64_t(step.samples));
    }
    SampleValues v;
    ASSERT_TRUE(recorder.store().valuesAt(now, v));
    EXPECT_EQ(v[PackCurrent], -100.0f);
    EXPECT_EQ(v[PackVoltage], 52000.0f);
    EXPECT_EQ(v[EnvTemp], -10.0f);
    EXPECT_EQ(v[MaxCellTemp], 300.0f);
    EXPECT_TRUE(std::isnan(v[FirstCell])); // no cell block yet
    AppHooks.trendSample = nullptr;
    Sampling = 0;
}
