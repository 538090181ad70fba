#include "Responder.h"

#include "Codec.h"

namespace bms::sim {

namespace {

constexpr uint16_t RegRebootOrder = 0x9D00;
constexpr uint16_t RebootValue = 0x0030;
constexpr uint16_t RegDevInfo = 0x9E00;
constexpr uint16_t RegDevCount = 0x9E05;
constexpr uint16_t RegDevErase = 0x9E80;
constexpr uint16_t RegDevRecord = 0x9F00;

constexpr uint8_t ExIllegalFunction = 1, ExIllegalAddress = 2, ExIllegalValue = 3, ExDeviceFailure = 4;
// A read answer's byte count is one byte: at most 127 registers.
constexpr uint16_t MaxReadRegisters = 127;
constexpr size_t LogSize = 512;

BootLoader::Timing TimingOf(const PackConfig& c)
{
    return {c.bootRebootMs, c.bootEraseMs, c.bootCheckMs, c.bootIdleMs};
}

} // namespace

Responder::Responder(const PackConfig& config, double now)
    : state(config, now)
    , boot(TimingOf(config))
    , config_(config)
{
}

std::vector<uint8_t> Responder::frame(std::vector<uint8_t> body) const
{
    AppendCrc(body);
    return body;
}

std::vector<Answer> Responder::exception(uint8_t function, uint8_t code) const
{
    return {{frame({config_.address, static_cast<uint8_t>(function | 0x80), code})}};
}

std::vector<Answer> Responder::status(const BootLoader::Codes& codes) const
{
    // Status frames: address, length 3 (code and CRC), code, CRC. Boards of
    // the other product types answer from address 0x06 in their boot loader.
    const uint8_t address = config_.productType == "BSI" ? config_.address : 0x06;
    std::vector<Answer> out;
    if (runSilenced_)
        return out;
    for (uint8_t code : codes)
        out.push_back({frame({address, 0x03, code})});
    return out;
}

bool Responder::refusedIn(uint16_t start, uint16_t count) const
{
    for (uint16_t reg : refused)
        if (reg >= start && static_cast<uint32_t>(reg) < static_cast<uint32_t>(start) + count)
            return true;
    return false;
}

std::vector<Answer> Responder::handle(const Request& request, double now)
{
    log.push_back(request.bytes);
    if (log.size() > LogSize)
        log.pop_front();
    switch (request.kind) {
    case Request::Kind::BootCommand:
        ++counts[0x3A];
        return status(boot.onBootCommand(request.bytes[4], now));
    case Request::Kind::ImageRecord:
        ++counts[0x3A];
        return record(request.bytes, now);
    case Request::Kind::Modbus:
        ++counts[request.bytes[1]];
        return modbus(request.bytes, now);
    }
    return {};
}

std::vector<Answer> Responder::poll(double now)
{
    const BootLoader::State before = boot.state();
    auto out = status(boot.poll(now));
    if (before == BootLoader::State::Erasing && boot.state() == BootLoader::State::Writing)
        images.clear(Target::MainBoard);
    if (before == BootLoader::State::Checking && boot.state() == BootLoader::State::Application) {
        // The check passed and the board starts its new image.
        state.telemetry().firmwareUpgraded();
        gone = silentAfterUpgrade;
    }
    return out;
}

std::vector<Answer> Responder::answerToRecord(int number, std::vector<Answer> answers)
{
    if (loseAnswerAt > 0 && number == loseAnswerAt) {
        loseAnswerAt = 0;
        return {};
    }
    if (corruptAnswerAt > 0 && number == corruptAnswerAt) {
        corruptAnswerAt = 0;
        for (Answer& a : answers)
            a.bytes.back() ^= 0x5A;
    }
    return answers;
}

std::vector<Answer> Responder::record(const std::vector<uint8_t>& r, double now)
{
    if (!boot.acceptsRecords())
        return {};
    images.addMainBoard(r);
    const int number = boot.recordsInRun() + 1;
    if (silenceAfter >= 0 && number > silenceAfter)
        runSilenced_ = true;
    return answerToRecord(number, status(boot.onRecord(r, writeErrorAt > 0 && number == writeErrorAt, now)));
}

std::vector<Answer> Responder::modbus(const std::vector<uint8_t>& f, double now)
{
    if (gone)
        return {};
    const uint8_t function = f[1];
    if (function == 0x30) {
        // A new reboot order starts a new run.
        runSilenced_ = false;
        return status(boot.onRebootFrame(now));
    }
    if (boot.inBootLoader())
        return {};  // the application is not running
    switch (function) {
    case 0x03:
    case 0x04: return read(f, now);
    case 0x06:
    case 0x10: return write(f, now);
    case 0x14:
    case 0x1B:
    case 0x52: return ownFunction(f);
    default: return exception(function, ExIllegalFunction);
    }
}

std::vector<Answer> Responder::read(const std::vector<uint8_t>& f, double now)
{
    const uint16_t start = ReadU16BE(f.data(), 2);
    const uint16_t count = ReadU16BE(f.data(), 4);
    if (count == 0 || count > MaxReadRegisters)
        return exception(f[1], ExIllegalValue);
    if (refusedIn(start, count))
        return exception(f[1], ExIllegalAddress);
    const std::vector<uint16_t> values = state.read(start, count, now);
    if (start == 0x2000)
        state.telemetry().nextParallelMember();
    std::vector<uint8_t> body{config_.address, f[1], static_cast<uint8_t>(count * 2)};
    for (uint16_t v : values) {
        body.push_back(static_cast<uint8_t>(v >> 8));
        body.push_back(static_cast<uint8_t>(v));
    }
    return {{frame(std::move(body))}};
}

std::vector<Answer> Responder::write(const std::vector<uint8_t>& f, double now)
{
    const uint16_t start = ReadU16BE(f.data(), 2);
    uint16_t count = 1;
    const uint8_t* data = f.data() + 4;
    uint8_t bytes = 2;
    std::vector<uint8_t> ack;
    if (f[1] == 0x06) {
        ack.assign(f.begin(), f.end() - 2);
    } else {
        count = ReadU16BE(f.data(), 4);
        bytes = f[6];
        data = f.data() + 7;
        // The tool's upgrade packets carry an odd byte count with the
        // register count rounded down; fewer bytes than registers is refused.
        if (count == 0 || bytes < count * 2)
            return exception(0x10, ExIllegalValue);
        ack.assign(f.begin(), f.begin() + 6);
    }
    if (refusedIn(start, count))
        return exception(f[1], ExIllegalAddress);
    if (start == RegRebootOrder && ReadU16BE(data, 0) == RebootValue) {
        // The board leaves for its boot loader and does not acknowledge:
        // the tool is already listening for boot-loader status frames.
        boot.onRebootOrder(now);
        return {};
    }
    if (start == RegDevInfo || start == RegDevRecord || start == RegDevCount || start == RegDevErase)
        return devFirmware(start, count, data, bytes, ack, now);
    state.write(start, count, data, now);
    return {{frame(std::move(ack))}};
}

std::vector<Answer> Responder::devFirmware(uint16_t start, uint16_t count, const uint8_t* data, uint8_t bytes,
                                           const std::vector<uint8_t>& ack, double now)
{
    (void)count;
    switch (start) {
    case RegDevInfo:
        // Firmware information: a new transfer begins after the erase.
        devInfo.assign(data, data + bytes);
        images.clear(Target::DevFirmware);
        devRecords_ = 0;
        runSilenced_ = false;
        return {{frame(ack), now + config_.devEraseMs / 1000.0}};
    case RegDevRecord: {
        if (runSilenced_)
            return {};
        const int number = ++devRecords_;
        if (bytes >= 4)
            images.addDev(ReadU32BE(data, 0), data + 4, bytes - 4u);
        if (silenceAfter >= 0 && number > silenceAfter) {
            runSilenced_ = true;
            return {};
        }
        if (writeErrorAt > 0 && number == writeErrorAt)
            return exception(0x10, ExDeviceFailure);
        return answerToRecord(number, {{frame(ack)}});
    }
    case RegDevCount:
        if (runSilenced_)
            return {};
        devCount = bytes >= 4 ? ReadU32BE(data, 0) : 0;
        // The count must match the records that arrived.
        if (devCount != images.dev().size())
            return exception(0x10, ExDeviceFailure);
        return {{frame(ack)}};
    default: // RegDevErase
        images.clear(Target::DevFirmware);
        devRecords_ = 0;
        ++devErases;
        return {{frame(ack), now + config_.devEraseMs / 1000.0}};
    }
}

std::vector<Answer> Responder::ownFunction(const std::vector<uint8_t>& f)
{
    // Address, function, 0x00, length, data, CRC.
    const uint8_t length = f[3];
    const uint8_t* data = f.data() + 4;
    switch (f[1]) {
    case 0x14:
        if (length != 4)
            return exception(f[1], ExIllegalValue);
        state.setRatedCapacity(ReadU32BE(data, 0));
        break;
    case 0x1B:
        if (length != 20)
            return exception(f[1], ExIllegalValue);
        state.setSerialNumber(data);
        break;
    default: // 0x52
        if (length != 4)
            return exception(f[1], ExIllegalValue);
        state.setUploadInterval(ReadU32BE(data, 0));
        break;
    }
    // Acknowledged with the header echoed: address, function, 0x00, length, CRC.
    return {{frame({f[0], f[1], 0x00, length})}};
}

} // namespace bms::sim
