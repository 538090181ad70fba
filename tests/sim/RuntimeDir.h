// Points the runtime port folder of the test process at a fresh temporary
// folder, so that packs started by tests publish nowhere else.
#pragma once

#include <cstdlib>
#include <string>

namespace bms::sim::test {

inline const std::string& TestRuntimeDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/sim-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        const std::string d = made ? made : "/tmp";
        setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
        return d;
    }();
    return dir;
}

} // namespace bms::sim::test
