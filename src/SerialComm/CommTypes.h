// Value types of the serial port component: the line-setting enumerations
// (ordinals as the component's properties use them) and the two groups of
// settings that are applied to an open port together.
#pragma once

#include <cstdint>

namespace bms {

enum class TParity : uint8_t { None, Odd, Even, Mark, Space };
enum class TStopBits : uint8_t { _1, _1_5, _2 };
enum class TByteSize : uint8_t { _5, _6, _7, _8 };
enum class TDtrControl : uint8_t { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl : uint8_t { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

// Everything that "apply line settings" writes to the device. Defaults are
// the component's constructor defaults.
struct LineConfig {
    uint32_t BaudRate = 9600;
    bool ParityCheck = false;
    bool Outx_CtsFlow = true;
    bool Outx_DsrFlow = true;
    TDtrControl DtrControl = TDtrControl::DtrEnable;
    bool DsrSensitivity = false;
    bool TxContinueOnXoff = true;
    bool Outx_XonXoffFlow = false;
    bool Inx_XonXoffFlow = false;
    bool ReplaceWhenParityError = false;
    bool IgnoreNullChar = false;
    TRtsControl RtsControl = TRtsControl::RtsEnable;
    uint16_t XonLimit = 10;
    uint16_t XoffLimit = 10;
    TByteSize ByteSize = TByteSize::_8;
    TParity Parity = TParity::None;
    TStopBits StopBits = TStopBits::_1;
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    uint8_t ReplacedChar = 0;
};

// The five time-outs, in milliseconds (multipliers per byte).
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 10;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Read interval value meaning "return at once with what has arrived" when
// both read totals are 0.
constexpr uint32_t kReadIntervalImmediate = 0xFFFFFFFFu;

} // namespace bms
