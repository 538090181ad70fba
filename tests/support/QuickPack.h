// A virtual pack for the end-to-end tests: not published, its values
// standing still, its boot loader's pauses 50 ms (10 ms for a dev-firmware
// erase), so that an upgrade takes a fraction of a real pack's time.
#pragma once

#include "VirtualPack.h"

namespace bms::test {

inline sim::PackConfig QuickPack()
{
    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.bootRebootMs = 50;
    config.bootEraseMs = 50;
    config.bootCheckMs = 50;
    config.devEraseMs = 10;
    return config;
}

} // namespace bms::test
