// What the component shares with its two worker threads, and the thread base
// they derive from.
#pragma once

#include "CommTypes.h"
#include "EventFd.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace bms {

// The open port as the threads see it: the device, the close event and the
// settings the threads read while they run. Held by the component and both
// threads; the device is closed when the last of them lets go, so a thread
// that outlives its stop time-out never touches a reused descriptor.
struct PortShared {
    explicit PortShared(int deviceFd) : fd(deviceFd) {}
    ~PortShared();
    PortShared(const PortShared&) = delete;
    PortShared& operator=(const PortShared&) = delete;

    void StoreTimeouts(const CommTimeouts& t);

    const int fd;
    EventFd closeEvent;
    std::atomic<uint32_t> readInterval { 0 };
    std::atomic<uint32_t> readMultiplier { 0 };
    std::atomic<uint32_t> readConstant { 0 };
    std::atomic<uint32_t> writeMultiplier { 0 };
    std::atomic<uint32_t> writeConstant { 0 };
    std::atomic<bool> ignoreNullChar { false };
};

// A worker thread: Execute runs on its own thread. The object keeps itself
// alive while the thread runs.
class CommThread : public std::enable_shared_from_this<CommThread> {
public:
    virtual ~CommThread();

    // Starts the thread; false when the system cannot make one.
    bool Start();
    // Waits up to `ms` for Execute to return; true (and joined) when it did.
    bool WaitFor(int ms);
    // Sets the terminate request and lets the thread finish on its own.
    void Abandon();

protected:
    virtual void Execute() = 0;
    // The thread's nice value relative to normal (negative = more CPU). Set
    // as far as the process may; without the privilege it stays normal.
    virtual int NiceValue() const { return 0; }
    bool Terminated() const { return terminated_.load(); }

private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable finishedCv_;
    bool finished_ = false;
    std::atomic<bool> terminated_ { false };
};

} // namespace bms
