// The line of one or more virtual packs: a pseudo-terminal and the thread
// that reads the tool's requests from it, hands each to the packs it is
// addressed to and puts their answers on the line with the line's timing.
// Boot-loader frames and image records carry no address and go to every
// pack. Answers of two packs to one request collide (Collide).
#pragma once

#include "PackUnit.h"
#include "PseudoTerminal.h"
#include "RequestAssembler.h"

#include <string>
#include <thread>
#include <vector>

namespace bms::sim {

class PackLine {
public:
    // `units` outlive the line.
    PackLine(std::vector<PackUnit*> units, uint32_t baud);
    ~PackLine();
    PackLine(const PackLine&) = delete;
    PackLine& operator=(const PackLine&) = delete;

    // Opens the terminal, publishes it as virtual-pack-<publishName> unless
    // that is empty, and starts answering. Returns the slave path; throws
    // std::runtime_error when no terminal can be had.
    std::string start(const std::string& publishName);
    void stop();
    bool running() const { return thread_.joinable(); }
    std::string slavePath() const { return pty_.slavePath(); }
    std::string linkPath() const { return pty_.linkPath(); }

private:
    void run();
    // The answers of the packs a request is for, colliding when several answer.
    std::vector<Outgoing> answer(const Request& request);
    void send(std::vector<Outgoing> out, Clock::time_point earliest);

    std::vector<PackUnit*> units_;
    uint32_t baud_;
    RequestAssembler assembler_;
    PseudoTerminal pty_;
    int stopFd_ = -1;
    std::thread thread_;
};

} // namespace bms::sim
