// The receive thread: waits in poll() for the close event or bytes from the
// device and hands each completed read to the user-interface thread as one
// receive-data notification (count, buffer of count + 1 bytes, the last 0).
//
// A read completes:
//   - when 1024 bytes have arrived;
//   - ReadIntervalTimeout ms after the last byte (1 ms in the main window);
//   - at the read's total time-out (multiplier x 1024 + constant ms after the
//     read began) when that is not 0; a read that ends there without bytes
//     starts over without a notification;
//   - at once with whatever arrived when the interval is 0xFFFFFFFF and both
//     totals are 0;
//   - with the interval and both totals 0, only at 1024 bytes.
// While the device keeps interrupt counters (real UARTs, most USB adapters),
// they are sampled every 100 ms and changes become receive-error and
// modem-state-change notifications; a pseudo-terminal has none.
// A vanished device (hang-up, device error, EIO, end of file) ends the thread
// after delivering the bytes already read and posting exactly one
// request-hangup notification; the close event ends it silently.
#pragma once

#include "CommThread.h"
#include "LineEvents.h"
#include "Notify.h"

namespace bms {

class TReadThread : public CommThread {
public:
    TReadThread(std::shared_ptr<PortShared> port, std::shared_ptr<NotifyChannel> notify)
        : port_(std::move(port)), notify_(std::move(notify))
    {
    }

    static constexpr size_t kReadSize = 1024;

protected:
    void Execute() override;
    int NiceValue() const override { return -2; }

private:
    bool Deliver(const uint8_t* data, size_t count);
    bool CheckLineEvents();
    void Hangup() { notify_->Post(NotifyCode::RequestHangup); }

    std::shared_ptr<PortShared> port_;
    std::shared_ptr<NotifyChannel> notify_;
    bool watchLine_ = false;
    LineCounts counts_;
};

} // namespace bms
