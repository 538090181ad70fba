// A simulated BMS on a pseudo-terminal: the tool's demo peer and the peer
// of the end-to-end tests. It answers the tool's Modbus requests from its
// own register space (live telemetry, information block, everything written),
// plays the main control board's boot loader and the dev-firmware transfer,
// keeps every image record it receives, and can misbehave on request.
//
//   bms::sim::VirtualPack pack(config);
//   std::string port = pack.start();   // slave path, e.g. /dev/pts/7
//   ... open `port` in the tool ...
//   pack.setSilent(1);                 // faults may be set while it runs
//   pack.stop();                       // also done by the destructor
//
// start() and stop() belong to the thread that owns the pack; every other
// member is thread-safe and may be called while the pack runs. The pack keeps
// its own state and never touches the tool's protocol globals.
#pragma once

#include "BootLoader.h"
#include "FirmwareImages.h"
#include "PackConfig.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bms::sim {

struct PackUnit;

class VirtualPack {
public:
    explicit VirtualPack(PackConfig config = {});
    ~VirtualPack();
    VirtualPack(const VirtualPack&) = delete;
    VirtualPack& operator=(const VirtualPack&) = delete;

    // Opens the pseudo-terminal, publishes it (config.publish) and starts
    // answering. Returns the slave path. Throws std::runtime_error when no
    // pseudo-terminal can be had. Calling it on a running pack returns the path.
    std::string start();
    // Stops answering, removes the published link and closes the terminal.
    void stop();
    bool running() const;
    std::string slavePath() const;
    std::string linkPath() const;   // empty when not published
    const PackConfig& config() const { return config_; }

    // ---- Faults. Counts: -1 every answer, 0 off, n the next n answers.
    void setSilent(int answers = -1);        // no answer at all
    void setCorruptCrc(int answers = -1);    // answers carry a wrong CRC
    void setNoise(std::vector<uint8_t> bytes);         // sent before every answer; empty: off
    void setSplit(int pieces, int gapMs = 5);          // answers in pieces with gaps; 1: off
    void setAnswerDelay(int ms);                       // slow answers
    // Writes covering the register get exception 0x90 code 2; reads 0x84 code 2.
    void refuseRegister(uint16_t reg, bool refuse = true);
    // Upgrade faults, records counted from 1 in each run: the record N is
    // refused (main board: status 0x35; dev firmware: exception 0x90);
    // 0 turns it off.
    void setWriteErrorAtRecord(int n);
    // After record N the pack answers nothing more in this run (main board
    // and dev firmware); -1 turns it off.
    void setSilenceAfterRecord(int n);
    // The answer to record N of a run is lost on the line (the pack has
    // taken the record); acts once, 0 turns it off.
    void setLoseAnswerAtRecord(int n);
    // The answer to record N of a run goes out with a wrong CRC; acts once.
    void setCorruptAnswerAtRecord(int n);
    // After the next completed main-board upgrade the pack answers nothing
    // (a board that did not come back); false makes it answer again.
    void setSilentAfterUpgrade(bool on = true);
    // Faults of the battery, for the checks of an end-of-line test: cell
    // `cell` (from 1) reads `mv` off until a voltage calibration of it; a
    // temperature sensor (from 1; cell or MOS sensors) reads `celsius`
    // (nothing: the battery's value again); bits forced on in the alarm,
    // protection or fault word `reg` (0x0080..0x0083); the current reads
    // `percent` off until a current calibration.
    void setCellFault(int cell, int mv);
    void setTemperature(bool mos, int sensor, std::optional<double> celsius);
    void setForcedBits(uint16_t reg, uint16_t bits);
    uint16_t forcedBits(uint16_t reg) const;
    void setCurrentError(double percent);
    // A charger (positive mA) or load (negative) on the fixture holds the
    // current and stops the charge cycle; nothing: the cycle goes on.
    void holdCurrent(std::optional<int32_t> ma);
    // Clears the line faults above and the battery faults (not a held
    // current, nor what calibrations did).
    void clearFaults();

    // ---- State.
    uint16_t reg(uint16_t address) const;
    std::vector<uint16_t> registers(uint16_t start, uint16_t count) const;
    // Pins a register to a value until unpinRegister (live values included).
    void setRegister(uint16_t address, uint16_t value);
    void unpinRegister(uint16_t address);
    std::string barcode() const;                 // 12 characters of 0x9D05..
    std::string serialNumber() const;            // 20 characters of 0x9D0F..
    std::string manufacturer() const;            // 8 characters of 0x9D0B..
    uint32_t ratedCapacity() const;              // 0x9D03..0x9D04 (function 0x14 too)
    uint32_t uploadInterval() const;             // function 0x52
    std::array<uint8_t, 8> clock() const;        // running clock, wire order
    std::map<std::pair<uint8_t, uint8_t>, uint64_t> parameters() const; // 0x9CFA by (type, index)

    // Requests received with a good check, by function code; boot commands
    // and image records count under 0x3A.
    uint64_t requestCount(uint8_t function) const;
    // The last requests received (at most 512), oldest first.
    std::vector<std::vector<uint8_t>> requests() const;
    uint64_t answersSent() const;
    // Bytes thrown away while looking for the start of a request.
    uint64_t droppedBytes() const;

    BootLoader::State bootState() const;
    std::vector<std::vector<uint8_t>> records(Target target) const;
    std::vector<uint32_t> devRecordIndices() const;
    std::vector<uint8_t> devFirmwareInfo() const;   // payload of the last 0x9E00 write
    uint32_t devRecordCount() const;                // value of the last 0x9E05 write
    uint64_t devEraseCount() const;                 // 0x9E80 writes acknowledged
    std::string imageHex(Target target, const std::string& eol = "\n") const;
    bool writeImageHex(Target target, const std::string& path, const std::string& eol = "\n") const;

    // What a line serves: the pack's answering state. VirtualBus puts the
    // units of several packs on one line; such a pack is not started itself.
    PackUnit& unit();

private:
    struct Impl;
    PackConfig config_;
    std::unique_ptr<Impl> d_;
};

} // namespace bms::sim
