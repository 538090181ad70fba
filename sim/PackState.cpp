#include "PackState.h"

#include "Codec.h"

#include <algorithm>
#include <ctime>

namespace bms::sim {

namespace {

constexpr uint16_t RegCustomerCode = 0x9D01;
constexpr uint16_t RegRatedCapacity = 0x9D03;
constexpr uint16_t RegBarcode = 0x9D05;
constexpr uint16_t RegManufacturer = 0x9D0B;
constexpr uint16_t RegSerialNumber = 0x9D0F;
constexpr uint16_t RegClock = 0x9D19;
constexpr uint16_t RegProtocolType = 0x9D1E;
constexpr uint16_t RegUid = 0x9D1F;
constexpr uint16_t RegSleepTime = 0x9D25;
constexpr uint16_t RegZeroDrift = 0x9D27;
constexpr uint16_t RegParameter = 0x9CFA;
constexpr uint16_t RegCurrent = 0x0015;
constexpr uint16_t RegRemainCap = 0x0019;
constexpr uint16_t RegCells = 0x0500;

bool ClockValid(const std::array<uint8_t, 8>& c)
{
    return c[0] < 60 && c[1] < 60 && c[2] < 24 && c[4] >= 1 && c[4] <= 31 && c[5] >= 1 && c[5] <= 12;
}

std::array<uint8_t, 8> LocalClockNow()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return {static_cast<uint8_t>(local.tm_sec), static_cast<uint8_t>(local.tm_min),
            static_cast<uint8_t>(local.tm_hour), static_cast<uint8_t>(local.tm_wday),
            static_cast<uint8_t>(local.tm_mday), static_cast<uint8_t>(local.tm_mon + 1),
            static_cast<uint8_t>(local.tm_year % 100), static_cast<uint8_t>(static_cast<int8_t>(local.tm_gmtoff / 3600))};
}

} // namespace

PackState::PackState(const PackConfig& config, double now)
    : config_(config)
    , telemetry_(config)
    , lastAdvance_(now)
{
    stored_[RegCustomerCode] = 0x0000;
    stored_[RegCustomerCode + 1] = 0x0001;
    setRatedCapacity(config.capacityMah);
    putText(RegBarcode, config.barcode, 12, false);
    putText(RegManufacturer, config.manufacturer, 8, false);
    putText(RegSerialNumber, config.serialNumber, 20, true);
    stored_[RegProtocolType] = 0x0001;
    // A UID of 12 bytes drawn from the identity, stable for a given pack.
    std::vector<uint8_t> seed(config.serialNumber.begin(), config.serialNumber.end());
    seed.insert(seed.end(), config.barcode.begin(), config.barcode.end());
    for (uint16_t i = 0; i < 6; ++i) {
        seed.push_back(static_cast<uint8_t>(i));
        stored_[static_cast<uint16_t>(RegUid + i)] = Crc16(seed, static_cast<int>(seed.size()));
    }
    stored_[RegSleepTime] = 1;
    stored_[RegSleepTime + 1] = 3600;
    stored_[RegZeroDrift] = 10;
    clockBytes_ = LocalClockNow();
    clockSetAt_ = now;
}

void PackState::putText(uint16_t start, const std::string& text, size_t bytes, bool padLeft)
{
    std::string t = text.substr(0, bytes);
    if (padLeft)
        t.insert(0, bytes - t.size(), ' ');
    else
        t.append(bytes - t.size(), '\0');
    for (size_t i = 0; i < bytes; i += 2)
        stored_[static_cast<uint16_t>(start + i / 2)] =
            static_cast<uint16_t>(static_cast<uint8_t>(t[i]) << 8 | static_cast<uint8_t>(t[i + 1]));
}

void PackState::setRatedCapacity(uint32_t mah)
{
    stored_[RegRatedCapacity] = static_cast<uint16_t>(mah >> 16);
    stored_[RegRatedCapacity + 1] = static_cast<uint16_t>(mah);
}

uint32_t PackState::ratedCapacity() const
{
    return static_cast<uint32_t>(stored_.at(RegRatedCapacity)) << 16 | stored_.at(RegRatedCapacity + 1);
}

void PackState::setSerialNumber(const uint8_t* text20)
{
    for (uint16_t i = 0; i < 10; ++i)
        stored_[static_cast<uint16_t>(RegSerialNumber + i)] = ReadU16BE(text20, static_cast<uint16_t>(2 * i));
}

void PackState::advanceTo(double now)
{
    if (now <= lastAdvance_)
        return;
    if (config_.live)
        telemetry_.advance((now - lastAdvance_) * config_.timeScale);
    lastAdvance_ = now;
}

std::array<uint8_t, 8> PackState::clock(double now) const
{
    if (!ClockValid(clockBytes_))
        return clockBytes_; // a clock set to nonsense stands still
    std::tm tm{};
    tm.tm_sec = clockBytes_[0];
    tm.tm_min = clockBytes_[1];
    tm.tm_hour = clockBytes_[2];
    tm.tm_mday = clockBytes_[4];
    tm.tm_mon = clockBytes_[5] - 1;
    tm.tm_year = clockBytes_[6] + 100;
    const std::time_t t = timegm(&tm) + static_cast<std::time_t>(std::max(0.0, now - clockSetAt_));
    std::tm out{};
    gmtime_r(&t, &out);
    return {static_cast<uint8_t>(out.tm_sec), static_cast<uint8_t>(out.tm_min), static_cast<uint8_t>(out.tm_hour),
            static_cast<uint8_t>(out.tm_wday), static_cast<uint8_t>(out.tm_mday), static_cast<uint8_t>(out.tm_mon + 1),
            static_cast<uint8_t>(out.tm_year % 100), clockBytes_[7]};
}

void PackState::setClock(const uint8_t* bytes8, double now)
{
    std::copy(bytes8, bytes8 + 8, clockBytes_.begin());
    clockSetAt_ = now;
}

uint16_t PackState::reg(uint16_t address, double now)
{
    if (auto pin = pinned_.find(address); pin != pinned_.end())
        return pin->second;
    if (auto live = telemetry_.value(address))
        return *live;
    if (address >= RegClock && address < RegClock + 4) {
        const auto c = clock(now);
        const size_t at = static_cast<size_t>(address - RegClock) * 2;
        return static_cast<uint16_t>(c[at] << 8 | c[at + 1]);
    }
    if (auto s = stored_.find(address); s != stored_.end())
        return s->second;
    return 0;
}

std::vector<uint16_t> PackState::read(uint16_t start, uint16_t count, double now)
{
    advanceTo(now);
    std::vector<uint16_t> values;
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        values.push_back(reg(static_cast<uint16_t>(start + i), now));
    return values;
}

std::string PackState::text(uint16_t start, int bytes, double now)
{
    std::string out;
    for (int i = 0; i < bytes; i += 2) {
        const uint16_t v = reg(static_cast<uint16_t>(start + i / 2), now);
        out.push_back(static_cast<char>(v >> 8));
        if (i + 1 < bytes)
            out.push_back(static_cast<char>(v & 0xFF));
    }
    return out;
}

void PackState::storeParameter(uint16_t count, const uint8_t* data)
{
    // Data: parameter type, index, then the value in the remaining bytes.
    uint64_t value = 0;
    for (size_t i = 2; i < static_cast<size_t>(count) * 2; ++i)
        value = value << 8 | data[i];
    parameters_[{data[0], data[1]}] = value;
}

void PackState::write(uint16_t start, uint16_t count, const uint8_t* data, double now)
{
    advanceTo(now);
    if (start == RegParameter && count >= 1)
        storeParameter(count, data);

    const uint32_t end = static_cast<uint32_t>(start) + count;
    const bool touchesClock = start < RegClock + 4 && end > RegClock;
    std::array<uint8_t, 8> clockBytes = clock(now);

    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t address = static_cast<uint16_t>(start + i);
        const uint16_t value = ReadU16BE(data, static_cast<uint16_t>(2 * i));
        if (address == RegCurrent && i + 1 < count) {
            telemetry_.calibrateCurrent(static_cast<int32_t>(ReadU32BE(data, static_cast<uint16_t>(2 * i))));
            pinned_.erase(RegCurrent);
            pinned_.erase(RegCurrent + 1);
            ++i;
        } else if (address == RegRemainCap && i + 1 < count) {
            telemetry_.setRemainingCapacity(ReadU32BE(data, static_cast<uint16_t>(2 * i)));
            pinned_.erase(RegRemainCap);
            pinned_.erase(RegRemainCap + 1);
            ++i;
        } else if (address >= RegCells && address < RegCells + std::max(config_.cellCount, 0)) {
            telemetry_.calibrateCell(address - RegCells, value);
            pinned_.erase(address);
        } else if (address >= RegClock && address < RegClock + 4) {
            const size_t at = static_cast<size_t>(address - RegClock) * 2;
            clockBytes[at] = static_cast<uint8_t>(value >> 8);
            clockBytes[at + 1] = static_cast<uint8_t>(value);
        } else if (telemetry_.value(address)) {
            pinned_[address] = value;
        } else {
            stored_[address] = value;
            if (address == RegProtocolType)
                telemetry_.setProtocolType(static_cast<uint8_t>(value));
        }
    }
    if (touchesClock)
        setClock(clockBytes.data(), now);
}

} // namespace bms::sim
