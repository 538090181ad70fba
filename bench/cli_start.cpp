// Start-up of the command line: from the moment quorlex-bms-cli is started
// (`read` on a pseudo-terminal) to the first byte of its first request
// arriving on the terminal's other side. Prints the median and the spread,
// beside the time `quorlex-bms-cli --help` takes to start and end (loading
// the program and Qt Core, no port), the floor under the first figure.
//
// Usage: bench_cli_start [runs, default 30]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds to the first request byte, or a negative value.
double OneRun()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0)
        return -1;
    char program[] = BMS_CLI;
    char port[] = "--port";
    char timeout[] = "--timeout";
    char ms[] = "100";
    char json[] = "--json";
    char read[] = "read";
    char* argv[] = {program, port, name, timeout, ms, json, read, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    double result = -1;
    if (rc == 0) {
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, 5000) == 1 && (fd.revents & POLLIN))
            result = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(master);
    return result;
}

// Milliseconds from the start of `--help` to its end.
double HelpRun()
{
    char program[] = BMS_CLI;
    char help[] = "--help";
    char* argv[] = {program, help, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Print(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s runs: %zu  min: %.1f ms  median: %.1f ms  p90: %.1f ms  max: %.1f ms\n", what, ms.size(),
                ms.front(), ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    OneRun(); // the program's pages into the cache
    std::vector<double> ms, help;
    for (int i = 0; i < runs; ++i) {
        if (const double t = OneRun(); t >= 0)
            ms.push_back(t);
        if (const double t = HelpRun(); t >= 0)
            help.push_back(t);
    }
    if (ms.empty() || help.empty()) {
        std::printf("no request arrived\n");
        return 1;
    }
    Print("read: start to the first request byte", ms);
    Print("--help: start to exit", help);
    return 0;
}
