#include "SetCommands.h"

#include "Session.h"

#include "CommandTable.h"
#include "RequestBuilder.h"
#include "Selectors.h"
#include "Settings.h"
#include "Simulator.h"

#include <QRegularExpression>
#include <limits>

namespace bms::cli {

namespace {

// A parameter row of the simulator tab, by its command-line name. The value
// and index boxes are the request builder's (kParamSources).
struct ParamName {
    const char* name;
    uint8_t type;
    int indexes; // entries of the row's index selector besides "ALL"; 0: none
    const char* caption;
};

constexpr ParamName kParams[] = {
    {"recover", 0, 0, "RECOVER: restore the defaults"},
    {"cell-volt", 1, 16, "Cell Volt mV"},
    {"cell-temp", 2, 7, "Tempterure 'C"},
    {"current-gain", 3, 0, "Current Gain"},
    {"cycle-life", 4, 0, "Cycle Life"},
    {"max-charge-volt", 5, 0, "max charge voltage"},
    {"min-discharge-volt", 6, 0, "min discharge voltage"},
    {"max-charge-current", 7, 0, "max charge current"},
    {"max-discharge-current", 8, 0, "max discharge current"},
    {"dsg-energy", 9, 0, "ACC DSG CAP Wh"},
    {"chg-energy", 10, 0, "ACC CHG CAP Wh"},
    {"full-charge-interval", 11, 0, "FC INTERVAL S"},
    // The RSOC row (type 12) is left out: its value box, width and layout
    // are not known, and the window's request builder always refuses it.
};

// Why `index` ("2", "ALL") is not an entry of the index selector of `p`, or
// nothing (no index given).
QString IndexRefusal(const ParamName& p, const std::optional<QString>& index)
{
    if (!index)
        return {};
    if (!kParamSources[p.type].indexBox)
        return QStringLiteral("set param %1 takes no --index").arg(QLatin1String(p.name));
    if (*index != QLatin1String("ALL") && !ParseDecimal(*index, 1, p.indexes))
        return QStringLiteral("--index: '%1' is not 1 to %2 or ALL").arg(*index).arg(p.indexes);
    return {};
}

// The series/parallel roles: the radio button that sets the value box, or
// none for the reset (the reset indicator lime).
struct Role {
    const char* name;
    void (*radio)();
};

constexpr Role kRoles[] = {
    {"reset", nullptr},
    {"stand-alone", rb_stand_aloneClick},
    {"single-serial", rb_single_serialClick},
    {"single-parallel", rb_single_parallelClick},
    {"serial-parallel", rb_serial_parallelClick},
};

QString Words(auto const& table)
{
    QStringList words;
    for (const auto& entry : table)
        words.append(QString::fromLatin1(entry.name));
    return words.join(QStringLiteral(", "));
}

std::function<void()> PrepareRole(Session& s, const QStringList& args, QString& error)
{
    for (const Role& role : kRoles) {
        if (args.value(0) != QLatin1String(role.name))
            continue;
        const bool lime = s.host.colour(QStringLiteral("shp_sp_reset")) == ColLime;
        // The reset indicator decides between the reset and the role.
        if (lime != (role.radio == nullptr))
            s.run(shp_sp_resetMouseDown);
        if (role.radio)
            s.run(role.radio);
        return btn_parallelClick;
    }
    error = QStringLiteral("set role: '%1' is not a role (%2)").arg(args.value(0), Words(kRoles));
    return {};
}

std::function<void()> PrepareParam(Session& s, const QStringList& args, QString& error, const std::optional<QString>& given)
{
    for (const ParamName& p : kParams) {
        if (args.value(0) != QLatin1String(p.name))
            continue;
        const ParamSource& source = kParamSources[p.type];
        if (args.size() > 2)
            error = QStringLiteral("set param %1: arguments [VALUE] [--index N|ALL]").arg(QLatin1String(p.name));
        else if (source.valueBox)
            s.host.setText(QString::fromLatin1(source.valueBox), args.value(1));
        else if (source.value == ParamValue::Zero && args.size() > 1)
            error = QStringLiteral("set param %1 takes no value").arg(QLatin1String(p.name));
        // The selector is set whatever it showed before: its first entry
        // unless an index is given.
        if (const QString index = IndexRefusal(p, given); !index.isEmpty())
            error = index;
        else if (source.indexBox)
            s.host.setText(QString::fromLatin1(source.indexBox), given.value_or(QString::number(station::ParamWrite::kFirstIndex)));
        if (!error.isEmpty())
            return {};
        const uint8_t type = p.type;
        return [type] { SetParamClick(type); };
    }
    error = QStringLiteral("set param: '%1' is not a parameter (%2)").arg(args.value(0), Words(kParams));
    return {};
}

// Settings whose help names a narrower range than the window's box takes:
// the command line keeps to its help.
struct ArgumentRange {
    const char* word;
    qint64 lo, hi;
};

constexpr ArgumentRange kArgumentRanges[] = {
    {"protocol", 0, 15},
};

} // namespace

const std::vector<Setting>& SetSettings()
{
    static const std::vector<Setting> settings = {
        {"sleep", "sleep time: MULTIPLIER x BASE seconds", {"edt_sleep_time_mul", "edt_sleep_time_base"}, 2,
         btn_set_sleep_timeClick, nullptr},
        {"protocol", "protocol type (0 to 15)", {"cbb_protocol_type"}, 1, btn_protocol_typeClick, nullptr},
        {"rtc", "the pack's clock from this computer's clock", {}, 0, btn_rtcClick, nullptr},
        {"barcode", "the 12-digit barcode", {"edt1"}, 1, btn8Click, nullptr},
        {"rated-capacity", "rated capacity, mAh (1001 to 499999)", {"edt4"}, 1, btn9Click, "edt4"},
        {"remain-capacity", "remaining capacity, mAh (0 to 500000)", {"edt_rcap"}, 1, btn_rcapClick, nullptr},
        {"serial", "pack serial number, 1 to 20 ASCII characters", {"edt_pack_id"}, 1, btn_set_pack_idClick, "edt_pack_id"},
        {"customer-code", "the fixed customer code 00005E00", {}, 0, Customer_code_setClick, nullptr},
        {"zero-drift", "zero-drift word (the SET button of Parameter Calibration)", {"Edit3"}, 1, Button3Click, nullptr},
        {"upload-interval", "upload interval, 5 to 86400 s", {"edt_interval"}, 1, btn_intervalClick, nullptr},
        {"role", "series/parallel role, sent to addresses 1 to 16 (about 11 s)", {}, 1, nullptr, nullptr},
        {"param", "a parameter of the simulator tab", {}, 1, nullptr, nullptr},
    };
    return settings;
}

const std::vector<Setting>& CalibrateSettings()
{
    static const std::vector<Setting> settings = {
        {"current", "the pack's current is MA mA (1 to 499999)", {"edtc"}, 1, btncClick, nullptr},
        {"zero", "the pack carries no current", {}, 0, btn_zero_currentClick, nullptr},
        {"voltage", "cell 1 reads MV1 mV (1001 to 4999)", {"edtv1", "edtv2"}, 1, btnvClick, nullptr},
    };
    return settings;
}

const Setting* FindSetting(const std::vector<Setting>& table, const QString& word)
{
    for (const Setting& s : table)
        if (word == QLatin1String(s.word))
            return &s;
    return nullptr;
}

QString SettingWords(const std::vector<Setting>& table)
{
    QStringList words;
    for (const Setting& s : table)
        words.append(QString::fromLatin1(s.word));
    return words.join(QStringLiteral(", "));
}

std::function<void()> PrepareSetting(Session& s, const Setting& setting, const QStringList& args, QString& error,
                                     const std::optional<QString>& index)
{
    const QString word = QString::fromLatin1(setting.word);
    if (word == QLatin1String("role"))
        return PrepareRole(s, args, error);
    if (word == QLatin1String("param"))
        return PrepareParam(s, args, error, index);
    const auto most = static_cast<qsizetype>(setting.boxes.size());
    if (args.size() < setting.required || args.size() > most) {
        const QString usage = station::WriteUsage(word);
        error = QStringLiteral("%1: arguments %2").arg(word, usage.isEmpty() ? QStringLiteral("none") : usage);
        return {};
    }
    for (const ArgumentRange& range : kArgumentRanges) {
        if (word != QLatin1String(range.word) || ParseDecimal(args.value(0), range.lo, range.hi))
            continue;
        error = QStringLiteral("set %1: '%2' is not %3 to %4").arg(word, args.value(0)).arg(range.lo).arg(range.hi);
        return {};
    }
    for (qsizetype i = 0; i < args.size(); ++i)
        s.host.setText(QString::fromLatin1(setting.boxes[static_cast<size_t>(i)]), args[i]);
    return setting.click;
}

namespace {

// Why `value` of `write` is outside [lo, hi], or nothing.
QString RangeRefusal(const station::PackWrite& write, qint64 value, qint64 lo, qint64 hi)
{
    if (value >= lo && value <= hi)
        return {};
    return QStringLiteral("%1: %2 is not %3 to %4").arg(station::WriteText(write)).arg(value).arg(lo).arg(hi);
}

// The same for the range of a value command of the window.
QString CommandRefusal(const station::PackWrite& write, uint8_t command, qint64 value)
{
    const ValueCommand* c = FindValueCommand(command);
    return RangeRefusal(write, value, c->lo, c->hi);
}

QString ParamRefusal(const station::ParamWrite& w)
{
    const auto p = std::find_if(std::begin(kParams), std::end(kParams), [&](const ParamName& n) { return w.name == QLatin1String(n.name); });
    if (p == std::end(kParams))
        return QStringLiteral("set param: '%1' is not a parameter (%2)").arg(w.name, Words(kParams));
    const std::optional<QString> index = !w.index ? std::nullopt
                                         : w.index == station::ParamWrite::kAllIndexes ? std::optional(QStringLiteral("ALL"))
                                                                                         : std::optional(QString::number(*w.index));
    if (const QString refused = IndexRefusal(*p, index); !refused.isEmpty())
        return refused;
    const ParamSource& source = kParamSources[p->type];
    if (source.value == ParamValue::Zero)
        return w.value ? QStringLiteral("set param %1 takes no value").arg(w.name) : QString();
    if (!w.value)
        return QStringLiteral("set param %1 needs a value").arg(w.name);
    const ValueRange range = ParamRange(source);
    return RangeRefusal(w, *w.value, range.lo, range.hi);
}

} // namespace

QString WriteRefusal(const station::PackWrite& write)
{
    using namespace station;
    constexpr qint64 kWord = std::numeric_limits<uint16_t>::max();
    if (const auto* w = std::get_if<SleepWrite>(&write)) {
        const QString multiplier = RangeRefusal(write, w->multiplier, 0, kWord);
        return multiplier.isEmpty() ? RangeRefusal(write, w->base, 0, kWord) : multiplier;
    }
    if (const auto* w = std::get_if<ProtocolWrite>(&write))
        return RangeRefusal(write, w->type, kArgumentRanges[0].lo, kArgumentRanges[0].hi);
    if (const auto* w = std::get_if<BarcodeWrite>(&write)) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{12}$"));
        return digits.match(w->text).hasMatch() ? QString() : QStringLiteral("barcode: '%1' is not 12 digits").arg(w->text);
    }
    if (const auto* w = std::get_if<SerialWrite>(&write)) {
        static const QRegularExpression ascii(QStringLiteral("^[\\x20-\\x7E]{1,20}$"));
        return ascii.match(w->text).hasMatch() ? QString()
                                               : QStringLiteral("serial: '%1' is not 1 to 20 ASCII characters").arg(w->text);
    }
    if (const auto* w = std::get_if<RatedCapacityWrite>(&write))
        return CommandRefusal(write, cmd_set_rated_capacity, w->mah);
    if (const auto* w = std::get_if<RemainCapacityWrite>(&write))
        return CommandRefusal(write, cmd_set_remain_capacity, w->mah);
    if (const auto* w = std::get_if<ZeroDriftWrite>(&write))
        return CommandRefusal(write, cmd_set_edit3_word, w->word);
    if (const auto* w = std::get_if<UploadIntervalWrite>(&write))
        return CommandRefusal(write, cmd_set_upload_interval, w->seconds);
    if (const auto* w = std::get_if<RoleWrite>(&write)) {
        const bool known = std::any_of(std::begin(kRoles), std::end(kRoles), [&](const Role& r) { return w->role == QLatin1String(r.name); });
        return known ? QString() : QStringLiteral("set role: '%1' is not a role (%2)").arg(w->role, Words(kRoles));
    }
    if (const auto* w = std::get_if<ParamWrite>(&write))
        return ParamRefusal(*w);
    if (const auto* w = std::get_if<CurrentCalibration>(&write))
        return CommandRefusal(write, cmd_cal_current, w->ma);
    if (const auto* w = std::get_if<VoltageCalibration>(&write)) {
        const QString first = CommandRefusal(write, cmd_cal_voltage, w->cellMv);
        return first.isEmpty() && w->secondMv ? CommandRefusal(write, cmd_cal_voltage, *w->secondMv) : first;
    }
    return {}; // the clock, the customer code, the zero-current calibration
}

QString SetHelpText()
{
    QString text = QStringLiteral("usage: quorlex-bms-cli --port NAME set WHAT ARGUMENTS\n\nSettings:\n");
    for (const Setting& s : SetSettings())
        text += QStringLiteral("  %1 %2\n      %3\n").arg(QLatin1String(s.word), station::WriteUsage(QLatin1String(s.word)), QLatin1String(s.help));
    text += QStringLiteral("\nRoles: %1\n").arg(Words(kRoles));
    text += QStringLiteral("\nParameters (set param NAME VALUE):\n");
    for (const ParamName& p : kParams)
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(p.name).leftJustified(24),
                                              QString::fromUtf8(p.caption)
                                                  + (p.indexes ? QStringLiteral(" (--index 1..%1 or ALL)").arg(p.indexes)
                                                               : QString()));
    text += QStringLiteral(
        "\nEach setting runs the window's button: the same input checks and messages, the same\n"
        "frame. The pack's acknowledgement or refusal decides the exit status; barcode, clock,\n"
        "protocol type and sleep time are read back and shown, as are rated capacity and\n"
        "serial number, whose answers only the read-back can confirm.\n");
    return text;
}

} // namespace bms::cli
