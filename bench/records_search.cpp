// Searches and reports on a big PC database: RUNS runs (default 1,000,000)
// over 300 days at four stations, two runs per barcode (the first fails one
// time in ten), so that 30 days hold about 100,000 runs. Prints
//  - `History` by barcode (the library) and `station history --barcode`
//    (the whole command, process start included): median and p99;
//  - `Stats` by day over the last 30 days, and `station stats --since 30d
//    --by day` (the command).
// The database is made once in FOLDER and reused by later runs.
//
// Usage: bench_records_search [runs, default 1000000] [FOLDER, default a temporary one]
#include "Database.h"
#include "Percentile.h"
#include "Queries.h"
#include "Record.h"
#include "RecordStore.h"
#include "RecordsBench.h"
#include "Schema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUuid>
#include <vector>

using namespace bms::records;

namespace {

const QDateTime kEnd = QDateTime::currentDateTime();

QString Barcode(int n)
{
    return QStringLiteral("QB%1").arg(n / 2, 10, 10, QLatin1Char('0'));
}

QJsonObject Run(int n, int runs)
{
    const qint64 span = 300LL * 86400 * 1000;
    const QDateTime at = kEnd.addMSecs(-span + span * n / runs);
    const bool first = n % 2 == 0;
    const bool fail = first && (n / 2) % 10 == 0;
    return {
        {"format", "quorlex-station-record/1"},
        {"run_id", QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {"station_id", QStringLiteral("EOL-%1").arg((n / 2) % 4 + 1)},
        {"outcome", fail ? "FAIL" : "PASS"},
        {"failure_code", fail ? QJsonValue(QStringLiteral("check.cell_%1").arg(n % 16)) : QJsonValue()},
        {"started_at", at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {"recipe", QJsonObject{{"name", "Q16-EOL"}, {"version", "3"}}},
        {"pack", QJsonObject{{"barcode", Barcode(n)}, {"uid", QStringLiteral("U%1").arg(n / 2)}, {"serial_number", QStringLiteral("QX%1").arg(n / 2)}}},
    };
}

bool Fill(Database& db, int runs)
{
    QString error;
    const qint64 have = [&] {
        QSqlQuery& q = db.prepared(QStringLiteral("SELECT COUNT(*) FROM runs"));
        return db.exec(q, error) && q.next() ? q.value(0).toLongLong() : 0;
    }();
    if (have >= runs)
        return true;
    std::printf("making %d runs (once)...\n", runs);
    std::fflush(stdout);
    for (int n = int(have); n < runs;) {
        Transaction tx(db);
        if (!tx.begin(error))
            break;
        for (int end = std::min(runs, n + 20000); n < end; ++n) {
            bool added = false;
            const auto rows = SplitRecord(Run(n, runs), error);
            if (!rows || !RecordStore::insertRun(db, *rows, added, error))
                break;
        }
        if (!error.isEmpty() || !tx.commit(error))
            break;
    }
    if (!error.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(error));
    db.exec(QStringLiteral("ANALYZE"), error);
    return error.isEmpty();
}

double CliMs(const QString& dataHome, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(BMS_CLI), args);
    p.waitForFinished(60000);
    const double ms = bms::bench::Ms(t);
    return p.exitCode() == 0 ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir temp;
    const QString dataHome = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const QString path = dataHome + QStringLiteral("/quorlex-bms/station.db");
    QString error;
    auto db = Database::openSqlite(path, error);
    if (!db || !Migrate(*db, error) || !Fill(*db, runs)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    std::vector<double> lib, cli;
    for (int i = 0; i < 1000; ++i) {
        RunFilter f;
        f.barcode = Barcode(int(QRandomGenerator::global()->bounded(runs)));
        f.limit = 100;
        QElapsedTimer t;
        t.start();
        const auto found = History(*db, f, error);
        lib.push_back(bms::bench::Ms(t));
        if (!found || found->size() != 2) {
            std::fprintf(stderr, "history of %s: %s\n", qPrintable(f.barcode), qPrintable(error));
            return 1;
        }
        if (i < 20)
            cli.push_back(CliMs(dataHome, {QStringLiteral("station"), QStringLiteral("history"), QStringLiteral("--barcode"), f.barcode}));
    }
    std::printf("history by barcode among %d runs: library p50 %.3f ms, p99 %.3f ms; "
                "`station history --barcode` (process included) p50 %.1f ms, max %.1f ms\n",
                runs, bms::bench::Percentile(lib, 0.5), bms::bench::Percentile(lib, 0.99),
                bms::bench::Percentile(cli, 0.5), bms::bench::Percentile(cli, 1.0));

    std::vector<double> stats, statsCli;
    qint64 counted = 0;
    for (int i = 0; i < 5; ++i) {
        RunFilter f;
        f.sinceMs = kEnd.addDays(-30).toMSecsSinceEpoch();
        QElapsedTimer t;
        t.start();
        const auto rows = Stats(*db, f, StatsGroup::Day, error);
        stats.push_back(bms::bench::Ms(t));
        if (!rows) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        counted = rows->back().runs;
        statsCli.push_back(CliMs(dataHome, {QStringLiteral("station"), QStringLiteral("stats"), QStringLiteral("--since"),
                                            QStringLiteral("30d"), QStringLiteral("--by"), QStringLiteral("day")}));
    }
    std::printf("stats by day over 30 days (%lld runs): library median %.0f ms; `station stats --since 30d --by day` median %.0f ms\n",
                counted, bms::bench::Percentile(stats, 0.5), bms::bench::Percentile(statsCli, 0.5));
    return 0;
}
