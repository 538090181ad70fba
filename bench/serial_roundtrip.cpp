// Round-trip latency through the serial port component: SendData of an
// 8-byte function-4 request on the user-interface thread, a peer thread on
// the pseudo-terminal's master answering each request with a 65-byte
// function-4 response, until the answer is complete on the user-interface
// thread. Prints p50, p99 and the worst of the measured round trips.
//
// Usage: bench_serial_roundtrip [round trips, default 2000]
#include "RoundTrips.h"
#include "Codec.h"
#include "SerialComm.h"

#ifdef BMS_BENCH_WITH_LINK
#include "CommRecord.h"
#include "FakeHost.h"
#include "Hooks.h"
#include "Receive.h"
#endif

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint8_t kAddress = 1;
constexpr size_t kRequestSize = 8;

std::vector<uint8_t> Request()
{
    std::vector<uint8_t> r { kAddress, 0x04, 0x00, 0x00, 0x00, 0x1E };
    bms::AppendCrc(r);
    return r;
}

std::vector<uint8_t> Response()
{
    std::vector<uint8_t> r { kAddress, 0x04, 60 };
    for (uint8_t i = 0; i < 60; ++i)
        r.push_back(static_cast<uint8_t>(0x20 + i));
    bms::AppendCrc(r);
    return r; // 65 bytes
}

// The pack: answers every complete 8-byte request until told to stop.
void Peer(int master, int stopFd)
{
    const std::vector<uint8_t> answer = Response();
    uint8_t buf[256];
    size_t have = 0;
    for (;;) {
        pollfd fds[2] = { { master, POLLIN, 0 }, { stopFd, POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0 || fds[1].revents)
            return;
        const ssize_t n = ::read(master, buf + have, sizeof buf - have);
        if (n <= 0)
            continue;
        have += static_cast<size_t>(n);
        while (have >= kRequestSize) {
            (void)!::write(master, answer.data(), answer.size());
            std::copy(buf + kRequestSize, buf + have, buf);
            have -= kRequestSize;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int warmup = 100;

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    int stopPipe[2];
    if (::pipe2(stopPipe, O_CLOEXEC) != 0)
        return 1;

    bms::TComm comm;
    bms::ApplyCm1Design(comm);
    // As the connection control opens the port.
    comm.setCommName(QString::fromLocal8Bit(name));
    comm.setBaudRate(115200);
    comm.setInx_XonXoffFlow(false);
    comm.setOutx_XonXoffFlow(false);
    comm.setParity(bms::TParity::None);
    comm.setByteSize(bms::TByteSize::_8);
    comm.setStopBits(bms::TStopBits::_1);

    QEventLoop loop;
    bool done = false;
    auto complete = [&] {
        done = true;
        loop.quit();
    };

#ifdef BMS_BENCH_WITH_LINK
    const char* endpoint = "dispatch of the answer through cm1ReceiveData (Hooks.telemetry)";
    bms::test::TestApp testApp;
    bms::SlaveAddr = kAddress;
    bms::Hooks.telemetry = complete;
    comm.OnReceiveData = [](const uint8_t* buffer, uint16_t length) { bms::cm1ReceiveData(buffer, length); };
    auto resetReceive = [] {
        bms::MY_COM.RxState = 1;
        bms::MY_COM.RxCount = 0;
        bms::MY_COM.RxLen = 0;
    };
#else
    const char* endpoint = "last byte of the answer in OnReceiveData";
    size_t got = 0;
    const size_t want = Response().size();
    comm.OnReceiveData = [&](const uint8_t*, uint16_t length) {
        got += length;
        if (got >= want)
            complete();
    };
    auto resetReceive = [&] { got = 0; };
#endif

    try {
        comm.OpenComm();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "open failed: %s\n", e.what());
        return 1;
    }
    std::thread peer(Peer, master, stopPipe[0]);

    const std::vector<uint8_t> request = Request();
    const bms::bench::RoundTrips r = bms::bench::TimeRoundTrips(warmup, rounds, done, loop, [&] {
        resetReceive();
        comm.SendData(request.data(), static_cast<uint16_t>(request.size()));
    });

    (void)!::write(stopPipe[1], "x", 1);
    peer.join();
    comm.CloseComm();
    ::close(master);

    const std::string title = std::string("serial round trip over a pseudo-terminal, to the ") + endpoint;
    return bms::bench::PrintRoundTrips(title.c_str(), r) ? 0 : 1;
}
