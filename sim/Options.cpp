#include "Options.h"

#include "Codec.h"

#include <cctype>
#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>

namespace bms::sim {

namespace {

long Number(const std::string& text, long low, long high)
{
    size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used, 0);  // decimal, or 0x.. hexadecimal
    } catch (const std::exception&) {
        throw std::invalid_argument("not a number: " + text);
    }
    if (used != text.size() || value < low || value > high)
        throw std::invalid_argument("out of range " + std::to_string(low) + ".." + std::to_string(high) + ": " + text);
    return value;
}

double Real(const std::string& text, double low, double high)
{
    size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        throw std::invalid_argument("not a number: " + text);
    }
    if (used != text.size() || value < low || value > high)
        throw std::invalid_argument("out of range: " + text);
    return value;
}

std::vector<uint8_t> HexBytes(const std::string& text)
{
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ' ')
            throw std::invalid_argument("not hexadecimal: " + text);
    return HexTextToBytes(text);
}

// A software version as the tool shows it, "1.5.4": bits 15-12, 11-4, 3-0.
uint16_t Version(const std::string& text)
{
    const size_t a = text.find('.');
    const size_t b = a == std::string::npos ? a : text.find('.', a + 1);
    if (b == std::string::npos)
        throw std::invalid_argument("not a version A.B.C: " + text);
    const long major = Number(text.substr(0, a), 0, 15);
    const long middle = Number(text.substr(a + 1, b - a - 1), 0, 255);
    const long minor = Number(text.substr(b + 1), 0, 15);
    return static_cast<uint16_t>(major << 12 | middle << 4 | minor);
}

// "A:B" as two numbers.
std::pair<std::string, std::string> Pair(const std::string& text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        throw std::invalid_argument("not N:VALUE: " + text);
    return {text.substr(0, colon), text.substr(colon + 1)};
}

// Bit BIT of the alarm, protection or fault word REG.
std::pair<uint16_t, int> WordBit(const std::string& reg, const std::string& bit)
{
    return {static_cast<uint16_t>(Number(reg, 0x0080, 0x0083)), static_cast<int>(Number(bit, 0, 15))};
}

void ApplyBit(VirtualPack& pack, std::pair<uint16_t, int> wordBit, bool on)
{
    const uint16_t mask = static_cast<uint16_t>(1u << wordBit.second);
    const uint16_t bits = pack.forcedBits(wordBit.first);
    pack.setForcedBits(wordBit.first, static_cast<uint16_t>(on ? bits | mask : bits & ~mask));
}

void Split(const std::string& text, int& pieces, int& gapMs)
{
    const size_t colon = text.find(':');
    pieces = static_cast<int>(Number(text.substr(0, colon), 1, 300));
    if (colon != std::string::npos)
        gapMs = static_cast<int>(Number(text.substr(colon + 1), 0, 10000));
}

} // namespace

std::string UsageText()
{
    return R"(usage: virtual-pack [options]

A simulated battery pack on a pseudo-terminal. Prints the terminal's path on
the first line of standard output, publishes it for the tool's port list and
answers until SIGINT or SIGTERM. Commands typed on standard input change its
faults while it runs (type "help").

Pack:
  --address N          Modbus address (default 0x06)
  --cells N            cells in series (default 16)
  --cell-temps N       cell temperature sensors (default 4)
  --mos-temps N        MOS temperature sensors (default 2)
  --capacity MAH       design capacity in mAh (default 100000)
  --product TYPE       product type; BSI fills the parallel block (default Q-Serial)
  --parallel N         members of the parallel system, BSI only (default 2)
  --soc PERCENT        state of charge at start (default 60)
  --speed X            simulated seconds per second (default 24)
  --static             values stand still
  --barcode TEXT       12-character barcode
  --serial TEXT        serial number, up to 20 characters
  --new-version A.B.C  software version after a main-board upgrade
                       (default: the last number plus one)
  --keep-version       keep the old version after an upgrade (new image not started)
  --name NAME          published as virtual-pack-NAME (default demo)
  --bus N              a rack of N packs (1..16 and up to 247) at addresses 1..N on
                       one line, each with its own serial number and state; the
                       pack at 3 nearly empty, the one at 5 with an alarm. Console
                       commands go to every pack, or to one with "@3 silent"
  --collide A          a second pack answers at address A of the rack
  --no-publish         do not publish the terminal
Line:
  --baud N             send answers at N baud, 10 bits per byte (default 19200; 0 at once)
Faults:
  --silent             never answer
  --bad-crc            answer with a wrong CRC
  --noise HEX          send these bytes before every answer
  --split N[:MS]       send answers in N pieces, MS apart (default 5)
  --delay MS           answer MS late
  --refuse REG         refuse register REG (exception 2); repeatable
  --write-error-at N   refuse image record N (counted from 1)
  --silence-after N    fall silent after image record N
  --lose-answer N      the answer to image record N is lost (the record is taken)
  --corrupt-answer N   the answer to image record N carries a wrong CRC
  --silent-after-upgrade  answer nothing once a main-board upgrade completed
Battery faults and the fixture:
  --cell-offset N:MV   cell N reads MV off (a voltage calibration of it corrects it)
  --temp N:C           cell temperature sensor N reads C degrees Celsius
  --mos-temp N:C       MOS temperature sensor N reads C degrees Celsius
  --bit REG:BIT        bit BIT of word REG (0x0080 alarm, 0x0081..0x0083) is set
  --current-error PCT  the current reads PCT % off until a current calibration
  --current MA         a charger (MA > 0) or load (MA < 0) holds the current;
                       the charge cycle stops
  --version A.B.C      the software version the pack runs (default 1.5.3)
  --seed N             draws the spread below (default 1): one pack of many
  --cell-spread MV     each cell reads off by a normal draw of this sigma
  --temp-spread C      each temperature sensor reads 25 (MOS 26) degrees plus a draw
  --current-spread PCT the current reads off by a draw (on top of --current-error)
Images:
  --dump-main FILE     on exit, write the main-board records received (Intel HEX)
  --dump-dev FILE      on exit, write the dev-firmware records received
)";
}

std::optional<std::string> ParseOptions(const std::vector<std::string>& args, ProgramOptions& out)
{
    PackConfig& c = out.config;
    FaultOptions& f = out.faults;
    c.name = "demo";
    c.baud = 19200;
    try {
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size())
                    throw std::invalid_argument(a + " needs a value");
                return args[++i];
            };
            if (a == "-h" || a == "--help") out.help = true;
            else if (a == "--address") c.address = static_cast<uint8_t>(Number(value(), 1, 255));
            else if (a == "--cells") c.cellCount = static_cast<int>(Number(value(), 0, 127));
            else if (a == "--cell-temps") c.cellTempCount = static_cast<int>(Number(value(), 0, 127));
            else if (a == "--mos-temps") c.mosTempCount = static_cast<int>(Number(value(), 0, 127));
            else if (a == "--capacity") c.capacityMah = static_cast<uint32_t>(Number(value(), 1000, 4000000));
            else if (a == "--product") c.productType = value();
            else if (a == "--parallel") c.parallelCount = static_cast<int>(Number(value(), 0, 16));
            else if (a == "--soc") c.startSoc = Real(value(), 0, 100) / 100.0;
            else if (a == "--speed") c.timeScale = Real(value(), 0, 100000);
            else if (a == "--static") c.live = false;
            else if (a == "--barcode") c.barcode = value();
            else if (a == "--serial") c.serialNumber = value();
            else if (a == "--new-version") c.upgradedVersion = Version(value());
            else if (a == "--keep-version") c.keepVersion = true;
            else if (a == "--name") c.name = value();
            else if (a == "--no-publish") c.publish = false;
            else if (a == "--bus") out.bus = static_cast<int>(Number(value(), 1, 247));
            else if (a == "--collide") out.collide = static_cast<int>(Number(value(), 1, 247));
            else if (a == "--baud") c.baud = static_cast<uint32_t>(Number(value(), 0, 4000000));
            else if (a == "--silent") f.silent = -1;
            else if (a == "--bad-crc") f.corruptCrc = -1;
            else if (a == "--noise") f.noise = HexBytes(value());
            else if (a == "--split") Split(value(), f.pieces, f.gapMs);
            else if (a == "--delay") f.delayMs = static_cast<int>(Number(value(), 0, 60000));
            else if (a == "--refuse") f.refused.push_back(static_cast<uint16_t>(Number(value(), 0, 0xFFFF)));
            else if (a == "--write-error-at") f.writeErrorAt = static_cast<int>(Number(value(), 1, 1000000));
            else if (a == "--silence-after") f.silenceAfter = static_cast<int>(Number(value(), 0, 1000000));
            else if (a == "--lose-answer") f.loseAnswerAt = static_cast<int>(Number(value(), 1, 1000000));
            else if (a == "--corrupt-answer") f.corruptAnswerAt = static_cast<int>(Number(value(), 1, 1000000));
            else if (a == "--silent-after-upgrade") f.silentAfterUpgrade = true;
            else if (a == "--cell-offset") {
                const auto [cell, mv] = Pair(value());
                f.cellFaults.emplace_back(static_cast<int>(Number(cell, 1, 127)), static_cast<int>(Number(mv, -5000, 5000)));
            } else if (a == "--temp" || a == "--mos-temp") {
                const auto [sensor, celsius] = Pair(value());
                f.temperatures.push_back({a == "--mos-temp", static_cast<int>(Number(sensor, 1, 127)), Real(celsius, -273, 1000)});
            } else if (a == "--bit") {
                const auto [reg, bit] = Pair(value());
                f.bits.push_back(WordBit(reg, bit));
            } else if (a == "--current-error") f.currentError = Real(value(), -100, 1000);
            else if (a == "--current") f.heldCurrent = static_cast<int32_t>(Number(value(), -2000000, 2000000));
            else if (a == "--version") c.softwareVersion = Version(value());
            else if (a == "--seed") f.seed = static_cast<unsigned>(Number(value(), 0, 0x7FFFFFFF));
            else if (a == "--cell-spread") f.cellSpreadMv = Real(value(), 0, 1000);
            else if (a == "--temp-spread") f.tempSpreadC = Real(value(), 0, 100);
            else if (a == "--current-spread") f.currentSpreadPct = Real(value(), 0, 100);
            else if (a == "--dump-main") out.dumpMain = value();
            else if (a == "--dump-dev") out.dumpDev = value();
            else throw std::invalid_argument("unknown option " + a);
        }
    } catch (const std::invalid_argument& e) {
        return std::string(e.what());
    }
    f.cells = c.cellCount;
    f.cellTemps = c.cellTempCount;
    f.mosTemps = c.mosTempCount;
    if (out.collide > 0 && out.collide > out.bus)
        return "--collide " + std::to_string(out.collide) + " names no pack of the rack (--bus N, 1..N)";
    return std::nullopt;
}

void ApplyFaults(const FaultOptions& f, VirtualPack& pack)
{
    pack.setSilent(f.silent);
    pack.setCorruptCrc(f.corruptCrc);
    pack.setNoise(f.noise);
    pack.setSplit(f.pieces, f.gapMs);
    pack.setAnswerDelay(f.delayMs);
    for (uint16_t reg : f.refused)
        pack.refuseRegister(reg);
    pack.setWriteErrorAtRecord(f.writeErrorAt);
    pack.setSilenceAfterRecord(f.silenceAfter);
    pack.setLoseAnswerAtRecord(f.loseAnswerAt);
    pack.setCorruptAnswerAtRecord(f.corruptAnswerAt);
    pack.setSilentAfterUpgrade(f.silentAfterUpgrade);
    std::mt19937 draws(f.seed);
    const auto draw = [&draws](double sigma) { return sigma > 0 ? std::normal_distribution<double>(0, sigma)(draws) : 0.0; };
    std::vector<int> cellOffsets(size_t(std::max(f.cells, 0)), 0);
    for (int& mv : cellOffsets)
        mv = static_cast<int>(std::lround(draw(f.cellSpreadMv)));
    for (const auto& [cell, mv] : f.cellFaults)
        if (cell >= 1 && cell <= f.cells)
            cellOffsets[size_t(cell - 1)] += mv;
        else
            pack.setCellFault(cell, mv);
    for (int cell = 1; cell <= f.cells; ++cell)
        if (cellOffsets[size_t(cell - 1)] != 0)
            pack.setCellFault(cell, cellOffsets[size_t(cell - 1)]);
    if (f.tempSpreadC > 0) {
        for (int sensor = 1; sensor <= f.cellTemps; ++sensor)
            pack.setTemperature(false, sensor, std::round((25 + draw(f.tempSpreadC)) * 10) / 10);
        for (int sensor = 1; sensor <= f.mosTemps; ++sensor)
            pack.setTemperature(true, sensor, std::round((26 + draw(f.tempSpreadC)) * 10) / 10);
    }
    for (const FaultOptions::Temperature& t : f.temperatures)
        pack.setTemperature(t.mos, t.sensor, t.celsius);
    for (const auto& bit : f.bits)
        ApplyBit(pack, bit, true);
    if (const double error = f.currentError + draw(f.currentSpreadPct); error != 0)
        pack.setCurrentError(error);
    if (f.heldCurrent)
        pack.holdCurrent(f.heldCurrent);
}

std::string RunCommand(const std::string& line, VirtualPack& pack)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    std::vector<std::string> rest;
    for (std::string w; in >> w;)
        rest.push_back(w);
    auto arg = [&](size_t i, long low, long high, long fallback) {
        return i < rest.size() ? Number(rest[i], low, high) : fallback;
    };
    try {
        if (word.empty()) return {};
        if (word == "help")
            return "commands: silent [N|-1|0], crc [N|-1|0], noise HEX|off, split N [MS], delay MS, "
                   "refuse REG, accept REG, write-error N, silence-after N, lose-answer N, corrupt-answer N, silent-after-upgrade [on|off], "
                   "cell-offset N MV, temp N C|off, mos-temp N C|off, bit REG BIT [on|off], current-error PCT, "
                   "current MA|off, clear, status, dump main|dev FILE, quit\n";
        if (word == "silent") pack.setSilent(static_cast<int>(arg(0, -1, 1000000, -1)));
        else if (word == "crc") pack.setCorruptCrc(static_cast<int>(arg(0, -1, 1000000, -1)));
        else if (word == "noise") pack.setNoise(rest.empty() || rest[0] == "off" ? std::vector<uint8_t>{} : HexBytes(rest[0]));
        else if (word == "split") pack.setSplit(static_cast<int>(arg(0, 1, 300, 1)), static_cast<int>(arg(1, 0, 10000, 5)));
        else if (word == "delay") pack.setAnswerDelay(static_cast<int>(arg(0, 0, 60000, 0)));
        else if (word == "refuse") pack.refuseRegister(static_cast<uint16_t>(arg(0, 0, 0xFFFF, 0)));
        else if (word == "accept") pack.refuseRegister(static_cast<uint16_t>(arg(0, 0, 0xFFFF, 0)), false);
        else if (word == "write-error") pack.setWriteErrorAtRecord(static_cast<int>(arg(0, 0, 1000000, 0)));
        else if (word == "silence-after") pack.setSilenceAfterRecord(static_cast<int>(arg(0, -1, 1000000, -1)));
        else if (word == "lose-answer") pack.setLoseAnswerAtRecord(static_cast<int>(arg(0, 0, 1000000, 0)));
        else if (word == "corrupt-answer") pack.setCorruptAnswerAtRecord(static_cast<int>(arg(0, 0, 1000000, 0)));
        else if (word == "silent-after-upgrade") pack.setSilentAfterUpgrade(rest.empty() || rest[0] != "off");
        else if (word == "clear") pack.clearFaults();
        else if (word == "cell-offset") pack.setCellFault(static_cast<int>(arg(0, 1, 127, 1)), static_cast<int>(arg(1, -5000, 5000, 0)));
        else if (word == "temp" || word == "mos-temp") {
            if (rest.size() != 2)
                return "usage: " + word + " N C|off\n";
            const int sensor = static_cast<int>(arg(0, 1, 127, 1));
            pack.setTemperature(word == "mos-temp", sensor,
                                rest[1] == "off" ? std::nullopt : std::optional<double>(Real(rest[1], -273, 1000)));
        } else if (word == "bit") {
            if (rest.size() < 2)
                return "usage: bit REG BIT [on|off]\n";
            ApplyBit(pack, WordBit(rest[0], rest[1]), rest.size() < 3 || rest[2] != "off");
        } else if (word == "current-error") pack.setCurrentError(rest.empty() ? 0 : Real(rest[0], -100, 1000));
        else if (word == "current") {
            if (rest.empty())
                return "usage: current MA|off\n";
            pack.holdCurrent(rest[0] == "off" ? std::nullopt
                                              : std::optional<int32_t>(static_cast<int32_t>(Number(rest[0], -2000000, 2000000))));
        }
        else if (word == "dump") {
            if (rest.size() != 2 || (rest[0] != "main" && rest[0] != "dev"))
                return "usage: dump main|dev FILE\n";
            const Target target = rest[0] == "main" ? Target::MainBoard : Target::DevFirmware;
            return pack.writeImageHex(target, rest[1]) ? "written\n" : "cannot write " + rest[1] + "\n";
        } else if (word == "status") {
            std::ostringstream s;
            s << "requests: read " << pack.requestCount(0x04) << ", write " << pack.requestCount(0x10)
              << ", boot " << pack.requestCount(0x3A) << "; answers " << pack.answersSent()
              << "; records main " << pack.records(Target::MainBoard).size()
              << ", dev " << pack.records(Target::DevFirmware).size()
              << "; barcode " << pack.barcode();
            const uint16_t sw = pack.reg(0x000B);
            s << "; software " << (sw >> 12) << "." << ((sw >> 4) & 0xFF) << "." << (sw & 0xF) << "\n";
            return s.str();
        } else return "unknown command " + word + " (try help)\n";
    } catch (const std::invalid_argument& e) {
        return std::string(e.what()) + "\n";
    }
    return "ok\n";
}

std::string RunBusCommand(const std::string& line, VirtualBus& bus)
{
    std::vector<VirtualPack*> targets;
    std::string command = line;
    if (!line.empty() && line[0] == '@') {
        const size_t space = line.find(' ');
        try {
            const long address = Number(line.substr(1, space == std::string::npos ? space : space - 1), 1, 255);
            targets = bus.packs(static_cast<uint8_t>(address));
        } catch (const std::invalid_argument& e) {
            return std::string(e.what()) + "\n";
        }
        if (targets.empty())
            return "no pack at " + line.substr(0, space) + "\n";
        command = space == std::string::npos ? std::string() : line.substr(space + 1);
    } else {
        for (size_t i = 0; i < bus.size(); ++i)
            targets.push_back(&bus.pack(i));
    }
    std::string out;
    for (VirtualPack* p : targets)
        out += "@" + std::to_string(p->config().address) + ": " + RunCommand(command, *p);
    return out;
}

} // namespace bms::sim
