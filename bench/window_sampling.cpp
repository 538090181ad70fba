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

double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Starts the pack in a child process; returns its pid and slave path.
pid_t StartPack(std::string& path)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        bms::sim::PackConfig config;
        config.publish = false;
        bms::sim::VirtualPack pack(config);
        const std::string slave = pack.start() + "\n";
        if (write(fds[1], slave.data(), slave.size()) < 0)
            _exit(1);
        close(fds[1]);
        pause(); // until the parent ends it
        _exit(0);
    }
    close(fds[1]);
    char buffer[256] = {};
    const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
    close(fds[0]);
    path.assign(buffer, n > 0 ? size_t(n) - 1 : 0);
    return pid;
}

// Runs the event loop for `ms` milliseconds, idle between events.
void Run(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

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
    std::string path;
    const pid_t pack = StartPack(path);
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
    Run(300);
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
    Run(2000);         // first rounds of the rotation

    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Run(seconds * 1000);
    const double cpu = CpuSeconds() - cpu0;
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
