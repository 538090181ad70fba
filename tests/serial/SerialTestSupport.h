// Helpers of the serial tests: a QCoreApplication for the whole run, waiting
// on a condition while events are delivered, and a pseudo-terminal whose
// slave the component opens while the test plays the device on the master.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace bms::test {

class AppEnvironment : public testing::Environment {
public:
    void SetUp() override { app_ = new QCoreApplication(argc_, argv_); }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "tst_serial";
    char* argv_[2] = { name_, nullptr };
    QCoreApplication* app_ = nullptr;
};

inline const bool kAppEnvironmentAdded = (testing::AddGlobalTestEnvironment(new AppEnvironment), true);

// Runs the event loop until `done` holds; false after `timeoutMs`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10'000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

class PtyPair {
public:
    PtyPair()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0
            || ptsname_r(master_, name, sizeof name) != 0)
            ADD_FAILURE() << "no pseudo-terminal";
        (void)fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        slavePath_ = QString::fromLocal8Bit(name);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const QString& slavePath() const { return slavePath_; }

    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    // Writes everything, waiting while the terminal is full.
    bool WriteAll(const uint8_t* data, size_t count) const
    {
        size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(master_, data + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p { master_, POLLOUT, 0 };
                if (::poll(&p, 1, 5000) <= 0)
                    return false;
            } else if (!(n < 0 && errno == EINTR)) {
                return false;
            }
        }
        return true;
    }

    // Reads until `count` bytes have come or `timeoutMs` passed without any.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 10'000) const
    {
        std::vector<uint8_t> got;
        uint8_t chunk[4096];
        while (got.size() < count) {
            pollfd p { master_, POLLIN, 0 };
            if (::poll(&p, 1, timeoutMs) <= 0)
                break;
            const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - got.size()));
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
            else if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
                break;
        }
        return got;
    }

private:
    int master_ = -1;
    QString slavePath_;
};

} // namespace bms::test
