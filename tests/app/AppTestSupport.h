// Helpers of the window-logic tests: a QCoreApplication for timers and
// Delay, a scripted pack that answers telemetry reads through the receive
// path, and the window's design-time control states that the logic reads.
#pragma once

#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "Receive.h"
#include "FakeHost.h"
#include "QtTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace bms::test {

// "communication timeout!(hh:mm:ss)"
inline bool IsTimeoutLine(const QString& line)
{
    static const QRegularExpression pattern(QStringLiteral("^communication timeout!\\(\\d\\d:\\d\\d:\\d\\d\\)$"));
    return pattern.match(line).hasMatch();
}

// A request frame: the bytes given and their CRC.
inline std::vector<uint8_t> Framed(std::vector<uint8_t> bytes)
{
    AppendCrc(bytes);
    return bytes;
}

// The texts, colours and states of the controls as the window starts.
inline void SetDesignState(FakeHost& host)
{
    host.texts[QStringLiteral("cbb2")] = QStringLiteral("19200");
    host.texts[QStringLiteral("cbb3")] = QStringLiteral("500");
    host.texts[QStringLiteral("cbb_addr")] = QStringLiteral("06");
    host.texts[QStringLiteral("cbb_pdType")] = QStringLiteral("Q-Serial");
    host.texts[QStringLiteral("cbb_pretype")] = QStringLiteral("0");
    host.texts[QStringLiteral("cybtn")] = QStringLiteral("Start Sampling");
    host.texts[QStringLiteral("opencom")] = QStringLiteral("Open Port");
    host.texts[QStringLiteral("lbl_sp_reset")] = QStringLiteral("Reset");
    host.colours[QStringLiteral("shp9")] = ColGrey;
    host.colours[QStringLiteral("shp_sp_reset")] = ColLime;
    host.panels[0] = QStringLiteral("Offline!");
    host.panels[1] = QStringLiteral("Ready!");
    for (const char* name : {"cybtn", "cbb3", "btn3", "btn_read_sleep_time", "btn_set_sleep_time", "btn_read_time",
                             "btn_rtc", "btn8", "opbtn", "btn_rcap", "Button3", "excbtn", "btn_save_uid",
                             "limiter1"})
        host.enabled[QString::fromLatin1(name)] = false;
    SlaveAddr = 6;
    NotBsi = 1;
}

// A pack that answers function-4 reads with zero registers, except the
// counts of block 3 (temperature sensors A and B, cells). Answers are held
// back until deliver(), so a test decides when the reply "arrives".
class ScriptedPack {
public:
    explicit ScriptedPack(FakeLink& link) : link_(link)
    {
        link_.onSend = [this](const std::vector<uint8_t>& frame) { answer(frame); };
    }
    ~ScriptedPack() { link_.onSend = nullptr; }

    uint8_t tempACount = 2;
    uint8_t tempBCount = 2;
    uint16_t cellCount = 4;
    bool silent = false;
    // Every register reads its own address (the counts of block 3 aside), so
    // that a value decoded into another block's field shows.
    bool registerValues = false;
    // Reads starting at this register get exception code 2 (0: none).
    uint16_t refuseRegister = 0;

    // The register of every read request, in order.
    std::vector<uint16_t> readRegisters;

    // Delivers the answers held back, except the newest `keep` of them.
    void deliver(size_t keep = 0)
    {
        std::vector<std::vector<uint8_t>> pending;
        const size_t count = pending_.size() > keep ? pending_.size() - keep : 0;
        pending.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        for (const auto& reply : pending)
            cm1ReceiveData(reply.data(), static_cast<uint16_t>(reply.size()));
    }

private:
    void answer(const std::vector<uint8_t>& request)
    {
        if (request.size() != 8 || request[1] != 0x04)
            return;
        const uint16_t reg = ReadU16BE(request.data(), 2);
        const uint16_t qty = ReadU16BE(request.data(), 4);
        readRegisters.push_back(reg);
        if (silent)
            return;
        if (reg == refuseRegister && reg != 0) {
            pending_.push_back(Framed({request[0], 0x84, 0x02}));
            return;
        }
        std::vector<uint8_t> reply = {request[0], 0x04, static_cast<uint8_t>(qty * 2)};
        std::vector<uint8_t> data(qty * 2u, 0);
        for (uint16_t i = 0; registerValues && i < qty; ++i)
            WriteU16BE(static_cast<uint16_t>(reg + i), data, static_cast<uint16_t>(2 * i));
        if (reg == 0x0200 && qty >= 6) {
            // Register 0x0204: high byte sensors B, low byte sensors A;
            // register 0x0205: cells.
            data[8] = tempBCount;
            data[9] = tempACount;
            WriteU16BE(cellCount, data, 10);
        }
        reply.insert(reply.end(), data.begin(), data.end());
        AppendCrc(reply);
        pending_.push_back(reply);
    }

    FakeLink& link_;
    std::vector<std::vector<uint8_t>> pending_;
};

} // namespace bms::test
