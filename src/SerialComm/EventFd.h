// A manual-reset event on a Linux eventfd: Signal() makes it readable until
// Clear(), so any number of threads can wait for it in poll() next to other
// descriptors.
#pragma once

#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace bms {

class EventFd {
public:
    EventFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void Signal() const
    {
        const uint64_t one = 1;
        (void)!::write(fd_, &one, sizeof one);
    }
    void Clear() const
    {
        uint64_t value = 0;
        (void)!::read(fd_, &value, sizeof value);
    }
    bool IsSignalled() const
    {
        pollfd p { fd_, POLLIN, 0 };
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    }

private:
    int fd_;
};

} // namespace bms
