// Round trip of the command line's port: a block-0 read built by the request
// builder, answered at once by the virtual pack over a pseudo-terminal, up to
// the decoded answer (the telemetry decoder has stored it). The command line
// opens its port with reads handed on as soon as bytes are in.
//
// Usage: bench_cli_roundtrip [round trips, default 2000]
#include "RoundTrips.h"
#include "CliOptions.h"
#include "CommRecord.h"
#include "Report.h"
#include "RequestBuilder.h"
#include "Session.h"
#include "VirtualPack.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

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
    const bms::bench::RoundTrips r = bms::bench::TimeRoundTrips(warmup, rounds, done, loop, [] {
        bms::ReadBlock = 0;
        bms::BuildRequest(bms::cmd_read_block);
    });
    return bms::bench::PrintRoundTrips(
               "command line round trip over a pseudo-terminal (block 0, 8-byte request, 65-byte answer)", r)
        ? 0
        : 1;
}
