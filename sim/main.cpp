// virtual-pack: a simulated battery pack on a pseudo-terminal for trying the
// tool without hardware. Prints the terminal path, publishes it for the
// tool's port list, and answers until SIGINT or SIGTERM.
#include "Options.h"
#include "VirtualBus.h"
#include "VirtualPack.h"

#include <csignal>
#include <functional>
#include <memory>
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

    // One pack, or a rack of them on one line.
    std::unique_ptr<VirtualPack> single;
    std::unique_ptr<VirtualBus> bus;
    std::function<std::string(const std::string&)> command;
    if (options.bus > 0) {
        bus = std::make_unique<VirtualBus>(RackConfigs(options.bus, options.config, options.collide), options.config);
        command = [&bus](const std::string& line) { return RunBusCommand(line, *bus); };
    } else {
        single = std::make_unique<VirtualPack>(options.config);
        command = [&single](const std::string& line) { return RunCommand(line, *single); };
    }
    try {
        if (bus)
            bus->start();
        else
            single->start();
    } catch (const std::exception& e) {
        std::cerr << "virtual-pack: " << e.what() << "\n";
        return 1;
    }
    for (size_t i = 0; bus && i < bus->size(); ++i)
        ApplyFaults(options.faults, bus->pack(i));
    if (bus)
        ApplyRackTraits(*bus, options.bus);
    else
        ApplyFaults(options.faults, *single);
    const std::string slave = bus ? bus->slavePath() : single->slavePath();
    const std::string link = bus ? bus->linkPath() : single->linkPath();
    std::cout << slave << std::endl;
    if (bus)
        std::cerr << "virtual-pack: a rack of " << options.bus << " packs at addresses 1.." << options.bus
                  << (options.collide ? ", two at " + std::to_string(options.collide) : std::string()) << ", "
                  << options.config.cellCount << " cells each, on " << slave;
    else
        std::cerr << "virtual-pack: address 0x" << std::hex << int(options.config.address) << std::dec << ", "
                  << options.config.cellCount << " cells, " << options.config.productType << ", on " << slave;
    if (!link.empty())
        std::cerr << ", published as " << link;
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
                std::cout << command(line) << std::flush;
            }
            if (quit)
                break;
        }
    }

    if (bus)
        bus->stop();
    VirtualPack& pack = bus ? bus->pack(0) : *single;
    pack.stop();
    if (!options.dumpMain.empty() && !pack.writeImageHex(Target::MainBoard, options.dumpMain))
        std::cerr << "virtual-pack: cannot write " << options.dumpMain << "\n";
    if (!options.dumpDev.empty() && !pack.writeImageHex(Target::DevFirmware, options.dumpDev))
        std::cerr << "virtual-pack: cannot write " << options.dumpDev << "\n";
    std::cerr << "virtual-pack: stopped\n";
    close(signalFd);
    return 0;
}
