#include "LineWriter.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace bms::sim {

Clock::duration LineWriter::byteTime(uint32_t baud)
{
    if (baud == 0)
        return Clock::duration::zero();
    // 10 bits per byte: start bit, 8 data bits, stop bit.
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

bool LineWriter::sleepUntil(Clock::time_point deadline) const
{
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd p{stopFd_, POLLIN, 0};
        const int r = ppoll(&p, 1, &ts, nullptr);
        if (r > 0)
            return false;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

bool LineWriter::writeAll(const uint8_t* data, size_t count) const
{
    // A tool that does not read fills the terminal's buffer; the answer is
    // dropped after a second rather than blocking the pack.
    const auto giveUp = Clock::now() + std::chrono::seconds(1);
    while (count > 0) {
        const ssize_t n = ::write(fd_, data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() > giveUp)
            return false;
        pollfd p[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        if (poll(p, 2, 50) > 0 && (p[1].revents & POLLIN))
            return false;
    }
    return true;
}

bool LineWriter::send(const std::vector<uint8_t>& bytes, const Shape& shape, Clock::time_point start)
{
    const size_t pieces = static_cast<size_t>(std::clamp(shape.pieces, 1, static_cast<int>(std::max<size_t>(bytes.size(), 1))));
    const auto perByte = byteTime(shape.baud);
    auto next = std::max(start, lineFree_);
    size_t sent = 0;
    for (size_t piece = 0; piece < pieces; ++piece) {
        const size_t end = bytes.size() * (piece + 1) / pieces;
        if (piece > 0 && shape.gapMs > 0) {
            next = std::max(next, Clock::now()) + std::chrono::milliseconds(shape.gapMs);
            if (!sleepUntil(next))
                return false;
        }
        if (perByte == Clock::duration::zero()) {
            if (!writeAll(bytes.data() + sent, end - sent))
                return false;
            sent = end;
            continue;
        }
        // A byte reaches the other end when its stop bit has gone out.
        for (; sent < end; ++sent) {
            next += perByte;
            if (!sleepUntil(next) || !writeAll(bytes.data() + sent, 1))
                return false;
        }
    }
    lineFree_ = next;
    return true;
}

} // namespace bms::sim
