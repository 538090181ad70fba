#include "Timer.h"

namespace bms {

Timer::Timer()
{
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
}

void Timer::setInterval(int ms)
{
    if (ms == interval_)
        return;
    interval_ = ms;
    if (enabled_)
        timer_.start(interval_);
}

void Timer::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    if (on)
        timer_.start(interval_);
    else
        timer_.stop();
}

void Timer::fire()
{
    if (OnTimer)
        OnTimer();
}

} // namespace bms
