#include "PackSample.h"

#include <QDateTime>
#include <algorithm>

namespace bms::trends {

namespace {

bool Has(BlockMask mask, int block) { return (mask >> block) & 1U; }

} // namespace

SampleValues SampleFromPack(const PackRecord& pack, BlockMask received)
{
    SampleValues v;
    v.fill(std::numeric_limits<float>::quiet_NaN());
    if (Has(received, 0)) {
        v[PackVoltage] = float(uint32_t(pack.total_volt) * 10U);
        v[PackCurrent] = float(pack.current);
        v[Rsoc] = float(pack.rsoc);
        v[EnvTemp] = float(pack.temp_001C);
        v[MaxCellTemp] = float(pack.temp_001F);
        v[MinCellTemp] = float(pack.temp_0020);
        v[MaxMosTemp] = float(pack.temp_0025);
    }
    if (Has(received, 3))
        v[Soh] = float(pack.soh);
    if (Has(received, 3) && Has(received, 6)) {
        const int cells = std::min<int>(pack.cell_count, kMaxCells);
        for (int i = 0; i < cells; ++i)
            v[size_t(FirstCell + i)] = float(pack.cell_volt[size_t(i)]);
        if (cells > 0) {
            const auto [lo, hi] = std::minmax_element(pack.cell_volt.begin(), pack.cell_volt.begin() + cells);
            v[CellHighest] = float(*hi);
            v[CellLowest] = float(*lo);
            v[CellSpread] = float(*hi - *lo);
        }
    }
    if (Has(received, 3) && Has(received, 4)) {
        for (int i = 0; i < std::min<int>(pack.temp_a_count, kMaxSensors); ++i)
            v[size_t(FirstCellTemp + i)] = float(pack.temp_a[size_t(i)]);
    }
    if (Has(received, 3) && Has(received, 5)) {
        for (int i = 0; i < std::min<int>(pack.temp_b_count, kMaxSensors); ++i)
            v[size_t(FirstMosTemp + i)] = float(pack.temp_b[size_t(i)]);
    }
    return v;
}

TrendRecorder::TrendRecorder(Clock clock) : clock_(std::move(clock))
{
    startMs_ = QDateTime::currentMSecsSinceEpoch();
    monotonic_.start();
}

void TrendRecorder::record(int block, int intervalMs)
{
    if (block < 0 || block > 7)
        return;
    received_ = BlockMask(received_ | (1U << block));
    const int64_t now = clock_ ? clock_() : startMs_ + monotonic_.elapsed();
    const int64_t pause = std::max<int64_t>(3000, 3LL * intervalMs);
    const bool resumed = !store_.empty() && now - store_.lastTime() > pause;
    store_.append(now, SampleFromPack(PackTable[0], received_), resumed);
    if (onSample)
        onSample();
}

} // namespace bms::trends
