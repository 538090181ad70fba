// The main control board's boot loader as the tool meets it: the reboot
// order (register 0x9D00 <- 0x0030, boot command 0x30, "address 0x30 CRC"),
// then status codes 0x31 rebooting, 0x32 erase please, 0x33 first write
// after the erase command, 0x34 after each record, 0x35 on a bad record,
// 0x36 after the end-of-file record and 0x38 when the check is done. Pure
// state machine: time is passed in, status codes come out; the virtual pack
// frames and sends them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace bms::sim {

class BootLoader {
public:
    struct Timing {
        int rebootMs = 400;  // 0x31 .. 0x32
        int eraseMs = 600;   // erase command .. 0x33
        int checkMs = 800;   // 0x36 .. 0x38
        int idleMs = 15000;  // no traffic in the boot loader: back to the application
    };
    enum class State {
        Application,   // normal firmware, answers Modbus
        Armed,         // 0x9D00 <- 0x0030 received
        BootCommand,   // then the boot command 0x30
        Rebooting,     // 0x31 sent, 0x32 due
        WaitErase,     // 0x32 sent
        Erasing,       // erase command received, 0x33 due
        Writing,       // records accepted
        Checking,      // 0x36 sent, 0x38 due
    };

    explicit BootLoader(Timing timing) : timing_(timing) {}

    using Codes = std::vector<uint8_t>;
    Codes onRebootOrder(double now);
    Codes onBootCommand(uint8_t command, double now);
    Codes onRebootFrame(double now);
    // `failWrite` makes the board refuse this record (status 0x35).
    Codes onRecord(const std::vector<uint8_t>& record, bool failWrite, double now);
    // Status codes whose time has come.
    Codes poll(double now);
    std::optional<double> nextDeadline() const;

    State state() const { return state_; }
    // In the boot loader the application does not answer Modbus requests.
    bool inBootLoader() const { return state_ >= State::Rebooting; }
    bool acceptsRecords() const { return state_ == State::Writing; }
    // Records received since the last erase command.
    int recordsInRun() const { return records_; }

private:
    void enter(State state, double now, std::optional<double> due = std::nullopt);

    Timing timing_;
    State state_ = State::Application;
    double lastActivity_ = 0;
    std::optional<double> due_;
    int records_ = 0;
};

} // namespace bms::sim
