#include "CommThread.h"

#include <chrono>
#include <sys/resource.h>
#include <unistd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>

namespace bms {

PortShared::~PortShared()
{
    if (fd >= 0) {
        (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
}

void PortShared::StoreTimeouts(const CommTimeouts& t)
{
    readInterval.store(t.ReadIntervalTimeout);
    readMultiplier.store(t.ReadTotalTimeoutMultiplier);
    readConstant.store(t.ReadTotalTimeoutConstant);
    writeMultiplier.store(t.WriteTotalTimeoutMultiplier);
    writeConstant.store(t.WriteTotalTimeoutConstant);
}

CommThread::~CommThread()
{
    // Only reached joined, or abandoned and detached, or on the thread itself.
    if (thread_.joinable())
        thread_.detach();
}

bool CommThread::Start()
{
    std::shared_ptr<CommThread> self = shared_from_this();
    try {
        thread_ = std::thread([self] {
            if (const int nice = self->NiceValue())
                (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
            self->Execute();
            {
                const std::lock_guard lock(self->mutex_);
                self->finished_ = true;
            }
            self->finishedCv_.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CommThread::WaitFor(int ms)
{
    {
        std::unique_lock lock(mutex_);
        if (!finishedCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished_; }))
            return false;
    }
    if (thread_.joinable())
        thread_.join();
    return true;
}

void CommThread::Abandon()
{
    terminated_.store(true);
    if (thread_.joinable())
        thread_.detach();
}

} // namespace bms
