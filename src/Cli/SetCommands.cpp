#include "SetCommands.h"

#include "Session.h"

#include "CommandTable.h"
#include "Selectors.h"
#include "Settings.h"
#include "Simulator.h"

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

std::function<void()> PrepareParam(Session& s, const QStringList& args, QString& error)
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
        const QString index = s.options.value(QStringLiteral("index"));
        if (s.options.has(QStringLiteral("index"))) {
            const auto number = ParseDecimal(index, 1, p.indexes);
            if (!source.indexBox)
                error = QStringLiteral("set param %1 takes no --index").arg(QLatin1String(p.name));
            else if (index != QLatin1String("ALL") && !number)
                error = QStringLiteral("--index: '%1' is not 1 to %2 or ALL").arg(index).arg(p.indexes);
            else
                s.host.setText(QString::fromLatin1(source.indexBox), index);
        }
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
        {"sleep", "MULTIPLIER BASE", "sleep time: MULTIPLIER x BASE seconds",
         {"edt_sleep_time_mul", "edt_sleep_time_base"}, 2, btn_set_sleep_timeClick, nullptr},
        {"protocol", "TYPE", "protocol type (0 to 15)", {"cbb_protocol_type"}, 1, btn_protocol_typeClick, nullptr},
        {"rtc", "", "the pack's clock from this computer's clock", {}, 0, btn_rtcClick, nullptr},
        {"barcode", "DIGITS", "the 12-digit barcode", {"edt1"}, 1, btn8Click, nullptr},
        {"rated-capacity", "MAH", "rated capacity, mAh (1001 to 499999)", {"edt4"}, 1, btn9Click, "edt4"},
        {"remain-capacity", "MAH", "remaining capacity, mAh (0 to 500000)", {"edt_rcap"}, 1, btn_rcapClick, nullptr},
        {"serial", "TEXT", "pack serial number, 1 to 20 ASCII characters", {"edt_pack_id"}, 1, btn_set_pack_idClick,
         "edt_pack_id"},
        {"customer-code", "", "the fixed customer code 00005E00", {}, 0, Customer_code_setClick, nullptr},
        {"zero-drift", "VALUE", "zero-drift word (the SET button of Parameter Calibration)", {"Edit3"}, 1,
         Button3Click, nullptr},
        {"upload-interval", "SECONDS", "upload interval, 5 to 86400 s", {"edt_interval"}, 1, btn_intervalClick,
         nullptr},
        {"role", "ROLE", "series/parallel role, sent to addresses 1 to 16 (about 11 s)", {}, 1, nullptr, nullptr},
        {"param", "NAME [VALUE] [--index N|ALL]", "a parameter of the simulator tab", {}, 1, nullptr, nullptr},
    };
    return settings;
}

const std::vector<Setting>& CalibrateSettings()
{
    static const std::vector<Setting> settings = {
        {"current", "MA", "the pack's current is MA mA (1 to 499999)", {"edtc"}, 1, btncClick, nullptr},
        {"zero", "", "the pack carries no current", {}, 0, btn_zero_currentClick, nullptr},
        {"voltage", "MV1 [MV2]", "cell 1 reads MV1 mV (1001 to 4999)", {"edtv1", "edtv2"}, 1, btnvClick, nullptr},
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

std::function<void()> PrepareSetting(Session& s, const Setting& setting, const QStringList& args, QString& error)
{
    const QString word = QString::fromLatin1(setting.word);
    if (word == QLatin1String("role"))
        return PrepareRole(s, args, error);
    if (word == QLatin1String("param"))
        return PrepareParam(s, args, error);
    const auto most = static_cast<qsizetype>(setting.boxes.size());
    if (args.size() < setting.required || args.size() > most) {
        error = QStringLiteral("%1: arguments %2").arg(word, setting.usage[0] ? QLatin1String(setting.usage)
                                                                                : QLatin1String("none"));
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

QString SetHelpText()
{
    QString text = QStringLiteral("usage: quorlex-bms-cli --port NAME set WHAT ARGUMENTS\n\nSettings:\n");
    for (const Setting& s : SetSettings())
        text += QStringLiteral("  %1 %2\n      %3\n").arg(QLatin1String(s.word), QLatin1String(s.usage), QLatin1String(s.help));
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
