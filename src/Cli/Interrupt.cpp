#include "Interrupt.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace bms::cli {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGXFSZ};

int Pipe[2] = {-1, -1};
std::unique_ptr<QSocketNotifier> Notifier;
std::function<void(int)> Handler;

extern "C" void OnSignal(int signal)
{
    const auto byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(Pipe[1], &byte, 1);
}

} // namespace

void InstallInterruptHandler(std::function<void(int)> handler)
{
    Handler = std::move(handler);
    if (Pipe[0] < 0 && ::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    Notifier = std::make_unique<QSocketNotifier>(Pipe[0], QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, [] {
        char buffer[16];
        ssize_t n = 0;
        int first = 0;
        while ((n = ::read(Pipe[0], buffer, sizeof buffer)) > 0)
            first = first ? first : buffer[0];
        // The first signal decides; the program is already ending after it.
        if (Handler && first)
            Handler(first);
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kEndingSignals)
        ::sigaction(s, &action, nullptr);
    for (int s : kIgnoredSignals)
        ::signal(s, SIG_IGN);
}

void RemoveInterruptHandler()
{
    for (int s : kEndingSignals)
        ::signal(s, SIG_DFL);
    for (int s : kIgnoredSignals)
        ::signal(s, SIG_DFL);
    Notifier.reset();
    Handler = nullptr;
}

QString SignalName(int signal)
{
    switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(signal);
    }
}

} // namespace bms::cli
