#include "RuntimePorts.h"

#include <cstdlib>
#include <unistd.h>

namespace bms {

std::string RuntimePortDir()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/quorlex-bms";
    return "/tmp/quorlex-bms-" + std::to_string(getuid());
}

} // namespace bms
