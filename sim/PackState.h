// The pack's register space: live telemetry, the information block with its
// running clock, and every register written. Writes that mean something to
// the battery (calibrations, remaining capacity, protocol type) act on the
// telemetry; everything written reads back as written. Not thread-safe: the
// virtual pack guards it.
#pragma once

#include "PackConfig.h"
#include "Telemetry.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bms::sim {

class PackState {
public:
    // `now` is a monotonic time in seconds; the clock and the battery run on it.
    PackState(const PackConfig& config, double now);

    // Register values, 0 for registers nobody defined.
    std::vector<uint16_t> read(uint16_t start, uint16_t count, double now);
    uint16_t reg(uint16_t address, double now);

    // Stores `count` registers from big-endian data (2 bytes each) with
    // their effect on the pack.
    void write(uint16_t start, uint16_t count, const uint8_t* data, double now);

    // The pack's own functions.
    void setRatedCapacity(uint32_t mah);
    void setSerialNumber(const uint8_t* text20);
    void setUploadInterval(uint32_t seconds) { uploadInterval_ = seconds; }

    // Pins a register to a value (overrides live telemetry); unpinRegister releases it.
    void pinRegister(uint16_t address, uint16_t value) { pinned_[address] = value; }
    void unpinRegister(uint16_t address) { pinned_.erase(address); }

    std::string text(uint16_t start, int bytes, double now);
    uint32_t ratedCapacity() const;
    uint32_t uploadInterval() const { return uploadInterval_; }
    std::array<uint8_t, 8> clock(double now) const;
    // Last value written for each (parameter type, index) pair through 0x9CFA.
    const std::map<std::pair<uint8_t, uint8_t>, uint64_t>& parameters() const { return parameters_; }

    Telemetry& telemetry() { return telemetry_; }
    void advanceTo(double now);

private:
    void putText(uint16_t start, const std::string& text, size_t bytes, bool padLeft);
    void storeParameter(uint16_t count, const uint8_t* data);
    void setClock(const uint8_t* bytes8, double now);

    PackConfig config_;
    Telemetry telemetry_;
    double lastAdvance_;
    std::map<uint16_t, uint16_t> stored_;
    std::map<uint16_t, uint16_t> pinned_;
    std::map<std::pair<uint8_t, uint8_t>, uint64_t> parameters_;
    uint32_t uploadInterval_ = 300;
    std::array<uint8_t, 8> clockBytes_{};
    double clockSetAt_ = 0;
};

} // namespace bms::sim
