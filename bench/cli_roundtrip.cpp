// Round trip of the command line's port: a block-0 read built by the request
// builder, answered at once by the virtual pack over a pseudo-terminal, up to
// the decoded answer (the telemetry decoder has stored it). The command line
// opens its port with reads handed on as soon as bytes are in.
//
// Usage: bench_cli_roundtrip [round trips, default 2000]
#include "Percentile.h"
#include "CliOptions.h"
#include "CommRecord.h"
#include "Report.h"
#include "RequestBuilder.h"
#include "Session.h"
#include "VirtualPack.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int warmup = 100;

    bms::sim::PackConfig config;
    config.publish = false;
    config.live = false;
    bms::sim::VirtualPack pack(config);

    bms::cli::Options options;
    options.port = QString::fromStdString(pack.start());
    options.baud = 115200;
    options.json = true; // nothing printed
    bms::cli::Report report(true);
    bms::cli::Session session(options, report);
    if (session.openPort() != bms::cli::kExitDone) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }

    QEventLoop loop;
    bool done = false;
    session.onRead = [&](const bms::ReadOutcome& read) {
        if (read.kind != bms::ReadOutcomeKind::Decoded)
            return;
        done = true;
        loop.quit();
    };
    std::vector<double> us;
    us.reserve(static_cast<size_t>(rounds));
    int timeouts = 0;
    for (int i = 0; i < warmup + rounds; ++i) {
        done = false;
        bms::ReadBlock = 0;
        const Clock::time_point start = Clock::now();
        bms::BuildRequest(bms::cmd_read_block);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(1000);
        if (!done)
            loop.exec();
        const double elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (!done) {
            ++timeouts;
            continue;
        }
        if (i >= warmup)
            us.push_back(elapsed);
    }
    if (us.empty()) {
        std::printf("no round trip completed (%d time-outs)\n", timeouts);
        return 1;
    }
    std::printf("command line round trip over a pseudo-terminal (block 0, 8-byte request, 65-byte answer)\n");
    std::printf("round trips: %zu  time-outs: %d\n", us.size(), timeouts);
    std::printf("p50: %.0f us  p99: %.0f us  max: %.0f us\n", bms::bench::Percentile(us, 0.50), bms::bench::Percentile(us, 0.99),
                *std::max_element(us.begin(), us.end()));
    return 0;
}
