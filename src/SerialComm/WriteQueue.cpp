#include "WriteQueue.h"

#include <new>

namespace bms {

bool WriteQueue::Push(WriteRequest request) noexcept
{
    try {
        const std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        queue_.push_back(std::move(request));
        sendDataEmpty_->store(false);
    } catch (const std::bad_alloc&) {
        return false;
    }
    wake_.Signal();
    return true;
}

bool WriteQueue::Pop(WriteRequest& out)
{
    const std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        sendDataEmpty_->store(true);
        return false;
    }
    out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void WriteQueue::Close()
{
    std::deque<WriteRequest> dropped;
    const std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
    sendDataEmpty_->store(true);
}

} // namespace bms
