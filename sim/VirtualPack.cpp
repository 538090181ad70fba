#include "VirtualPack.h"

#include "LineWriter.h"
#include "PseudoTerminal.h"
#include "RequestAssembler.h"
#include "Responder.h"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace bms::sim {

namespace {

// A partial request after this much quiet is garbage.
constexpr auto QuietTime = std::chrono::milliseconds(50);

std::string DefaultName()
{
    static std::atomic<int> sequence{0};
    return std::to_string(getpid()) + "-" + std::to_string(++sequence);
}

// Consumes one use of a fault count: -1 always, 0 never, n > 0 the next n.
bool Take(int& count)
{
    if (count == 0)
        return false;
    if (count > 0)
        --count;
    return true;
}

} // namespace

struct VirtualPack::Impl {
    explicit Impl(const PackConfig& config)
        : epoch(Clock::now())
        , responder(config, 0.0)
        , assembler(config.address)
    {
    }

    std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex); }
    double now() const { return std::chrono::duration<double>(Clock::now() - epoch).count(); }
    Clock::time_point at(double seconds) const
    {
        return epoch + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
    void run(const PackConfig& config);
    void send(std::vector<Answer> answers, Clock::time_point earliest, const PackConfig& config);

    const Clock::time_point epoch;
    mutable std::mutex mutex;         // guards everything below but the thread handles
    Responder responder;
    RequestAssembler assembler;
    int silent = 0;
    int corruptCrc = 0;
    std::vector<uint8_t> noise;
    int pieces = 1;
    int gapMs = 5;
    int delayMs = 0;
    uint64_t answers = 0;
    uint64_t dropped = 0;

    PseudoTerminal pty;
    int stopFd = -1;
    std::thread thread;
};

void VirtualPack::Impl::send(std::vector<Answer> out, Clock::time_point earliest, const PackConfig& config)
{
    LineWriter line(pty.master(), stopFd);
    for (Answer& answer : out) {
        LineWriter::Shape shape;
        shape.baud = config.baud;
        std::vector<uint8_t> bytes;
        int delay = 0;
        {
            std::lock_guard lock(mutex);
            if (Take(silent))
                continue;
            if (Take(corruptCrc) && answer.bytes.size() >= 2)
                answer.bytes.back() ^= 0x5A;
            bytes = noise;
            bytes.insert(bytes.end(), answer.bytes.begin(), answer.bytes.end());
            shape.pieces = pieces;
            shape.gapMs = gapMs;
            delay = delayMs;
        }
        Clock::time_point when = std::max(earliest, at(answer.notBefore)) + std::chrono::milliseconds(delay);
        if (!line.sleepUntil(when) || !line.send(bytes, shape))
            return;
        std::lock_guard lock(mutex);
        ++answers;
    }
}

void VirtualPack::Impl::run(const PackConfig& config)
{
    // The line timing sleeps until each byte's stop bit; the default 50 us
    // timer slack would add to every answer, so the pack's thread asks for
    // none.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const auto charTime = LineWriter::byteTime(config.baud);
    Clock::time_point lastByte = Clock::now();
    std::vector<uint8_t> chunk(4096);
    for (;;) {
        int timeoutMs = -1;
        {
            std::lock_guard lock(mutex);
            if (auto deadline = responder.nextDeadline())
                timeoutMs = static_cast<int>(std::max(0.0, (*deadline - now()) * 1000.0)) + 1;
            if (assembler.pending()) {
                const auto quietLeft = std::chrono::duration_cast<std::chrono::milliseconds>(lastByte + QuietTime - Clock::now()).count();
                const int q = static_cast<int>(std::max<long long>(quietLeft, 0)) + 1;
                timeoutMs = timeoutMs < 0 ? q : std::min(timeoutMs, q);
            }
        }
        pollfd fds[2] = {{pty.master(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN)
            return;

        std::vector<Request> requests;
        Clock::time_point earliest = Clock::now();
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(pty.master(), chunk.data(), chunk.size());
            if (n > 0) {
                lastByte = Clock::now();
                std::lock_guard lock(mutex);
                assembler.feed(chunk.data(), static_cast<size_t>(n), requests);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // No slave open anywhere (cannot happen while we hold one): wait a little.
                pollfd stop{stopFd, POLLIN, 0};
                if (poll(&stop, 1, 50) > 0)
                    return;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            pollfd stop{stopFd, POLLIN, 0};
            if (poll(&stop, 1, 50) > 0)
                return;
        }

        std::vector<Answer> out;
        {
            std::lock_guard lock(mutex);
            if (assembler.pending() && Clock::now() - lastByte >= QuietTime)
                assembler.expire(requests);
            const double t = now();
            for (const Request& request : requests) {
                auto answers = responder.handle(request, t);
                out.insert(out.end(), answers.begin(), answers.end());
                // On a real line the answer starts after the request has
                // arrived and 3.5 characters of silence.
                const auto frameTime = charTime * static_cast<long>(request.bytes.size()) + charTime * 7 / 2;
                earliest = std::max(earliest, lastByte + frameTime);
            }
            auto due = responder.poll(t);
            out.insert(out.end(), due.begin(), due.end());
            assembler.setAcceptRecords(responder.acceptsRecords());
            dropped = assembler.droppedBytes();
        }
        if (!out.empty())
            send(std::move(out), earliest, config);
    }
}

VirtualPack::VirtualPack(PackConfig config)
    : config_(std::move(config))
    , d_(std::make_unique<Impl>(config_))
{
    if (config_.name.empty())
        config_.name = DefaultName();
}

VirtualPack::~VirtualPack()
{
    stop();
}

std::string VirtualPack::start()
{
    if (d_->thread.joinable())
        return d_->pty.slavePath();
    d_->pty.open();
    d_->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d_->stopFd < 0) {
        d_->pty.close();
        throw std::runtime_error("eventfd failed");
    }
    if (config_.publish)
        d_->pty.publish(config_.name);
    d_->thread = std::thread([this] { d_->run(config_); });
    return d_->pty.slavePath();
}

void VirtualPack::stop()
{
    if (!d_->thread.joinable())
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d_->stopFd, &one, sizeof one);
    d_->thread.join();
    ::close(d_->stopFd);
    d_->stopFd = -1;
    d_->pty.close();
}

bool VirtualPack::running() const { return d_->thread.joinable(); }
std::string VirtualPack::slavePath() const { return d_->pty.slavePath(); }
std::string VirtualPack::linkPath() const { return d_->pty.linkPath(); }

// ---- Faults

void VirtualPack::setSilent(int answers) { const auto lock = d_->lock(); d_->silent = answers; }
void VirtualPack::setCorruptCrc(int answers) { const auto lock = d_->lock(); d_->corruptCrc = answers; }
void VirtualPack::setNoise(std::vector<uint8_t> bytes) { const auto lock = d_->lock(); d_->noise = std::move(bytes); }
void VirtualPack::setSplit(int pieces, int gapMs) { const auto lock = d_->lock(); d_->pieces = pieces < 1 ? 1 : pieces; d_->gapMs = gapMs; }
void VirtualPack::setAnswerDelay(int ms) { const auto lock = d_->lock(); d_->delayMs = ms < 0 ? 0 : ms; }
void VirtualPack::setWriteErrorAtRecord(int n) { const auto lock = d_->lock(); d_->responder.writeErrorAt = n; }
void VirtualPack::setSilenceAfterRecord(int n) { const auto lock = d_->lock(); d_->responder.silenceAfter = n; }
void VirtualPack::setLoseAnswerAtRecord(int n) { const auto lock = d_->lock(); d_->responder.loseAnswerAt = n; }
void VirtualPack::setCorruptAnswerAtRecord(int n) { const auto lock = d_->lock(); d_->responder.corruptAnswerAt = n; }

void VirtualPack::setSilentAfterUpgrade(bool on)
{
    const auto lock = d_->lock();
    d_->responder.silentAfterUpgrade = on;
    d_->responder.gone = d_->responder.gone && on;
}

void VirtualPack::refuseRegister(uint16_t reg, bool refuse)
{
    const auto lock = d_->lock();
    if (refuse)
        d_->responder.refused.insert(reg);
    else
        d_->responder.refused.erase(reg);
}

void VirtualPack::setCellFault(int cell, int mv) { const auto lock = d_->lock(); d_->responder.state.telemetry().setCellFault(cell - 1, mv); }
void VirtualPack::setCurrentError(double percent) { const auto lock = d_->lock(); d_->responder.state.telemetry().setCurrentError(percent); }
void VirtualPack::holdCurrent(std::optional<int32_t> ma) { const auto lock = d_->lock(); d_->responder.state.telemetry().holdCurrent(ma); }

void VirtualPack::setTemperature(bool mos, int sensor, std::optional<double> celsius)
{
    const auto lock = d_->lock();
    Telemetry& t = d_->responder.state.telemetry();
    if (mos)
        t.setMosTemperature(sensor - 1, celsius);
    else
        t.setCellTemperature(sensor - 1, celsius);
}

void VirtualPack::setForcedBits(uint16_t reg, uint16_t bits)
{
    const auto lock = d_->lock();
    d_->responder.state.telemetry().setForcedBits(reg - 0x0080, bits);
}

uint16_t VirtualPack::forcedBits(uint16_t reg) const
{
    const auto lock = d_->lock();
    return d_->responder.state.telemetry().forcedBits(reg - 0x0080);
}

void VirtualPack::clearFaults()
{
    const auto lock = d_->lock();
    d_->responder.state.telemetry().clearFaults();
    d_->silent = d_->corruptCrc = d_->delayMs = 0;
    d_->noise.clear();
    d_->pieces = 1;
    d_->responder.refused.clear();
    d_->responder.writeErrorAt = 0;
    d_->responder.silenceAfter = -1;
    d_->responder.loseAnswerAt = 0;
    d_->responder.corruptAnswerAt = 0;
    d_->responder.silentAfterUpgrade = false;
    d_->responder.gone = false;
}

// ---- State

uint16_t VirtualPack::reg(uint16_t address) const
{
    const auto lock = d_->lock();
    d_->responder.state.advanceTo(d_->now());
    return d_->responder.state.reg(address, d_->now());
}

std::vector<uint16_t> VirtualPack::registers(uint16_t start, uint16_t count) const
{
    const auto lock = d_->lock();
    return d_->responder.state.read(start, count, d_->now());
}

void VirtualPack::setRegister(uint16_t address, uint16_t value) { const auto lock = d_->lock(); d_->responder.state.pinRegister(address, value); }
void VirtualPack::unpinRegister(uint16_t address) { const auto lock = d_->lock(); d_->responder.state.unpinRegister(address); }
std::string VirtualPack::barcode() const { const auto lock = d_->lock(); return d_->responder.state.text(0x9D05, 12, d_->now()); }
std::string VirtualPack::manufacturer() const { const auto lock = d_->lock(); return d_->responder.state.text(0x9D0B, 8, d_->now()); }
std::string VirtualPack::serialNumber() const { const auto lock = d_->lock(); return d_->responder.state.text(0x9D0F, 20, d_->now()); }
uint32_t VirtualPack::ratedCapacity() const { const auto lock = d_->lock(); return d_->responder.state.ratedCapacity(); }
uint32_t VirtualPack::uploadInterval() const { const auto lock = d_->lock(); return d_->responder.state.uploadInterval(); }
std::array<uint8_t, 8> VirtualPack::clock() const { const auto lock = d_->lock(); return d_->responder.state.clock(d_->now()); }

std::map<std::pair<uint8_t, uint8_t>, uint64_t> VirtualPack::parameters() const
{
    const auto lock = d_->lock();
    return d_->responder.state.parameters();
}

uint64_t VirtualPack::requestCount(uint8_t function) const
{
    const auto lock = d_->lock();
    const auto it = d_->responder.counts.find(function);
    return it == d_->responder.counts.end() ? 0 : it->second;
}

std::vector<std::vector<uint8_t>> VirtualPack::requests() const
{
    const auto lock = d_->lock();
    return {d_->responder.log.begin(), d_->responder.log.end()};
}

uint64_t VirtualPack::answersSent() const { const auto lock = d_->lock(); return d_->answers; }
uint64_t VirtualPack::droppedBytes() const { const auto lock = d_->lock(); return d_->dropped; }
BootLoader::State VirtualPack::bootState() const { const auto lock = d_->lock(); return d_->responder.boot.state(); }
std::vector<std::vector<uint8_t>> VirtualPack::records(Target target) const { const auto lock = d_->lock(); return d_->responder.images.records(target); }
std::vector<uint8_t> VirtualPack::devFirmwareInfo() const { const auto lock = d_->lock(); return d_->responder.devInfo; }
uint32_t VirtualPack::devRecordCount() const { const auto lock = d_->lock(); return d_->responder.devCount; }
uint64_t VirtualPack::devEraseCount() const { const auto lock = d_->lock(); return d_->responder.devErases; }

std::vector<uint32_t> VirtualPack::devRecordIndices() const
{
    const auto lock = d_->lock();
    std::vector<uint32_t> out;
    for (const DevRecord& r : d_->responder.images.dev())
        out.push_back(r.index);
    return out;
}

std::string VirtualPack::imageHex(Target target, const std::string& eol) const
{
    const auto lock = d_->lock();
    return d_->responder.images.hexText(target, eol);
}

bool VirtualPack::writeImageHex(Target target, const std::string& path, const std::string& eol) const
{
    const std::string text = imageHex(target, eol);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return static_cast<bool>(file.flush());
}

} // namespace bms::sim
