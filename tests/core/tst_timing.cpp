// The event-handling wait and the timer semantics that the sampling loop and
// the settings commands rely on.
#include "App.h"
#include "QtTestSupport.h"
#include "Timer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

TEST(Delay, waitsAtLeastItsTimeWhileTimersAndPostedEventsGoOn)
{
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    bool posted = false;
    QTimer::singleShot(0, [&] { posted = true; });

    QElapsedTimer clock;
    clock.start();
    Delay(200);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(posted);

    clock.restart();
    Delay(0);
    EXPECT_LT(clock.elapsed(), 100);
}

TEST(Timer, reEnablingOrSameIntervalKeepsTheRunningPeriod)
{
    Timer t;
    int fired = 0;
    t.OnTimer = [&] { ++fired; };
    t.setInterval(600);
    t.setEnabled(true);
    QElapsedTimer clock;
    clock.start();
    // Half-way through the period neither call may start it again: a restart
    // would fire no earlier than 900 ms.
    ASSERT_TRUE(WaitUntil([&] { return clock.elapsed() >= 300; }, 2000));
    t.setEnabled(true);
    t.setInterval(600);
    ASSERT_TRUE(WaitUntil([&] { return fired > 0; }, 3000));
    EXPECT_LT(clock.elapsed(), 880);

    // A new interval on an enabled timer starts a full new period.
    fired = 0;
    clock.restart();
    t.setInterval(250);
    ASSERT_TRUE(WaitUntil([&] { return fired > 0; }, 2000));
    EXPECT_GE(clock.elapsed(), 240);

    t.setEnabled(false);
    fired = 0;
    Delay(400);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(t.enabled());
    EXPECT_EQ(t.interval(), 250);
}

} // namespace
