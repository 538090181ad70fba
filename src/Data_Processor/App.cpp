#include "App.h"

#include "CommRecord.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace bms {

AppContext App;

namespace {

int UpgradePauses = 0;                          // nested upgrade pauses running
std::vector<std::function<void()>> HeldWork;    // what arrived during them

void RunHeldWork()
{
    // Posted while no pause ran, but another has begun since: its end posts
    // this again.
    if (UpgradePauses > 0)
        return;
    std::vector<std::function<void()>> work;
    work.swap(HeldWork);
    for (const std::function<void()>& w : work)
        w();
}

} // namespace

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

bool UpgradePause(int ms)
{
    if (App.blockingPause || !QCoreApplication::instance()) {
        BlockingPause(ms);
        return true;
    }
    const uint8_t runOn = UpgradeActive;
    ++UpgradePauses;
    Delay(ms);
    --UpgradePauses;
    // What was held runs once the step that waited has returned to the
    // event loop, as it would have after a pause that handled nothing.
    if (UpgradePauses == 0 && !HeldWork.empty())
        QTimer::singleShot(0, QCoreApplication::instance(), RunHeldWork);
    return !(runOn && !UpgradeActive);
}

bool HoldDuringUpgradePause(std::function<void()> work)
{
    if (UpgradePauses == 0)
        return false;
    HeldWork.push_back(std::move(work));
    return true;
}

bool InUpgradePause()
{
    return UpgradePauses > 0;
}

} // namespace bms
