// What the pack answers to each request: reads from the register space,
// acknowledged and stored writes, the pack's own functions, the boot loader
// and the dev-firmware transfer. Produces correct frames only; the line
// faults are applied by the virtual pack when it sends them. Not
// thread-safe: the virtual pack guards it.
#pragma once

#include "BootLoader.h"
#include "FirmwareImages.h"
#include "PackConfig.h"
#include "PackState.h"
#include "RequestAssembler.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace bms::sim {

struct Answer {
    std::vector<uint8_t> bytes;
    double notBefore = 0;  // pack time (seconds) before which it must not go out
};

class Responder {
public:
    Responder(const PackConfig& config, double now);

    std::vector<Answer> handle(const Request& request, double now);
    // Boot-loader status frames whose time has come.
    std::vector<Answer> poll(double now);
    std::optional<double> nextDeadline() const { return boot.nextDeadline(); }
    bool acceptsRecords() const { return boot.acceptsRecords(); }

    // Upgrade faults (records counted from 1 in each run).
    std::set<uint16_t> refused;
    int writeErrorAt = 0;
    int silenceAfter = -1;
    // The answer to record N of a run is lost on the line (the record
    // itself is taken), or goes out with a wrong CRC; each fault acts once
    // and turns itself off (0).
    int loseAnswerAt = 0;
    int corruptAnswerAt = 0;
    // After a completed main-board upgrade the pack answers nothing more
    // (a board that did not come back), until the fault is cleared.
    bool silentAfterUpgrade = false;
    bool gone = false;

    PackState state;
    BootLoader boot;
    FirmwareImages images;
    std::map<uint8_t, uint64_t> counts;
    std::deque<std::vector<uint8_t>> log;
    std::vector<uint8_t> devInfo;
    uint32_t devCount = 0;
    uint64_t devErases = 0;

private:
    std::vector<Answer> modbus(const std::vector<uint8_t>& f, double now);
    std::vector<Answer> read(const std::vector<uint8_t>& f, double now);
    std::vector<Answer> write(const std::vector<uint8_t>& f, double now);
    std::vector<Answer> ownFunction(const std::vector<uint8_t>& f);
    std::vector<Answer> devFirmware(uint16_t start, uint16_t count, const uint8_t* data, uint8_t bytes,
                                    const std::vector<uint8_t>& ack, double now);
    std::vector<Answer> record(const std::vector<uint8_t>& r, double now);
    std::vector<Answer> status(const BootLoader::Codes& codes) const;
    // The answers to record `number` after the lost- and corrupt-answer faults.
    std::vector<Answer> answerToRecord(int number, std::vector<Answer> answers);
    std::vector<uint8_t> frame(std::vector<uint8_t> body) const;
    std::vector<Answer> exception(uint8_t function, uint8_t code) const;
    bool refusedIn(uint16_t start, uint16_t count) const;

    PackConfig config_;
    int devRecords_ = 0;     // records of the current dev-firmware run
    bool runSilenced_ = false;
};

} // namespace bms::sim
