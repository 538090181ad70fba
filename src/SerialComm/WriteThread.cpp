#include "WriteThread.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace bms {

namespace {
using Clock = std::chrono::steady_clock;
}

void TWriteThread::Execute()
{
    bool justWrote = true;
    for (;;) {
        WriteRequest request;
        if (!queue_->Pop(request)) {
            if (justWrote && queue_->ReportEmpty() && !notify_->Post(NotifyCode::SendDataEmpty)) {
                Hangup();
                break;
            }
            justWrote = false;
            pollfd fds[2] = { { port_->closeEvent.fd(), POLLIN, 0 }, { queue_->wakeFd(), POLLIN, 0 } };
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                Hangup();
                break;
            }
            if (fds[0].revents != 0 || Terminated())
                break;
            queue_->ClearWake();
            continue;
        }
        if (port_->closeEvent.IsSignalled() || Terminated())
            break;
        if (!WriteAll(request))
            break;
        justWrote = true;
    }
    queue_->Close();
    (void)tcflush(port_->fd, TCOFLUSH);
}

bool TWriteThread::WriteAll(const WriteRequest& request)
{
    const int fd = port_->fd;
    const uint64_t limitMs = uint64_t { port_->writeMultiplier.load() } * request.count + port_->writeConstant.load();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    size_t done = 0;
    while (done < request.count) {
        const ssize_t wrote = ::write(fd, request.buffer.get() + done, request.count - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
            continue;
        }
        const int error = wrote < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        if (error == EBADF)
            return false; // the port was closed under the thread
        if (error != EAGAIN) {
            Hangup();
            return false;
        }
        int timeout = -1;
        if (limitMs > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                Hangup(); // a short write: the time-out ran out
                return false;
            }
            timeout = static_cast<int>(std::min<int64_t>(left, 1'000'000));
        }
        pollfd fds[2] = { { port_->closeEvent.fd(), POLLIN, 0 }, { fd, POLLOUT, 0 } };
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            Hangup();
            return false;
        }
        if (fds[0].revents != 0 || Terminated() || (fds[1].revents & POLLNVAL))
            return false;
        if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLOUT)) {
            Hangup();
            return false;
        }
    }
    return true;
}

} // namespace bms
