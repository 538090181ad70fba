// virtual-pack: a simulated battery pack on a pseudo-terminal for trying the
// tool without hardware. Prints the terminal path, publishes it for the
// tool's port list, and answers until SIGINT or SIGTERM.
#include "Options.h"
#include "VirtualPack.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace bms::sim;

int main(int argc, char** argv)
{
    ProgramOptions options;
    if (auto error = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options)) {
        std::cerr << "virtual-pack: " << *error << "\n" << UsageText();
        return 2;
    }
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }

    // The signals are taken through a descriptor so that the pack's thread
    // never sees them and the program can stop cleanly.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a shell, reading the console fails
    // instead of stopping the program.
    std::signal(SIGTTIN, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    VirtualPack pack(options.config);
    try {
        pack.start();
    } catch (const std::exception& e) {
        std::cerr << "virtual-pack: " << e.what() << "\n";
        return 1;
    }
    ApplyFaults(options.faults, pack);
    std::cout << pack.slavePath() << std::endl;
    std::cerr << "virtual-pack: address 0x" << std::hex << int(options.config.address) << std::dec << ", "
              << options.config.cellCount << " cells, " << options.config.productType << ", on " << pack.slavePath();
    if (!pack.linkPath().empty())
        std::cerr << ", published as " << pack.linkPath();
    else if (options.config.publish)
        std::cerr << " (could not publish it in the runtime port folder)";
    std::cerr << "\nvirtual-pack: Ctrl-C stops; type help for commands\n";

    bool console = true;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {console ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[0].revents & POLLIN)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[512];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                console = false;  // no console: keep running until a signal
                continue;
            }
            pending.append(buffer, static_cast<size_t>(n));
            size_t eol;
            bool quit = false;
            while ((eol = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (line == "quit" || line == "exit") {
                    quit = true;
                    break;
                }
                std::cout << RunCommand(line, pack) << std::flush;
            }
            if (quit)
                break;
        }
    }

    pack.stop();
    if (!options.dumpMain.empty() && !pack.writeImageHex(Target::MainBoard, options.dumpMain))
        std::cerr << "virtual-pack: cannot write " << options.dumpMain << "\n";
    if (!options.dumpDev.empty() && !pack.writeImageHex(Target::DevFirmware, options.dumpDev))
        std::cerr << "virtual-pack: cannot write " << options.dumpDev << "\n";
    std::cerr << "virtual-pack: stopped\n";
    close(signalFd);
    return 0;
}
