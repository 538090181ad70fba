#include "App.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

namespace bms {

AppContext App;

void BlockingPause(int ms)
{
    if (App.blockingPause)
        App.blockingPause(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Delay(int ms)
{
    if (App.delay) {
        App.delay(ms);
        return;
    }
    QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    // A wake-up timer so that the blocking wait below ends when time is up;
    // it repeats, so a wake-up that comes a little early cannot leave the
    // wait blocked with no further event to come.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::max(ms, 1));
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
}

} // namespace bms
