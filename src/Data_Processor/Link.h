// What the protocol needs of the serial port: queue bytes for transmission.
#pragma once

#include <cstdint>

namespace bms {

class Link {
public:
    virtual ~Link() = default;
    // Queues `length` bytes; false when the port is closed or length is 0.
    virtual bool SendData(const uint8_t* data, uint16_t length) = 0;
};

} // namespace bms
