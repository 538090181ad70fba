// The tool's side of a virtual pack's pseudo-terminal, for tests: opens the
// slave path raw, writes frames, and reads answers with a generous deadline.
#pragma once

#include "Codec.h"

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace bms::sim::test {

class PortClient {
public:
    explicit PortClient(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PortClient() { close(); }
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    void send(const std::vector<uint8_t>& bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    // Reads until `count` bytes have arrived or `timeoutMs` has passed.
    std::vector<uint8_t> receive(size_t count, int timeoutMs = 3000)
    {
        std::vector<uint8_t> out;
        chunks_ = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buffer, buffer + n);
                ++chunks_;
            }
        }
        return out;
    }

    // True when nothing arrives within `ms` (used where silence is the answer).
    bool quietFor(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) == 0;
    }

    // Reads the answer made of `count` bytes after sending `request`.
    std::vector<uint8_t> ask(const std::vector<uint8_t>& request, size_t count, int timeoutMs = 3000)
    {
        send(request);
        return receive(count, timeoutMs);
    }

    int chunksOfLastReceive() const { return chunks_; }

private:
    int fd_ = -1;
    int chunks_ = 0;
};

// Frame helpers built with the codec.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> body)
{
    AppendCrc(body);
    return body;
}

inline std::vector<uint8_t> ReadRequest(uint8_t address, uint16_t reg, uint16_t count, uint8_t function = 0x04)
{
    return WithCrc({address, function, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg),
                    static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
}

inline std::vector<uint8_t> WriteRequest(uint8_t address, uint16_t reg, const std::vector<uint8_t>& data,
                                         uint16_t count)
{
    std::vector<uint8_t> f{address, 0x10, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg),
                           static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count),
                           static_cast<uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    return WithCrc(f);
}

inline std::vector<uint8_t> WriteRequest(uint8_t address, uint16_t reg, const std::vector<uint8_t>& data)
{
    return WriteRequest(address, reg, data, static_cast<uint16_t>(data.size() / 2));
}

inline std::vector<uint8_t> WriteAck(uint8_t address, uint16_t reg, uint16_t count)
{
    return WithCrc({address, 0x10, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg),
                    static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
}

inline std::vector<uint8_t> Status(uint8_t address, uint8_t code)
{
    return WithCrc({address, 0x03, code});
}

} // namespace bms::sim::test
