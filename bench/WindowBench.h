// Shared by the window benchmarks: the process's CPU time, the event loop
// run for a while, and virtual packs in a child process, so that their CPU
// is not counted as the window's.
#pragma once

#include "VirtualPack.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace bms::bench {

// User and system CPU seconds of RUSAGE_SELF or RUSAGE_CHILDREN.
inline double CpuSeconds(int who = RUSAGE_SELF)
{
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Runs the event loop for `ms` milliseconds, idle between events.
inline void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Starts `count` packs with `config` in a child process that lives until it
// is signalled; `started` is called on each pack once it runs. Gives the
// child's pid (-1 on failure) and the packs' slave paths in `paths`.
inline pid_t StartPacksInChild(int count, const sim::PackConfig& config, std::vector<std::string>& paths,
                               const std::function<void(sim::VirtualPack&)>& started = {})
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::vector<std::unique_ptr<sim::VirtualPack>> packs;
        std::string lines;
        for (int i = 0; i < count; ++i) {
            packs.push_back(std::make_unique<sim::VirtualPack>(config));
            lines += packs.back()->start() + "\n";
            if (started)
                started(*packs.back());
        }
        if (write(fds[1], lines.data(), lines.size()) < 0)
            _exit(1);
        close(fds[1]);
        pause(); // until the parent ends it
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buffer[512];
    ssize_t n;
    while (std::count(text.begin(), text.end(), '\n') < count && (n = read(fds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    close(fds[0]);
    size_t from = 0;
    for (size_t eol; (eol = text.find('\n', from)) != std::string::npos; from = eol + 1)
        paths.push_back(text.substr(from, eol - from));
    return pid;
}

} // namespace bms::bench
