// The tool's CPU share while it samples a live virtual pack: the pack runs
// in a child process (so that its CPU is not counted), the window samples it
// at 500 ms for 60 s (or the seconds given), and getrusage gives the tool's
// user and system time over that span. With "trends" the Trends tab is shown
// while sampling, so its charts repaint too; with "traffic" the Traffic window
// is open beside the window and lists every frame.
//   bench_window_sampling [seconds] [trends] [traffic]
#include "MainForm.h"
#include "VirtualPack.h"
#include "WidgetHost.h"
#include "WindowBench.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QAbstractButton>
#include <QPushButton>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    bool trends = false;
    bool traffic = false;
    for (int i = 2; i < argc; ++i) {
        trends = trends || std::string(argv[i]) == "trends";
        traffic = traffic || std::string(argv[i]) == "traffic";
    }
    bms::sim::PackConfig config;
    config.publish = false;
    std::vector<std::string> paths;
    const pid_t pack = bms::bench::StartPacksInChild(1, config, paths);
    const std::string path = paths.empty() ? std::string() : paths.front();
    if (pack <= 0 || path.empty()) {
        std::fprintf(stderr, "no virtual pack\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainForm form;
    int boxes = 0;
    form.host().messageHook = [&boxes](const bms::MessageBoxInfo&) { return ++boxes, true; };
    form.terminate = [] {};
    form.show();
    bms::bench::RunEventLoop(300);
    Ui::MainForm& ui = form.form();
    ui.cbb1->setEditText(QString::fromStdString(path));
    ui.opencom->click();
    if (trends)
        ui.pgc1->setCurrentIndex(ui.pgc1->count() - 1);
    if (traffic) {
        if (auto* open = form.findChild<QAbstractButton*>(QStringLiteral("btn_traffic")))
            open->click();
    }
    ui.cybtn->click(); // 500 ms, the start-up value
    bms::bench::RunEventLoop(2000);         // first rounds of the rotation

    const double cpu0 = bms::bench::CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bms::bench::RunEventLoop(seconds * 1000);
    const double cpu = bms::bench::CpuSeconds() - cpu0;
    const double span = double(wall.elapsed()) / 1000.0;
    const int lines = ui.mmo1->blockCount();

    ui.cybtn->click();
    ui.opencom->click();
    kill(pack, SIGTERM);
    waitpid(pack, nullptr, 0);
    std::printf("sampling every 500 ms for %.1f s%s%s: CPU %.3f s = %.2f %% of one core (%d memo lines, %d boxes)\n",
                span, trends ? " with the Trends tab shown" : "", traffic ? " with the Traffic window open" : "", cpu,
                100.0 * cpu / span, lines, boxes);
    form.close();
    return 0;
}
