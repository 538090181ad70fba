// The resident memory of this process, for the benchmarks that report what
// a store or a sheet holds.
#pragma once

#include <fstream>
#include <string>

namespace bms::bench {

// VmRSS of /proc/self/status in KiB, 0 when it cannot be read.
inline long RssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

} // namespace bms::bench
