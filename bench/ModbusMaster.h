// The yardstick of the command line's round trip: a plain libmodbus RTU
// master reading the same register block from a virtual pack of its own on
// its own pseudo-terminal, one blocking call per round trip on the calling
// thread. Timed in the same run as the tool, so the ratio of the two says
// what the tool's threads and handlers add on a machine whose load moves.
#pragma once

#include "RoundTrips.h"
#include "VirtualPack.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <modbus.h>
#include <vector>

namespace bms::bench {

class ModbusMaster {
public:
    ModbusMaster(const bms::sim::PackConfig& config, int baud, uint16_t reg, uint16_t count)
        : pack_(config), reg_(reg), dest_(count)
    {
        ctx_.reset(modbus_new_rtu(pack_.start().c_str(), baud, 'N', 8, 1));
        if (!ctx_ || modbus_set_slave(ctx_.get(), config.address) != 0
            || modbus_set_response_timeout(ctx_.get(), 1, 0) != 0 || modbus_connect(ctx_.get()) != 0)
            ctx_.reset();
    }

    bool ok() const { return ctx_ != nullptr; }

    // Reads the block `warmup + rounds` times; the last `rounds` answered
    // reads go into `out`, failed ones count as time-outs.
    void time(int warmup, int rounds, RoundTrips& out)
    {
        using Clock = std::chrono::steady_clock;
        const int count = static_cast<int>(dest_.size());
        for (int i = 0; i < warmup + rounds; ++i) {
            const Clock::time_point start = Clock::now();
            const int got = modbus_read_input_registers(ctx_.get(), reg_, count, dest_.data());
            const double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (got != count)
                ++out.timeouts;
            else if (i >= warmup)
                out.us.push_back(elapsed);
        }
    }

private:
    struct Close {
        void operator()(modbus_t* ctx) const
        {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    };
    bms::sim::VirtualPack pack_;
    uint16_t reg_;
    std::vector<uint16_t> dest_;
    std::unique_ptr<modbus_t, Close> ctx_;
};

} // namespace bms::bench
