#include "ReadThread.h"

#include "LineEvents.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <ctime>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace bms {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLineSamplePeriod = std::chrono::milliseconds(100);

// Nanoseconds until `deadline`, at least 0.
int64_t NsUntil(Clock::time_point deadline, Clock::time_point now)
{
    if (deadline <= now)
        return 0;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
}

} // namespace

bool TReadThread::Deliver(const uint8_t* data, size_t count)
{
    if (count == 0)
        return false;
    // Zero-filled, so the byte after the data is the closing 0.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[count + 1]());
    if (buffer) {
        std::memcpy(buffer.get(), data, count);
        if (notify_->Post(NotifyCode::ReceiveData, static_cast<uint32_t>(count), std::move(buffer)))
            return true;
    }
    Hangup();
    return false;
}

void TReadThread::Execute()
{
    const int fd = port_->fd;
    uint8_t data[kReadSize];
    size_t n = 0;
    Clock::time_point readStart = Clock::now();
    Clock::time_point lastByte = readStart;

    watchLine_ = ReadLineCounts(fd, counts_);
    Clock::time_point nextSample = readStart + kLineSamplePeriod;

    for (;;) {
        const uint32_t interval = port_->readInterval.load();
        const uint64_t total = uint64_t { port_->readMultiplier.load() } * kReadSize + port_->readConstant.load();
        const bool immediate = interval == kReadIntervalImmediate && total == 0;
        const bool useInterval = interval != 0 && interval != kReadIntervalImmediate;
        // Bytes kept for an interval that has since been switched to "at
        // once" go now: no interval is left to end their wait.
        if (immediate && n > 0) {
            if (!Deliver(data, n))
                break;
            n = 0;
            readStart = Clock::now();
        }

        Clock::time_point now = Clock::now();
        int64_t timeoutNs = -1; // -1: no limit
        auto limit = [&](Clock::time_point deadline) {
            const int64_t ns = NsUntil(deadline, now);
            timeoutNs = timeoutNs < 0 ? ns : std::min(timeoutNs, ns);
        };
        if (n > 0 && useInterval)
            limit(lastByte + std::chrono::milliseconds(interval));
        if (total > 0)
            limit(readStart + std::chrono::milliseconds(total));
        if (watchLine_)
            limit(nextSample);

        pollfd fds[2] = { { port_->closeEvent.fd(), POLLIN, 0 }, { fd, POLLIN, 0 } };
        timespec timeout { static_cast<time_t>(timeoutNs / 1'000'000'000), static_cast<long>(timeoutNs % 1'000'000'000) };
        const int ready = ::ppoll(fds, 2, timeoutNs < 0 ? nullptr : &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            Hangup();
            break;
        }
        if (fds[0].revents != 0 || Terminated())
            break;
        if (fds[1].revents & POLLNVAL)
            break; // the port was closed under the thread
        if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t got = ::read(fd, data + n, kReadSize - n);
            const int error = got < 0 ? errno : 0;
            const bool hungUp = (fds[1].revents & (POLLHUP | POLLERR)) != 0;
            if (got > 0) {
                size_t kept = static_cast<size_t>(got);
                if (port_->ignoreNullChar.load())
                    kept = static_cast<size_t>(std::remove(data + n, data + n + kept, uint8_t { 0 }) - (data + n));
                n += kept;
                lastByte = Clock::now();
                if (n == kReadSize || (immediate && n > 0)) {
                    if (!Deliver(data, n))
                        break;
                    n = 0;
                    readStart = lastByte;
                }
            } else if (got == 0 || hungUp || (error != EAGAIN && error != EINTR)) {
                // End of file, a device error or a hang-up with nothing left to read.
                if (n > 0 && !Deliver(data, n))
                    break;
                if (error != EBADF)
                    Hangup();
                break;
            }
        }

        now = Clock::now();
        if (watchLine_ && now >= nextSample) {
            nextSample = now + kLineSamplePeriod;
            if (!CheckLineEvents())
                break;
        }
        const bool intervalDone = n > 0 && useInterval && now >= lastByte + std::chrono::milliseconds(interval);
        const bool totalDone = total > 0 && now >= readStart + std::chrono::milliseconds(total);
        if (intervalDone || totalDone) {
            if (n > 0 && !Deliver(data, n))
                break;
            n = 0;
            readStart = now;
        }
    }
    (void)tcflush(fd, TCIFLUSH);
}

bool TReadThread::CheckLineEvents()
{
    LineCounts current;
    if (!ReadLineCounts(port_->fd, current)) {
        watchLine_ = false; // the device stopped keeping counters
        return true;
    }
    const uint32_t errors = LineErrorFlags(counts_, current);
    const uint32_t modem = ModemEventValue(counts_, current);
    counts_ = current;
    if ((errors != 0 && !notify_->Post(NotifyCode::ReceiveError, errors))
        || (modem != 0 && !notify_->Post(NotifyCode::ModemStateChange, modem))) {
        Hangup();
        return false;
    }
    return true;
}

} // namespace bms
