#include "PackLine.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace bms::sim {

namespace {

// A partial request after this much quiet is garbage.
constexpr auto QuietTime = std::chrono::milliseconds(50);

std::vector<uint8_t> Addresses(const std::vector<PackUnit*>& units)
{
    std::vector<uint8_t> out;
    for (const PackUnit* u : units)
        out.push_back(u->address);
    return out;
}

} // namespace

PackLine::PackLine(std::vector<PackUnit*> units, uint32_t baud)
    : units_(std::move(units))
    , baud_(baud)
    , assembler_(Addresses(units_))
{
}

PackLine::~PackLine()
{
    stop();
}

std::string PackLine::start(const std::string& publishName)
{
    if (thread_.joinable())
        return pty_.slavePath();
    pty_.open();
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        pty_.close();
        throw std::runtime_error("eventfd failed");
    }
    if (!publishName.empty())
        pty_.publish(publishName);
    thread_ = std::thread([this] { run(); });
    return pty_.slavePath();
}

void PackLine::stop()
{
    if (!thread_.joinable())
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
    stopFd_ = -1;
    pty_.close();
}

std::vector<Outgoing> PackLine::answer(const Request& request)
{
    std::vector<std::vector<Outgoing>> answered;
    for (PackUnit* u : units_) {
        if (request.kind == Request::Kind::Modbus && request.bytes.front() != u->address)
            continue;
        const auto lock = u->lock();
        auto shaped = u->shape(u->responder.handle(request, u->now()), baud_);
        if (!shaped.empty())
            answered.push_back(std::move(shaped));
    }
    if (answered.empty())
        return {};
    if (answered.size() == 1)
        return std::move(answered.front());
    // Each pack's first answer goes out at once with the others'.
    std::vector<Outgoing> firsts;
    std::vector<Outgoing> rest;
    for (auto& list : answered) {
        firsts.push_back(std::move(list.front()));
        rest.insert(rest.end(), std::make_move_iterator(list.begin() + 1), std::make_move_iterator(list.end()));
    }
    std::vector<Outgoing> out{Collide(std::move(firsts))};
    out.insert(out.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    return out;
}

void PackLine::send(std::vector<Outgoing> out, Clock::time_point earliest)
{
    LineWriter line(pty_.master(), stopFd_);
    for (Outgoing& o : out) {
        const Clock::time_point when = std::max(earliest, o.notBefore) + std::chrono::milliseconds(o.delayMs);
        if (!line.sleepUntil(when) || !line.send(o.bytes, o.shape, when))
            return;
        for (PackUnit* u : o.from) {
            const auto lock = u->lock();
            ++u->answers;
        }
    }
}

void PackLine::run()
{
    // The line timing sleeps until each byte's stop bit; the default 50 us
    // timer slack would add to every answer, so the line's thread asks for
    // none.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const auto charTime = LineWriter::byteTime(baud_);
    Clock::time_point lastByte = Clock::now();
    std::vector<uint8_t> chunk(4096);
    for (;;) {
        int timeoutMs = -1;
        for (const PackUnit* u : units_) {
            const auto lock = u->lock();
            if (auto deadline = u->responder.nextDeadline()) {
                const int ms = static_cast<int>(std::max(0.0, (*deadline - u->now()) * 1000.0)) + 1;
                timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
            }
        }
        if (assembler_.pending()) {
            const auto quietLeft = std::chrono::duration_cast<std::chrono::milliseconds>(lastByte + QuietTime - Clock::now()).count();
            const int q = static_cast<int>(std::max<long long>(quietLeft, 0)) + 1;
            timeoutMs = timeoutMs < 0 ? q : std::min(timeoutMs, q);
        }
        pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN)
            return;

        std::vector<Request> requests;
        Clock::time_point earliest = Clock::now();
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(pty_.master(), chunk.data(), chunk.size());
            if (n > 0) {
                lastByte = Clock::now();
                assembler_.feed(chunk.data(), static_cast<size_t>(n), requests);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // No slave open anywhere (cannot happen while we hold one): wait a little.
                pollfd stop{stopFd_, POLLIN, 0};
                if (poll(&stop, 1, 50) > 0)
                    return;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            pollfd stop{stopFd_, POLLIN, 0};
            if (poll(&stop, 1, 50) > 0)
                return;
        }

        if (assembler_.pending() && Clock::now() - lastByte >= QuietTime)
            assembler_.expire(requests);
        std::vector<Outgoing> out;
        for (const Request& request : requests) {
            auto answers = answer(request);
            out.insert(out.end(), std::make_move_iterator(answers.begin()), std::make_move_iterator(answers.end()));
            // On a real line the answer starts after the request has
            // arrived and 3.5 characters of silence.
            const auto frameTime = charTime * static_cast<long>(request.bytes.size()) + charTime * 7 / 2;
            earliest = std::max(earliest, lastByte + frameTime);
        }
        bool acceptRecords = false;
        for (PackUnit* u : units_) {
            const auto lock = u->lock();
            auto due = u->shape(u->responder.poll(u->now()), baud_);
            out.insert(out.end(), std::make_move_iterator(due.begin()), std::make_move_iterator(due.end()));
            acceptRecords = acceptRecords || u->responder.acceptsRecords();
            u->dropped = assembler_.droppedBytes();
        }
        assembler_.setAcceptRecords(acceptRecords);
        if (!out.empty())
            send(std::move(out), earliest);
    }
}

} // namespace bms::sim
