#include "Telemetry.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace bms::sim {

namespace {

constexpr double AmbientC = 25.0;
constexpr double CellResistanceOhm100Ah = 0.0008; // scaled by capacity
constexpr uint16_t SohPercent = 98;
constexpr double RestSeconds = 240;
constexpr double ProtectionHoldSeconds = 120;

// Open-circuit voltage against state of charge; the ends run steep so that
// a cell leaves its window shortly past empty or full.
struct OcvPoint { double soc; double mv; };
constexpr std::array<OcvPoint, 10> Ocv{{
    {-0.03, 2500}, {0.00, 2860}, {0.05, 3050}, {0.10, 3180}, {0.30, 3260},
    {0.70, 3300}, {0.90, 3330}, {0.97, 3380}, {1.00, 3470}, {1.03, 3750},
}};

double OpenCircuitMv(double soc)
{
    if (soc <= Ocv.front().soc)
        return Ocv.front().mv;
    for (size_t i = 1; i < Ocv.size(); ++i) {
        if (soc <= Ocv[i].soc) {
            const double t = (soc - Ocv[i - 1].soc) / (Ocv[i].soc - Ocv[i - 1].soc);
            return Ocv[i - 1].mv + t * (Ocv[i].mv - Ocv[i - 1].mv);
        }
    }
    return Ocv.back().mv;
}

// Wire temperature: 0.1 K, 2731 = 0 °C.
uint16_t Kelvin10(double celsius)
{
    return static_cast<uint16_t>(std::lround(2731 + celsius * 10));
}

// Alarm word bits (0x0080) and protection word 1 bits (0x0081).
constexpr uint16_t CellLow = 1u << 0, CellOver = 1u << 1, PackLow = 1u << 2, PackOver = 1u << 3;

// Alarm and protection thresholds, mV per cell.
constexpr int CellOverAlarmMv = 3550, CellOverProtectMv = 3650;
constexpr int CellLowAlarmMv = 3000, CellLowProtectMv = 2800;

} // namespace

Telemetry::Telemetry(const PackConfig& config)
    : config_(config)
    , soc_(std::clamp(config.startSoc, 0.0, 1.0))
    , cycles_(config.startCycles)
    , cellOffsetMv_(static_cast<size_t>(std::max(config.cellCount, 0)), 0)
    , softwareVersion_(config.softwareVersion)
    , cellFaultMv_(cellOffsetMv_.size(), 0)
    , cellTempFault_(static_cast<size_t>(std::max(config.cellTempCount, 0)))
    , mosTempFault_(static_cast<size_t>(std::max(config.mosTempCount, 0)))
{
    refresh();
}

void Telemetry::firmwareUpgraded()
{
    if (config_.keepVersion)
        return;
    softwareVersion_ = config_.upgradedVersion >= 0 ? static_cast<uint16_t>(config_.upgradedVersion)
                                                    : static_cast<uint16_t>(softwareVersion_ + 1);
}

uint32_t Telemetry::fullChargeMah() const
{
    return static_cast<uint32_t>(static_cast<uint64_t>(config_.capacityMah) * SohPercent / 100);
}

int32_t Telemetry::rawCurrentMa() const
{
    if (heldCurrentMa_)
        return *heldCurrentMa_;
    const double c = config_.capacityMah; // 1 C in mA
    switch (phase_) {
    case Phase::Charge: return static_cast<int32_t>(std::lround(0.5 * c));
    case Phase::Discharge: return static_cast<int32_t>(std::lround(-0.7 * c));
    default: return 0;
    }
}

int32_t Telemetry::currentMa() const
{
    const double reading = rawCurrentMa() * (1.0 + currentErrorPercent_ / 100.0);
    return static_cast<int32_t>(std::llround(reading) + currentOffsetMa_);
}

uint16_t Telemetry::cellMv(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < cells_.size() ? cells_[static_cast<size_t>(index)] : 0;
}

uint16_t Telemetry::stateWord() const
{
    uint16_t word = 0;
    const bool chargeMos = !(protection_ & (CellOver | PackOver));
    const bool dischargeMos = !(protection_ & (CellLow | PackLow));
    if (chargeMos) word |= 1u << 0;
    if (dischargeMos) word |= 1u << 1;
    if (phase_ == Phase::Discharge) word |= 1u << 4;
    if (phase_ == Phase::Charge) word |= 1u << 5;
    return word;
}

void Telemetry::advance(double seconds)
{
    // Small steps keep the end-of-phase limits sharp whatever the speed.
    while (seconds > 0) {
        const double dt = std::min(seconds, 5.0);
        seconds -= dt;
        phaseSeconds_ += dt;
        const double amps = rawCurrentMa() / 1000.0;
        soc_ += amps * dt / 3600.0 / (fullChargeMah() / 1000.0);
        soc_ = std::clamp(soc_, -0.02, 1.02);
        const double load = std::fabs(amps) / (config_.capacityMah / 1000.0); // in C
        cellHeat_ += (8.0 * load - cellHeat_) * std::min(1.0, dt / 600.0);
        mosHeat_ += (20.0 * load - mosHeat_) * std::min(1.0, dt / 300.0);
        refresh();
        if (heldCurrentMa_)
            continue; // the fixture holds the current: no phase changes

        const uint16_t maxCell = cells_.empty() ? 0 : *std::max_element(cells_.begin(), cells_.end());
        const uint16_t minCell = cells_.empty() ? 0 : *std::min_element(cells_.begin(), cells_.end());
        switch (phase_) {
        case Phase::Charge:
            if (maxCell >= CellOverProtectMv || (cells_.empty() && soc_ >= 1.0)) {
                protection_ |= CellOver;
                phase_ = Phase::RestFull;
                phaseSeconds_ = 0;
            }
            break;
        case Phase::Discharge:
            if ((!cells_.empty() && minCell <= CellLowProtectMv) || soc_ <= -0.01) {
                protection_ |= CellLow;
                phase_ = Phase::RestEmpty;
                phaseSeconds_ = 0;
                ++cycles_;
            }
            break;
        case Phase::RestFull:
        case Phase::RestEmpty:
            if (phaseSeconds_ >= ProtectionHoldSeconds)
                protection_ &= static_cast<uint16_t>(~(CellOver | CellLow));
            if (phaseSeconds_ >= RestSeconds) {
                phase_ = phase_ == Phase::RestFull ? Phase::Discharge : Phase::Charge;
                phaseSeconds_ = 0;
            }
            break;
        }
        refresh();
    }
}

void Telemetry::refresh()
{
    const double amps = rawCurrentMa() / 1000.0;
    const double resistance = CellResistanceOhm100Ah * 100000.0 / std::max<uint32_t>(config_.capacityMah, 1000);
    const double ocv = OpenCircuitMv(soc_);
    const size_t count = cellOffsetMv_.size();
    cells_.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        // A fixed spread between cells that widens towards the ends of the curve.
        const double spread = static_cast<double>(static_cast<int>((i * 37 + 11) % 31) - 15);
        const double widen = 1.0 + 2.0 * std::fabs(soc_ - 0.5);
        const double mv = ocv + amps * resistance * 1000.0 + spread * widen + cellOffsetMv_[i] + cellFaultMv_[i];
        cells_[i] = static_cast<uint16_t>(std::clamp(std::lround(mv), 0L, 65535L));
    }

    uint16_t alarm = 0;
    if (!cells_.empty()) {
        const uint16_t maxCell = *std::max_element(cells_.begin(), cells_.end());
        const uint16_t minCell = *std::min_element(cells_.begin(), cells_.end());
        if (maxCell >= CellOverAlarmMv) alarm |= CellOver;
        if (minCell <= CellLowAlarmMv) alarm |= CellLow;
        long total = 0;
        for (uint16_t mv : cells_) total += mv;
        if (total >= static_cast<long>(count) * CellOverAlarmMv) alarm |= PackOver;
        if (total <= static_cast<long>(count) * CellLowAlarmMv) alarm |= PackLow;
    }
    alarm_ = alarm;
}

double Telemetry::cellTempC(int index) const
{
    if (index >= 0 && static_cast<size_t>(index) < cellTempFault_.size() && cellTempFault_[static_cast<size_t>(index)])
        return *cellTempFault_[static_cast<size_t>(index)];
    return AmbientC + cellHeat_ + 0.3 * index;
}

double Telemetry::mosTempC(int index) const
{
    if (index >= 0 && static_cast<size_t>(index) < mosTempFault_.size() && mosTempFault_[static_cast<size_t>(index)])
        return *mosTempFault_[static_cast<size_t>(index)];
    return AmbientC + 1.0 + mosHeat_ + 0.7 * index;
}

void Telemetry::calibrateCurrent(int32_t readingMa)
{
    // The calibration makes the reading right: no gain error, no offset.
    currentErrorPercent_ = 0;
    currentOffsetMa_ = static_cast<int32_t>(static_cast<int64_t>(readingMa) - rawCurrentMa());
}

void Telemetry::setCellFault(int index, int mv)
{
    if (index < 0 || static_cast<size_t>(index) >= cellFaultMv_.size())
        return;
    cellFaultMv_[static_cast<size_t>(index)] = mv;
    refresh();
}

void Telemetry::setCellTemperature(int index, std::optional<double> celsius)
{
    if (index >= 0 && static_cast<size_t>(index) < cellTempFault_.size())
        cellTempFault_[static_cast<size_t>(index)] = celsius;
}

void Telemetry::setMosTemperature(int index, std::optional<double> celsius)
{
    if (index >= 0 && static_cast<size_t>(index) < mosTempFault_.size())
        mosTempFault_[static_cast<size_t>(index)] = celsius;
}

void Telemetry::setForcedBits(int word, uint16_t bits)
{
    if (word >= 0 && word < 4)
        forcedBits_[word] = bits;
}

uint16_t Telemetry::forcedBits(int word) const
{
    return word >= 0 && word < 4 ? forcedBits_[word] : 0;
}

void Telemetry::holdCurrent(std::optional<int32_t> ma)
{
    heldCurrentMa_ = ma;
    if (ma) {
        phase_ = *ma > 0 ? Phase::Charge : *ma < 0 ? Phase::Discharge : Phase::RestFull;
        phaseSeconds_ = 0;
    }
    refresh();
}

void Telemetry::clearFaults()
{
    std::fill(cellFaultMv_.begin(), cellFaultMv_.end(), 0);
    std::fill(cellTempFault_.begin(), cellTempFault_.end(), std::nullopt);
    std::fill(mosTempFault_.begin(), mosTempFault_.end(), std::nullopt);
    std::fill(std::begin(forcedBits_), std::end(forcedBits_), uint16_t{0});
    currentErrorPercent_ = 0;
    refresh();
}

void Telemetry::calibrateCell(int index, uint16_t readingMv)
{
    if (index < 0 || static_cast<size_t>(index) >= cellOffsetMv_.size())
        return;
    const size_t i = static_cast<size_t>(index);
    cellOffsetMv_[i] += static_cast<int>(readingMv) - static_cast<int>(cells_[i]);
    refresh();
}

void Telemetry::setRemainingCapacity(uint32_t mah)
{
    soc_ = std::clamp(static_cast<double>(mah) / fullChargeMah(), 0.0, 1.0);
    refresh();
}

void Telemetry::nextParallelMember()
{
    member_ = config_.parallelCount > 0 ? (member_ + 1) % std::min(config_.parallelCount, 16) : 0;
}

std::optional<uint16_t> Telemetry::block0(int offset) const
{
    const int cells = std::max(config_.cellCount, 0);
    const uint32_t c = config_.capacityMah;
    const double socShown = std::clamp(soc_, 0.0, 1.0);
    const uint32_t remain = static_cast<uint32_t>(std::lround(socShown * fullChargeMah()));
    const uint32_t current = static_cast<uint32_t>(currentMa());
    long total = 0;
    int maxCell = 0, minCell = 0;
    for (size_t i = 0; i < cells_.size(); ++i) {
        total += cells_[i];
        if (cells_[i] > cells_[static_cast<size_t>(maxCell)]) maxCell = static_cast<int>(i);
        if (cells_[i] < cells_[static_cast<size_t>(minCell)]) minCell = static_cast<int>(i);
    }
    const int temps = std::max(config_.cellTempCount, 0);
    const int mosTemps = std::max(config_.mosTempCount, 0);
    switch (offset) {
    case 0x00: return static_cast<uint16_t>(0x0100 | protocolType_);
    case 0x01: return softwareVersion_;
    case 0x02: return uint16_t{0x2010};  // hardware 2.1.0
    case 0x03: return static_cast<uint16_t>(cells * 3650 / 100);
    case 0x04: return static_cast<uint16_t>(cells * 2500 / 100);
    case 0x05: return static_cast<uint16_t>(c / 2 / 100);
    case 0x06: return static_cast<uint16_t>(c / 100);
    case 0x07: return static_cast<uint16_t>(fullChargeMah() >> 16);
    case 0x08: return static_cast<uint16_t>(fullChargeMah());
    case 0x09: return static_cast<uint16_t>(c >> 16);
    case 0x0A: return static_cast<uint16_t>(c);
    case 0x0B: return static_cast<uint16_t>(current >> 16);
    case 0x0C: return static_cast<uint16_t>(current);
    case 0x0D: return static_cast<uint16_t>(total / 10);
    case 0x0E: return static_cast<uint16_t>(std::lround(socShown * 1000));
    case 0x0F: return static_cast<uint16_t>(remain >> 16);
    case 0x10: return static_cast<uint16_t>(remain);
    case 0x11: return cycles_;
    case 0x12: return Kelvin10(AmbientC);
    case 0x13: return cellMv(maxCell);
    case 0x14: return cellMv(minCell);
    case 0x15: return temps ? Kelvin10(cellTempC(temps - 1)) : uint16_t{0};
    case 0x16: return temps ? Kelvin10(cellTempC(0)) : uint16_t{0};
    case 0x17: return static_cast<uint16_t>(cells ? maxCell + 1 : 0);
    case 0x18: return static_cast<uint16_t>(cells ? minCell + 1 : 0);
    case 0x19: return static_cast<uint16_t>(temps);
    case 0x1A: return static_cast<uint16_t>(temps ? 1 : 0);
    case 0x1B: return mosTemps ? Kelvin10(mosTempC(mosTemps - 1)) : uint16_t{0};
    case 0x1C: return static_cast<uint16_t>(mosTemps);
    case 0x1D: return uint16_t{0};
    default: return std::nullopt;
    }
}

std::vector<uint8_t> Telemetry::parallelBlock() const
{
    std::vector<uint8_t> b(80, 0);
    const bool bsi = config_.productType == "BSI";
    if (!bsi)
        return b;
    const int members = std::clamp(config_.parallelCount, 0, 16);
    const uint16_t state = stateWord();
    long total = 0;
    for (uint16_t mv : cells_) total += mv;
    const uint16_t volt10 = static_cast<uint16_t>(total / 10);
    auto put16 = [&b](size_t at, uint16_t v) { b[at] = static_cast<uint8_t>(v >> 8); b[at + 1] = static_cast<uint8_t>(v); };

    b[0] = static_cast<uint8_t>(members);
    // Bytes 1..12: the member described this time.
    const int m = member_;
    b[1] = static_cast<uint8_t>(m);
    b[2] = static_cast<uint8_t>(m + 1);                       // member address
    put16(3, static_cast<uint16_t>(volt10 - m * 2));          // member voltage, 10 mV
    put16(5, static_cast<uint16_t>(currentMa() / 100 / std::max(members, 1))); // member current, 0.1 A
    b[7] = static_cast<uint8_t>(std::lround(std::clamp(soc_, 0.0, 1.0) * 100));
    b[8] = static_cast<uint8_t>(std::lround(cellTempC(0)) + 40);
    b[9] = static_cast<uint8_t>(state);
    for (int i = 0; i < members; ++i)
        b[14 + static_cast<size_t>(i)] = 0x01;               // online
    const uint16_t mask = static_cast<uint16_t>((1u << members) - 1);
    b[30] = 0x01;                                             // parallel system running
    put16(36, mask);                                          // online tag
    put16(38, mask);                                          // pre-parallel done
    put16(40, mask);                                          // voltage difference normal
    put16(42, mask);                                          // parallel done
    b[44] = static_cast<uint8_t>(members);
    b[45] = 1;
    b[46] = static_cast<uint8_t>(members);
    b[47] = 1;
    b[48] = static_cast<uint8_t>((state & 0x20) ? 0x02 : (state & 0x10) ? 0x01 : 0x00);
    b[49] = static_cast<uint8_t>(members);
    put16(56, static_cast<uint16_t>(volt10 + 50));            // dmos on max volt
    put16(58, state);
    put16(60, static_cast<uint16_t>(state & 0x01));
    put16(62, static_cast<uint16_t>((state >> 1) & 0x01));
    b[66] = static_cast<uint8_t>(m);
    return b;
}

std::optional<uint16_t> Telemetry::value(uint16_t reg) const
{
    if (reg >= 0x000A && reg < 0x000A + 30)
        return block0(reg - 0x000A);
    switch (reg) {
    case 0x0080: return static_cast<uint16_t>(alarm_ | forcedBits_[0]);
    case 0x0081: return static_cast<uint16_t>(protection_ | forcedBits_[1]);
    case 0x0082: return forcedBits_[2];
    case 0x0083: return forcedBits_[3];
    case 0x0100: return stateWord();
    case 0x0101: case 0x0102: case 0x0103: return uint16_t{0};
    case 0x0200: return uint16_t{0x0003};
    case 0x0201: return uint16_t{0x0001};
    case 0x0202: return uint16_t{0x0000};
    case 0x0203: return SohPercent;
    case 0x0204: return static_cast<uint16_t>((config_.mosTempCount & 0xFF) << 8 | (config_.cellTempCount & 0xFF));
    case 0x0205: return static_cast<uint16_t>(config_.cellCount);
    default: break;
    }
    if (reg >= 0x0400 && reg < 0x0400 + std::max(config_.cellTempCount, 0))
        return Kelvin10(cellTempC(reg - 0x0400));
    if (reg >= 0x0480 && reg < 0x0480 + std::max(config_.mosTempCount, 0))
        return Kelvin10(mosTempC(reg - 0x0480));
    if (reg >= 0x0500 && reg < 0x0500 + static_cast<int>(cells_.size()))
        return cells_[reg - 0x0500u];
    if (reg >= 0x2000 && reg < 0x2000 + 40) {
        const std::vector<uint8_t> b = parallelBlock();
        const size_t at = static_cast<size_t>(reg - 0x2000) * 2;
        return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
    }
    return std::nullopt;
}

} // namespace bms::sim
