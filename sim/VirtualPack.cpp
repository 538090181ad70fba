#include "VirtualPack.h"

#include "PackLine.h"
#include "PackUnit.h"

#include <atomic>
#include <fstream>
#include <unistd.h>

namespace bms::sim {

namespace {

std::string DefaultName()
{
    static std::atomic<int> sequence{0};
    return std::to_string(getpid()) + "-" + std::to_string(++sequence);
}

} // namespace

struct VirtualPack::Impl {
    explicit Impl(const PackConfig& config) : unit(config) {}

    PackUnit unit;
    std::unique_ptr<PackLine> line;
};

VirtualPack::VirtualPack(PackConfig config)
    : config_(std::move(config))
    , d_(std::make_unique<Impl>(config_))
{
    if (config_.name.empty())
        config_.name = DefaultName();
}

VirtualPack::~VirtualPack()
{
    stop();
}

std::string VirtualPack::start()
{
    if (!d_->line)
        d_->line = std::make_unique<PackLine>(std::vector<PackUnit*>{&d_->unit}, config_.baud);
    return d_->line->start(config_.publish ? config_.name : std::string());
}

void VirtualPack::stop()
{
    if (d_->line)
        d_->line->stop();
}

bool VirtualPack::running() const { return d_->line && d_->line->running(); }
std::string VirtualPack::slavePath() const { return d_->line ? d_->line->slavePath() : std::string(); }
std::string VirtualPack::linkPath() const { return d_->line ? d_->line->linkPath() : std::string(); }

PackUnit& VirtualPack::unit() { return d_->unit; }

// ---- Faults

void VirtualPack::setSilent(int answers) { const auto lock = d_->unit.lock(); d_->unit.silent = answers; }
void VirtualPack::setCorruptCrc(int answers) { const auto lock = d_->unit.lock(); d_->unit.corruptCrc = answers; }
void VirtualPack::setNoise(std::vector<uint8_t> bytes) { const auto lock = d_->unit.lock(); d_->unit.noise = std::move(bytes); }
void VirtualPack::setSplit(int pieces, int gapMs) { const auto lock = d_->unit.lock(); d_->unit.pieces = pieces < 1 ? 1 : pieces; d_->unit.gapMs = gapMs; }
void VirtualPack::setAnswerDelay(int ms) { const auto lock = d_->unit.lock(); d_->unit.delayMs = ms < 0 ? 0 : ms; }
void VirtualPack::setWriteErrorAtRecord(int n) { const auto lock = d_->unit.lock(); d_->unit.responder.writeErrorAt = n; }
void VirtualPack::setSilenceAfterRecord(int n) { const auto lock = d_->unit.lock(); d_->unit.responder.silenceAfter = n; }
void VirtualPack::setLoseAnswerAtRecord(int n) { const auto lock = d_->unit.lock(); d_->unit.responder.loseAnswerAt = n; }
void VirtualPack::setCorruptAnswerAtRecord(int n) { const auto lock = d_->unit.lock(); d_->unit.responder.corruptAnswerAt = n; }

void VirtualPack::setSilentAfterUpgrade(bool on)
{
    const auto lock = d_->unit.lock();
    d_->unit.responder.silentAfterUpgrade = on;
    d_->unit.responder.gone = d_->unit.responder.gone && on;
}

void VirtualPack::refuseRegister(uint16_t reg, bool refuse)
{
    const auto lock = d_->unit.lock();
    if (refuse)
        d_->unit.responder.refused.insert(reg);
    else
        d_->unit.responder.refused.erase(reg);
}

void VirtualPack::setCellFault(int cell, int mv) { const auto lock = d_->unit.lock(); d_->unit.responder.state.telemetry().setCellFault(cell - 1, mv); }
void VirtualPack::setCurrentError(double percent) { const auto lock = d_->unit.lock(); d_->unit.responder.state.telemetry().setCurrentError(percent); }
void VirtualPack::holdCurrent(std::optional<int32_t> ma) { const auto lock = d_->unit.lock(); d_->unit.responder.state.telemetry().holdCurrent(ma); }

void VirtualPack::setTemperature(bool mos, int sensor, std::optional<double> celsius)
{
    const auto lock = d_->unit.lock();
    Telemetry& t = d_->unit.responder.state.telemetry();
    if (mos)
        t.setMosTemperature(sensor - 1, celsius);
    else
        t.setCellTemperature(sensor - 1, celsius);
}

void VirtualPack::setForcedBits(uint16_t reg, uint16_t bits)
{
    const auto lock = d_->unit.lock();
    d_->unit.responder.state.telemetry().setForcedBits(reg - 0x0080, bits);
}

uint16_t VirtualPack::forcedBits(uint16_t reg) const
{
    const auto lock = d_->unit.lock();
    return d_->unit.responder.state.telemetry().forcedBits(reg - 0x0080);
}

void VirtualPack::clearFaults()
{
    const auto lock = d_->unit.lock();
    d_->unit.responder.state.telemetry().clearFaults();
    d_->unit.silent = d_->unit.corruptCrc = d_->unit.delayMs = 0;
    d_->unit.noise.clear();
    d_->unit.pieces = 1;
    d_->unit.responder.refused.clear();
    d_->unit.responder.writeErrorAt = 0;
    d_->unit.responder.silenceAfter = -1;
    d_->unit.responder.loseAnswerAt = 0;
    d_->unit.responder.corruptAnswerAt = 0;
    d_->unit.responder.silentAfterUpgrade = false;
    d_->unit.responder.gone = false;
}

// ---- State

uint16_t VirtualPack::reg(uint16_t address) const
{
    const auto lock = d_->unit.lock();
    d_->unit.responder.state.advanceTo(d_->unit.now());
    return d_->unit.responder.state.reg(address, d_->unit.now());
}

std::vector<uint16_t> VirtualPack::registers(uint16_t start, uint16_t count) const
{
    const auto lock = d_->unit.lock();
    return d_->unit.responder.state.read(start, count, d_->unit.now());
}

void VirtualPack::setRegister(uint16_t address, uint16_t value) { const auto lock = d_->unit.lock(); d_->unit.responder.state.pinRegister(address, value); }
void VirtualPack::unpinRegister(uint16_t address) { const auto lock = d_->unit.lock(); d_->unit.responder.state.unpinRegister(address); }
std::string VirtualPack::barcode() const { const auto lock = d_->unit.lock(); return d_->unit.responder.state.text(0x9D05, 12, d_->unit.now()); }
std::string VirtualPack::manufacturer() const { const auto lock = d_->unit.lock(); return d_->unit.responder.state.text(0x9D0B, 8, d_->unit.now()); }
std::string VirtualPack::serialNumber() const { const auto lock = d_->unit.lock(); return d_->unit.responder.state.text(0x9D0F, 20, d_->unit.now()); }
uint32_t VirtualPack::ratedCapacity() const { const auto lock = d_->unit.lock(); return d_->unit.responder.state.ratedCapacity(); }
uint32_t VirtualPack::uploadInterval() const { const auto lock = d_->unit.lock(); return d_->unit.responder.state.uploadInterval(); }
std::array<uint8_t, 8> VirtualPack::clock() const { const auto lock = d_->unit.lock(); return d_->unit.responder.state.clock(d_->unit.now()); }

std::map<std::pair<uint8_t, uint8_t>, uint64_t> VirtualPack::parameters() const
{
    const auto lock = d_->unit.lock();
    return d_->unit.responder.state.parameters();
}

uint64_t VirtualPack::requestCount(uint8_t function) const
{
    const auto lock = d_->unit.lock();
    const auto it = d_->unit.responder.counts.find(function);
    return it == d_->unit.responder.counts.end() ? 0 : it->second;
}

std::vector<std::vector<uint8_t>> VirtualPack::requests() const
{
    const auto lock = d_->unit.lock();
    return {d_->unit.responder.log.begin(), d_->unit.responder.log.end()};
}

uint64_t VirtualPack::answersSent() const { const auto lock = d_->unit.lock(); return d_->unit.answers; }
uint64_t VirtualPack::droppedBytes() const { const auto lock = d_->unit.lock(); return d_->unit.dropped; }
BootLoader::State VirtualPack::bootState() const { const auto lock = d_->unit.lock(); return d_->unit.responder.boot.state(); }
std::vector<std::vector<uint8_t>> VirtualPack::records(Target target) const { const auto lock = d_->unit.lock(); return d_->unit.responder.images.records(target); }
std::vector<uint8_t> VirtualPack::devFirmwareInfo() const { const auto lock = d_->unit.lock(); return d_->unit.responder.devInfo; }
uint32_t VirtualPack::devRecordCount() const { const auto lock = d_->unit.lock(); return d_->unit.responder.devCount; }
uint64_t VirtualPack::devEraseCount() const { const auto lock = d_->unit.lock(); return d_->unit.responder.devErases; }

std::vector<uint32_t> VirtualPack::devRecordIndices() const
{
    const auto lock = d_->unit.lock();
    std::vector<uint32_t> out;
    for (const DevRecord& r : d_->unit.responder.images.dev())
        out.push_back(r.index);
    return out;
}

std::string VirtualPack::imageHex(Target target, const std::string& eol) const
{
    const auto lock = d_->unit.lock();
    return d_->unit.responder.images.hexText(target, eol);
}

bool VirtualPack::writeImageHex(Target target, const std::string& path, const std::string& eol) const
{
    const std::string text = imageHex(target, eol);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return static_cast<bool>(file.flush());
}

} // namespace bms::sim
