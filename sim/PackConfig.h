// Settings of a virtual pack: who it is, what it reports and how its line
// behaves. Every field has a lifelike default; tests change what they need.
#pragma once

#include <cstdint>
#include <string>

namespace bms::sim {

struct PackConfig {
    // Modbus address the pack answers to.
    uint8_t address = 0x06;
    // Cells in series (register 0x0205). 0..16 is the usual range; larger
    // values are reported as they are, to exercise the tool's limits.
    int cellCount = 16;
    // Temperature sensors: cells (low byte of 0x0204) and MOS (high byte).
    int cellTempCount = 4;
    int mosTempCount = 2;
    // Design capacity in mAh.
    uint32_t capacityMah = 100000;
    // "BSI" fills the parallel-system block 0x2000 and makes the boot loader
    // answer with its own address; any other type answers the boot loader's
    // status frames from address 0x06, as those boards do.
    std::string productType = "Q-Serial";
    // Members of the parallel system shown in block 0x2000 ("BSI" only).
    int parallelCount = 2;

    // Line timing: each answer byte takes 10 bits at this rate, and an
    // answer starts no earlier than the request would have finished
    // arriving plus 3.5 characters. 0 answers at once.
    uint32_t baud = 0;

    // Battery behaviour. The pack runs through charge and discharge cycles;
    // `timeScale` speeds simulated time up against the wall clock.
    bool live = true;
    double timeScale = 24.0;
    double startSoc = 0.60;   // 0..1
    uint16_t startCycles = 12;

    // Firmware: the software version of register 0x000B (bits 15-12, 11-4
    // and 3-0 are shown as "1.5.3"). After a completed main-board upgrade
    // the pack reports `upgradedVersion`, or, when that is -1, the version
    // it ran with its last number plus one; `keepVersion` keeps the old one,
    // as a board whose new image did not start.
    uint16_t softwareVersion = 0x1053;
    int upgradedVersion = -1;
    bool keepVersion = false;

    // Identity.
    std::string barcode = "202612080001";          // 12 characters
    std::string manufacturer = "QUORLEX";          // up to 8 characters
    std::string serialNumber = "QX-VP-000001";     // up to 20 characters

    // Boot loader timing, in milliseconds of wall clock.
    int bootRebootMs = 400;   // status 0x31 .. 0x32
    int bootEraseMs = 600;    // erase order .. status 0x33
    int bootCheckMs = 800;    // status 0x36 .. 0x38
    int bootIdleMs = 15000;   // boot loader without traffic falls back to the application
    int devEraseMs = 50;      // 0x9E00 write .. its acknowledgement

    // Published name: the link "virtual-pack-<name>" in the runtime port
    // folder. Empty: a name made of the process id and a sequence number.
    std::string name;
    bool publish = true;
};

} // namespace bms::sim
