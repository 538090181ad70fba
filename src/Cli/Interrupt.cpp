#include "Interrupt.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace bms::cli {

namespace {

int Pipe[2] = {-1, -1};
std::unique_ptr<QSocketNotifier> Notifier;
std::function<void()> Handler;

extern "C" void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(Pipe[1], &byte, 1);
}

} // namespace

void InstallInterruptHandler(std::function<void()> handler)
{
    Handler = std::move(handler);
    if (Pipe[0] < 0 && ::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    Notifier = std::make_unique<QSocketNotifier>(Pipe[0], QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(Pipe[0], buffer, sizeof buffer) > 0) {
        }
        if (Handler)
            Handler();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void RemoveInterruptHandler()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    Notifier.reset();
    Handler = nullptr;
}

} // namespace bms::cli
