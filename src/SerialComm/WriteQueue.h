// The transmit thread's queue of write requests. The sender's buffer travels
// with its request. The send-data-empty flag is kept under the same lock as
// the queue, so it is false exactly from the moment bytes are queued until
// the transmit thread finds the queue empty.
#pragma once

#include "EventFd.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace bms {

struct WriteRequest {
    std::unique_ptr<uint8_t[]> buffer;
    uint16_t count = 0;
};

class WriteQueue {
public:
    explicit WriteQueue(std::shared_ptr<std::atomic<bool>> sendDataEmpty)
        : sendDataEmpty_(std::move(sendDataEmpty))
    {
    }

    bool valid() const { return wake_.valid(); }
    // Readable while requests may be waiting.
    int wakeFd() const { return wake_.fd(); }
    void ClearWake() const { wake_.Clear(); }

    // Any thread. False once the transmit thread has ended, or without memory.
    bool Push(WriteRequest request) noexcept;
    // Transmit thread: the next request, or false (and the flag set) when empty.
    bool Pop(WriteRequest& out);
    // Transmit thread at its end: refuse further requests, drop queued ones.
    void Close();

    // Whether the transmit thread posts its send-data-empty notifications:
    // only while the component has a handler for them. A drained queue
    // would otherwise wake the user-interface thread after every request,
    // just while the peer prepares its answer.
    void SetReportEmpty(bool on) { reportEmpty_.store(on); }
    bool ReportEmpty() const { return reportEmpty_.load(); }

private:
    std::shared_ptr<std::atomic<bool>> sendDataEmpty_;
    std::atomic<bool> reportEmpty_ { true };
    EventFd wake_;
    std::mutex mutex_;
    std::deque<WriteRequest> queue_;
    bool closed_ = false;
};

} // namespace bms
