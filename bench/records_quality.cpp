// Line quality on a big database: RUNS runs (default 1,000,000) of one
// station over the last 30 days, four fixtures, 60 measurements with limits
// each (fixture 3's current error drifting), on the PC's SQLite file and on
// PostgreSQL (a throw-away cluster unless URL is given). Prints for each
//  - every figure of `station quality` for the 30 days (CollectQuality, the
//    library) and the command itself with its peak memory;
//  - one measurement's capability, histogram and I-MR chart (the Quality
//    page's measurement view).
// The databases are made once in FOLDER and reused by later runs.
//
// Usage: bench_records_quality [runs, default 1000000] [FOLDER, default a temporary one] [--no-pg | URL]
#include "Database.h"
#include "QualityFigures.h"
#include "Record.h"
#include "RecordStore.h"
#include "RecordsBench.h"
#include "Schema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUuid>
#include <functional>
#include <cmath>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace bms::records;

namespace {

constexpr int kMeasurements = 60;
const qint64 kEndMs = QDateTime::currentMSecsSinceEpoch();
const qint64 kSpanMs = 30LL * 86400 * 1000 - 3600 * 1000;

QJsonObject Run(int n, int runs, QRandomGenerator& random)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(kEndMs - kSpanMs + kSpanMs * n / runs);
    const int fixture = 1 + n % 4;
    const double u = random.generateDouble();
    const char* outcome = u < 0.90 ? "PASS" : u < 0.97 ? "FAIL" : u < 0.99 ? "ERROR" : "ABORTED";
    const auto normal = [&random](double sigma) {
        const double a = random.generateDouble() + 1e-12, b = random.generateDouble();
        return sigma * std::sqrt(-2 * std::log(a)) * std::cos(6.283185307179586 * b);
    };
    QJsonArray measurements;
    for (int i = 0; i < kMeasurements; ++i) {
        const bool current = i == 0;
        const double drift = current && fixture == 3 ? 60.0 * n / runs : 0;
        const double value = current ? 20 + drift + normal(15) : 3300 + 7 * (i % 5) + normal(4);
        measurements.append(QJsonObject{{"step", current ? 0 : 1},
                                        {"name", current ? QStringLiteral("error_before") : QStringLiteral("cell_%1").arg(i)},
                                        {"value", std::round(value * 10) / 10},
                                        {"unit", "mV"},
                                        {"limits", current ? QJsonObject{{"low", -500}, {"high", 500}} : QJsonObject{{"low", 3200}, {"high", 3400}}},
                                        {"outcome", "PASS"}});
    }
    const QString started = at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
    return {
        {"format", "quorlex-station-record/1"},
        {"run_id", QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {"station_id", "EOL-1"},
        {"fixture", QString::number(fixture)},
        {"operator", QStringLiteral("op%1").arg(n / 5000 % 3)},
        {"outcome", outcome},
        {"failure_code", qstrcmp(outcome, "PASS") == 0 ? QJsonValue() : QJsonValue(QStringLiteral("check.cell_%1").arg(n % 16))},
        {"started_at", started},
        {"recipe", QJsonObject{{"name", "Q16-EOL"}, {"version", "3"}}},
        {"pack", QJsonObject{{"barcode", QStringLiteral("QB%1").arg(n, 10, 10, QLatin1Char('0'))}}},
        {"steps", QJsonArray{QJsonObject{{"index", 0}, {"name", "calibrate_current"}, {"kind", "calibrate"}, {"outcome", "PASS"}},
                             QJsonObject{{"index", 1}, {"name", "check"}, {"kind", "check"}, {"outcome", "PASS"}}}},
        {"measurements", measurements},
    };
}

bool Fill(Database& db, int runs)
{
    QString error;
    const qint64 have = [&] {
        QSqlQuery& q = db.prepared(QStringLiteral("SELECT COUNT(*) FROM runs"));
        const qint64 n = db.exec(q, error) && q.next() ? q.value(0).toLongLong() : 0;
        q.finish(); // an unfinished read keeps SQLite from dropping temporary tables
        return n;
    }();
    if (have >= runs)
        return true;
    std::printf("%s: making %d runs of %d measurements (once)...\n", qPrintable(db.name()), runs, kMeasurements);
    std::fflush(stdout);
    QRandomGenerator random(7);
    db.setQueryLimit(600000);
    for (int n = int(have); n < runs;) {
        Transaction tx(db);
        if (!tx.begin(error))
            break;
        for (int end = std::min(runs, n + 5000); n < end; ++n) {
            bool added = false;
            const auto rows = SplitRecord(Run(n, runs, random), error);
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

// The command's time (process included) and its peak resident memory (MB).
std::pair<double, double> Cli(const QString& dataHome, const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_DATA_HOME", qPrintable(dataHome), 1);
        std::vector<QByteArray> bytes = {QByteArray(BMS_CLI)};
        for (const QString& a : args)
            bytes.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(BMS_CLI, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double ms = bms::bench::Ms(t);
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1, double(usage.ru_maxrss) / 1024};
}

int Measure(Database& db, const QString& dataHome, const QStringList& lineArgs)
{
    QString error;
    db.setQueryLimit(600000);
    RunFilter f;
    f.sinceMs = kEndMs - 30LL * 86400 * 1000;
    QElapsedTimer t;
    if (qEnvironmentVariableIsSet("BENCH_QUALITY_PARTS")) {
        const std::pair<const char*, std::function<bool()>> parts[] = {
            {"yield total", [&] { return Yields(db, f, YieldBy::Total, error).has_value(); }},
            {"yield by shift", [&] { return Yields(db, f, YieldBy::Shift, error).has_value(); }},
            {"pareto", [&] { return FailurePareto(db, f, error).has_value(); }},
            {"capability", [&] { return Capabilities(db, f, {}, false, error).has_value(); }},
            {"per chart", [&] { return Capabilities(db, f, {}, true, error).has_value(); }},
            {"alerts", [&] { return RuleAlerts(db, f, error).has_value(); }},
        };
        for (const auto& [name, part] : parts) {
            t.start();
            const bool ok = part();
            std::printf("  %s: %.0f ms%s\n", name, bms::bench::Ms(t), ok ? "" : " (failed)");
        }
        // The same over the readings kept once, as `station quality` does.
        KeptReadings kept(db);
        const std::pair<const char*, std::function<bool()>> keptParts[] = {
            {"keep the readings", [&] { return kept.make(f, error); }},
            {"capability (kept)", [&] { return Capabilities(kept, false, error).has_value(); }},
            {"per chart (kept)", [&] { return Capabilities(kept, true, error).has_value(); }},
            {"alerts (kept)", [&] { return RuleAlerts(kept, error).has_value(); }},
        };
        for (const auto& [name, part] : keptParts) {
            t.start();
            const bool ok = part();
            std::printf("  %s: %.0f ms%s\n", name, bms::bench::Ms(t), ok ? "" : " (failed)");
        }
    }
    t.start();
    const auto figures = CollectQuality(db, f, error);
    const double all = bms::bench::Ms(t);
    if (!figures) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    t.restart();
    const auto capability = Capabilities(db, f, QStringLiteral("calibrate_current.error_before"), false, error);
    const double capMs = bms::bench::Ms(t);
    t.restart();
    const auto histogram = capability && !capability->empty()
        ? Histogram(db, f, QStringLiteral("calibrate_current.error_before"), capability->front().min,
                    (capability->front().max - capability->front().min) / 24 + 1e-9, 24, error)
        : std::nullopt;
    const double histMs = bms::bench::Ms(t);
    t.restart();
    const auto charts = ControlCharts(db, f, QStringLiteral("calibrate_current.error_before"), 300, error);
    const double chartMs = bms::bench::Ms(t);
    if (!histogram || !charts) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto [cliMs, cliMb] = Cli(dataHome, QStringList{QStringLiteral("station"), QStringLiteral("quality"), QStringLiteral("--since"),
                                                          QStringLiteral("30d")} + lineArgs);
    std::printf("%s: 30 days, %lld runs, %zu measurements: every figure %.0f ms (%zu alerts); `station quality --since 30d` "
                "%.0f ms, peak %.0f MB\n  one measurement: capability %.0f ms, histogram %.0f ms, I-MR charts of %zu fixtures %.0f ms "
                "(together %.0f ms)\n",
                db.dialect() == Dialect::SQLite ? "SQLite" : "PostgreSQL", figures->yields.at(YieldBy::Total).front().runs,
                figures->capability.size(), all, figures->alerts.size(), cliMs, cliMb, capMs, histMs, charts->size(), chartMs,
                capMs + histMs + chartMs);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir temp;
    const QString dataHome = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    const QString pgArg = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    QString error;
    auto db = Database::openSqlite(dataHome + QStringLiteral("/quorlex-bms/station.db"), error);
    if (!db || !Migrate(*db, error) || !Fill(*db, runs)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (Measure(*db, dataHome, {}) != 0)
        return 1;
    if (pgArg == QLatin1String("--no-pg"))
        return 0;
    bms::bench::BenchCluster cluster(pgArg);
    auto line = Database::openPostgres(cluster.url(), error);
    if (!line || !Migrate(*line, error) || !Fill(*line, runs)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return Measure(*line, dataHome, {QStringLiteral("--line"), QStringLiteral("--db"), cluster.url()});
}
