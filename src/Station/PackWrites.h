// What a station run writes to a pack, as typed values: the settings of the
// command line's `set` and the calibrations of its `calibrate`. A recipe's
// `writes = ["sleep 1 3600", "param cell-volt 3650 --index 2"]` are parsed
// into these when the recipe loads; the steps build the identity writes and
// calibrations themselves. The pack's driver turns them into the core's
// requests.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

namespace bms::station {

struct SleepWrite {
    qint64 multiplier = 0;
    qint64 base = 0; // seconds
};
struct ProtocolWrite {
    qint64 type = 0;
};
struct ClockWrite {}; // this computer's clock
struct BarcodeWrite {
    QString text;
};
struct RatedCapacityWrite {
    qint64 mah = 0;
};
struct RemainCapacityWrite {
    qint64 mah = 0;
};
struct SerialWrite {
    QString text;
};
struct CustomerCodeWrite {};
struct ZeroDriftWrite {
    qint64 word = 0;
};
struct UploadIntervalWrite {
    qint64 seconds = 0;
};
struct RoleWrite {
    QString role; // "stand-alone", "reset", ...
};
// A parameter of the simulator tab. `index` is the entry of its index
// selector (kAllIndexes: every entry); a parameter that has a selector and
// names no index writes entry kFirstIndex.
struct ParamWrite {
    static constexpr int kAllIndexes = 256;
    static constexpr int kFirstIndex = 1;
    QString name;
    std::optional<qint64> value;
    std::optional<int> index;
};
struct CurrentCalibration {
    qint64 ma = 0;
};
struct ZeroCalibration {};
struct VoltageCalibration {
    qint64 cellMv = 0;
    std::optional<qint64> secondMv;
};

using PackWrite = std::variant<SleepWrite, ProtocolWrite, ClockWrite, BarcodeWrite, RatedCapacityWrite, RemainCapacityWrite,
                               SerialWrite, CustomerCodeWrite, ZeroDriftWrite, UploadIntervalWrite, RoleWrite, ParamWrite,
                               CurrentCalibration, ZeroCalibration, VoltageCalibration>;

// A setting as a recipe writes it ("sleep 1 3600", "param cycle-life 6000",
// "param cell-volt 3650 --index 2" or "--index ALL"): the write, or why it
// is none ("sleep: arguments MULTIPLIER BASE"). Numbers are whole numbers
// as the window's boxes take them (decimal, or hexadecimal after "$" or
// "0x"); names and ranges are the driver's to check (RecipeChecks).
std::variant<PackWrite, QString> ParseSettingWrite(const QString& text);

// The words of the command line's `set` or `calibrate` for `write`, without
// the parameter's index: {"sleep", "1", "3600"}, {"param", "cell-volt", "3650"}.
QStringList WriteWords(const PackWrite& write);
// The write as a recipe writes it, for messages: "sleep 1 3600",
// "param cell-volt 3650 --index 2".
QString WriteText(const PackWrite& write);
// A calibration (the command line's `calibrate`), else a setting (`set`).
bool IsCalibration(const PackWrite& write);
// The arguments a setting or calibration takes ("MULTIPLIER BASE"); empty
// for one that takes none or is unknown.
QString WriteUsage(const QString& word);

} // namespace bms::station
