// Forwarding to the line's PostgreSQL database: RUNS runs with MEASUREMENTS
// measurements each are stored in a fresh SQLite database, then copied by
// the Forwarder (one transaction per run on the server). Prints the time of
// the forwarding alone and per run. Without URL a throw-away cluster is made
// with scripts/pg-test-cluster.
//
// Usage: bench_records_forward [runs, default 10000] [measurements, default 200] [URL]
#include "Forwarder.h"
#include "RecordSamples.h"
#include "RecordsBench.h"
#include "Schema.h"
#include "StationRecords.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int measurements = argc > 2 ? std::atoi(argv[2]) : 200;
    bms::bench::BenchCluster cluster(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    if (cluster.url().isEmpty()) {
        std::fprintf(stderr, "no PostgreSQL server\n");
        return 1;
    }
    QTemporaryDir temp;
    QString error;
    auto records = bms::records::StationRecords::open({temp.filePath(QStringLiteral("station.db")), cluster.url()}, error);
    if (!records) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (int n = 1; n <= runs; ++n) {
        bms::test::SampleRun run;
        run.number = n;
        run.measurements = measurements;
        run.traceBytes = 4096;
        if (!records->store(bms::test::SampleRecord(run), error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    // The line's schema is made before the clock starts.
    if (!records->line(error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    bms::records::Forwarder forwarder(records->local(), cluster.url());
    const double cpu0 = bms::bench::ProcessCpuMs();
    const double server0 = bms::bench::ServerCpuMs(cluster.url());
    QElapsedTimer t;
    t.start();
    int forwarded = 0;
    for (;;) {
        const auto pass = forwarder.forward(false, 500);
        forwarded += pass.forwarded;
        if (!pass.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(pass.error));
            return 1;
        }
        if (pass.waiting == 0)
            break;
    }
    const double ms = bms::bench::Ms(t);
    const double cpu = bms::bench::ProcessCpuMs() - cpu0;
    const double server = bms::bench::ServerCpuMs(cluster.url()) - server0;
    std::printf("forwarding %d runs of %d measurements to PostgreSQL (Qt SQL, QPSQL): %.1f s, %.2f ms a run; "
                "CPU a run: %.2f ms the tool, %.2f ms the server\n",
                forwarded, measurements, ms / 1000, ms / forwarded, cpu / forwarded, server0 < 0 ? -1.0 : server / forwarded);
    return 0;
}
