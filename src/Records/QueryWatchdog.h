// A client-side time limit on the blocking calls of one PostgreSQL
// connection. The server's statement_timeout cannot help against a server
// that does not answer at all (stopped, or its machine gone), and the
// kernel answers TCP keep-alives for a process that is stopped: a query
// would wait forever. While a call is watched, a thread of the watchdog's
// own waits for its deadline; when the deadline comes first it shuts the
// connection's socket down, so the blocked call returns with an error. The
// connection is of no use afterwards.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace bms::records {

class QueryWatchdog {
public:
    QueryWatchdog() = default;
    // Waits for its thread to end (a watch still on is dropped).
    ~QueryWatchdog();
    QueryWatchdog(const QueryWatchdog&) = delete;
    QueryWatchdog& operator=(const QueryWatchdog&) = delete;

    // Watches the socket `fd` for `limit` from now, until disarm().
    void arm(int fd, std::chrono::milliseconds limit);
    // Ends the watch. True when the limit had passed and the socket was
    // shut down.
    bool disarm();

private:
    void watch();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    int fd_ = -1;
    std::chrono::steady_clock::time_point deadline_;
    bool fired_ = false;
    bool stop_ = false;
};

} // namespace bms::records
