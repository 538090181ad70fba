// Station runs: (1) the overhead of a run of the example recipe against the
// virtual pack at 19200 baud: the run's time (run_start to its end, record
// written) divided by the sum of its steps' time waiting on the pack (each
// request to its answer, the handlers' designed waits included: the steps'
// pack_s); the pack already runs the recipe's version, so the upgrade is
// skipped. (2) The time to build and write a record of 200 measurements,
// synced to disk.
//
// Usage: bench_station [runs, default 5] [records, default 200]
#include "Percentile.h"
#include "RunRecord.h"
#include "VirtualPack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

using namespace bms;

namespace {

// One run; the ratio of its time to its steps' time with the pack, or a
// negative value when it did not pass.
double RunOnce(const QString& port, const QString& data, int n, bool upgrade, double& seconds)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(BMS_CLI),
            {QStringLiteral("--port"), port, QStringLiteral("--json"), QStringLiteral("--yes"), QStringLiteral("station"),
             QStringLiteral("run"), QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml"), QStringLiteral("--barcode"),
             QStringLiteral("2026%1").arg(n + (upgrade ? 50000000 : 0), 8, 10, QLatin1Char('0')), QStringLiteral("--results"),
             data + QStringLiteral("/results")});
    p.waitForFinished(120000);
    if (p.exitCode() != 0) {
        std::fprintf(stderr, "run %d: exit %d\n%s\n", n, p.exitCode(), p.readAllStandardError().constData());
        return -1;
    }
    QJsonObject record;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        if (e.value("event").toString() == QLatin1String("record"))
            record = e.value("record").toObject();
    }
    double pack = 0;
    for (const QJsonValue& s : record.value("steps").toArray())
        pack += s.toObject().value("pack_s").toDouble();
    seconds = record.value("duration_s").toDouble();
    return pack > 0 ? seconds / pack : -1;
}

station::RunRecord RecordOf200()
{
    station::RunRecord r;
    r.runId = QStringLiteral("0b8e5e3c-7a51-4d7e-9a3e-5b8f1d2c4a10");
    r.outcome = station::Outcome::Pass;
    r.startedAt = r.endedAt = QDateTime::currentDateTime();
    for (int s = 0; s < 9; ++s) {
        station::StepRecord step;
        step.index = s;
        step.name = QStringLiteral("step_%1").arg(s);
        step.kind = QStringLiteral("check");
        step.outcome = station::Outcome::Pass;
        step.startedAt = step.endedAt = r.startedAt;
        r.steps.push_back(step);
    }
    for (int i = 0; i < 200; ++i) {
        station::MeasurementRecord m;
        m.step = i % 9;
        m.name = QStringLiteral("cell_%1").arg(i);
        m.value = 3300.0 + i;
        m.unit = QStringLiteral("mV");
        m.limits.low = 3200;
        m.limits.high = 3400;
        m.outcome = station::Outcome::Pass;
        r.measurements.push_back(m);
    }
    for (int i = 0; i < 300; ++i)
        r.trace.add(QStringLiteral("12:00:00.%1 TX 06 04 00 0A 00 1E 51 B7   read 0x000A x30").arg(i % 1000, 3, 10, QLatin1Char('0')));
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int records = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    QTemporaryDir data;

    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.baud = 19200;
    config.softwareVersion = 0x1054; // the recipe's version: no upgrade
    sim::VirtualPack pack(config);
    const QString port = QString::fromStdString(pack.start());
    pack.holdCurrent(10000);

    std::vector<double> ratios, times;
    for (int n = 0; n < runs; ++n) {
        double seconds = 0;
        const double ratio = RunOnce(port, data.path(), n, false, seconds);
        if (ratio < 0)
            return 1;
        ratios.push_back(ratio);
        times.push_back(seconds);
    }
    std::printf("station run without the upgrade (%d runs, 19200 baud): %.2f s, overhead %.3f (median), %.3f (worst)"
                " - aim <= 1.1\n",
                runs, bench::Percentile(times, 0.5), bench::Percentile(ratios, 0.5), bench::Percentile(ratios, 1.0));

    sim::PackConfig old = config;
    old.softwareVersion = 0x1053;
    sim::VirtualPack upgradePack(old);
    const QString upgradePort = QString::fromStdString(upgradePack.start());
    upgradePack.holdCurrent(10000);
    double seconds = 0;
    const double withUpgrade = RunOnce(upgradePort, data.path(), 0, true, seconds);
    std::printf("station run with the upgrade (information): %.2f s, overhead %.3f\n", seconds, withUpgrade);

    const station::RunRecord record = RecordOf200();
    std::vector<double> writes;
    for (int i = 0; i < records; ++i) {
        QElapsedTimer clock;
        clock.start();
        QString path, error;
        if (!station::WriteRecord(data.filePath(QStringLiteral("records")), record.toJson(), path, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        writes.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("record of 200 measurements built, written and synced (%d times): %.2f ms median, %.2f ms p99"
                " - aim < 5 ms\n",
                records, bench::Percentile(writes, 0.5), bench::Percentile(writes, 0.99));
    return 0;
}
