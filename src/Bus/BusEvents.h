// The events of `quorlex-bms-cli bus watch --json`, defined once: the kinds
// and fields, the writers the command line uses and the readers of the Bus
// tab, which runs the command as a process of its own. Each line is one
// JSON object; the last one (with "exit" and "error") has no "event".
//
//   {"event": "scan",  "packs": [{address, barcode, serial, uid, firmware, cells}], "collisions": [2], "asked": 16}
//   {"event": "pack",  "sweep": 1, "time": "...", "address": 3, "serial": "...", "answered": true,
//                      "blocks": [...], "refused": [...], <every telemetry field of `read`>}
//   {"event": "sweep", "sweep": 1, "seconds": 1.03, "wire_seconds": 0.95, "gap_seconds": 0.09,
//                      "answering": 7, "packs": 8}
//
// Units are the pack's own, as in `read`: rsoc 0.1 %, total_volt 10 mV,
// current mA, cell voltages mV, temperatures 0.1 °C.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace bms::bus {

inline constexpr char kEventKey[] = "event";
inline constexpr char kScanEvent[] = "scan";
inline constexpr char kPackEvent[] = "pack";
inline constexpr char kSweepEvent[] = "sweep";

// A pack that answered the scan at its address.
struct PackIdentity {
    int address = 0;
    std::optional<QString> barcode;
    std::optional<QString> serial;
    std::optional<QString> uid;
    std::optional<QString> firmware; // software version "1.5.3"
    std::optional<int> cells;
};

struct ScanResult {
    std::vector<PackIdentity> packs;
    std::vector<int> collisions; // addresses answered by more than one pack
    int asked = 0;
};

// One pack's values in one sweep; a value its blocks did not bring is empty.
struct PackReading {
    int sweep = 0;
    QDateTime time;
    int address = 0;
    QString serial;
    bool answered = false; // at least one block came back
    std::optional<int> rsoc;
    std::optional<int> totalVolt;
    std::optional<int> current;
    std::optional<int> maxCell;
    std::optional<int> minCell;
    std::optional<int> maxTemp; // the hottest cell or MOS sensor
    std::optional<int> cycles;
    std::optional<std::array<int, 4>> faults; // alarm word, protection words 1..3

    std::optional<int> spread() const
    {
        return maxCell && minCell ? std::optional<int>(*maxCell - *minCell) : std::nullopt;
    }
};

struct SweepEnd {
    int sweep = 0;
    double seconds = 0;     // the sweep, first request to last answer
    double wireSeconds = 0; // its requests and answers at the line's speed, 10 bits a byte
    double gapSeconds = 0;  // the 3.5-character silence before each answer
    int answering = 0;
    int packs = 0;
};

// Writers.
QJsonObject IdentityObject(const PackIdentity& p);
QJsonObject ScanObject(const ScanResult& scan);
// `telemetry`: the fields of `read` for the blocks answered.
QJsonObject PackObject(int sweep, const QDateTime& time, int address, const QString& serial, bool answered,
                       QJsonObject telemetry);
QJsonObject SweepObject(const SweepEnd& sweep);

// Readers.
struct BusEvent {
    enum class Kind { Scan, Pack, Sweep, End, Unknown };
    Kind kind = Kind::Unknown;
    ScanResult scan;
    PackReading pack;
    SweepEnd sweep;
    int exit = 0;        // End
    QString error;       // End: the error's message, empty on success
    QStringList errors;  // the errors told with the object
};
BusEvent ReadBusEvent(const QByteArray& line);
PackIdentity ReadIdentity(const QJsonObject& o);
PackReading ReadReading(const QJsonObject& o);

} // namespace bms::bus
