#include "VirtualBus.h"

#include "PackLine.h"

#include <algorithm>
#include <cstdio>

namespace bms::sim {

namespace {

std::string TwoDigits(int n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n % 100);
    return text;
}

} // namespace

std::vector<PackConfig> RackConfigs(int count, const PackConfig& base, int collide)
{
    std::vector<PackConfig> out;
    const int lowSoc = std::min(3, count);
    for (int a = 1; a <= count; ++a) {
        PackConfig c = base;
        c.address = static_cast<uint8_t>(a);
        c.serialNumber = "QX-RACK-" + std::to_string(1000 + a);
        c.barcode = "2026120810" + TwoDigits(a);
        // Packs of one rack sit within a few percent of each other.
        c.startSoc = a == lowSoc ? 0.08 : 0.62 + 0.01 * ((a * 7) % 9);
        c.startCycles = static_cast<uint16_t>(base.startCycles + (a * 5) % 11);
        c.publish = false;
        c.name.clear();
        out.push_back(c);
    }
    if (collide >= 1 && collide <= count) {
        PackConfig c = out[static_cast<size_t>(collide - 1)];
        c.serialNumber += "B";
        c.barcode = "2026120899" + TwoDigits(collide);
        c.startSoc = 0.40;
        out.push_back(c);
    }
    return out;
}

int RackAlarmAddress(int count)
{
    return std::min(5, count);
}

void ApplyRackTraits(VirtualBus& bus, int count)
{
    for (VirtualPack* p : bus.packs(static_cast<uint8_t>(RackAlarmAddress(count))))
        p->setForcedBits(0x0080, 1u << 6);
}

VirtualBus::VirtualBus(const std::vector<PackConfig>& packs, const PackConfig& line) : line_(line)
{
    std::vector<PackUnit*> units;
    for (PackConfig c : packs) {
        c.baud = line.baud;
        c.publish = false;
        packs_.push_back(std::make_unique<VirtualPack>(c));
        units.push_back(&packs_.back()->unit());
    }
    wire_ = std::make_unique<PackLine>(units, line.baud);
}

VirtualBus::~VirtualBus()
{
    stop();
}

std::string VirtualBus::start()
{
    return wire_->start(line_.publish ? line_.name : std::string());
}

void VirtualBus::stop() { wire_->stop(); }
bool VirtualBus::running() const { return wire_->running(); }
std::string VirtualBus::slavePath() const { return wire_->slavePath(); }
std::string VirtualBus::linkPath() const { return wire_->linkPath(); }

std::vector<VirtualPack*> VirtualBus::packs(uint8_t address)
{
    std::vector<VirtualPack*> out;
    for (const auto& p : packs_)
        if (p->config().address == address)
            out.push_back(p.get());
    return out;
}

} // namespace bms::sim
