// Committing a run's record to the PC's SQLite database: a record with 200
// measurements (and a 4 kB trace) stored through StationRecords, one
// transaction each, synchronous=FULL on the disk of FOLDER. Prints the
// median, p99 and worst of the commits.
//
// Usage: bench_records_commit [runs, default 2000] [FOLDER, default a temporary one]
#include "Percentile.h"
#include "RecordSamples.h"
#include "RecordsBench.h"
#include "StationRecords.h"

#include <QCoreApplication>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    QTemporaryDir temp;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const QString path = folder + QStringLiteral("/bench-commit.db");
    QFile::remove(path);
    QString error;
    auto records = bms::records::StationRecords::open({path, {}}, error);
    if (!records) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    // The records are made beforehand: the figure is the store's own.
    std::vector<QJsonObject> made;
    for (int n = 1; n <= runs; ++n) {
        bms::test::SampleRun run;
        run.number = n;
        run.measurements = 200;
        run.traceBytes = 4096;
        made.push_back(bms::test::SampleRecord(run));
    }
    std::vector<double> ms;
    const double cpu0 = bms::bench::ProcessCpuMs();
    for (const QJsonObject& record : made) {
        QElapsedTimer t;
        t.start();
        if (!records->store(record, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        ms.push_back(bms::bench::Ms(t));
    }
    const double cpu = (bms::bench::ProcessCpuMs() - cpu0) / runs;
    std::printf("commit of a run with 200 measurements to SQLite (%d runs): p50 %.2f ms, p99 %.2f ms, max %.2f ms; "
                "CPU %.2f ms a commit\n",
                runs, bms::bench::Percentile(ms, 0.5), bms::bench::Percentile(ms, 0.99), bms::bench::Percentile(ms, 1.0), cpu);
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    return 0;
}
