// Lets a long read of a file (a data log, a journal) be followed and stopped
// from another thread: the reader publishes how far it has got and looks at
// `cancel` between pieces of the file.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace bms {

struct ReadControl {
    std::atomic_bool cancel{false};
    std::atomic<int> permille{0}; // 0..1000

    bool cancelled() const { return cancel.load(std::memory_order_relaxed); }
    // `done` of `total` bytes read; never says 1000 before the reader ends.
    void progress(int64_t done, int64_t total)
    {
        if (total > 0)
            permille.store(int(std::clamp<int64_t>(done * 1000 / total, 0, 999)), std::memory_order_relaxed);
    }
};

// The same through a pointer that may be null.
inline bool Cancelled(const ReadControl* control) { return control && control->cancelled(); }

} // namespace bms
