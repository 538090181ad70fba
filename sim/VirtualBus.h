// Several virtual packs on one RS-485 line, as in a rack: one
// pseudo-terminal, each pack answering at its own address with its own
// identity and battery. Two packs at one address answer at once and their
// answers collide on the line.
//
//   bms::sim::VirtualBus bus(bms::sim::RackConfigs(8, base, 0), base);
//   std::string port = bus.start();
//   bus.packs(3).front()->setSilent();   // the pack at address 3 falls silent
//
// Each member is a VirtualPack that is never started on its own: its faults,
// state and counters work as for a single pack.
#pragma once

#include "PackConfig.h"
#include "VirtualPack.h"

#include <memory>
#include <string>
#include <vector>

namespace bms::sim {

class PackLine;

// A rack of `count` packs (1..247) at addresses 1..count, each with its own
// serial number, barcode and state of charge, built from `base` (cells,
// speed, line timing). The pack at address min(3, count) starts nearly
// empty (8 %). With `collide` (1..count) a second pack answers at that
// address too; it comes last.
std::vector<PackConfig> RackConfigs(int count, const PackConfig& base, int collide = 0);

// The pack of the rack that raises an alarm: the one at address min(5, count).
int RackAlarmAddress(int count);

class VirtualBus {
public:
    // `line`: baud rate, published name and publish flag of the line.
    VirtualBus(const std::vector<PackConfig>& packs, const PackConfig& line);
    ~VirtualBus();
    VirtualBus(const VirtualBus&) = delete;
    VirtualBus& operator=(const VirtualBus&) = delete;

    // As VirtualPack::start and stop, for the whole line.
    std::string start();
    void stop();
    bool running() const;
    std::string slavePath() const;
    std::string linkPath() const;

    size_t size() const { return packs_.size(); }
    VirtualPack& pack(size_t index) { return *packs_[index]; }
    // The packs answering at `address` (two where they collide).
    std::vector<VirtualPack*> packs(uint8_t address);

private:
    PackConfig line_;
    std::vector<std::unique_ptr<VirtualPack>> packs_;
    std::unique_ptr<PackLine> wire_;
};

// The rack's traits: the alarm pack's high-temperature alarm (bit 6 of the
// alarm word 0x0080).
void ApplyRackTraits(VirtualBus& bus, int count);

} // namespace bms::sim
