// Read access to the data part of the function-4 response in MY_COM.RxBuf.
// Data byte d sits at frame position 3 + d; a field is usable only when it
// lies wholly before the two CRC bytes.
#pragma once

#include "Codec.h"
#include "CommRecord.h"

#include <algorithm>
#include <cstdint>

namespace bms {

class ResponseData {
public:
    // Takes the frame as it stands in MY_COM (RxLen bytes including the CRC).
    static ResponseData FromRx()
    {
        const int length = std::min<int>(MY_COM.RxLen, kMaxFrame);
        return ResponseData(length - 2);
    }

    // True when data bytes d .. d+width-1 all lie inside the data part.
    bool fits(int d, int width) const { return d >= 0 && 3 + d + width <= end_; }

    uint8_t byte(int d) const { return MY_COM.RxBuf[static_cast<size_t>(3 + d)]; }
    uint16_t u16(int d) const { return ReadU16BE(MY_COM.RxBuf.data(), static_cast<uint16_t>(3 + d)); }
    uint32_t u32(int d) const { return ReadU32BE(MY_COM.RxBuf.data(), static_cast<uint16_t>(3 + d)); }
    // A big-endian field of 1, 2 or 4 bytes.
    uint32_t read(int d, int width) const
    {
        switch (width) {
        case 1: return byte(d);
        case 2: return u16(d);
        default: return u32(d);
        }
    }

private:
    explicit ResponseData(int end) : end_(end) {}
    int end_; // frame position of the first CRC byte
};

} // namespace bms
