// Receive assembly throughput: valid read answers (65, 13 and 260 bytes)
// fed through cm1ReceiveData in chunks of random size, the window interface
// and the hooks doing nothing, so the time is the assembly, the CRC check
// and the dispatch itself.
#include "App.h"
#include "Codec.h"
#include "FakeHost.h"
#include "CommRecord.h"
#include "Hooks.h"
#include "Receive.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <random>
#include <vector>

using namespace bms;

namespace {

// Records nothing: a memo line per frame would pile up over the run.
class NullHost : public test::FakeHost {
public:
    void appendLine(const QString&, const QString&) override {}
    void setColour(const QString&, uint32_t) override {}
};

// `frames` read answers of `dataBytes` data bytes each, back to back.
std::vector<uint8_t> TelemetryStream(int frames, int dataBytes, std::mt19937& rng)
{
    std::vector<uint8_t> stream;
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> frame{0x06, 0x04, static_cast<uint8_t>(dataBytes)};
        for (int i = 0; i < dataBytes; ++i)
            frame.push_back(static_cast<uint8_t>(rng()));
        AppendCrc(frame);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// Chunk sizes 1..maxChunk covering the whole stream.
std::vector<uint16_t> ChunkSizes(size_t total, int maxChunk, std::mt19937& rng)
{
    std::uniform_int_distribution<int> size(1, maxChunk);
    std::vector<uint16_t> sizes;
    for (size_t done = 0; done < total;) {
        const size_t n = std::min<size_t>(static_cast<size_t>(size(rng)), total - done);
        sizes.push_back(static_cast<uint16_t>(n));
        done += n;
    }
    return sizes;
}

void Assembly(benchmark::State& state)
{
    NullHost host;
    Timer tmr2;
    App.ui = &host;
    App.tmr2 = &tmr2;
    ResetProtocolState();
    SlaveAddr = 0x06;
    Hooks = DispatchHooks{};
    int64_t frames = 0;
    Hooks.telemetry = [&frames] { ++frames; };

    std::mt19937 rng(42);
    const int dataBytes = static_cast<int>(state.range(0));
    const std::vector<uint8_t> stream = TelemetryStream(2000, dataBytes, rng);
    const std::vector<uint16_t> sizes = ChunkSizes(stream.size(), static_cast<int>(state.range(1)), rng);

    for (auto _ : state) {
        MY_COM.RxState = 1;
        size_t pos = 0;
        for (uint16_t n : sizes) {
            cm1ReceiveData(stream.data() + pos, n);
            pos += n;
        }
    }
    if (frames != 2000 * static_cast<int64_t>(state.iterations()))
        state.SkipWithError("frames were lost");
    state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    App = AppContext{};
    Hooks = DispatchHooks{};
}

// Data bytes per answer (block 0: 60, block 1: 8, the largest: 255) and the
// largest chunk.
BENCHMARK(Assembly)->Args({60, 8})->Args({60, 64})->Args({8, 64})->Args({255, 512})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
