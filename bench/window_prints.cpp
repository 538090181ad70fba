// The window while four fixtures end their runs and print at once: four
// virtual packs (in a child process, 19200 baud line timing) on the four
// fixtures of the Station tab, the example recipe with a PASS label (the
// layout docs/labels/pass.toml) and a unit report kept and printed, a
// throw-away cupsd (scripts/cups-test-server) whose cups-pdf queue takes
// them (as root; otherwise a raw queue to a socket this program drains).
// Each round scans four barcodes together, so the four runs end within
// moments of each other and their labels and reports are made, handed to
// CUPS and followed at the same time. A probe timer due every 5 ms notes
// the event loop's gaps from the first run's end to the last label's
// "printed" (or "not printed"); their p50, p99 and longest are printed.
// Aim: no stall over 50 ms.
// With "raw" the labels and reports go to the raw queue even as root (no
// cups-pdf filters on the machine's cores meanwhile).
//   bench_window_prints [rounds, default 5] [raw]
#include "CupsJobs.h"
#include "FixturePanel.h"
#include "FixtureRunner.h"
#include "MainForm.h"
#include "Percentile.h"
#include "StationTab.h"
#include "UnattendedWindow.h"
#include "VirtualPack.h"
#include "WidgetHost.h"
#include "WindowBench.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kFixtures = 4;
constexpr int kProbeMs = 5;

bool Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A printer on a loopback port that reads every job and drops it.
class SinkPrinter {
public:
    SinkPrinter()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            for (int c; (c = ::accept(fd_, nullptr, nullptr)) >= 0 && !stop_; ::close(c)) {
                char buffer[8192];
                while (::read(c, buffer, sizeof buffer) > 0) {
                }
            }
        });
    }
    ~SinkPrinter()
    {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
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
    const QString cupsState = dir.filePath(QStringLiteral("cups.state"));
    if (!Run(QStringLiteral(CUPS_TEST_SERVER), {QStringLiteral("start"), cupsState})) {
        std::fprintf(stderr, "no CUPS server\n");
        kill(packs, SIGTERM);
        return 1;
    }
    QFile stateFile(cupsState);
    stateFile.open(QIODevice::ReadOnly);
    const QString cups = QString::fromUtf8(stateFile.readAll()).trimmed();
    qputenv("CUPS_SERVER", (cups + QStringLiteral("/cups.sock")).toUtf8());
    SinkPrinter sink;
    QString error;
    QString queue = QStringLiteral("pdf");
    const bool raw = argc > 2 && QByteArray(argv[2]) == "raw";
    if (raw || !bms::labels::Cups::Queues(error).contains(queue)) {
        queue = QStringLiteral("sink");
        Run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), queue, QStringLiteral("-E"), QStringLiteral("-v"),
                                        QStringLiteral("socket://127.0.0.1:%1").arg(sink.port())});
    }

    // The example recipe with a label and a report, beside its image.
    QFile::copy(QStringLiteral(STATION_RECIPES "/virtual-pack-fw-1.5.4.hex"), dir.filePath(QStringLiteral("virtual-pack-fw-1.5.4.hex")));
    QFile source(QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml"));
    QFile recipe(dir.filePath(QStringLiteral("virtual-pack-eol.toml")));
    if (!source.open(QIODevice::ReadOnly) || !recipe.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "the example recipe cannot be copied\n");
        return 1;
    }
    recipe.write(source.readAll() + "\n[label]\non = \"pass\"\nlayout = \"" LABELS_DIR "/pass.toml\"\n"
                 "[report]\nsave = \"pass\"\nprint = true\n");
    recipe.close();

    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("QUORLEX_BMS_CLI", BMS_CLI);
    const QString ini = dir.filePath(QStringLiteral("station.ini"));
    qputenv("QUORLEX_BMS_STATION_CONFIG", QFile::encodeName(ini));
    bms::stationtab::StationConfig config;
    config.recipe = recipe.fileName();
    config.stationId = QStringLiteral("BENCH");
    config.printer = queue;
    for (const std::string& port : ports)
        config.ports.append(QString::fromStdString(port));
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

    int scanned = 0;
    int ended = 0;
    for (int f = 1; f <= kFixtures; ++f) {
        auto* runner = tab->runner(f);
        QObject::connect(runner, &bms::stationtab::FixtureRunner::changed, runner, [runner] {
            if (!runner->model().state().prompt.id.isEmpty())
                runner->answer(QStringLiteral("ok"));
        });
        QObject::connect(runner, &bms::stationtab::FixtureRunner::finished, runner, [&] { ++ended; });
    }
    // A run that did not pass (a pack slow to answer on a loaded machine)
    // has no label to wait for.
    auto labelsDone = [&] {
        for (int f = 1; f <= kFixtures; ++f) {
            const QString text = tab->panel(f)->labelText();
            const bool passed = tab->runner(f)->model().state().verdict == bms::station::Outcome::Pass;
            if (passed && (text.isEmpty() || text == QLatin1String("Label queued")))
                return false;
        }
        return true;
    };

    QElapsedTimer clock;
    qint64 last = 0;
    bool watching = false;
    std::vector<double> gaps;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (watching)
            gaps.push_back(double(now - last - kProbeMs));
        last = now;
    });
    clock.start();
    probe.start();
    int printed = 0, notPrinted = 0, notPassed = 0;
    std::vector<double> spans;
    for (int round = 0; round < rounds; ++round) {
        ended = 0;
        for (int f = 1; f <= kFixtures; ++f)
            tab->scan(QStringLiteral("2026%1").arg(++scanned, 8, 10, QLatin1Char('0')));
        QElapsedTimer limit;
        limit.start();
        while (ended == 0 && limit.elapsed() < 120000)
            bms::bench::RunEventLoop(1);
        watching = true;
        const qint64 from = clock.elapsed();
        while ((ended < kFixtures || !labelsDone()) && limit.elapsed() < 180000)
            bms::bench::RunEventLoop(1);
        watching = false;
        spans.push_back(double(clock.elapsed() - from));
        for (int f = 1; f <= kFixtures; ++f) {
            if (tab->runner(f)->model().state().verdict != bms::station::Outcome::Pass)
                ++notPassed;
            else
                (tab->panel(f)->labelText() == QLatin1String("Label printed") ? printed : notPrinted) += 1;
        }
        if (ended < kFixtures || !labelsDone())
            std::fprintf(stderr, "round %d: %d runs ended, labels %s\n", round + 1, ended, labelsDone() ? "done" : "not done");
        bms::bench::RunEventLoop(300);
    }
    probe.stop();
    std::printf("%d rounds of %d fixtures ending at once (queue %s): %d labels printed, %d not, %d runs did not pass; "
                "first end to last label p50 %.0f ms, max %.0f ms\n",
                rounds, kFixtures, qPrintable(queue), printed, notPrinted, notPassed, bms::bench::Percentile(spans, 0.5),
                bms::bench::Percentile(spans, 1.0));
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 50; });
    std::printf("window event loop meanwhile (probe every %d ms, %zu gaps): p50 %.0f ms, p99 %.0f ms, longest stall %.0f ms, "
                "%lld over 50 ms (aim: none)\n",
                kProbeMs, gaps.size(), bms::bench::Percentile(gaps, 0.5), bms::bench::Percentile(gaps, 0.99),
                bms::bench::Percentile(gaps, 1.0), static_cast<long long>(over));
    form.close();
    kill(packs, SIGTERM);
    waitpid(packs, nullptr, 0);
    Run(QStringLiteral(CUPS_TEST_SERVER), {QStringLiteral("destroy"), cupsState});
    return 0;
}
