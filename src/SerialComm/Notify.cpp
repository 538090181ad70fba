#include "Notify.h"

#include <new>

namespace bms {

bool NotifyChannel::Post(NotifyCode code, uint32_t value, std::unique_ptr<uint8_t[]> buffer) noexcept
{
    try {
        const std::lock_guard lock(mutex_);
        queue_.push_back(Notification { code, value, std::move(buffer) });
    } catch (const std::bad_alloc&) {
        return false;
    }
    wake_.Signal();
    return true;
}

bool NotifyChannel::Take(Notification& out)
{
    const std::lock_guard lock(mutex_);
    if (queue_.empty())
        return false;
    out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

} // namespace bms
