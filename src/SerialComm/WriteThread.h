// The transmit thread: takes write requests from its queue in order and
// writes each one completely, waiting in poll() while the device's output
// buffer is full. It posts a send-data-empty notification once at start and
// each time it has drained the queue after writing, as long as the queue
// says that they are wanted (WriteQueue::ReportEmpty).
//
// A write request ends early only through the close event (silently), the
// write total time-out (multiplier x count + constant ms, when not 0) or a
// device error; the latter two post one request-hangup notification and end
// the thread, after which the queue refuses further requests.
#pragma once

#include "CommThread.h"
#include "Notify.h"
#include "WriteQueue.h"

namespace bms {

class TWriteThread : public CommThread {
public:
    TWriteThread(std::shared_ptr<PortShared> port, std::shared_ptr<WriteQueue> queue,
                 std::shared_ptr<NotifyChannel> notify)
        : port_(std::move(port)), queue_(std::move(queue)), notify_(std::move(notify))
    {
    }

protected:
    void Execute() override;
    int NiceValue() const override { return -1; }

private:
    bool WriteAll(const WriteRequest& request);
    void Hangup() { notify_->Post(NotifyCode::RequestHangup); }

    std::shared_ptr<PortShared> port_;
    std::shared_ptr<WriteQueue> queue_;
    std::shared_ptr<NotifyChannel> notify_;
};

} // namespace bms
