// Image records received by the pack, for both upgrade targets, and their
// Intel-HEX text form so that a test can compare what arrived with the file
// that was sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bms::sim {

enum class Target { MainBoard, DevFirmware };

struct DevRecord {
    uint32_t index = 0;            // the 4-byte record index in front of the record
    std::vector<uint8_t> record;   // the record bytes after it
};

class FirmwareImages {
public:
    void clear(Target target);
    void addMainBoard(const std::vector<uint8_t>& record) { main_.push_back(record); }
    // A record whose index arrived before replaces that one: the index makes
    // a record sent again harmless.
    void addDev(uint32_t index, const uint8_t* record, size_t size);

    const std::vector<std::vector<uint8_t>>& mainBoard() const { return main_; }
    const std::vector<DevRecord>& dev() const { return dev_; }
    std::vector<std::vector<uint8_t>> records(Target target) const;

    // One line per record: the lead byte as a character (':' for Intel HEX)
    // and the other bytes as upper-case hexadecimal, each line ended by `eol`.
    std::string hexText(Target target, const std::string& eol = "\n") const;

private:
    std::vector<std::vector<uint8_t>> main_;
    std::vector<DevRecord> dev_;
};

} // namespace bms::sim
