// Timing of request/answer round trips for the round-trip benchmarks.
#pragma once

#include "Percentile.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace bms::bench {

struct RoundTrips {
    std::vector<double> us; // microseconds of each answered round trip after the warm-up
    int timeouts = 0;
};

inline void Append(RoundTrips& into, const RoundTrips& more)
{
    into.us.insert(into.us.end(), more.us.begin(), more.us.end());
    into.timeouts += more.timeouts;
}

// Runs `warmup + rounds` round trips: `send` starts one, the answer's
// handler sets `done` and quits `loop`. A round trip without an answer within
// a second is counted as a time-out and left out.
inline RoundTrips TimeRoundTrips(int warmup, int rounds, bool& done, QEventLoop& loop, const std::function<void()>& send)
{
    using Clock = std::chrono::steady_clock;
    RoundTrips result;
    result.us.reserve(static_cast<size_t>(rounds));
    for (int i = 0; i < warmup + rounds; ++i) {
        done = false;
        const Clock::time_point start = Clock::now();
        send();
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(1000);
        if (!done)
            loop.exec();
        const double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (!done)
            ++result.timeouts;
        else if (i >= warmup)
            result.us.push_back(elapsed);
    }
    return result;
}

// Prints the count, p50, p99 and maximum under `title`; false when no round
// trip was answered.
inline bool PrintRoundTrips(const char* title, const RoundTrips& r)
{
    if (r.us.empty()) {
        std::printf("no round trip completed (%d time-outs)\n", r.timeouts);
        return false;
    }
    std::printf("%s\n", title);
    std::printf("round trips: %zu  time-outs: %d\n", r.us.size(), r.timeouts);
    std::printf("p50: %.0f us  p99: %.0f us  max: %.0f us\n", Percentile(r.us, 0.50), Percentile(r.us, 0.99),
                *std::max_element(r.us.begin(), r.us.end()));
    return true;
}

} // namespace bms::bench
