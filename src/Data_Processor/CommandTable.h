// The parts of the command table that are plain data: the periodic read
// blocks, the single-value settings writes and the parameter sources of
// command 28.
#pragma once

#include <cstdint>

namespace bms {

// Where the register count of a periodic read block comes from.
enum class BlockCount : uint8_t {
    Fixed,       // ReadBlockEntry::quantity
    TempA,       // temp_a_count of the addressed pack, last decoded from block 3
    TempB,       // temp_b_count of the addressed pack
    Cells,       // cell_count of the addressed pack
};

struct ReadBlockEntry {
    uint16_t reg;
    uint16_t quantity;
    BlockCount count;
};

// Read blocks 0..7, selected by ReadBlock.
constexpr int kReadBlockCount = 8;
extern const ReadBlockEntry kReadBlocks[kReadBlockCount];

// A request that writes one number taken from one input box. Every value
// must fit its field: where the command has no range of its own, the range
// is that of the field, so that nothing is ever cut to its width.
struct ValueCommand {
    uint8_t command;
    const char* box;
    const char* emptyMessage; // nullptr: the box is converted without an emptiness check
    int32_t lo, hi;           // accepted values, both inclusive
    const char* rangeMessage; // nullptr: "Input data error!(input range: lo~hi)"
    uint8_t function;         // 0x10 write-multiple, or the pack's own function
    uint16_t reg;             // start register of a 0x10 write
    uint8_t width;            // value bytes: 2 or 4
    bool lowByteOnly;         // a 2-byte value whose high byte is always 0
    bool recorded;            // kept in LastWriteReg/LastWriteQty for the acknowledgement
    const uint8_t* zeroFlag;  // while *zeroFlag == 1 the value is 0 and the box is not read
};

// The value command for `command`, or nullptr.
const ValueCommand* FindValueCommand(uint8_t command);

// Command 28: where ParamType takes its value and index from.
enum class ParamValue : uint8_t {
    Zero,    // eight zero bytes, nothing read
    Box,     // the value box
    Missing, // no box: always refused as empty
};

struct ParamSource {
    ParamValue value;
    const char* valueBox;
    const char* indexBox; // nullptr: index text "1"
    uint8_t width;        // value bytes V
    bool isSigned;        // the field holds a signed number (the temperature)
};

// The values a parameter field of `width` bytes holds.
struct ValueRange {
    int64_t lo, hi;
};
ValueRange ParamRange(const ParamSource& source);

// Index texts of command 28 ("ALL" is 256): the index byte is the number
// minus 1.
constexpr ValueRange kParamIndexRange{1, 256};

// The message that refuses a value outside [lo, hi] where the command has no
// message of its own.
const char* const kRangeMessageFormat = "Input data error!(input range: %1~%2)";

constexpr int kParamTypeCount = 13;
extern const ParamSource kParamSources[kParamTypeCount];

} // namespace bms
