// Sweep time of `bus watch` against the wire time of the same requests and
// answers: racks of 1, 8 and 16 virtual packs with line timing (each answer
// byte one character time, an answer no earlier than its request would have
// arrived plus 3.5 characters) at 19200 and 115200 baud, in a child process;
// quorlex-bms-cli --json bus watch --count N+1 against each, the first sweep
// (the port just opened) left out. The ratio is printed against the wire
// time alone and against the wire time with the 3.5-character silence
// before each answer, and what is left over is divided by the requests.
//   bench_bus_sweep [sweeps, default 6]
#include "BusBench.h"
#include "WindowBench.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

struct Sweeps {
    int count = 0;
    double seconds = 0, wire = 0, gap = 0;
    double cpu = 0; // the tool's, all sweeps and its start
};

// Runs the watch for `sweeps` + 1 sweeps; the sums of all but the first.
bool Watch(const std::string& port, int packs, int baud, int sweeps, Sweeps& out)
{
    const double cpu0 = bms::bench::CpuSeconds(RUSAGE_CHILDREN);
    QProcess cli;
    cli.start(QStringLiteral(BMS_CLI),
              {QStringLiteral("--port"), QString::fromStdString(port), QStringLiteral("--baud"), QString::number(baud),
               QStringLiteral("--json"), QStringLiteral("bus"), QStringLiteral("watch"), QStringLiteral("--addr"),
               QStringLiteral("1-%1").arg(packs), QStringLiteral("--count"), QString::number(sweeps + 1)});
    cli.closeWriteChannel();
    if (!cli.waitForFinished(300000))
        return false;
    out.cpu = bms::bench::CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    for (const QByteArray& line : cli.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")) != QStringLiteral("sweep") || o.value(QStringLiteral("sweep")).toInt() == 1)
            continue;
        if (o.value(QStringLiteral("answering")).toInt() != packs)
            return false;
        ++out.count;
        out.seconds += o.value(QStringLiteral("seconds")).toDouble();
        out.wire += o.value(QStringLiteral("wire_seconds")).toDouble();
        out.gap += o.value(QStringLiteral("gap_seconds")).toDouble();
    }
    return cli.exitCode() == 0 && out.count == sweeps;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int sweeps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 6;
    // Requests of one pack's rotation: every telemetry block once.
    constexpr int kRequestsPerPack = 7;
    bms::sim::PackConfig base;
    base.live = false;
    std::printf("bus watch against racks of virtual packs with line timing, %d sweeps each after the first\n", sweeps);
    std::printf("%6s %6s %10s %10s %7s %16s %14s %14s\n", "baud", "packs", "sweep s", "wire s", "ratio",
                "ratio (silence)", "ms per request", "CPU ms per req");
    int failures = 0;
    // 0: the rack answers at once (the watch still times out as at 19200).
    for (int line : {19200, 115200, 0}) {
        const int baud = line ? line : 19200;
        for (int packs : {1, 8, 16}) {
            std::string port;
            const pid_t rack = bms::bench::StartRackInChild(packs, base, uint32_t(line), port);
            Sweeps s;
            const bool ok = rack > 0 && Watch(port, packs, baud, sweeps, s);
            if (rack > 0) {
                kill(rack, SIGTERM);
                waitpid(rack, nullptr, 0);
            }
            if (!ok) {
                std::printf("%6d %6d  failed\n", line, packs);
                ++failures;
                continue;
            }
            const int requests = packs * kRequestsPerPack;
            const double sweep = s.seconds / s.count, cpu = s.cpu * 1000.0 / ((s.count + 1) * requests);
            if (line == 0) {
                std::printf("%6s %6d %10.3f %10s %7s %16s %14.3f %14.3f\n", "at once", packs, sweep, "", "", "",
                            sweep * 1000.0 / requests, cpu);
            } else {
                const double wire = s.wire / s.count, gap = s.gap / s.count;
                std::printf("%6d %6d %10.3f %10.3f %7.2f %16.2f %14.3f %14.3f\n", line, packs, sweep, wire,
                            sweep / wire, sweep / (wire + gap), (sweep - wire - gap) * 1000.0 / requests, cpu);
            }
            std::fflush(stdout);
        }
    }
    return failures == 0 ? 0 : 1;
}
