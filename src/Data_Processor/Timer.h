// A window timer with the semantics the tool relies on: enabling a disabled
// timer or changing the interval of an enabled one starts a new full period;
// enabling an enabled timer or setting the interval it already has changes
// nothing.
#pragma once

#include <QTimer>
#include <functional>

namespace bms {

class Timer {
public:
    Timer();
    void setInterval(int ms);
    void setEnabled(bool on);
    int interval() const { return interval_; }
    bool enabled() const { return enabled_; }
    // Runs the handler as an expiry would (tests drive timers with it).
    void fire();

    std::function<void()> OnTimer;

private:
    QTimer timer_;
    int interval_ = 1000;
    bool enabled_ = false;
};

} // namespace bms
