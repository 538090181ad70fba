// The window while four fixtures of the Station tab test packs: four
// virtual packs (in a child process, at 19200 baud line timing, so their
// CPU is not the window's) on four fixtures, each fixture running the
// example recipe in its quorlex-bms-cli process again and again for the
// given seconds, the instruction of each run confirmed as soon as it is
// asked. A probe timer due every 5 ms notes the window's longest event-loop
// stall and the share of gaps over 50 ms; getrusage gives the window's own
// CPU (its threads included, its fixtures' processes not) against the wall
// time. Aims: no stall over 50 ms, under 5 % of one core.
// With 0 as the second argument no fixture runs: the same window and probe
// idle, for comparison.
//   bench_window_station [seconds, default 60] [fixtures running, default 4]
#include "FixtureRunner.h"
#include "MainForm.h"
#include "StationTab.h"
#include "UnattendedWindow.h"
#include "VirtualPack.h"
#include "WidgetHost.h"
#include "WindowBench.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFixtures = 4;
constexpr int kProbeMs = 5;
constexpr int kAimMs = 50;

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    const int active = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, kFixtures) : kFixtures;
    std::vector<std::string> ports;
    bms::sim::PackConfig packConfig;
    packConfig.publish = false;
    packConfig.live = false;
    packConfig.baud = 19200;
    const pid_t packs = bms::bench::StartPacksInChild(kFixtures, packConfig, ports,
                                                      [](bms::sim::VirtualPack& pack) { pack.holdCurrent(10000); });
    if (packs <= 0 || int(ports.size()) != kFixtures) {
        std::fprintf(stderr, "no virtual packs\n");
        return 1;
    }
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("QUORLEX_BMS_CLI", BMS_CLI);
    const QString ini = dir.filePath(QStringLiteral("station.ini"));
    qputenv("QUORLEX_BMS_STATION_CONFIG", QFile::encodeName(ini));
    bms::stationtab::StationConfig config;
    config.recipe = QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml");
    config.stationId = QStringLiteral("BENCH");
    for (const std::string& port : ports)
        config.ports.append(QString::fromStdString(port));
    QString error;
    if (!config.save(ini, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainForm form;
    auto* tab = form.stationTab();
    bms::test::ShowUnattended(form, tab);
    bms::bench::RunEventLoop(500);

    // Every fixture starts its next pack as soon as it is free; every
    // instruction is confirmed when it is asked.
    int scanned = 0;
    int ended = 0;
    bool running = true;
    std::vector<int> outcomes(5, 0);
    auto scanNext = [&] { tab->scan(QStringLiteral("2026%1").arg(++scanned, 8, 10, QLatin1Char('0'))); };
    for (int f = 1; f <= kFixtures; ++f) {
        auto* runner = tab->runner(f);
        QObject::connect(runner, &bms::stationtab::FixtureRunner::changed, runner, [runner] {
            if (!runner->model().state().prompt.id.isEmpty())
                runner->answer(QStringLiteral("ok"));
        });
        QObject::connect(runner, &bms::stationtab::FixtureRunner::finished, runner, [&, runner] {
            ++ended;
            ++outcomes[size_t(runner->model().state().verdict.value_or(bms::station::Outcome::Error))];
            if (running)
                QTimer::singleShot(200, runner, [&] { scanNext(); });
        });
    }

    QElapsedTimer clock;
    std::vector<qint64> gaps;
    qint64 last = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        gaps.push_back(now - last - kProbeMs);
        last = now;
    });
    const double cpu0 = bms::bench::CpuSeconds(RUSAGE_SELF);
    clock.start();
    probe.start();
    for (int f = 0; f < active; ++f)
        scanNext();
    bms::bench::RunEventLoop(seconds * 1000);
    running = false;
    probe.stop();
    const double span = double(clock.elapsed()) / 1000.0;
    const double cpu = bms::bench::CpuSeconds(RUSAGE_SELF) - cpu0;
    // The fixtures finish their packs before the window goes.
    for (int i = 0; i < 600 && !tab->busyFixtures().isEmpty(); ++i)
        bms::bench::RunEventLoop(100);
    const double children = bms::bench::CpuSeconds(RUSAGE_CHILDREN);

    std::sort(gaps.begin(), gaps.end());
    const qint64 worst = gaps.empty() ? 0 : gaps.back();
    const qint64 p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](qint64 g) { return g > kAimMs; });
    std::printf("%d of %d fixtures running for %.1f s: %d runs ended (PASS %d, FAIL %d, ERROR %d, ABORTED %d)\n", active, kFixtures, span, ended,
                outcomes[size_t(bms::station::Outcome::Pass)], outcomes[size_t(bms::station::Outcome::Fail)],
                outcomes[size_t(bms::station::Outcome::Error)], outcomes[size_t(bms::station::Outcome::Aborted)]);
    std::printf("window event loop (probe every %d ms): longest stall %lld ms, p99 %lld ms, %lld of %zu gaps over %d ms\n",
                kProbeMs, static_cast<long long>(worst), static_cast<long long>(p99), static_cast<long long>(over), gaps.size(),
                kAimMs);
    std::printf("window CPU %.2f s = %.2f %% of one core (aim < 5 %%); the fixtures' processes %.2f s in all\n", cpu,
                100.0 * cpu / span, children);
    // With $QUORLEX_BMS_LINE_DB set the runs go on to the line database.
    bms::bench::RunEventLoop(1000);
    std::printf("%s; %s\n", qPrintable(tab->countersText()), qPrintable(tab->forwardingText()));
    form.close();
    kill(packs, SIGTERM);
    waitpid(packs, nullptr, 0);
    return 0;
}
