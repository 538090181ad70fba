// Shared by the bus benchmarks: a rack of virtual packs in a child process,
// so that its CPU is not counted as the tool's, and the events of a
// command-line process read as they come.
#pragma once

#include "VirtualBus.h"

#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace bms::bench {

// Starts a rack of `count` packs built from `base` at line speed `baud` in a
// child process that lives until it is signalled; the pack at the rack's
// alarm address raises its alarm. Gives the child's pid (-1 on failure) and
// the line's slave path in `path`.
inline pid_t StartRackInChild(int count, sim::PackConfig base, uint32_t baud, std::string& path)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        base.publish = false;
        base.baud = baud;
        sim::VirtualBus rack(sim::RackConfigs(count, base), base);
        sim::ApplyRackTraits(rack, count);
        const std::string line = rack.start() + "\n";
        if (write(fds[1], line.data(), line.size()) < 0)
            _exit(1);
        close(fds[1]);
        pause(); // until the parent ends it
        _exit(0);
    }
    close(fds[1]);
    char buffer[512];
    ssize_t n;
    while (path.find('\n') == std::string::npos && (n = read(fds[0], buffer, sizeof buffer)) > 0)
        path.append(buffer, size_t(n));
    close(fds[0]);
    path = path.substr(0, path.find('\n'));
    return path.empty() ? -1 : pid;
}

} // namespace bms::bench
