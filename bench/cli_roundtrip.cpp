// Round trip of the command line's port: a block-0 read built by the request
// builder, answered at once by the virtual pack over a pseudo-terminal, up to
// the decoded answer (the telemetry decoder has stored it) and the end of its
// handler, the window's display of it included. The command line opens its
// port with reads handed on as soon as bytes are in.
// Beside it, round trip for round trip so that both see the same load, a
// plain libmodbus master reads the same block from a virtual pack of its
// own; the ratio of the two is the figure to compare between runs.
//
// Usage: bench_cli_roundtrip [round trips, default 2000]
#include "ModbusMaster.h"
#include "RoundTrips.h"
#include "CliOptions.h"
#include "CommRecord.h"
#include "Report.h"
#include "RequestBuilder.h"
#include "CommandTable.h"
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
    constexpr int kBaud = 115200;

    bms::cli::Options options;
    options.port = QString::fromStdString(pack.start());
    options.baud = kBaud;
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
    const bms::ReadBlockEntry& block = bms::kReadBlocks[0];
    bms::bench::ModbusMaster modbus(config, kBaud, block.reg, block.quantity);
    if (!modbus.ok()) {
        std::fprintf(stderr, "libmodbus master: no connection\n");
        return 1;
    }

    bms::bench::RoundTrips ours;
    bms::bench::RoundTrips theirs;
    for (int i = 0; i < warmup + rounds; ++i) {
        const int timed = i < warmup ? 0 : 1;
        bms::bench::Append(ours, bms::bench::TimeRoundTrips(1 - timed, timed, done, loop, [] {
            bms::ReadBlock = 0;
            bms::BuildRequest(bms::cmd_read_block);
        }));
        modbus.time(1 - timed, timed, theirs);
    }
    if (!bms::bench::PrintRoundTrips(
            "command line round trip over a pseudo-terminal (block 0, 8-byte request, 65-byte answer)", ours)
        || !bms::bench::PrintRoundTrips("libmodbus master, same block from a virtual pack of its own", theirs))
        return 1;
    using bms::bench::Percentile;
    std::printf("ratio to libmodbus: p50 %.2f  p99 %.2f\n", Percentile(ours.us, 0.50) / Percentile(theirs.us, 0.50),
                Percentile(ours.us, 0.99) / Percentile(theirs.us, 0.99));
    return 0;
}
