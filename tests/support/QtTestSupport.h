// Qt pieces that GoogleTest programs share: one application object for the
// whole test program (timers, queued events and Delay need it), and a wait
// that keeps handling events until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace bms::test {

// Register once per program:
//   ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);
template <typename Application = QCoreApplication>
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "bms-test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<Application>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<Application> app_;
};

// Handles events until `done` holds or `timeoutMs` have passed; the result
// of `done`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // bounds each wait for events
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace bms::test
