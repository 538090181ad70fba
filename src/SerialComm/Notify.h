// The road from the worker threads to the user-interface thread: a locked
// queue of notifications and an eventfd that a QSocketNotifier of the
// component watches. Notifications are taken in the order they were posted;
// a buffer travels inside its notification and is released with it.
#pragma once

#include "EventFd.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace bms {

enum class NotifyCode : uint16_t {
    ReceiveData = 0x0401,
    ReceiveError = 0x0402,
    RequestHangup = 0x0403,
    ModemStateChange = 0x0404,
    SendDataEmpty = 0x0405,
};

struct Notification {
    NotifyCode code = NotifyCode::RequestHangup;
    uint32_t value = 0;                  // byte count, error flags or modem value
    std::unique_ptr<uint8_t[]> buffer;   // received bytes plus a closing zero
};

class NotifyChannel {
public:
    bool valid() const { return wake_.valid(); }
    int wakeFd() const { return wake_.fd(); }

    // Any thread. False when the notification could not be queued.
    bool Post(NotifyCode code, uint32_t value = 0, std::unique_ptr<uint8_t[]> buffer = nullptr) noexcept;

    // User-interface thread: resets the wake-up, then takes notifications
    // one by one until Take returns false.
    void ClearWake() const { wake_.Clear(); }
    bool Take(Notification& out);

private:
    EventFd wake_;
    std::mutex mutex_;
    std::deque<Notification> queue_;
};

} // namespace bms
