#include "QueryWatchdog.h"

#include <sys/socket.h>

namespace bms::records {

QueryWatchdog::~QueryWatchdog()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        fd_ = -1;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void QueryWatchdog::arm(int fd, std::chrono::milliseconds limit)
{
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
        deadline_ = std::chrono::steady_clock::now() + limit;
        fired_ = false;
        // The thread starts with the first watch: a connection that is
        // never used costs none.
        if (!thread_.joinable())
            thread_ = std::thread([this] { watch(); });
    }
    changed_.notify_all();
}

bool QueryWatchdog::disarm()
{
    std::lock_guard lock(mutex_);
    // Under the lock: once this returns, the socket is not touched, even by
    // a deadline that passes at this very moment.
    fd_ = -1;
    return fired_;
}

void QueryWatchdog::watch()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (fd_ < 0) {
            changed_.wait(lock);
            continue;
        }
        if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && fd_ >= 0
            && std::chrono::steady_clock::now() >= deadline_) {
            // The blocked call sees the connection end and returns.
            ::shutdown(fd_, SHUT_RDWR);
            fired_ = true;
            fd_ = -1;
        }
    }
}

} // namespace bms::records
