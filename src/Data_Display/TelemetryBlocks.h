// The read rotation of the telemetry blocks.
#pragma once

#include <cstdint>

namespace bms {

// The block read after a response to `block`, from the counts stored by the
// latest block-3 response and the product type ("BSI" adds block 7).
int32_t NextReadBlock(int32_t block);

} // namespace bms
