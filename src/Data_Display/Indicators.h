// The coloured indicators of the alarm/protection group and the hidden
// parallel-progress shapes. The tables are shared with the window, which
// builds the captions and tooltips of the squares from them.
#pragma once

#include <cstdint>
#include <span>

namespace bms {

struct IndicatorInfo {
    const char* square;  // shape name
    const char* caption; // label beside the square
    const char* hint;    // tooltip of the label; "" when it has none
    int word;            // fault_status word; -1 for squares driven by no bit
    int bit;
};

// fault_status 0, bits 0..10: yellow when set, lime when clear.
std::span<const IndicatorInfo> AlarmIndicators();
// fault_status 1..3: red when set, lime when clear.
std::span<const IndicatorInfo> ProtectionIndicators();
// The five alarm squares no bit drives; they stay lime.
std::span<const IndicatorInfo> IdleAlarmIndicators();

struct ProgressShape {
    const char* shape;
    int bit;
};
// The five round shapes of the parallel progress, lime when their bit is set.
std::span<const ProgressShape> ParallelProgressShapes();

// The run-state and MOS texts (lbl30, lbl33, lbl34), the raw status and
// fault words and the hidden parallel words, from PackTable entry 0.
// ShowTelemetry writes them with the grids.
void ShowStateTexts();
// The same labels with the window's start texts: "Standby", both MOS off and
// the captions of the raw words without a value.
void ShowStartStateTexts();

// Parallel progress byte and the two parallel words. No response of the
// protocol fills them, so they stay 0.
extern uint8_t ParallelProgress;
extern uint16_t ParallelPreWord;
extern uint16_t ParallelWord;

} // namespace bms
