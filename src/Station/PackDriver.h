// What a station run asks of the pack, answered later through callbacks:
// the information read, one rotation of the telemetry blocks, a setting or
// calibration of the command line, and a firmware upgrade. The command line
// implements it over the window's handlers and the session's events; tests
// may script it. Every callback runs once, from the event loop, never from
// within the call that asked.
#pragma once

#include "PackWrites.h"

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace bms::station {

// The information block as "Read Info" shows it; nothing for a field the
// answer did not hold.
struct PackInfo {
    std::optional<QString> barcode = {};
    std::optional<QString> serialNumber = {};
    std::optional<QString> uid = {};
    std::optional<QString> uidCrc = {};
    std::optional<QString> mfrName = {};
    std::optional<QString> customerCode = {};
    std::optional<double> ratedCapMah = {};
    std::optional<int> protocolType = {};
    std::optional<int> sleepMultiplier = {}; // sleep time: multiplier x base seconds
    std::optional<int> sleepBase = {};
};

// The information read, and the pack's clock bytes (seconds, minutes,
// hours, weekday, day, month, year - 2000, zone hours).
struct InfoRead {
    bool ok = false;
    QString error; // why not, in words
    PackInfo info;
    std::array<uint8_t, 8> clock{};
};

// One rotation of the telemetry blocks, in engineering units.
struct Telemetry {
    uint16_t swVersion = 0;
    uint16_t hwVersion = 0;
    int protocolType = 0;
    int cellCount = 0;
    std::vector<double> cellMv;      // as many as the pack reports (at most 16)
    std::vector<double> cellTempC;   // cell sensors
    std::vector<double> mosTempC;    // MOS sensors
    double packMv = 0;
    double currentMa = 0;
    double rsocPercent = 0;
    double sohPercent = 0;
    double cycles = 0;
    std::array<uint16_t, 4> words{}; // 0x0080 alarm, 0x0081..0x0083
};

struct TelemetryRead : Telemetry {
    bool ok = false;
    QString error;
};

struct WriteResult {
    enum class Kind { Acknowledged, Refused, NoAnswer, BadInput } kind = Kind::NoAnswer;
    QString detail;
    // The information read back after the write, when there was one.
    std::optional<InfoRead> readBack;
};

struct UpgradeResult {
    bool ok = false;       // the run reached its good ending
    QString ending;        // the run's last status text, or why it did not start
    std::optional<uint16_t> swAfter; // main board: the version read back
};

// Why an operation other than an upgrade fails while the pack waits in its
// boot loader (an upgrade stopped or failed after the board entered it).
inline QString PackInBootLoaderText()
{
    return QStringLiteral("the pack waits in its boot loader: run the upgrade");
}

class PackDriver {
public:
    virtual ~PackDriver() = default;
    virtual void readInfo(std::function<void(const InfoRead&)> done) = 0;
    virtual void readTelemetry(std::function<void(const TelemetryRead&)> done) = 0;
    // A setting or a calibration; the information is read back after the
    // writes whose value the pack keeps there.
    virtual void write(const PackWrite& write, std::function<void(const WriteResult&)> done) = 0;
    virtual void upgrade(const QString& image, bool devFirmware, std::function<void(const UpgradeResult&)> done) = 0;
    // Forgets whatever is in flight: its callback is never called. An
    // upgrade in progress stops; nothing more of it goes out.
    virtual void cancel() = 0;
    // The pack is known to wait in its boot loader: it answers nothing but
    // an upgrade, and every other operation fails with PackInBootLoaderText().
    virtual bool inBootLoader() const { return false; }
};

} // namespace bms::station
