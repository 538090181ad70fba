// The window watching a rack: sixteen live virtual packs at 19200 baud line
// timing (in a child process, so that their CPU is not counted), the Bus tab
// shown and watching them through its quorlex-bms-cli process for the given
// seconds. A probe timer due every 5 ms notes the window's longest
// event-loop stall; every sample interval the window's CPU share (getrusage,
// its threads included), the command line's (from /proc), and the resident
// memory of both are printed, so that a long run shows whether memory stays
// flat. Aims: the window under 2 % of one core, no stall over 50 ms.
// "hidden" shows Data Collection instead of the Bus tab while watching,
// "idle" the Bus tab without a watch (the probe's and the window's own cost),
// "noprobe" the Bus tab watching without the probe (its 200 wake-ups a
// second are not counted in the window's CPU).
//   bench_bus_window [seconds, default 60] [sample seconds, default 10] [hidden|idle|noprobe]
#include "BusBench.h"
#include "BusTab.h"
#include "MainForm.h"
#include "UnattendedWindow.h"
#include "WidgetHost.h"
#include "WindowBench.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kPacks = 16;
constexpr int kProbeMs = 5;
constexpr int kAimMs = 50;

// The quorlex-bms-cli process this process started, 0 when none runs.
pid_t CliChild()
{
    const QString self = QString::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (text.contains("(quorlex-bms-cli)") && fields.value(1) == self.toLatin1())
            return pid_t(entry.toInt());
    }
    return 0;
}

// CPU seconds (user and system) and resident KiB of another process.
struct ProcessUse {
    double cpu = 0;
    long rssKiB = 0;
};
ProcessUse UseOf(pid_t pid)
{
    ProcessUse use;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
        use.cpu = double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
        use.rssKiB = fields.value(21).toLong() * sysconf(_SC_PAGESIZE) / 1024;
    }
    return use;
}

long SelfRssKiB()
{
    return UseOf(getpid()).rssKiB;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    const int sampleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const std::string mode = argc > 3 ? argv[3] : "";
    const bool idle = mode == "idle";
    bms::sim::PackConfig base;
    std::string port;
    const pid_t rack = bms::bench::StartRackInChild(kPacks, base, 19200, port);
    if (rack <= 0) {
        std::fprintf(stderr, "no rack of virtual packs\n");
        return 1;
    }
    qputenv("QUORLEX_BMS_CLI", BMS_CLI);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainForm form;
    auto* tab = form.busTab();
    bms::test::ShowUnattended(form, tab);
    bms::bench::RunEventLoop(500);
    tab->findChildren<QComboBox*>().value(0)->setEditText(QString::fromStdString(port));
    if (!idle)
        tab->toggleWatch();
    QElapsedTimer waited;
    waited.start();
    auto answering = [&] {
        int n = 0;
        for (int row = 0; row < tab->model().rowCount(); ++row)
            n += tab->model().answering(row);
        return n;
    };
    while (!idle && answering() < kPacks && waited.elapsed() < 60000)
        bms::bench::RunEventLoop(100);
    const pid_t cli = idle ? getpid() : CliChild();
    if (mode == "hidden")
        form.form().pgc1->setCurrentIndex(0);
    if ((!idle && answering() < kPacks) || cli <= 0) {
        std::fprintf(stderr, "the rack did not answer (%d of %d)\n", answering(), kPacks);
        kill(rack, SIGTERM);
        return 1;
    }

    QElapsedTimer clock;
    qint64 last = 0, worst = 0, worstAll = 0;
    qint64 over = 0, gaps = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const qint64 gap = now - last - kProbeMs;
        worst = std::max(worst, gap);
        over += gap > kAimMs;
        ++gaps;
        last = now;
    });
    std::printf("window %s %d live virtual packs at 19200 baud, %s, %d s\n", idle ? "beside" : "watching", kPacks,
                mode == "hidden" ? "Data Collection shown" : "Bus tab shown", seconds);
    std::printf("%8s %12s %12s %14s %14s %16s\n", "time s", "window CPU", "cli CPU", "window RSS MiB", "cli RSS MiB",
                "longest stall ms");
    const double windowCpu0 = bms::bench::CpuSeconds(RUSAGE_SELF);
    const double cliCpu0 = UseOf(cli).cpu;
    double windowCpu = windowCpu0, cliCpu = cliCpu0;
    long firstRss = 0, firstCliRss = 0, peakRss = 0, peakCliRss = 0;
    clock.start();
    if (mode != "noprobe")
        probe.start();
    qint64 lastSample = 0;
    for (int t = sampleSeconds; t <= seconds; t += sampleSeconds) {
        bms::bench::RunEventLoop(int(t * 1000 - clock.elapsed()));
        const qint64 now = clock.elapsed();
        const double span = double(now - lastSample) / 1000.0;
        const double w = bms::bench::CpuSeconds(RUSAGE_SELF);
        const ProcessUse c = UseOf(cli);
        const long rss = SelfRssKiB();
        if (!firstRss) {
            firstRss = rss;
            firstCliRss = c.rssKiB;
        }
        peakRss = std::max(peakRss, rss);
        peakCliRss = std::max(peakCliRss, c.rssKiB);
        std::printf("%8d %11.2f%% %11.2f%% %14.1f %14.1f %16lld\n", t, (w - windowCpu) * 100.0 / span,
                    (c.cpu - cliCpu) * 100.0 / span, double(rss) / 1024.0, double(c.rssKiB) / 1024.0,
                    static_cast<long long>(worst));
        std::fflush(stdout);
        worstAll = std::max(worstAll, worst);
        worst = 0;
        windowCpu = w;
        cliCpu = c.cpu;
        lastSample = now;
    }
    probe.stop();
    const double span = double(clock.elapsed()) / 1000.0;
    const double window = (bms::bench::CpuSeconds(RUSAGE_SELF) - windowCpu0) * 100.0 / span;
    const double commandLine = (UseOf(cli).cpu - cliCpu0) * 100.0 / span;
    const int still = idle ? kPacks : answering();
    if (!idle)
        tab->toggleWatch();
    for (int i = 0; i < 100 && tab->watch().running(); ++i)
        bms::bench::RunEventLoop(100);
    kill(rack, SIGTERM);
    waitpid(rack, nullptr, 0);

    std::printf("over %.0f s: window %.2f %% of a core (aim < 2 %%), its quorlex-bms-cli %.2f %%; longest stall %lld ms "
                "(aim < %d), %lld of %lld gaps over %d ms; %d of %d packs answering at the end\n",
                span, window, commandLine, static_cast<long long>(worstAll), kAimMs, static_cast<long long>(over),
                static_cast<long long>(gaps), kAimMs, still, kPacks);
    std::printf("resident memory: window %.1f MiB first, %.1f MiB peak; quorlex-bms-cli %.1f MiB first, %.1f MiB peak\n",
                double(firstRss) / 1024.0, double(peakRss) / 1024.0, double(firstCliRss) / 1024.0,
                double(peakCliRss) / 1024.0);
    form.close();
    return still == kPacks ? 0 : 1;
}
