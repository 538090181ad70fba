// `station export` of a big PC database: RUNS runs (default 100,000) of 20
// measurements, five steps and a small trace each. Prints, for CSV, JSON
// and .xlsx of every run (`--limit 0`), the command's wall time and its
// peak memory (/usr/bin/time -v), and the library's lookup of a run by the
// first 8 characters of its id (`station show 0b9ef7a4`).
// The database is made once in FOLDER and reused by later runs (an older
// database there is migrated first; the migration's time is printed).
//
// Usage: bench_records_export [runs, default 100000] [FOLDER, default a temporary one]
#include "Database.h"
#include "Percentile.h"
#include "Record.h"
#include "RecordSamples.h"
#include "RecordStore.h"
#include "RecordsBench.h"
#include "Schema.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlQuery>
#include <vector>

using namespace bms::records;

namespace {

bool Fill(Database& db, int runs, QString& error)
{
    QSqlQuery& count = db.prepared(QStringLiteral("SELECT COUNT(*) FROM runs"));
    const qint64 have = db.exec(count, error) && count.next() ? count.value(0).toLongLong() : 0;
    count.finish();
    if (have >= runs)
        return true;
    std::printf("making %d runs (once)...\n", runs);
    std::fflush(stdout);
    for (int n = int(have); n < runs;) {
        Transaction tx(db);
        if (!tx.begin(error))
            return false;
        for (const int end = std::min(runs, n + 10000); n < end; ++n) {
            bms::test::SampleRun run;
            run.number = n + 1;
            run.measurements = 20;
            run.traceBytes = 256;
            run.started = run.started.addSecs(n * 30LL);
            bool added = false;
            const auto rows = SplitRecord(bms::test::SampleRecord(run), error);
            if (!rows || !RecordStore::insertRun(db, *rows, added, error))
                return false;
        }
        if (!tx.commit(error))
            return false;
    }
    return db.exec(QStringLiteral("ANALYZE"), error);
}

struct Measured {
    double seconds = -1;
    double peakMiB = -1;
    qint64 bytes = 0;
};

Measured TimeExport(const QString& dataHome, const QString& format, const QString& out)
{
    QFile::remove(out);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.remove(QStringLiteral("QUORLEX_BMS_LINE_DB"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/usr/bin/time"), {QStringLiteral("-v"), QStringLiteral(BMS_CLI), QStringLiteral("station"),
                                             QStringLiteral("export"), QStringLiteral("--format"), format,
                                             QStringLiteral("--limit"), QStringLiteral("0"), QStringLiteral("--out"), out});
    p.waitForFinished(-1);
    const QString said = QString::fromUtf8(p.readAllStandardError());
    Measured m;
    if (p.exitCode() != 0) {
        std::fprintf(stderr, "%s", qPrintable(said));
        return m;
    }
    static const QRegularExpression rss(QStringLiteral("Maximum resident set size \\(kbytes\\): (\\d+)"));
    static const QRegularExpression wall(QStringLiteral("Elapsed \\(wall clock\\) time \\(h:mm:ss or m:ss\\): (?:(\\d+):)?(\\d+):([\\d.]+)"));
    if (const auto r = rss.match(said); r.hasMatch())
        m.peakMiB = r.captured(1).toDouble() / 1024.0;
    if (const auto w = wall.match(said); w.hasMatch())
        m.seconds = w.captured(1).toDouble() * 3600 + w.captured(2).toDouble() * 60 + w.captured(3).toDouble();
    m.bytes = QFileInfo(out).size();
    QFile::remove(out);
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir temp;
    const QString dataHome = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const QString path = dataHome + QStringLiteral("/quorlex-bms/station.db");
    QString error;
    auto db = Database::openSqlite(path, error);
    if (!db) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const int before = SchemaVersion(*db, error);
    QElapsedTimer migrating;
    migrating.start();
    if (!Migrate(*db, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (before > 0 && before < KnownSchemaVersion())
        std::printf("migrated from schema %d to %d in %.1f s\n", before, KnownSchemaVersion(), bms::bench::Ms(migrating) / 1000);
    if (!Fill(*db, runs, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    std::vector<double> lookups;
    RecordStore store(*db, false);
    for (int i = 0; i < 200; ++i) {
        const QString prefix = bms::test::SampleRunId(1 + (i * 7919) % runs).left(8);
        QElapsedTimer t;
        t.start();
        const auto id = store.resolveRunId(prefix, error);
        lookups.push_back(bms::bench::Ms(t));
        if (!id) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    std::printf("run by its first 8 characters among %d runs: p50 %.3f ms, p99 %.3f ms\n", runs,
                bms::bench::Percentile(lookups, 0.5), bms::bench::Percentile(lookups, 0.99));
    db.reset();

    for (const char* format : {"csv", "json", "xlsx"}) {
        const Measured m = TimeExport(dataHome, QLatin1String(format), temp.filePath(QStringLiteral("runs.") + QLatin1String(format)));
        std::printf("export of %d runs as %s: %.1f s, peak %.0f MiB, file %.0f MiB\n", runs, format, m.seconds, m.peakMiB,
                    double(m.bytes) / (1024.0 * 1024.0));
        std::fflush(stdout);
    }
    return 0;
}
