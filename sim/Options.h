// Command line and console commands of the virtual-pack program.
#pragma once

#include "PackConfig.h"
#include "VirtualBus.h"
#include "VirtualPack.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bms::sim {

// Faults given on the command line; applied once the pack runs.
struct FaultOptions {
    int silent = 0;
    int corruptCrc = 0;
    std::vector<uint8_t> noise;
    int pieces = 1;
    int gapMs = 5;
    int delayMs = 0;
    std::vector<uint16_t> refused;
    int writeErrorAt = 0;
    int silenceAfter = -1;
    int loseAnswerAt = 0;
    int corruptAnswerAt = 0;
    bool silentAfterUpgrade = false;
    // Battery faults and the fixture (VirtualPack::setCellFault and the rest).
    std::vector<std::pair<int, int>> cellFaults;          // cell from 1, mV
    struct Temperature {
        bool mos;
        int sensor;  // from 1
        double celsius;
    };
    std::vector<Temperature> temperatures;
    std::vector<std::pair<uint16_t, int>> bits;           // word register, bit
    double currentError = 0;
    std::optional<int32_t> heldCurrent;
    // The spread of one pack among many (a line's packs): each cell's
    // offset, each temperature sensor and the current reading's error drawn
    // from normal distributions with these standard deviations, seeded by
    // `seed`; the offsets and errors named above come on top.
    unsigned seed = 1;
    double cellSpreadMv = 0, tempSpreadC = 0, currentSpreadPct = 0;
    int cells = 0, cellTemps = 0, mosTemps = 0;
};

struct ProgramOptions {
    PackConfig config;
    FaultOptions faults;
    std::string dumpMain;   // write the received main-board image here on exit
    std::string dumpDev;    // and the dev-firmware image here
    // A rack: this many packs at addresses 1..bus on one line (0: one pack),
    // and the address where a second pack answers too (0: none).
    int bus = 0;
    int collide = 0;
    bool help = false;
};

// Parses the arguments after the program name. Returns an error text, or
// nothing when all went well.
std::optional<std::string> ParseOptions(const std::vector<std::string>& args, ProgramOptions& out);
std::string UsageText();
void ApplyFaults(const FaultOptions& faults, VirtualPack& pack);

// Runs one console command ("silent 3", "clear", "status", ...) against the
// pack and returns the text to print.
std::string RunCommand(const std::string& line, VirtualPack& pack);

// A console command on a rack: "@3 silent" goes to the packs at address 3,
// a command without "@N" to every pack; the answers are led by "@N: ".
std::string RunBusCommand(const std::string& line, VirtualBus& bus);

} // namespace bms::sim
