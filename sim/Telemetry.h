// The simulated battery behind the telemetry registers: a pack of LFP-like
// cells that charges at 0.5 C until a cell reaches its over-voltage limit,
// rests, discharges at 0.7 C until a cell reaches its under-voltage limit,
// rests and starts again. Voltages, current, capacities, SOC, temperatures,
// alarm and protection words and the state word follow from that cycle.
#pragma once

#include "PackConfig.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace bms::sim {

class Telemetry {
public:
    explicit Telemetry(const PackConfig& config);

    // Advances the battery by `seconds` of simulated time.
    void advance(double seconds);

    // Value of a telemetry register (blocks 0x000A.., 0x0080.., 0x0100..,
    // 0x0200.., 0x0400.., 0x0480.., 0x0500.., 0x2000..), or nothing when the
    // register is not a telemetry register.
    std::optional<uint16_t> value(uint16_t reg) const;

    // Calibration and settings that act on the live values.
    void calibrateCurrent(int32_t readingMa);          // reading now equals the value
    void calibrateCell(int index, uint16_t readingMv); // cell `index` (0-based) reads the value now
    void setRemainingCapacity(uint32_t mah);
    void setProtocolType(uint8_t type) { protocolType_ = type; }
    // A main-board upgrade has completed: the new software version (or the
    // old one, with config.keepVersion) is reported from now on.
    void firmwareUpgraded();
    uint16_t softwareVersion() const { return softwareVersion_; }
    // Member of the parallel system described by the next block-0x2000 read.
    void nextParallelMember();

    // Faults of a pack on a test fixture, each undone by clearFaults().
    // Cell `index` (0-based) reads `mv` off; a voltage calibration of that
    // cell makes it read the value written again.
    void setCellFault(int index, int mv);
    // Cell sensor `index` (0-based) of the cell or MOS sensors reads
    // `celsius`; nothing: it follows the battery again.
    void setCellTemperature(int index, std::optional<double> celsius);
    void setMosTemperature(int index, std::optional<double> celsius);
    // Bits forced on in word `word` (0: alarm 0x0080, 1..3: protection and
    // fault words 0x0081..0x0083).
    void setForcedBits(int word, uint16_t bits);
    uint16_t forcedBits(int word) const;
    // The current reads `percent` too high (negative: too low) until a
    // current calibration.
    void setCurrentError(double percent) { currentErrorPercent_ = percent; }
    // A charger (positive) or load (negative) on the fixture holds the
    // current; the charge cycle stops. Nothing: the cycle goes on.
    void holdCurrent(std::optional<int32_t> ma);
    void clearFaults();

    enum class Phase { Charge, RestFull, Discharge, RestEmpty };
    Phase phase() const { return phase_; }
    double soc() const { return soc_; }
    int32_t currentMa() const;
    uint16_t cellMv(int index) const;
    uint16_t alarmWord() const { return alarm_; }
    uint16_t protectionWord() const { return protection_; }
    uint16_t stateWord() const;

private:
    void refresh();
    uint32_t fullChargeMah() const;
    int32_t rawCurrentMa() const;
    double cellTempC(int index) const;
    double mosTempC(int index) const;
    std::optional<uint16_t> block0(int offset) const;
    std::vector<uint8_t> parallelBlock() const;

    PackConfig config_;
    Phase phase_ = Phase::Discharge;
    double phaseSeconds_ = 0;
    double soc_ = 0.6;
    uint16_t cycles_ = 0;
    double cellHeat_ = 0;   // °C above ambient
    double mosHeat_ = 0;
    int32_t currentOffsetMa_ = 0;
    std::vector<int> cellOffsetMv_;
    uint8_t protocolType_ = 1;
    uint16_t softwareVersion_ = 0;
    int member_ = 0;
    std::vector<int> cellFaultMv_;
    std::vector<std::optional<double>> cellTempFault_;
    std::vector<std::optional<double>> mosTempFault_;
    uint16_t forcedBits_[4] = {0, 0, 0, 0};
    double currentErrorPercent_ = 0;
    std::optional<int32_t> heldCurrentMa_;

    // Derived by refresh().
    std::vector<uint16_t> cells_;
    uint16_t alarm_ = 0;
    uint16_t protection_ = 0;
};

} // namespace bms::sim
