// The window's longest event-loop stall while it works: a probe timer due
// every 5 ms notes the longest gap between two of its expiries while the real
// window (offscreen) runs the series/parallel sweep, a settings write (the
// barcode, acknowledged and read back) and a main-board and a dev-firmware
// upgrade against a virtual pack on a pseudo-terminal. A handler that sleeps
// on the user-interface thread shows as a stall of its length; waits that
// keep the event loop running do not. The aim is no stall above 100 ms.
//   bench_window_stalls [image data records, default 200]
#include "CommRecord.h"
#include "MainForm.h"
#include "UpgradeBenchImage.h"
#include "VirtualPack.h"
#include "WidgetHost.h"
#include "WindowBench.h"
#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr int kProbeMs = 5;
constexpr int kAimMs = 100;

// Gaps between the expiries of a timer due every kProbeMs, beyond the
// period itself.
class StallProbe {
public:
    StallProbe()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kProbeMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        worst_ = 0;
        over_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    void stop()
    {
        tick();
        timer_.stop();
    }
    qint64 worst() const { return worst_; }
    int over() const { return over_; }

private:
    void tick()
    {
        const qint64 now = clock_.elapsed();
        const qint64 stall = now - last_ - kProbeMs;
        worst_ = std::max(worst_, stall);
        over_ += stall > kAimMs ? 1 : 0;
        last_ = now;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
    int over_ = 0;
};

// Waits with the event loop running until `done` holds or `ms` have passed.
bool RunUntil(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        bms::bench::RunEventLoop(10);
    return done();
}

struct Scenario {
    const char* name;
    std::function<void()> start;
    std::function<bool()> done;
    int settleMs; // after done: answers, boxes and read-backs that follow
};

} // namespace

int main(int argc, char** argv)
{
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    QList<QByteArray> lines;
    const QString image = bms::bench::PrepareUpgradeImage(dir, records, lines);
    if (image.isEmpty()) {
        std::fprintf(stderr, "cannot write the image\n");
        return 1;
    }
    bms::sim::PackConfig config;
    config.publish = false;
    config.live = false;
    bms::sim::VirtualPack pack(config);
    const QString port = QString::fromStdString(pack.start());

    MainForm form;
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; }; // OK, Yes
    form.terminate = [] {};
    form.chooseFile = [image] { return image; };
    form.show();
    bms::bench::RunEventLoop(300);
    Ui::MainForm& ui = form.form();
    ui.cbb1->setEditText(port);
    ui.opencom->click();
    if (!bms::PortOpen) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(port));
        return 1;
    }

    // A run has ended once it is no longer active and has shown how it
    // ended ("Upgrade Complete!", "Writed firmware information
    // successfully!" or a failure); the label is emptied before each run.
    const auto upgradeOver = [&] { return bms::UpgradeActive == 0 && !ui.lbl35->text().isEmpty(); };
    const Scenario scenarios[] = {
        {"series/parallel sweep", [&] { ui.btn_parallel->click(); }, [] { return true; }, 500},
        {"settings write (barcode)",
         [&] {
             ui.edt1->setText(QStringLiteral("202612080002"));
             ui.btn8->click();
         },
         [&] { return pack.barcode() == "202612080002"; }, 1500},
        {"upgrade, main board",
         [&] {
             ui.rbtn_upgrade_main_board->click();
             ui.lbl35->clear();
             ui.opbtn->click();
             ui.upbtn->click();
         },
         upgradeOver, 3000},
        {"upgrade, dev firmware",
         [&] {
             ui.rbtn_upgrade_wifi->click();
             ui.lbl35->clear();
             ui.opbtn->click();
             ui.upbtn->click();
         },
         upgradeOver, 1000},
    };

    std::printf("longest event-loop stall of the window (probe due every %d ms), aim <= %d ms; image of %d data "
                "records\n",
                kProbeMs, kAimMs, records);
    std::printf("%-26s %12s %18s %14s\n", "scenario", "duration s", "longest stall ms", "stalls > 100 ms");
    int failures = 0;
    StallProbe probe;
    for (const Scenario& s : scenarios) {
        QElapsedTimer took;
        took.start();
        probe.start();
        s.start();
        const bool finished = RunUntil(s.done, 120000);
        bms::bench::RunEventLoop(s.settleMs);
        probe.stop();
        failures += finished ? 0 : 1;
        std::printf("%-26s %12.1f %18lld %14d%s\n", s.name, double(took.elapsed()) / 1000.0,
                    static_cast<long long>(probe.worst()), probe.over(), finished ? "" : "  (did not finish)");
        std::fflush(stdout);
    }
    ui.opencom->click();
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; };
    form.close();
    return failures == 0 ? 0 : 1;
}
