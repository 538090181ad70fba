#include "CliOptions.h"

#include "SetCommands.h"
#include "StationCommand.h"
#include "StationRecordsCommand.h"

#include <QRegularExpression>

namespace bms::cli {

namespace {

// An option: its name, whether a value follows, and the commands that take
// it (empty: every command).
struct OptionDef {
    const char* name;
    bool takesValue;
    QStringList commands;
};

const std::vector<OptionDef>& OptionTable()
{
    static const std::vector<OptionDef> options = {
        {"port", true, {}},
        {"baud", true, {}},
        {"addr", true, {}},
        {"product", true, {}},
        {"timeout", true, {}},
        {"json", false, {}},
        {"trace", false, {}},
        {"yes", false, {}},
        {"help", false, {}},
        {"interval", true, {QStringLiteral("watch"), QStringLiteral("station"), QStringLiteral("bus")}},
        {"count", true, {QStringLiteral("watch"), QStringLiteral("bus")}},
        {"log", true, {QStringLiteral("watch"), QStringLiteral("bus")}},
        {"csv", true, {QStringLiteral("watch"), QStringLiteral("bus")}},
        {"target", true, {QStringLiteral("upgrade")}},
        {"version", true, {QStringLiteral("upgrade")}},
        {"type", true, {QStringLiteral("upgrade")}},
        {"package", true, {QStringLiteral("upgrade")}},
        {"allow-same-version", false, {QStringLiteral("upgrade")}},
        {"retries", true, {QStringLiteral("upgrade")}},
        {"index", true, {QStringLiteral("set")}},
        {"barcode", true, {QStringLiteral("station")}},
        {"operator", true, {QStringLiteral("station")}},
        {"station", true, {QStringLiteral("station")}},
        {"fixture", true, {QStringLiteral("station")}},
        {"results", true, {QStringLiteral("station")}},
        // station records
        {"db", true, {QStringLiteral("station")}},
        {"line", false, {QStringLiteral("station")}},
        {"id", true, {QStringLiteral("station")}},
        {"uid", true, {QStringLiteral("station")}},
        {"serial", true, {QStringLiteral("station")}},
        {"since", true, {QStringLiteral("station")}},
        {"until", true, {QStringLiteral("station")}},
        {"outcome", true, {QStringLiteral("station")}},
        {"recipe", true, {QStringLiteral("station")}},
        {"limit", true, {QStringLiteral("station")}},
        {"by", true, {QStringLiteral("station")}},
        {"format", true, {QStringLiteral("station")}},
        {"out", true, {QStringLiteral("station")}},
        {"loop", false, {QStringLiteral("station")}},
        {"status", false, {QStringLiteral("station")}},
        {"background", false, {QStringLiteral("station")}},
        {"return", false, {QStringLiteral("station")}},
        // labels and reports
        {"printer", true, {QStringLiteral("station")}},
        {"reason", true, {QStringLiteral("station")}},
        {"pdf", true, {QStringLiteral("station")}},
        {"html", true, {QStringLiteral("station")}},
    };
    return options;
}

const OptionDef* FindOption(const QString& name)
{
    for (const OptionDef& option : OptionTable())
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

// Applies a shared option's value; false with `error` set when it is bad.
bool ApplyShared(Options& o, const QString& name, const QString& value, QString& error)
{
    if (name == QLatin1String("port")) {
        o.port = value;
    } else if (name == QLatin1String("baud")) {
        const auto baud = ParseDecimal(value, 1, 4000000);
        if (!baud) {
            error = QStringLiteral("--baud: '%1' is not a baud rate (a whole number from 1 to 4000000)").arg(value);
            return false;
        }
        o.baud = static_cast<uint32_t>(*baud);
    } else if (name == QLatin1String("addr")) {
        // Only the digits themselves: no blanks, signs or "0x", as every
        // other number of the line.
        static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,2}$"));
        const uint v = hex.match(value).hasMatch() ? value.toUInt(nullptr, 16) : 0;
        if (v < 1 || v > 0xFF) {
            error = QStringLiteral("--addr: '%1' is not an address (two hexadecimal digits, 01 to FF)").arg(value);
            return false;
        }
        o.addr = static_cast<uint8_t>(v);
    } else if (name == QLatin1String("product")) {
        if (value != QLatin1String("Q-Serial") && value != QLatin1String("BSI")) {
            error = QStringLiteral("--product: '%1' is not a product type (Q-Serial or BSI)").arg(value);
            return false;
        }
        o.product = value;
    } else if (name == QLatin1String("timeout")) {
        const auto ms = ParseDecimal(value, 10, 600000);
        if (!ms) {
            error = QStringLiteral("--timeout: '%1' is not a time-out (milliseconds, 10 to 600000)").arg(value);
            return false;
        }
        o.timeoutMs = static_cast<int>(*ms);
        o.timeoutGiven = true;
    } else if (name == QLatin1String("json")) {
        o.json = true;
    } else if (name == QLatin1String("trace")) {
        o.trace = true;
    } else if (name == QLatin1String("yes")) {
        o.yes = true;
    } else if (name == QLatin1String("help")) {
        o.help = true;
    } else {
        return false;
    }
    return true;
}

const char kProgramHelp[] =
    "usage: quorlex-bms-cli [options] COMMAND [arguments]\n"
    "\n"
    "Talks to the battery management system of a pack over a serial port, as the\n"
    "Quorlex BMS service window does, from scripts and production lines.\n"
    "\n"
    "Commands:\n"
    "  ports                     the serial ports the window's port box lists\n"
    "  info                      the pack's information block (identity, clock, UID)\n"
    "  read                      one rotation of the telemetry blocks\n"
    "  watch                     telemetry rotations at an interval, optionally logged\n"
    "  set WHAT VALUE...         a setting of the window's settings commands\n"
    "  calibrate KIND VALUE...   current, zero-current or voltage calibration\n"
    "  upgrade --target main|dev IMAGE   firmware upgrade from an Intel-HEX image\n"
    "  bus scan|watch            every pack of a rack on one line: who answers, and\n"
    "                            their values round-robin, optionally logged\n"
    "  station run|check RECIPE  the end-of-line test of a pack from a recipe\n"
    "  station history|show|stats|export|passport|import|forward   the station run records\n"
    "  help [COMMAND]            this text, or the help of a command\n"
    "\n"
    "Options shared by every command:\n"
    "  --port NAME      device path (/dev/ttyUSB0), bare name (ttyUSB0), COMn, or the\n"
    "                   name of a running virtual pack (demo, virtual-pack-demo)\n"
    "  --baud N         line speed (default 19200)\n"
    "  --addr HEX       Modbus address of the pack, 01 to FF (default 06)\n"
    "  --product TYPE   Q-Serial (default) or BSI\n"
    "  --timeout MS     time allowed for each answer (default 500)\n"
    "  --json           one JSON object per line on stdout instead of text; the last\n"
    "                   carries \"exit\" and \"error\" (null, or kind and message)\n"
    "  --trace          every frame sent and received on stderr\n"
    "  --yes            answer Yes to the window's questions\n"
    "  --help           help of the program or of the command\n"
    "\n"
    "Exit status: 0 done; 1 the pack refused or did not answer; 2 bad usage or bad\n"
    "input (nothing sent); 3 the port could not be opened; 4 stdout or a log file\n"
    "could not be written; 128 + N ended by signal N (129 SIGHUP, 130 SIGINT,\n"
    "143 SIGTERM), except that Ctrl-C is how watch ends (0 or 1 as with --count).\n"
    "The station commands have exit statuses of their own: see help station.\n";

const char kPortsHelp[] =
    "usage: quorlex-bms-cli ports\n"
    "\n"
    "Lists the serial ports as the window's port box does: the kernel's serial\n"
    "devices and the ports of running virtual packs. Opens nothing.\n";

const char kInfoHelp[] =
    "usage: quorlex-bms-cli --port NAME info\n"
    "\n"
    "Reads the information block (registers 0x9D01..0x9D26) as \"Read Info\" does:\n"
    "customer code, rated capacity, barcode, manufacturer, serial number, RTC,\n"
    "protocol type, UID with its CRC and the sleep time; then block 0 for the\n"
    "firmware versions.\n"
    "JSON keys: customer_code, rated_cap, barcode, mfr_name, serial_number, rtc,\n"
    "protocol_type, uid, uid_crc, sleep_multiplier, sleep_base, hw_version,\n"
    "hw_version_text, sw_version, sw_version_text (docs/cli-json.md).\n";

const char kReadHelp[] =
    "usage: quorlex-bms-cli --port NAME read\n"
    "\n"
    "Reads one whole rotation of the telemetry blocks (0, 1, 2, 3, then the\n"
    "temperature and cell blocks the pack reports, and block 7 for BSI) and shows\n"
    "them as the window's grid and labels do. JSON keys are the pack table's\n"
    "field names, registers named by their meaning (temperatures in 0.1 degC as\n"
    "stored), null for a block without an answer, and a \"bsi\" object for BSI\n"
    "(docs/cli-json.md has every key with its unit).\n";

const char kWatchHelp[] =
    "usage: quorlex-bms-cli --port NAME watch [--interval MS] [--count N]\n"
    "                                         [--log FILE.xlsx] [--csv FILE]\n"
    "\n"
    "Reads a rotation every --interval ms (default and minimum 500) for --count\n"
    "rotations, or until Ctrl-C; one line per rotation. A block that got no answer\n"
    "in a rotation leaves its fields null and its cells in the files empty. --log\n"
    "writes the data-log workbook (each row journaled beside it at once, the .xlsx\n"
    "written at the end), --csv the same columns as CSV. Existing files are not\n"
    "overwritten. Ctrl-C, SIGTERM, SIGHUP and a reader of stdout that went away end\n"
    "it with the files written; a file that cannot be written ends it with 4 and\n"
    "what each file holds.\n";

const char kCalibrateHelp[] =
    "usage: quorlex-bms-cli --port NAME calibrate current MA\n"
    "       quorlex-bms-cli --port NAME calibrate zero\n"
    "       quorlex-bms-cli --port NAME calibrate voltage MV1 [MV2]\n"
    "\n"
    "current: the pack's current is MA milliamperes (1 to 499999); zero: the pack\n"
    "carries no current; voltage: cell 1 reads MV1 millivolts (1001 to 4999). MV2\n"
    "fills the window's second voltage box, which its calibration does not send.\n";

const char kUpgradeHelp[] =
    "usage: quorlex-bms-cli --port NAME upgrade --target main IMAGE.hex [--yes]\n"
    "       quorlex-bms-cli --port NAME upgrade --target dev IMAGE.hex [--yes]\n"
    "                       [--version HEX8] [--type HEX4] [--package N] [--retries N]\n"
    "\n"
    "Upgrades the main control board through its boot loader, or the dev firmware\n"
    "through the pack's registers. The whole image is checked before anything is\n"
    "sent. For dev firmware, version and type come from the file name (…VVVVVVVVTTTT.hex)\n"
    "unless given; --package is the upgrade package 1..5 (default 1). Progress goes\n"
    "to stderr; the run's own ending text ends it. --yes answers \"Whether to restart\n"
    "the device and update?\"; without it the question is asked on a terminal.\n"
    "A main-board run reads the firmware versions before and after and prints\n"
    "\"Firmware before: ... after: ...\"; it exits 1 when the software version did not\n"
    "change (unless --allow-same-version) or the board did not come back.\n"
    "A dev-firmware record whose answer was lost or corrupted is sent again, up to\n"
    "--retries times (0 to 10, default 2); main-board records are never sent twice.\n";

const char kBusHelp[] =
    "usage: quorlex-bms-cli --port NAME bus scan [--addr LIST]\n"
    "       quorlex-bms-cli --port NAME bus watch [--addr LIST] [--interval S] [--count N]\n"
    "                                             [--log FILE.xlsx] [--csv FILE]\n"
    "\n"
    "A rack puts up to 16 packs on one RS-485 line, each at its own address.\n"
    "scan asks every address of --addr (default 1-16, the selector's 01..10; a list\n"
    "such as 1-16,0x20) for its information block, firmware and cell count, with a\n"
    "time-out fitted to --baud (--timeout sets another), and lists who answered.\n"
    "An address whose answer comes back garbled is answered by more than one pack:\n"
    "a collision, not a pack; it makes the exit status 1.\n"
    "watch scans, then reads every block of one pack after the other, round-robin,\n"
    "a sweep every --interval seconds (default 0: as fast as the line allows), for\n"
    "--count sweeps or until Ctrl-C; one line per pack, one per sweep with its time\n"
    "against the wire time. --log writes one workbook, --csv one CSV file, each with\n"
    "one row per pack per sweep (time, address, serial, the data log's columns).\n"
    "JSON: watch prints a scan event, a pack event per pack and a sweep event per\n"
    "sweep (docs/cli-json.md), then the last object.\n";

} // namespace

std::optional<qint64> ParseDecimal(const QString& text, qint64 lo, qint64 hi)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || text.trimmed() != text || text.startsWith(QLatin1Char('+')) || v < lo || v > hi)
        return std::nullopt;
    return v;
}

const QStringList& CommandNames()
{
    static const QStringList names = {
        QStringLiteral("ports"),   QStringLiteral("info"),      QStringLiteral("read"),    QStringLiteral("watch"),
        QStringLiteral("set"),     QStringLiteral("calibrate"), QStringLiteral("upgrade"), QStringLiteral("station"),
        QStringLiteral("bus"),     QStringLiteral("help"),
    };
    return names;
}

QString HelpText(const QString& command)
{
    if (command.isEmpty() || command == QLatin1String("help"))
        return QString::fromUtf8(kProgramHelp);
    if (command == QLatin1String("ports"))
        return QString::fromUtf8(kPortsHelp);
    if (command == QLatin1String("info"))
        return QString::fromUtf8(kInfoHelp);
    if (command == QLatin1String("read"))
        return QString::fromUtf8(kReadHelp);
    if (command == QLatin1String("watch"))
        return QString::fromUtf8(kWatchHelp);
    if (command == QLatin1String("set"))
        return SetHelpText();
    if (command == QLatin1String("calibrate"))
        return QString::fromUtf8(kCalibrateHelp);
    if (command == QLatin1String("upgrade"))
        return QString::fromUtf8(kUpgradeHelp);
    if (command == QLatin1String("bus"))
        return QString::fromUtf8(kBusHelp);
    if (command == QLatin1String("station"))
        return StationHelpText() + QStringLiteral("\n") + StationRecordsHelp();
    return {};
}

namespace {

// Commands that take no arguments of their own (help takes one topic).
int MostArguments(const QString& command)
{
    static const QStringList none = {QStringLiteral("ports"), QStringLiteral("info"), QStringLiteral("read"),
                                     QStringLiteral("watch")};
    if (none.contains(command))
        return 0;
    if (command == QLatin1String("help"))
        return 1;
    return -1; // the command judges its own
}

} // namespace

std::optional<Options> ParseOptions(const QStringList& arguments, QString& error, Options* seen)
{
    Options o;
    error.clear();
    // The first problem is the one reported; the rest of the line is still
    // read, so that --json and the command are known for the report.
    auto fail = [&error](const QString& problem) {
        if (error.isEmpty())
            error = problem;
    };
    std::vector<std::pair<QString, QString>> commandOptions;
    // --addr is one address, except for bus, where it is a list: it is
    // judged once the command is known.
    std::optional<QString> addr;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            if (o.command.isEmpty())
                o.command = arg;
            else
                o.args.append(arg);
            continue;
        }
        QString name = arg.mid(2);
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        const OptionDef* option = FindOption(name);
        if (!option) {
            fail(QStringLiteral("unknown option --%1").arg(name));
            continue;
        }
        if (option->takesValue && !hasValue) {
            if (i + 1 >= arguments.size()) {
                fail(QStringLiteral("--%1 needs a value").arg(name));
                continue;
            }
            value = arguments[++i];
        } else if (!option->takesValue && hasValue) {
            fail(QStringLiteral("--%1 takes no value").arg(name));
            continue;
        }
        if (option->takesValue && value.isEmpty()) {
            fail(QStringLiteral("--%1 needs a value, not an empty text").arg(name));
            continue;
        }
        if (name == QLatin1String("addr")) {
            addr = value;
        } else if (option->commands.isEmpty()) {
            QString problem;
            if (!ApplyShared(o, name, value, problem))
                fail(problem);
        } else {
            commandOptions.emplace_back(name, value);
        }
    }
    if (addr && o.command == QLatin1String("bus")) {
        o.extra[QStringLiteral("addr")] = *addr;
    } else if (addr) {
        QString problem;
        if (!ApplyShared(o, QStringLiteral("addr"), *addr, problem))
            fail(problem);
    }
    if (!o.command.isEmpty() && !CommandNames().contains(o.command))
        fail(QStringLiteral("unknown command '%1' (see quorlex-bms-cli --help)").arg(o.command));
    const int most = MostArguments(o.command);
    if (most >= 0 && o.args.size() > most)
        fail(QStringLiteral("%1 takes %2 ('%3' is one too many)")
                 .arg(o.command, most == 0 ? QStringLiteral("no arguments") : QStringLiteral("one argument"),
                      o.args.value(most)));
    for (const auto& [name, value] : commandOptions) {
        if (!FindOption(name)->commands.contains(o.command)) {
            fail(QStringLiteral("--%1 is not an option of %2")
                     .arg(name, o.command.isEmpty() ? QStringLiteral("the program") : o.command));
            continue;
        }
        o.extra[name] = value;
    }
    if (seen)
        *seen = o;
    if (!error.isEmpty())
        return std::nullopt;
    return o;
}

} // namespace bms::cli
